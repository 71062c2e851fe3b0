// The platform-neutral rules of the stored settings: the packed dictionary,
// and the last folder and file.
#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include "core/lzw.h"
#include <string>
#include <vector>

namespace {

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
  struct Case { const char* what; std::vector<uint8_t> stored; uint32_t size; };
  const Case cases[] = {
      {"stored size too large", packed, n + 2}, {"stored size too small", packed, n - 2},
      {"truncated", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2), n},
      {"damaged", damaged, n}, {"more than the packer makes", padded, n},
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
  struct JoinCase { std::wstring folder; const wchar_t* stored; std::wstring expected; };
  const JoinCase joins[] = {
      {L"C:\\Pictures", L"cat.jpg", L"C:\\Pictures\\cat.jpg"}, {L"C:\\", L"cat.jpg", L"C:\\cat.jpg"},
      {L"C:\\Pictures", L"", L"C:\\Pictures\\"}, {L"C:\\Pictures", L"..\\..\\x.jpg", L"C:\\Pictures\\"},
      {L"C:\\Pictures", L"D:x.jpg", L"C:\\Pictures\\"},
      {long250, L"123456789.jpg", long250 + L"\\"},  // would pass 259 units
      {long250, L"12345678", long250 + L"\\12345678"}, {L"", L"cat.jpg", L""},
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
