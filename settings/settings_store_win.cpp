#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <utility>
#include <vector>

#include "core/lzw.h"
#include "core/path_name.h"
#include "core/text.h"
#include "settings/settings_store.h"

#include "settings/key_bindings.h"
#include "toolkit/handles.h"

namespace pv {

namespace {

struct RegistryKeyTraits {
  static void Close(HKEY key) { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<HKEY, RegistryKeyTraits>;

constexpr wchar_t kVersionValue[] = L"Pixvane-Ver";
constexpr wchar_t kOptionsValue[] = L"Options8";
constexpr wchar_t kRecentValue[] = L"RecentList";
constexpr wchar_t kLastFileValue[] = L"LastFile";
constexpr wchar_t kDictionaryValue[] = L"Dictionary8";
constexpr wchar_t kKeysValue[] = L"Keys1";
constexpr wchar_t kExplorerPolicies[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAppPathsEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pixvane.exe";
constexpr DWORD kVersionBytes = 128;

enum class ValueRead { Missing, Unusable, Read };

RegistryKey OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return RegistryKey();
  return RegistryKey(key);
}

RegistryKey CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return RegistryKey();
  }
  return RegistryKey(key);
}

// A value of the expected type and at most maxBytes; anything else leaves out empty.
ValueRead ReadValue(HKEY key, const wchar_t* name, DWORD type, DWORD maxBytes, std::vector<uint8_t>* out) {
  out->clear();
  if (!key) return ValueRead::Missing;
  DWORD storedType = 0, size = 0;
  const LSTATUS probe = RegQueryValueExW(key, name, nullptr, &storedType, nullptr, &size);
  if (probe == ERROR_FILE_NOT_FOUND) return ValueRead::Missing;
  if (probe != ERROR_SUCCESS || storedType != type || size > maxBytes) return ValueRead::Unusable;
  out->resize(size);
  // The value may have changed in between; the second answer is the one kept.
  if (RegQueryValueExW(key, name, nullptr, &storedType, out->data(), &size) != ERROR_SUCCESS ||
      storedType != type || size > out->size()) {
    out->clear();
    return ValueRead::Unusable;
  }
  out->resize(size);
  return ValueRead::Read;
}

ValueRead ReadBinary(HKEY key, const wchar_t* name, size_t maxBytes, std::vector<uint8_t>* out) {
  return ReadValue(key, name, REG_BINARY, static_cast<DWORD>(maxBytes), out);
}

// REG_SZ data need not end with a terminator, nor hold whole units: the text
// ends at the first zero unit or the last whole unit.
ValueRead ReadString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring* out) {
  out->clear();
  std::vector<uint8_t> bytes;
  const ValueRead read = ReadValue(key, name, REG_SZ, maxBytes, &bytes);
  if (read != ValueRead::Read) return read;
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  *out = text.c_str();
  return read;
}

bool WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t size) {
  return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
         ERROR_SUCCESS;
}

bool WriteString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return WriteValue(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

bool DeleteValue(HKEY key, const wchar_t* name) {
  const LSTATUS status = RegDeleteValueW(key, name);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::wstring SettingsKey(const SettingsStoreOptions& store) {
  return store.key.empty() ? SettingsKeyPath() : store.key;
}

bool IsInstalled(const SettingsStoreOptions& store) {
  if (store.installed != SettingsStoreOptions::Installed::Ask) {
    return store.installed == SettingsStoreOptions::Installed::Yes;
  }
  return static_cast<bool>(OpenKey(HKEY_LOCAL_MACHINE, kAppPathsEntry, KEY_READ));
}

bool OrdinalNameOrderPolicy(const SettingsStoreOptions& store) {
  RegistryKey key = OpenKey(HKEY_CURRENT_USER, store.policyKey.empty() ? kExplorerPolicies : store.policyKey,
                            KEY_READ);
  std::vector<uint8_t> value;
  if (ReadValue(key.get(), L"NoStrCmpLogical", REG_DWORD, sizeof(DWORD), &value) != ValueRead::Read ||
      value.size() != sizeof(DWORD)) {
    return false;
  }
  DWORD policy;
  std::memcpy(&policy, value.data(), sizeof policy);
  return policy == 1;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring PicturesFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &path)) && wcslen(path) < kMaxPathUnits) {
    folder = path;
  }
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::wstring SettingsKeyPath() {
  wchar_t path[kMaxPathUnits];
  FormatText(path, kMaxPathUnits, L"Software\\Kestrow-Software\\%ls", L"Pixvane");
  return path;
}

void LoadSettings(AppSettings& settings, const SettingsStoreOptions& store) {
  settings.programFolder = ProgramFolder();
  settings.scriptName = L"Slide";
  const std::wstring keyPath = SettingsKey(store);
  RegistryKey key = OpenKey(HKEY_CURRENT_USER, keyPath, KEY_READ);

  // Only a missing or empty version means a fresh installation; one that
  // cannot be read is taken as an older version, so the other values survive it.
  std::wstring version;
  const ValueRead versionRead = ReadString(key.get(), kVersionValue, kVersionBytes, &version);
  const bool fresh = versionRead != ValueRead::Unusable && IsFreshInstallation(version);
  const bool installed = !fresh || IsInstalled(store);
  if (!IsCurrentVersion(version) && installed) {
    if (RegistryKey created = CreateKey(keyPath)) {
      WriteString(created.get(), kVersionValue, kSettingsVersion);
      key = std::move(created);
    }
  }

  std::vector<uint8_t> value;
  if (fresh) {
    settings.options = Options();
    settings.recent.Load(nullptr, 0);
  } else {
    ReadBinary(key.get(), kOptionsValue, kOptionsBlockSize, &value);
    settings.options = DecodeOptions(value.data(), value.size());
    ReadBinary(key.get(), kRecentValue, RecentList::recentCapacity, &value);
    settings.recent.Load(value.data(), value.size());
  }
  Options& options = settings.options;

  settings.lastPath = LastPathFromRecent(settings.recent);
  if (settings.lastPath.empty()) settings.lastPath = PicturesFolder();
  PutLastPathInFront(settings);
  if (!settings.lastPath.empty()) {
    std::wstring lastFile;
    ReadString(key.get(), kLastFileValue, kMaxPathUnits * sizeof(wchar_t), &lastFile);
    AppendLastFile(settings.lastPath, lastFile);
  }

  options.ordinalNameOrder = OrdinalNameOrderPolicy(store);

  settings.dictionary.clear();
  if (options.dictionaryBytes != 0) {
    ReadBinary(key.get(), kDictionaryValue, LzwEncodeBound(options.dictionaryBytes), &value);
    if (!UnpackDictionary(value.data(), value.size(), options.dictionaryBytes, &settings.dictionary)) {
      options.dictionaryBytes = 0;
    }
  }

  settings.keyBindings.clear();
  if (options.keyBindingCount != 0) {
    ReadBinary(key.get(), kKeysValue, options.keyBindingCount * kStoredKeyBindingSize, &value);
    if (KeyBindingsValid(value.data(), value.size(), options.keyBindingCount)) {
      settings.keyBindings = value;
    } else {
      options.keyBindingCount = 0;
    }
  }

  options.notInstalled = !installed;
  options.clearedAtStart = 0;
  if (fresh && installed && store.onFirstRun) store.onFirstRun(settings);
}

void SaveSettings(AppSettings& settings, const SettingsStoreOptions& store) {
  Options& options = settings.options;
  if (options.notInstalled) return;
  if (!options.keepRecent) {
    settings.recent.Clear();
    settings.lastPath.clear();
  }
  RegistryKey key = CreateKey(SettingsKey(store));
  if (!key) return;

  // The stored block carries the CRC of the save before; the new one counts
  // only once the block is written.
  const uint32_t crc = OptionsCrc(options);
  if (crc != options.crc) {
    uint8_t block[kOptionsBlockSize];
    EncodeOptions(options, block);
    if (WriteValue(key.get(), kOptionsValue, REG_BINARY, block, sizeof block)) options.crc = crc;
  }

  if (settings.recent.Dirty()) {
    const RecentList& recent = settings.recent;
    const bool done = recent.recentUsed() >= 2
                          ? WriteValue(key.get(), kRecentValue, REG_BINARY, recent.recentBytes(), recent.recentUsed())
                          : DeleteValue(key.get(), kRecentValue);
    if (done) settings.recent.ClearDirty();
  }

  const std::wstring_view name = FileNamePart(settings.lastPath);
  if (name.empty()) {
    DeleteValue(key.get(), kLastFileValue);
  } else {
    WriteString(key.get(), kLastFileValue, std::wstring(name));
  }
}

bool SaveDictionary(const AppSettings& settings, const SettingsStoreOptions& store) {
  if (settings.options.notInstalled) return false;
  RegistryKey key = CreateKey(SettingsKey(store));
  if (!key) return false;
  if (settings.dictionary.empty()) return DeleteValue(key.get(), kDictionaryValue);
  const std::vector<uint8_t> packed = PackDictionary(settings.dictionary);
  return !packed.empty() && WriteValue(key.get(), kDictionaryValue, REG_BINARY, packed.data(), packed.size());
}

bool SaveKeyBindings(const AppSettings& settings, const SettingsStoreOptions& store) {
  if (settings.options.notInstalled) return false;
  RegistryKey key = CreateKey(SettingsKey(store));
  if (!key) return false;
  if (settings.options.keyBindingCount == 0) return DeleteValue(key.get(), kKeysValue);
  return WriteValue(key.get(), kKeysValue, REG_BINARY, settings.keyBindings.data(), settings.keyBindings.size());
}

}  // namespace pv
