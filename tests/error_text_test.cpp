#include "viewer/error_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(ErrorText, EveryFailureHasItsOwnText) {
  std::set<std::wstring> texts;
  for (uint32_t code = 0x80040200; code <= 0x8004020C; ++code) {
    const wchar_t* text = pv::ErrorText(static_cast<pv::Status>(code));
    EXPECT_NE(text, pv::kUnknownErrorText) << std::hex << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 13u);
  EXPECT_EQ(pv::kErrorTextCount, 13u);
  EXPECT_STREQ(pv::ErrorText(static_cast<pv::Status>(0x8004020D)), pv::kUnknownErrorText);
  EXPECT_STREQ(pv::ErrorText(-1), pv::kUnknownErrorText);
}

TEST(ErrorText, Messages) {
  struct Case {
    pv::Status status;
    const wchar_t* text;
    const wchar_t* message;
  };
  const Case cases[] = {
      {pv::kStatusCannotOpen, L"Cannot open \"%s\".", L"Cannot open \"C:\\a%d%s.jpg\"."},
      // A translation with other conversions is taken literally.
      {pv::kStatusCannotOpen, L"%d %n: \"%s\" %s", L"%d %n: \"C:\\a%d%s.jpg\" %s"},
      {pv::kStatusCannotOpen, L"No path here", L"No path here"},
      {pv::kStatusDamaged, L"Damaged %s", L"Damaged %s"},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::ErrorMessage(c.status, c.text, L"C:\\a%d%s.jpg"), c.message);
  EXPECT_EQ(pv::ErrorMessage(pv::kStatusCannotOpen, pv::ErrorText(pv::kStatusCannotOpen), L"x.png"),
            L"The file could not be opened:\n\"x.png\"");
}

}  // namespace
