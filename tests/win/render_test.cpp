// The final image of a view on the screen: drawn and painted into device
// contexts, pushed into a layered window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "tests/test_support.h"
#include "tests/win/window_test_support.h"
#include "toolkit/window.h"
#include "viewer/draw_view.h"

namespace {

using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;
using pv::ViewState;

// A 32-bit top-down DIB section with its own memory DC, filled with one colour.
class Surface {
 public:
  Surface(int width, int height, COLORREF fill) : width_(width) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_.Reset(CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
    old_ = SelectObject(dc_, bitmap_.get());
    const RECT all = {0, 0, width, height};
    pv::GdiObject<HBRUSH> brush(CreateSolidBrush(fill));
    FillRect(dc_, &all, brush.get());
  }
  ~Surface() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  // 0x00RRGGBB
  uint32_t At(int x, int y) const {
    GdiFlush();
    return bits_[y * width_ + x] & 0xFFFFFF;
  }

 private:
  int width_;
  HDC dc_;
  pv::GdiObject<HBITMAP> bitmap_;
  HGDIOBJ old_;
  uint32_t* bits_ = nullptr;
};

uint32_t Pattern(uint32_t x, uint32_t y) { return (x * 7) << 16 | (y * 9) << 8 | ((x + y) * 3); }

Ref<ImageBuffer> PatternImage(uint32_t w, uint32_t h) {
  Ref<ImageBuffer> b = pvtest::NewImage(PixelFormat::Rgba8, w, h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) pvtest::PixelAt(*b, x, y) = 0xFF000000u | Pattern(x, y);
  return b;
}

Ref<ViewState> ReadyView(ImageBuffer* image, uint32_t screenDepth = 32) {
  pv::ViewOptions options;
  options.screenDepth = screenDepth;
  Ref<ViewState> view(new ViewState(image, 0, options));
  view->BuildDisplayImage();
  EXPECT_TRUE(view->Final() && view->Final()->IsScreenCompatible());
  return view;
}

void ExpectNear(uint32_t got, uint32_t expected, int tolerance) {
  for (int shift : {0, 8, 16}) {
    const int g = (got >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
    EXPECT_LE(std::abs(g - e), tolerance) << std::hex << "got " << got << " expected " << expected;
  }
}

TEST(RenderDrawView, ImagesWithAlphaOrAConstantAlphaAreBlendedButNotThoseWithAPalette) {
  struct Row {
    Ref<ImageBuffer> image;
    BYTE alpha;
    COLORREF under;
    uint32_t expected;
  };
  const Row rows[] = {
      // Red 200 at alpha 128 over white: 200 × 128 / 255 + 255 × 127 / 255.
      {pvtest::SolidImage(3, 2, 0x80C80000u, 1), 255, RGB(255, 255, 255), 0xE37F7Fu},
      {pvtest::SolidImage(3, 2, 0xFFFF0000u, 0), 128, RGB(255, 255, 255), 0xFF7F7Fu},
      // Images with a palette go through their colour table, never blended:
      // the grey ramp, and the palette an indexed image was given.
      {pvtest::ImageOf(PixelFormat::Grey16, 3, 2, std::vector<double>(6, 165 * 257)), 128, RGB(255, 0, 0),
       165u * 0x010101u},
      {pvtest::ImageOf(PixelFormat::Indexed8, 3, 2, std::vector<double>(6, 9)), 128, RGB(255, 255, 255), 0x123456u},
  };
  rows[3].image->Palette()[9] = 0xFF123456u;
  // On a palette screen the same pixels come through the realized palette,
  // which is deselected afterwards.
  for (uint32_t depth : {32u, 8u}) {
    for (const Row& r : rows) {
      Ref<ViewState> view = ReadyView(r.image.get(), depth);
      Surface surface(3, 2, r.under);
      const HGDIOBJ palette = GetCurrentObject(surface.dc(), OBJ_PAL);
      ASSERT_TRUE(pv::DrawView(*view, surface.dc(), {0, 0}, {0, 0}, {pv::kWholeImage, pv::kWholeImage}, r.alpha));
      EXPECT_EQ(GetCurrentObject(surface.dc(), OBJ_PAL), palette);
      ExpectNear(surface.At(2, 1), r.expected, 1);
    }
  }
}

// How many pixels of a rectangle differ from the fill, and how many are black and white.
struct Counts {
  int changed = 0, black = 0, white = 0;
};
Counts CountPixels(const Surface& s, RECT r, uint32_t fill) {
  Counts c;
  for (LONG y = r.top; y < r.bottom; ++y)
    for (LONG x = r.left; x < r.right; ++x) {
      const uint32_t p = s.At(x, y);
      c.changed += p != fill;
      c.black += p == 0;
      c.white += p == 0xFFFFFF;
    }
  return c;
}

TEST(RenderDrawView, OverlaysAreDrawnInTheirCornerWhenTheyFit) {
  const uint32_t grey = 0x808080;
  struct Row {
    pv::OverlayColumn column;
    bool bottom;
    RECT inside, outside;
  };
  const Row rows[] = {
      {pv::OverlayColumn::Left, false, {0, 0, 100, 40}, {100, 40, 200, 80}},
      {pv::OverlayColumn::Right, true, {100, 40, 200, 80}, {0, 0, 100, 40}},
      {pv::OverlayColumn::Right, false, {100, 0, 200, 40}, {0, 40, 100, 80}},
      {pv::OverlayColumn::Left, true, {0, 40, 100, 80}, {100, 0, 200, 40}},
  };
  for (const Row& r : rows) {
    Surface surface(200, 80, RGB(128, 128, 128));
    pv::DrawOverlays(surface.dc(), {{L"IIIII", r.column, r.bottom}}, {200, 80});
    const Counts in = CountPixels(surface, r.inside, grey);
    SCOPED_TRACE(int(r.column) * 2 + r.bottom);
    EXPECT_GT(in.black, 0);
    EXPECT_GT(in.white, 0);
    EXPECT_EQ(CountPixels(surface, r.outside, grey).changed, 0);
  }
  // A client too low for the text shows none.
  Surface low(200, 12, RGB(128, 128, 128));
  pv::DrawOverlays(low.dc(), {{L"IIIII", pv::OverlayColumn::Left, false}}, {200, 12});
  EXPECT_EQ(CountPixels(low, {0, 0, 200, 12}, grey).changed, 0);
}

TEST(RenderDrawView, PaintCentresSmallImagesScrollsLargeOnesAndDrawsTheBorderAround) {
  Ref<ImageBuffer> image = PatternImage(32, 24);
  Ref<ViewState> view = ReadyView(image.get());
  Surface surface(100, 80, RGB(255, 255, 255));
  const RECT client = {0, 0, 100, 80};
  pv::BackgroundBrush brush;
  pv::PaintRequest request;
  request.client = {100, 80};
  request.background = 0xFF2040C0u;
  // Centred at (34, 28), the background around it.
  EXPECT_EQ(pv::PaintView(*view, surface.dc(), client, request, brush), (pv::Point{0, 0}));
  for (POINT p : {POINT{2, 2}, POINT{33, 31}, POINT{66, 51}, POINT{40, 52}}) {
    EXPECT_EQ(surface.At(p.x, p.y), 0x2040C0u) << p.x << "," << p.y;
  }
  EXPECT_EQ(surface.At(34, 28), Pattern(0, 0));
  EXPECT_EQ(surface.At(65, 51), Pattern(31, 23));

  // At zoom 4 the image is 128 × 96: it fills the client from the scroll
  // offset, which is clamped to the image.
  ASSERT_TRUE(view->SetZoom(4));
  view->BuildDisplayImage();
  request.scroll = {500, 10};
  EXPECT_EQ(pv::PaintView(*view, surface.dc(), client, request, brush), (pv::Point{28, 10}));
  for (POINT p : {POINT{0, 0}, POINT{99, 79}}) {
    EXPECT_EQ(surface.At(p.x, p.y), pvtest::PixelAt(*view->Final(), p.x + 28, p.y + 10) & 0xFFFFFF);
  }

  SCOPED_TRACE("the border is drawn one pixel around the image");
  image = PatternImage(3, 2);
  view = ReadyView(image.get());
  view->SetBorder(true, 0x00FF00);
  ASSERT_TRUE(view->HasBorder());
  Surface framed(6, 5, RGB(0, 0, 255));
  ASSERT_TRUE(pv::DrawView(*view, framed.dc(), {1, 1}, {0, 0}, {pv::kWholeImage, pv::kWholeImage}, 255));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
      const bool ring = !inside && x <= 4 && y <= 3;
      EXPECT_EQ(framed.At(x, y), inside ? Pattern(x - 1, y - 1) : ring ? 0x00FF00u : 0x0000FFu) << x << "," << y;
    }
  }
}

// The screen's pixel at a screen position, as 0x00RRGGBB.
uint32_t ScreenPixel(POINT p) {
  pv::WindowDc screen(nullptr);
  const COLORREF c = GetPixel(screen.get(), p.x, p.y);
  return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

TEST(RenderDrawView, LayeredWindowIsPushedWithItsAlpha) {
  // Over a layered window of one colour, a second whose image is
  // transparent on the left half and opaque red on the right.
  pv::ToolkitWindow below, above;
  for (pv::ToolkitWindow* w : {&below, &above}) {
    w->Style().isPopup = w->Style().layered = true;
    pv::CreateOptions options;
    options.size = {10, 10};
    ASSERT_TRUE(w->Create(options));
  }
  Ref<ViewState> blue = ReadyView(pvtest::SolidImage(60, 40, 0xFF2040C0u).get());
  const POINT under = {300, 300}, at = {310, 310};
  const SIZE whole = {pv::kWholeImage, pv::kWholeImage};
  ASSERT_TRUE(pv::UpdateLayered(*blue, below.Handle(), &under, &whole, {0, 0}));
  Ref<ImageBuffer> image = pvtest::SolidImage(40, 20, 0x00000000u, 1);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 20; x < 40; ++x) pvtest::PixelAt(*image, x, y) = 0xFFFF0000u;
  Ref<ViewState> view = ReadyView(image.get());
  ASSERT_TRUE(pv::UpdateLayered(*view, above.Handle(), &at, &whole, {0, 0}));
  pvtest::PumpMessages(200);
  // Where the window lies and how large it is.
  auto placed = [&] {
    RECT r;
    GetWindowRect(above.Handle(), &r);
    return std::make_tuple(r.left, r.top, r.right - r.left, r.bottom - r.top);
  };
  EXPECT_EQ(placed(), std::make_tuple(310L, 310L, 40L, 20L));
  EXPECT_EQ(ScreenPixel({330, 315}), 0xFF0000u);
  EXPECT_EQ(ScreenPixel({315, 315}), 0x2040C0u);  // the window below shows through

  // Without a size only the position changes.
  const POINT moved = {320, 312};
  ASSERT_TRUE(pv::UpdateLayered(*view, above.Handle(), &moved, nullptr, {0, 0}));
  EXPECT_EQ(placed(), std::make_tuple(320L, 312L, 40L, 20L));
}

}  // namespace
