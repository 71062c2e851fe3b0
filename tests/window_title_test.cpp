#include "viewer/window_title.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using pv::PixelFormat;

TEST(WindowTitle, ZoomText) {
  const std::pair<double, const wchar_t*> cases[] = {
      {0.5, L"0.5x"},   {1.25, L"1.25x"}, {2.0, L"2.0x"},  {1.0 / 3, L"0.333x"},       {9.5137, L"9.514x"},
      {0.9996, L"1.0x"}, {0.05, L"0.05x"}, {1234.5, L"1234.5x"}, {0.0, L""}, {-2.0, L""}, {std::nan(""), L""},
      {HUGE_VAL, L""},  {1e300, L""},
  };
  for (const auto& [zoom, text] : cases) EXPECT_EQ(pv::FormatZoomText(zoom), text) << zoom;
}

TEST(WindowTitle, Pieces) {
  auto parts = [](double zoom, PixelFormat format, bool details) {
    return pv::TitleParts{L"", L"name.jpg", L"", details, 1920, 1080, L"JPEG", format, zoom};
  };
  pv::TitleParts slideshow = parts(1.0, PixelFormat::Rgba8, false);
  slideshow.slideshowWord = L"Slideshow";
  slideshow.extra = L"2:5";
  const std::pair<pv::TitleParts, const wchar_t*> cases[] = {
      {parts(1.0, PixelFormat::Rgba8, false), L"name.jpg | Pixvane"},
      {parts(0.5, PixelFormat::Rgba8, true), L"name.jpg | 1920\u20221080\u2022JPEG | 0.5x | Pixvane"},
      {parts(1.0, PixelFormat::Grey16, true), L"name.jpg | 1920\u20221080\u2022JPEG | w | Pixvane"},
      {parts(1.0 / 3, PixelFormat::RgbaF, true), L"name.jpg | 1920\u20221080\u2022JPEG | HDR | 0.333x | Pixvane"},
      {parts(1.0, PixelFormat::Indexed8, true), L"name.jpg | 1920\u20221080\u2022JPEG | i | Pixvane"},
      {slideshow, L"Slideshow | name.jpg [2:5] | Pixvane"},
  };
  for (const auto& [p, title] : cases) EXPECT_EQ(pv::BuildWindowTitle(p), title);

  // Other instances look for the program's name within the first 512 units.
  pv::TitleParts huge = parts(1e12, PixelFormat::GreyF, true);
  huge.slideshowWord = huge.name = huge.extra = huge.formatName = std::wstring(1000, L'n');
  huge.width = huge.height = 4294967295u;
  std::wstring title = pv::BuildWindowTitle(huge);
  EXPECT_LE(title.size(), pv::kTitleSearchUnits);
  EXPECT_EQ(title.substr(title.size() - 10), L" | Pixvane");

  EXPECT_EQ(pv::StartTitle(L"My picture"), L"My picture - Pixvane");
}

TEST(WindowTitle, PixvaneWindowMatch) {
  struct Case { const wchar_t* className; const wchar_t* title; bool matches; };
  const Case cases[] = {
      {L"muiWindow", L"a.jpg | Pixvane", true}, {L"muiWindow", L"Pixvane", true},
      {L"muiWindow", L"a.jpg | pixvane", false}, {L"muiPopup", L"Pixvane", false},
      {L"Chrome_WidgetWin_1", L"Pixvane - Search", false}, {L"muiWindow", L"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pv::IsPixvaneWindow(c.className, c.title), c.matches) << c.className << L" " << c.title;
}

}  // namespace
