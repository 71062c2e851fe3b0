#pragma once
// The one settings record of the process and the platform-neutral rules of
// its stored values. The registry side lives in settings_store.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "core/file_io.h"
#include "settings/key_bindings.h"
#include "settings/options_block.h"
#include "settings/recent_list.h"

namespace pv {

inline constexpr wchar_t kSettingsVersion[] = L"9.3";

struct AppSettings {
  std::wstring programFolder;  // with its trailing backslash
  Options options;
  RecentList recent;
  // The last folder at start, then folder + "\" + the last file's name.
  std::wstring lastPath;
  std::wstring scriptName = L"Slide";  // not stored: every start begins with it
  // The language dictionary, options.dictionaryBytes bytes.
  std::vector<uint8_t> dictionary;
  // options.keyBindingCount records of 4 bytes: modifiers, virtual key,
  // command id (16-bit little-endian).
  std::vector<uint8_t> keyBindings;
};

// The stored version text: the current one, or none at all (a fresh
// installation: empty, or not beginning with a digit from 1 up).
bool IsCurrentVersion(std::wstring_view stored);
bool IsFreshInstallation(std::wstring_view stored);

// A stored "Keys1" value is usable when it holds exactly `count` records and
// each names a command with known modifier bits.
bool KeyBindingsValid(const uint8_t* data, size_t size, uint32_t count);
// The active set: the user's stored set, or the built-in table.
std::vector<KeyBinding> ActiveKeyBindings(const AppSettings& settings);
// Makes `listed` (its first kMaxKeyBindings) the active set; false when it
// is that set already. A set equal to the built-in table drops the user's:
// the count becomes 0 and "Keys1" is to be deleted.
bool ReplaceKeyBindings(AppSettings& settings, std::span<const KeyBinding> listed);

// "Dictionary8": the dictionary packed by the LZW coder. Unpacking succeeds
// only when exactly `dictionaryBytes` bytes come out of a stream no larger
// than the packer can make of them; `dictionaryBytes` must be within
// kMaxDictionaryBytes.
bool UnpackDictionary(const uint8_t* data, size_t size, uint32_t dictionaryBytes, std::vector<uint8_t>* out);
std::vector<uint8_t> PackDictionary(const std::vector<uint8_t>& dictionary);

// The first recent folder as lastPath, or empty when there is none or it
// does not fit a path.
std::wstring LastPathFromRecent(const RecentList& recent);
// Puts lastPath at the front of the recent folders (nothing for an empty one).
void PutLastPathInFront(AppSettings& settings);
// Makes lastPath the full path of the last file: a separator, then the
// stored name when it is a plain file name and the whole still fits a path.
void AppendLastFile(std::wstring& lastPath, std::wstring_view storedName);

}  // namespace pv
