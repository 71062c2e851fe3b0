#include "viewer/error_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(ErrorText, TextsAndMessages) {
  std::set<std::wstring> texts;
  for (uint32_t code = 0x80040200; code <= 0x8004020C; ++code) texts.insert(pv::ErrorText(static_cast<pv::Status>(code)));
  texts.insert(pv::kUnknownErrorText);
  EXPECT_EQ(texts.size(), 14u) << "one text per code, none shared with the unknown error";
  EXPECT_STREQ(pv::ErrorText(static_cast<pv::Status>(0x8004020D)), pv::kUnknownErrorText);

  const std::pair<const wchar_t*, const wchar_t*> cannotOpen[] = {
      {L"Cannot open \"%s\".", L"Cannot open \"C:\\a%d%s.jpg\"."},
      // A translation with other conversions is taken literally.
      {L"%d %n: \"%s\" %s", L"%d %n: \"C:\\a%d%s.jpg\" %s"}, {L"No path here", L"No path here"},
  };
  for (const auto& [text, message] : cannotOpen)
    EXPECT_EQ(pv::ErrorMessage(pv::kStatusCannotOpen, text, L"C:\\a%d%s.jpg"), message);
  EXPECT_EQ(pv::ErrorMessage(pv::kStatusDamaged, L"Damaged %s", L"x"), L"Damaged %s");
  EXPECT_EQ(pv::ErrorMessage(pv::kStatusCannotOpen, pv::ErrorText(pv::kStatusCannotOpen), L"x.png"),
            L"The file could not be opened:\n\"x.png\"");
}

}  // namespace
