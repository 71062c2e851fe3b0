#include "viewer/window_title.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using pv::PixelFormat;

TEST(WindowTitle, ZoomText) {
  struct Case {
    double zoom;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0.5, L"0.5x"},      {1.25, L"1.25x"},   {2.0, L"2.0x"},    {1.0 / 3, L"0.333x"}, {0.125, L"0.125x"},
      {9.5137, L"9.514x"}, {0.9996, L"1.0x"},  {0.0004, L"0.0x"}, {1234.5, L"1234.5x"}, {0.05, L"0.05x"},
      {0.0, L""},          {-2.0, L""},        {std::nan(""), L""}, {std::numeric_limits<double>::infinity(), L""},
      {1e300, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::FormatZoomText(c.zoom), c.text) << c.zoom;
}

TEST(WindowTitle, Pieces) {
  struct Case {
    pv::TitleParts parts;
    const wchar_t* title;
  };
  auto parts = [](double zoom) {
    pv::TitleParts p;
    p.name = L"name.jpg";
    p.zoom = zoom;
    return p;
  };
  pv::TitleParts details = parts(0.5);
  details.details = true;
  details.width = 1920;
  details.height = 1080;
  details.formatName = L"JPEG";
  details.format = PixelFormat::Rgba8;
  pv::TitleParts wide = details;
  wide.format = PixelFormat::Grey16;
  wide.zoom = 1.0;
  pv::TitleParts hdr = wide;
  hdr.format = PixelFormat::RgbaF;
  pv::TitleParts indexed = wide;
  indexed.format = PixelFormat::Indexed8;
  pv::TitleParts slideshow = parts(1.0);
  slideshow.slideshowWord = L"Slideshow";
  slideshow.extra = L"2/5";
  pv::TitleParts clipboard = parts(2.0);
  clipboard.name = L"<clipboard>";

  const Case cases[] = {
      {parts(1.0), L"name.jpg | Pixvane"},
      {parts(1.0 / 3), L"name.jpg | 0.333x | Pixvane"},
      {details, L"name.jpg | 1920\u20221080\u2022JPEG | 0.5x | Pixvane"},
      {wide, L"name.jpg | 1920\u20221080\u2022JPEG | w | Pixvane"},
      {hdr, L"name.jpg | 1920\u20221080\u2022JPEG | HDR | Pixvane"},
      {indexed, L"name.jpg | 1920\u20221080\u2022JPEG | i | Pixvane"},
      {slideshow, L"Slideshow | name.jpg [2/5] | Pixvane"},
      {clipboard, L"<clipboard> | 2.0x | Pixvane"},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::BuildWindowTitle(c.parts), c.title);
}

TEST(WindowTitle, ProgramNameStaysFindable) {
  pv::TitleParts p;
  p.slideshowWord = std::wstring(1000, L's');
  p.name = std::wstring(1000, L'n');
  p.extra = std::wstring(1000, L'e');
  p.details = true;
  p.width = p.height = 4294967295u;
  p.formatName = std::wstring(1000, L'f');
  p.format = PixelFormat::GreyF;
  p.zoom = 1e12;
  std::wstring title = pv::BuildWindowTitle(p);
  EXPECT_LE(title.size(), pv::kTitleSearchUnits);
  EXPECT_EQ(title.substr(title.size() - 10), L" | Pixvane");
  EXPECT_NE(title.find(std::wstring(259, L'n') + L" ["), std::wstring::npos);
}

TEST(WindowTitle, StartTitleAndNamePart) {
  EXPECT_EQ(pv::StartTitle(L"My picture"), L"My picture - Pixvane");
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"C:\\x\\y.png", L"y.png"}, {L"C:y.png", L"y.png"}, {L"a/b.gif", L"b.gif"}, {L"plain", L"plain"}, {L"C:\\x\\", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::FileNamePart(c.path), c.name);
}

}  // namespace
