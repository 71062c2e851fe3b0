#include "browse/file_names.h"

#include <atomic>
#include <cwchar>

#include "browse/file_system.h"
#include "core/format_registry.h"

namespace pv {

namespace {
std::atomic<bool> g_ordinalOrder{false};
}  // namespace

void SetOrdinalNameOrder(bool ordinal) { g_ordinalOrder.store(ordinal, std::memory_order_relaxed); }
bool OrdinalNameOrder() { return g_ordinalOrder.load(std::memory_order_relaxed); }

int CompareFileNames(const wchar_t* a, const wchar_t* b) {
  return OrdinalNameOrder() ? CompareOrdinal(a, b) : CompareLogical(a, b);
}

int IsImageName(const wchar_t* name) { return Formats().FindFormatByExtension(name); }

bool SearchPathFor(const wchar_t* path, wchar_t* out, size_t capacity) {
  size_t length = wcslen(path);
  const wchar_t* prefix = L"";
  const wchar_t* rest = path;
  if (path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') {
    // UNC: \\server\share becomes \\?\UNC\server\share whatever its length.
    prefix = L"\\\\?\\UNC\\";
    rest = path + 2;
  } else if (path[0] != L'\\' && path[0] != L'/' && length + 1 >= 261) {
    prefix = L"\\\\?\\";
  }
  size_t prefixLength = wcslen(prefix);
  size_t restLength = wcslen(rest);
  if (prefixLength + restLength + 1 > capacity) return false;
  wmemcpy(out, prefix, prefixLength);
  wmemcpy(out + prefixLength, rest, restLength + 1);
  return true;
}

}  // namespace pv
