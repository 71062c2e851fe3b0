// The settings in the registry of the test prefix, under a key of the test's
// own that is deleted afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes TextBytes(const std::wstring& text, bool terminated) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.c_str());
  return Bytes(p, p + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

Bytes Encode(const pv::Options& o) {
  Bytes b(pv::kOptionsBlockSize);
  pv::EncodeOptions(o, b.data());
  return b;
}

class SettingsStore : public testing::Test {
 protected:
  void SetUp() override {
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
    store_.key = L"Software\\Kestrow-Software\\Pixvane-Test-" + suffix;
    store_.policyKey = L"Software\\Kestrow-Software\\Pixvane-Test-Policy-" + suffix;
    store_.installed = pv::SettingsStoreOptions::Installed::Yes;
    store_.onFirstRun = [this](pv::AppSettings&) { ++firstRuns_; };
    DeleteKeys();
  }
  void TearDown() override { DeleteKeys(); }

  void DeleteKeys() {
    // The company key goes last, and only when no other key is left in it.
    for (const std::wstring& key : {store_.key, store_.policyKey, std::wstring(L"Software\\Kestrow-Software")}) {
      RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
      RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    }
  }
  // False when the value is absent.
  bool Raw(const wchar_t* name, Bytes* out = nullptr, DWORD* type = nullptr) {
    DWORD size = 4096;
    Bytes bytes(size);
    if (RegGetValueW(HKEY_CURRENT_USER, store_.key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, type, bytes.data(),
                     &size) != ERROR_SUCCESS) {
      return false;
    }
    bytes.resize(size);
    if (out) *out = bytes;
    return true;
  }
  void SetRaw(const std::wstring& key, const wchar_t* name, DWORD type, const Bytes& bytes) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, type, bytes.data(), bytes.size()), ERROR_SUCCESS);
  }
  uint32_t StoredCrc() {
    Bytes b;
    uint32_t crc = 0xFFFFFFFF;
    if (Raw(L"Options8", &b) && b.size() == pv::kOptionsBlockSize) std::memcpy(&crc, b.data(), 4);
    return crc;
  }
  pv::AppSettings Load() {
    pv::AppSettings s;
    pv::LoadSettings(s, store_);
    return s;
  }

  // A first run that stores a full set of values.
  pv::AppSettings SaveFullSet() {
    pv::AppSettings s = Load();
    s.options.slideLoop = true;
    s.options.indexWindowX = -40;
    std::strcpy(s.options.languageName, "Nederlands");
    s.recent.Clear();  // without the Pictures folder of the first run
    s.recent.PutInFront("C:\\Older");
    s.recent.PutInFront("C:\\Photos");
    s.lastPath = L"C:\\Photos\\cat.jpg";
    for (int i = 0; i < 600; ++i) s.dictionary.push_back(static_cast<uint8_t>(i * 31));
    s.options.dictionaryBytes = 600;
    s.keyBindings = {2, 'C', 0x50, 0x4E, 0, 'O', 0x20, 0x4E};  // Ctrl-C 20048, O 20000
    s.options.keyBindingCount = 2;
    pv::SaveSettings(s, store_);
    EXPECT_TRUE(pv::SaveDictionary(s, store_));
    SetRaw(store_.key, L"Keys1", REG_BINARY, s.keyBindings);
    return s;
  }

  pv::SettingsStoreOptions store_;
  int firstRuns_ = 0;
};

TEST_F(SettingsStore, FreshKeyGivesDefaultsWritesTheVersionAndSavesOnlyChanges) {
  pv::AppSettings s = Load();
  EXPECT_EQ(firstRuns_, 1);
  EXPECT_EQ(Encode(s.options), Encode(pv::Options()));
  EXPECT_EQ(s.scriptName, L"Slide");
  ASSERT_FALSE(s.programFolder.empty());
  EXPECT_EQ(s.programFolder.back(), L'\\');
  Bytes version;
  DWORD type = 0;
  ASSERT_TRUE(Raw(L"Pixvane-Ver", &version, &type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(version, TextBytes(L"9.3", true));
  // Without recent folders the Pictures folder is the last one, and heads the list.
  EXPECT_EQ(s.recent.recentCount(), 1u);
  EXPECT_EQ(s.lastPath.back(), L'\\');
  s = Load();
  EXPECT_EQ(firstRuns_, 1);

  SCOPED_TRACE("saving twice writes the options at most once more");
  s.options.slideNotepad = true;
  pv::SaveSettings(s, store_);
  EXPECT_EQ(StoredCrc(), 0u);  // written with the CRC of the save before
  pv::SaveSettings(s, store_);
  EXPECT_EQ(StoredCrc(), 0u);

  const uint32_t before = s.options.crc;
  s.options.slideNotepad = false;
  pv::SaveSettings(s, store_);
  EXPECT_EQ(StoredCrc(), before);

  SCOPED_TRACE("a copy that is not installed writes nothing");
  store_.installed = pv::SettingsStoreOptions::Installed::No;
  DeleteKeys();
  firstRuns_ = 0;
  s = Load();
  EXPECT_TRUE(s.options.notInstalled);
  EXPECT_EQ(firstRuns_, 0);
  s.options.slideLoop = true;
  s.recent.PutInFront("C:\\x");
  s.lastPath = L"C:\\x\\y.png";
  s.dictionary.assign(300, 7);
  pv::SaveSettings(s, store_);
  EXPECT_FALSE(pv::SaveDictionary(s, store_));
  HKEY key;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, store_.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(SettingsStore, EveryValueRoundTrips) {
  SetRaw(store_.policyKey, L"NoStrCmpLogical", REG_DWORD, {1, 0, 0, 0});
  const pv::AppSettings saved = SaveFullSet();
  Bytes lastFile;
  ASSERT_TRUE(Raw(L"LastFile", &lastFile));
  EXPECT_EQ(lastFile, TextBytes(L"cat.jpg", true));

  pv::AppSettings loaded = Load();
  EXPECT_EQ(firstRuns_, 1);
  pv::Options expected = saved.options;
  expected.crc = 0;  // the stored CRC is the one of the save before: none
  EXPECT_TRUE(expected.ordinalNameOrder);
  EXPECT_EQ(Encode(loaded.options), Encode(expected));
  EXPECT_EQ(loaded.lastPath, L"C:\\Photos\\cat.jpg");
  ASSERT_EQ(loaded.recent.recentCount(), 2u);
  EXPECT_EQ(loaded.recent.Entry(1), "C:\\Older");
  EXPECT_FALSE(loaded.recent.Dirty());
  EXPECT_EQ(loaded.dictionary, saved.dictionary);
  EXPECT_EQ(loaded.keyBindings, saved.keyBindings);

  // No dictionary removes its value.
  loaded.dictionary.clear();
  EXPECT_TRUE(pv::SaveDictionary(loaded, store_));
  EXPECT_FALSE(Raw(L"Dictionary8"));
  // Only the policy value 1 means ordinal order.
  SetRaw(store_.policyKey, L"NoStrCmpLogical", REG_SZ, TextBytes(L"1", true));
  EXPECT_FALSE(Load().options.ordinalNameOrder);
}

TEST_F(SettingsStore, KeepRecentOffDeletesRecentFoldersAndLastFile) {
  // Several entries, and one entry that already heads the list: then
  // nothing changes at load, and only clearing can mark the list dirty.
  for (const char* older : {"C:\\Older", ""}) {
    DeleteKeys();
    pv::AppSettings s = Load();
    s.recent.Clear();
    if (*older) s.recent.PutInFront(older);
    s.recent.PutInFront("C:\\Photos");
    s.lastPath = L"C:\\Photos\\cat.jpg";
    pv::SaveSettings(s, store_);
    ASSERT_TRUE(Raw(L"RecentList") && Raw(L"LastFile"));

    pv::AppSettings next = Load();
    next.options.keepRecent = false;
    pv::SaveSettings(next, store_);
    EXPECT_FALSE(Raw(L"RecentList")) << older;
    EXPECT_FALSE(Raw(L"LastFile")) << older;
    EXPECT_TRUE(next.lastPath.empty());
  }
}

TEST_F(SettingsStore, DamagedValuesAreToleratedAndTheOthersStillLoad) {
  Bytes oddName = TextBytes(L"cat.jpg", false);
  oddName.push_back('x');
  const std::wstring full = L"C:\\Photos\\cat.jpg";
  struct Case {
    const char* what;
    const wchar_t* value;
    DWORD type;
    Bytes bytes;
    bool options, recent;  // kept as saved
    std::wstring lastPath;  // empty: not checked
    bool keys, dictionary;
  };
  const Case cases[] = {
      // The counts of bindings and dictionary bytes live in the options.
      {"options of wrong type", L"Options8", REG_SZ, TextBytes(L"x", true), false, true, full, false, false},
      {"options too short", L"Options8", REG_BINARY, Bytes(100, 1), false, true, full, false, false},
      {"options too long", L"Options8", REG_BINARY, Bytes(200, 1), false, true, full, false, false},
      {"options all zero", L"Options8", REG_BINARY, Bytes(172, 0), false, true, full, false, false},
      {"recent of wrong type", L"RecentList", REG_SZ, TextBytes(L"C:\\x", true), true, false, L"", true, true},
      {"recent unterminated", L"RecentList", REG_BINARY, Bytes(500, 'a'), true, false, L"", true, true},
      {"last file of wrong type", L"LastFile", REG_BINARY, TextBytes(L"cat.jpg", true), true, true,
       L"C:\\Photos\\", true, true},
      {"last file unterminated, odd size", L"LastFile", REG_SZ, oddName, true, true, full, true, true},
      {"version of wrong type", L"Pixvane-Ver", REG_DWORD, {9, 3, 0, 0}, true, true, full, true, true},
      {"version unterminated", L"Pixvane-Ver", REG_SZ, TextBytes(L"9.3", false), true, true, full, true, true},
      {"bindings of wrong size", L"Keys1", REG_BINARY, Bytes(12, 1), true, true, full, false, true},
      {"dictionary damaged", L"Dictionary8", REG_BINARY, Bytes(300, 0xFF), true, true, full, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteKeys();
    SaveFullSet();
    SetRaw(store_.key, c.value, c.type, c.bytes);
    const pv::AppSettings s = Load();
    EXPECT_EQ(firstRuns_, 1);  // only the run that saved the set
    firstRuns_ = 0;
    EXPECT_EQ(s.options.slideLoop, c.options);
    EXPECT_EQ(s.options.keepRecent, true);
    EXPECT_EQ(s.recent.Entry(0) == "C:\\Photos" && s.recent.Entry(1) == "C:\\Older", c.recent);
    if (!c.lastPath.empty()) {
      EXPECT_EQ(s.lastPath, c.lastPath);
    }
    EXPECT_EQ(s.keyBindings.size() == 8 && s.options.keyBindingCount == 2, c.keys);
    EXPECT_EQ(s.dictionary.size() == 600 && s.options.dictionaryBytes == 600, c.dictionary);
    // An unreadable version is written again.
    Bytes version;
    DWORD type = 0;
    ASSERT_TRUE(Raw(L"Pixvane-Ver", &version, &type));
    ASSERT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_GE(version.size(), 6u);
    EXPECT_EQ(Bytes(version.begin(), version.begin() + 6), TextBytes(L"9.3", false));
  }
}

}  // namespace
