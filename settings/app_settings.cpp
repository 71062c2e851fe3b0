#include "settings/app_settings.h"

#include <algorithm>

#include "core/lzw.h"
#include "core/path_name.h"
#include "core/text.h"
#include "settings/key_bindings.h"

namespace pv {

namespace {

// UTF-16 units of wide text, whatever the width of wchar_t.
size_t Utf16Units(std::wstring_view s) {
  // Code points past the first plane take a surrogate pair.
  return s.size() + static_cast<size_t>(std::count_if(s.begin(), s.end(), [](wchar_t c) {
           return (static_cast<uint32_t>(c) >> 16) != 0;
         }));
}

bool FitsPath(std::wstring_view s) { return Utf16Units(s) < kMaxPathUnits; }

}  // namespace

bool IsCurrentVersion(std::wstring_view stored) { return stored == kSettingsVersion; }

bool IsFreshInstallation(std::wstring_view stored) { return stored.empty() || stored[0] < L'1'; }

bool KeyBindingsValid(const uint8_t* data, size_t size, uint32_t count) {
  return data && ParseKeyBindings(data, size, count).has_value();
}

std::vector<KeyBinding> ActiveKeyBindings(const AppSettings& settings) {
  if (auto user = ParseKeyBindings(settings.keyBindings.data(), settings.keyBindings.size(),
                                   settings.options.keyBindingCount))
    return std::move(*user);
  return std::vector<KeyBinding>(std::begin(kBuiltInKeyBindings), std::end(kBuiltInKeyBindings));
}

bool ReplaceKeyBindings(AppSettings& settings, std::span<const KeyBinding> listed) {
  listed = listed.first(std::min(listed.size(), kMaxKeyBindings));
  if (SameKeyBindingSet(listed, ActiveKeyBindings(settings))) return false;
  if (SameKeyBindingSet(listed, kBuiltInKeyBindings)) {
    settings.keyBindings.clear();
  } else {
    settings.keyBindings = SerializeKeyBindings(listed);
  }
  // An emptied list cannot be stored (a count of 0 means the built-in
  // table), so it brings the built-in table back.
  settings.options.keyBindingCount = static_cast<uint8_t>(settings.keyBindings.size() / kStoredKeyBindingSize);
  return true;
}

bool UnpackDictionary(const uint8_t* data, size_t size, uint32_t dictionaryBytes, std::vector<uint8_t>* out) {
  out->clear();
  if (!data || size == 0 || dictionaryBytes == 0 || dictionaryBytes > kMaxDictionaryBytes ||
      size > LzwEncodeBound(dictionaryBytes)) {
    return false;
  }
  out->resize(dictionaryBytes);
  const LzwResult r = LzwDecode(out->data(), out->size(), data, size);
  // A stream that holds more, or less, than the stored size is not the one saved with it.
  if (r.written != dictionaryBytes || (r.end != LzwEnd::EndCode && r.end != LzwEnd::DataEnd)) {
    out->clear();
    return false;
  }
  return true;
}

std::vector<uint8_t> PackDictionary(const std::vector<uint8_t>& dictionary) {
  std::vector<uint8_t> packed(LzwEncodeBound(dictionary.size()));
  packed.resize(LzwEncode(packed.data(), dictionary.data(), dictionary.size()));
  return packed;
}

std::wstring LastPathFromRecent(const RecentList& recent) {
  const std::string_view first = recent.Entry(0);
  std::wstring path = Utf8ToWide(reinterpret_cast<const uint8_t*>(first.data()), first.size());
  return FitsPath(path) ? path : std::wstring();
}

void PutLastPathInFront(AppSettings& settings) {
  if (settings.lastPath.empty()) return;
  char utf8[RecentList::kMaxEntryBytes];
  if (WideToUtf8(utf8, sizeof utf8, settings.lastPath.c_str())) settings.recent.PutInFront(utf8);
}

void AppendLastFile(std::wstring& lastPath, std::wstring_view storedName) {
  if (lastPath.empty()) return;
  if (lastPath.back() != L'\\' && lastPath.back() != L'/') {
    if (!FitsPath(lastPath + L'\\')) return;
    lastPath += L'\\';
  }
  const bool plainName =
      !storedName.empty() && std::none_of(storedName.begin(), storedName.end(), [](wchar_t c) {
        return IsPathSeparator(c) || static_cast<uint32_t>(c) < 0x20;
      });
  if (plainName && Utf16Units(lastPath) + Utf16Units(storedName) < kMaxPathUnits) lastPath += storedName;
}

}  // namespace pv
