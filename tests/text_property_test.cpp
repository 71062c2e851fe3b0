#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/property_set.h"
#include "core/text.h"

namespace {

using pv::PropertySet;
using pv::TextEncoding;

std::wstring CodePoints(std::initializer_list<uint32_t> cps) {
  std::wstring s;
  for (uint32_t c : cps) pv::AppendCodePoint(s, c);
  return s;
}

TEST(Text, BytesDecodeFromUtf8AndWindows1252) {
  struct Case { std::vector<uint8_t> in; std::wstring out; };
  const Case cases[] = {
      {{'a', 'b'}, L"ab"}, {{0xC3, 0xA9}, CodePoints({0xE9})}, {{0xE2, 0x82, 0xAC}, CodePoints({0x20AC})},
      {{0xF0, 0x9F, 0x98, 0x80}, CodePoints({0x1F600})},
      {{0xC3}, CodePoints({0xFFFD})},                      // cut sequence
      {{0xC0, 0xAF}, CodePoints({0xFFFD, 0xFFFD})},        // overlong
      {{0xFF, 'x'}, CodePoints({0xFFFD, 'x'})}, {{0xE2, 0x28, 0xA1}, CodePoints({0xFFFD, '(', 0xFFFD})},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::Utf8ToWide(c.in.data(), c.in.size()), c.out);
  // Euro, ellipsis, right quote, Y with diaeresis; undefined bytes map to themselves.
  const uint8_t bytes[] = {0x80, 0x85, 0x92, 0x9F, 0x81, 0xA0, 0xE9, 'A'};
  EXPECT_EQ(pv::Windows1252ToWide(bytes, sizeof bytes),
            CodePoints({0x20AC, 0x2026, 0x2019, 0x178, 0x81, 0xA0, 0xE9, 'A'}));
}

TEST(Text, CodePointsAboveBmpBecomeSurrogatePairsOnSixteenBitWchar) {
  std::wstring s = CodePoints({0x1F600});
  if (sizeof(wchar_t) == 2) {
    EXPECT_EQ(s, std::wstring({static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}));
  } else {
    EXPECT_EQ(s, std::wstring(1, static_cast<wchar_t>(0x1F600)));
  }
  // Both ways round trip through UTF-8.
  EXPECT_EQ(pv::WideToUtf8(s), "\xF0\x9F\x98\x80");
}

TEST(Text, OutputThatDoesNotFitIsLeftOutWholeAndSaysSo) {
  char out[4];
  EXPECT_FALSE(pv::WideToUtf8(out, sizeof out, L"abcdef"));
  EXPECT_STREQ(out, "abc");
  EXPECT_TRUE(pv::WideToUtf8(out, sizeof out, L"abc"));
  // A two-byte character that does not fit whole is left out, not cut.
  EXPECT_FALSE(pv::WideToUtf8(out, sizeof out, (L"ab" + CodePoints({0xE9})).c_str()));
  EXPECT_STREQ(out, "ab");

  wchar_t buf[8];
  EXPECT_EQ(pv::FormatText(buf, 8, L"%d x %d", 12, 34), 7);
  EXPECT_STREQ(buf, L"12 x 34");
  // "x.jpg.pva" cut to "x.jpg" would name the image itself.
  EXPECT_EQ(pv::FormatText(buf, 6, L"%ls.pva", L"x.jpg"), -1);
  EXPECT_STREQ(buf, L"");
  EXPECT_EQ(pv::FormatText(buf, 0, L"x"), -1);
}

TEST(Text, FileTimesAndUnitValues) {
  const std::pair<uint64_t, const wchar_t*> times[] = {
      {0, L"1601-01-01, 00:00:00"}, {125911584000000000ull, L"2000-01-01, 00:00:00"},
      {125911583990000000ull, L"1999-12-31, 23:59:59"}, {133536836960000000ull, L"2024-02-29, 12:34:56"},
      {157520197230000000ull, L"2100-03-01, 01:02:03"},
  };
  for (const auto& [fileTime, text] : times) {
    wchar_t buf[32];
    ASSERT_TRUE(pv::FormatFileTime(buf, 32, fileTime));
    EXPECT_STREQ(buf, text);
  }
  const std::pair<float, uint16_t> units[] = {{-0.5f, 0}, {0.0f, 0}, {0.5f, 32768}, {1.0f, 65535}, {7.0f, 65535}};
  for (const auto& [unit, value] : units) EXPECT_EQ(pv::UnitToU16(unit), value) << unit;
}

TEST(PropertySet, BorrowedTextsConvertOnceIntoOwnedWideText) {
  PropertySet p;
  static const char kNarrow[] = "Caf\xE9";
  static const char kUtf8[] = "Caf\xC3\xA9 \xE2\x82\xAC   ";
  p.SetBorrowed(8, kNarrow, 0, TextEncoding::Cp1252);
  const wchar_t* converted = p.GetText(8);
  EXPECT_EQ(std::wstring(converted), L"Caf" + CodePoints({0xE9}));
  EXPECT_EQ(p.GetText(8), converted) << "converted once";

  p.SetBorrowed(9, kUtf8, static_cast<uint32_t>(std::strlen(kUtf8)), TextEncoding::Utf8);
  EXPECT_EQ(std::wstring(p.GetText(9)), L"Caf" + CodePoints({0xE9, ' ', 0x20AC}));  // trailing blanks dropped
  p.SetBorrowed(11, L"wide   ", 7, TextEncoding::Wide);
  EXPECT_STREQ(p.GetText(11), L"wide");
  // 70000 in 16 bits would wrap to 4464.
  std::string big(70000, 'a');
  p.SetBorrowed(12, big.data(), static_cast<uint32_t>(big.size()), TextEncoding::Cp1252);
  EXPECT_EQ(std::wcslen(p.GetText(12)), 65535u) << "long texts are clamped, not wrapped";
}

TEST(PropertySet, BlankOrEmptyTextsAreNotStored) {
  PropertySet p;
  p.SetBorrowed(7, "    ", 4, TextEncoding::Cp1252);
  EXPECT_FALSE(p.Has(7));
  p.SetText(7, L"");
  EXPECT_FALSE(p.Has(7));
  p.SetText(7, L"t");
  EXPECT_TRUE(p.Has(7));
  p.SetText(7, nullptr);
  EXPECT_FALSE(p.Has(7));
  // Ids past the set are never present.
  EXPECT_FALSE(p.Has(pv::kPropertyCount));
  EXPECT_EQ(p.GetText(200), nullptr);
}

TEST(PropertySet, CopyFromMakesOwnedCopiesAndClearEmpties) {
  PropertySet b;
  b.SetText(4, L"kept");
  {
    PropertySet a;
    a.SetBorrowed(3, "RLE", 0, TextEncoding::Cp1252);
    a.SetText(12, L"1:3");
    b.CopyFrom(a);
  }
  // The source is gone: what was copied must be the copy's own.
  EXPECT_STREQ(b.GetText(3), L"RLE");
  EXPECT_STREQ(b.GetText(12), L"1:3");
  EXPECT_STREQ(b.GetText(4), L"kept");
  b.Clear();
  for (uint32_t id = 0; id < pv::kPropertyCount; ++id) EXPECT_FALSE(b.Has(id));
}

}  // namespace
