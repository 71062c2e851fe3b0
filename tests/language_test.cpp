#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/language.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Utf16(const std::u16string& s, bool little) {
  std::vector<uint8_t> out = {uint8_t(little ? 0xFF : 0xFE), uint8_t(little ? 0xFE : 0xFF)};
  for (char16_t c : s) out.insert(out.end(), {uint8_t(little ? c : c >> 8), uint8_t(little ? c >> 8 : c)});
  return out;
}

std::vector<uint8_t> Build(const std::vector<uint8_t>& file) { return pv::BuildDictionary(file.data(), file.size()); }

TEST(Language, FileEntriesTranslateTheirKeys) {
  const std::u16string lines =
      u"// a comment|Kommentar\r\nOpen|\u00D6ffnen\r\n\r\nClose|Close\nno bar here\n|empty key\nempty|\n"
      u"Two\\nlines|Zwei\\nZeilen\nMenu\\tkey|Men\u00FC\\tTaste\nback\\slash|R\u00FCck\\strich\n"
      u"Open|second\nSame bucket 1|eins\nSame bucket 2|zwei";
  std::string single;
  for (char16_t c : lines) single += static_cast<char>(c);
  const std::vector<uint8_t> dictionary = Build(Bytes(single));
  EXPECT_EQ(Build(Utf16(lines, true)), dictionary);
  EXPECT_EQ(Build(Utf16(lines, false)), dictionary);
  const struct {
    const wchar_t* text;
    const wchar_t* shown;
  } cases[] = {
      {L"Open", L"\u00D6ffnen"},  // the first of two equal keys
      {L"Close", L"Close"},       // dropped: the same as its key
      {L"no bar here", L"no bar here"},
      {L"// a comment", L"// a comment"},
      {L"Two\nlines", L"Zwei\nZeilen"},
      {L"Menu\bkey", L"Men\u00FC\bTaste"},
      {L"back\\slash", L"R\u00FCck\\strich"},
      {L"Same bucket 1", L"eins"},  // the same first eight characters
      {L"Same bucket 2", L"zwei"},
      {L"Ope", L"Ope"},
      {L"Opened", L"Opened"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(pv::TranslateWith(dictionary, c.text), c.shown) << c.text;
  // 256 bytes of heads, then a length unit per entry, both texts with their
  // terminators, and a closing 0 per used bucket.
  size_t buckets = 0;
  for (size_t b = 0; b < 128; ++b) buckets += (dictionary[2 * b] | dictionary[2 * b + 1]) != 0;
  const size_t texts = (5 + 7) + (10 + 12) + (9 + 11) + (11 + 12) + (5 + 7) + (14 + 5) + (14 + 5);
  EXPECT_EQ(dictionary.size(), 256 + 2 * (7 + texts + buckets));
  EXPECT_TRUE(Build(Bytes("only|only\nno bar")).empty());
  EXPECT_TRUE(Build(Bytes("a|")).empty());
}

TEST(Language, DamagedAndOversizedInputStaysBounded) {
  // An oversized file keeps what the 16-bit bucket heads can reach.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "key " + std::to_string(i) + "|value " + std::to_string(i) + "\n";
  const std::vector<uint8_t> dictionary = Build(Bytes(big));
  ASSERT_FALSE(dictionary.empty());
  EXPECT_LE(dictionary.size(), 2u * 0xFFFF);
  EXPECT_EQ(pv::TranslateWith(dictionary, L"key 0"), L"value 0");
  EXPECT_EQ(pv::TranslateWith(dictionary, L"key 19999"), L"key 19999");
  // A registry copy may be anything: heads past the end, lengths running
  // off it, entries without terminators.
  std::vector<uint8_t> damaged = dictionary;
  for (size_t b = 0; b < 256; b += 2) damaged[b] = damaged[b + 1] = 0xFF;
  EXPECT_EQ(pv::TranslateWith(damaged, L"key 0"), L"key 0");
  damaged = dictionary;
  damaged.resize(dictionary.size() / 3);
  static_cast<void>(pv::TranslateWith(damaged, L"key 0"));
  std::vector<uint8_t> noise(600);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
  for (const wchar_t* text : {L"key 0", L"a", L"\u00FF\u00FF"}) static_cast<void>(pv::TranslateWith(noise, text));
}

TEST(Language, CurrentDictionaryTranslatesUntilRemoved) {
  pv::SetCurrentDictionary(Build(Bytes("Open|Abrir")));
  EXPECT_EQ(pv::Translate(L"Open"), L"Abrir");
  pv::SetCurrentDictionary({});
  EXPECT_EQ(pv::Translate(L"Open"), L"Open");
}

}  // namespace
