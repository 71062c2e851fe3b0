// The platform-neutral rules of the stored settings: version, key bindings,
// the packed dictionary, and the last folder and file.
#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include "core/lzw.h"
#include <string>
#include <vector>

namespace {

TEST(AppSettings, VersionTexts) {
  struct Case {
    const wchar_t* stored;
    bool current, fresh;
  };
  const Case cases[] = {{L"9.3", true, false},  {L"", false, true},     {L"0.9", false, true},
                        {L"9.2", false, false}, {L"9.3.1", false, false}, {L"10", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(pv::IsCurrentVersion(c.stored), c.current) << c.stored;
    EXPECT_EQ(pv::IsFreshInstallation(c.stored), c.fresh) << c.stored;
  }
}

TEST(AppSettings, StoredKeyBindingsMustMatchTheirCount) {
  // Ctrl-C -> 20048 and Alt-X -> 20064, command ids little-endian.
  const std::vector<uint8_t> two = {2, 'C', 0x50, 0x4E, 4, 'X', 0x60, 0x4E};
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = two;
    b[at] = v;
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> stored;
    uint32_t count;
    bool valid;
  };
  const std::vector<uint8_t> many(256 * 4, 0);
  const Case cases[] = {
      {"two records", two, 2, true},
      {"count too small", two, 1, false},
      {"count too large", two, 3, false},
      {"count zero", {}, 0, false},
      {"first command 0", {2, 'C', 0, 0, 4, 'X', 0x60, 0x4E}, 2, false},
      {"command below the range", with(2, 0x1F), 2, false},
      {"command above the range", with(6, 0x61), 2, false},
      {"unknown modifier bit", with(4, 8), 2, false},
      {"key code 0 is kept", with(1, 0), 2, true},
      {"more than 255", many, 256, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pv::KeyBindingsValid(c.stored.data(), c.stored.size(), c.count), c.valid) << c.what;
  }
}

TEST(AppSettings, DictionaryUnpacksOnlyToItsStoredSize) {
  std::vector<uint8_t> dictionary(4000);
  for (size_t i = 0; i < dictionary.size(); ++i) dictionary[i] = static_cast<uint8_t>((i * 7) % 13 + (i / 300));
  const std::vector<uint8_t> packed = pv::PackDictionary(dictionary);
  ASSERT_FALSE(packed.empty());
  const uint32_t n = static_cast<uint32_t>(dictionary.size());

  std::vector<uint8_t> out;
  ASSERT_TRUE(pv::UnpackDictionary(packed.data(), packed.size(), n, &out));
  EXPECT_EQ(out, dictionary);

  std::vector<uint8_t> damaged = packed;
  damaged[0] = 0;  // no minimum code size
  std::vector<uint8_t> padded = packed;
  padded.resize(pv::LzwEncodeBound(n) + 1, 0);
  struct Case {
    const char* what;
    std::vector<uint8_t> stored;
    uint32_t size;
  };
  const Case cases[] = {
      {"stored size too large", packed, n + 2},
      {"stored size too small", packed, n - 2},
      {"truncated", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2), n},
      {"damaged", damaged, n},
      {"more than the packer makes", padded, n},
      {"size over the cap", packed, pv::kMaxDictionaryBytes + 2},
      {"nothing stored", {}, n},
  };
  for (const Case& c : cases) {
    out.assign(3, 1);
    EXPECT_FALSE(pv::UnpackDictionary(c.stored.data(), c.stored.size(), c.size, &out)) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

TEST(AppSettings, LastPathAndLastFile) {
  const std::wstring long250 = L"C:\\" + std::wstring(247, L'f');
  struct JoinCase {
    std::wstring folder;
    const wchar_t* stored;
    std::wstring expected;
  };
  const JoinCase joins[] = {
      {L"C:\\Pictures", L"cat.jpg", L"C:\\Pictures\\cat.jpg"},
      {L"C:\\", L"cat.jpg", L"C:\\cat.jpg"},
      {L"C:\\Pictures", L"", L"C:\\Pictures\\"},
      {L"C:\\Pictures", L"..\\..\\x.jpg", L"C:\\Pictures\\"},
      {L"C:\\Pictures", L"D:x.jpg", L"C:\\Pictures\\"},
      {long250, L"123456789.jpg", long250 + L"\\"},  // would pass 259 units
      {long250, L"12345678", long250 + L"\\12345678"},
      {L"", L"cat.jpg", L""},
  };
  for (const JoinCase& c : joins) {
    std::wstring path = c.folder;
    pv::AppendLastFile(path, c.stored);
    EXPECT_EQ(path, c.expected) << c.stored;
  }

  pv::RecentList recent;
  recent.PutInFront("C:\\Bilder\\\xC3\x9C");
  EXPECT_EQ(pv::LastPathFromRecent(recent), L"C:\\Bilder\\\u00DC");
  recent.PutInFront("C:\\" + std::string(300, 'l'));  // no path is that long
  EXPECT_EQ(pv::LastPathFromRecent(recent), L"");
  EXPECT_EQ(pv::LastPathFromRecent(pv::RecentList()), L"");

  pv::AppSettings settings;
  settings.lastPath = L"D:\\Fotos\\\u00E9t\u00E9";
  pv::PutLastPathInFront(settings);
  EXPECT_EQ(settings.recent.Entry(0), "D:\\Fotos\\\xC3\xA9t\xC3\xA9");
  EXPECT_TRUE(settings.recent.Dirty());
}

}  // namespace
