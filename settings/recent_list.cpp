#include "settings/recent_list.h"

#include <algorithm>
#include <cstring>

namespace pv {

namespace {

// Byte past the entries and their final empty string: the dirty mark.
constexpr uint32_t kListBytes = RecentList::kDirtyMark;

bool IsEntry(std::string_view s) {
  return !s.empty() && s.size() < RecentList::kMaxEntryBytes &&
         std::none_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20; });
}

// Folder names are compared as the file system does for ASCII; other
// characters must match exactly.
bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(x) == lower(y);
         });
}

}  // namespace

void RecentList::Reset() {
  std::memset(recentBytes_, 0, sizeof recentBytes_);
  recentUsed_ = 1;
  recentCount_ = 0;
}

void RecentList::Load(const uint8_t* data, size_t size) {
  Reset();
  // A stored list never reaches the dirty mark.
  if (!data || size > kListBytes) return;
  size_t pos = 0;
  uint32_t count = 0;
  while (pos < size && data[pos] != 0 && count < recentMax_) {
    const void* end = std::memchr(data + pos, 0, size - pos);
    if (!end) return;
    const size_t length = static_cast<const uint8_t*>(end) - (data + pos);
    if (!IsEntry(std::string_view(reinterpret_cast<const char*>(data + pos), length))) return;
    if (pos + length + 1 >= kListBytes) return;  // no room left for the final empty string
    pos += length + 1;
    ++count;
  }
  std::memcpy(recentBytes_, data, pos);
  recentUsed_ = static_cast<uint32_t>(pos + 1);
  recentCount_ = count;
}

std::string_view RecentList::Entry(uint32_t i) const {
  if (i >= recentCount_) return {};
  const char* p = reinterpret_cast<const char*>(recentBytes_);
  for (; i > 0; --i) p += std::strlen(p) + 1;
  return p;
}

bool RecentList::PutInFront(std::string_view path) {
  if (!IsEntry(path)) return false;
  if (recentCount_ > 0 && SameIgnoringAsciiCase(Entry(0), path)) return true;

  uint8_t list[kListBytes] = {};
  std::memcpy(list, path.data(), path.size());
  size_t used = path.size() + 1;
  uint32_t count = 1;
  for (uint32_t i = 0; i < recentCount_; ++i) {
    const std::string_view e = Entry(i);
    if (SameIgnoringAsciiCase(e, path)) continue;
    // The oldest entries give way: past the count, or past the bytes that
    // leave room for the final empty string before the dirty mark.
    if (count == recentMax_ || used + e.size() + 1 >= kListBytes) break;
    std::memcpy(list + used, e.data(), e.size());
    used += e.size() + 1;
    ++count;
  }
  std::memcpy(recentBytes_, list, kListBytes);
  recentUsed_ = static_cast<uint32_t>(used + 1);
  recentCount_ = count;
  recentBytes_[kDirtyMark] = 1;
  return true;
}

void RecentList::Clear() {
  Reset();
  recentBytes_[kDirtyMark] = 1;
}

}  // namespace pv
