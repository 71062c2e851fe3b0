// The final image of a view on the screen: drawn into device contexts,
// painted by a framed window, pushed into a layered window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/test_support.h"
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
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
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

uint32_t Pattern(uint32_t x, uint32_t y) { return 0xFF000000u | (x * 7) << 16 | (y * 9) << 8 | ((x + y) * 3); }

Ref<ImageBuffer> PatternImage(uint32_t w, uint32_t h) {
  Ref<ImageBuffer> b(pv::CreateImageBuffer(PixelFormat::Rgba8, {w, h}, false));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = Pattern(x, y);
  return b;
}

Ref<ViewState> ReadyView(ImageBuffer* image) {
  Ref<ViewState> view(new ViewState(image, 0));
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

TEST(RenderDrawView, CopiesThePartOfTheImageAskedFor) {
  Ref<ImageBuffer> image = PatternImage(32, 24);
  Ref<ViewState> view = ReadyView(image.get());
  Surface surface(40, 30, RGB(255, 255, 255));
  ASSERT_TRUE(pv::DrawView(*view, surface.dc(), {4, 3}, {2, 1}, {pv::kWholeImage, pv::kWholeImage}, 255));
  EXPECT_EQ(surface.At(4, 3), Pattern(2, 1) & 0xFFFFFF);
  EXPECT_EQ(surface.At(33, 25), Pattern(31, 23) & 0xFFFFFF);
  EXPECT_EQ(surface.At(10, 20), Pattern(8, 18) & 0xFFFFFF);
  EXPECT_EQ(surface.At(3, 3), 0xFFFFFFu);
  EXPECT_EQ(surface.At(34, 25), 0xFFFFFFu);  // past the image's last column
  EXPECT_EQ(surface.At(4, 26), 0xFFFFFFu);

  // A size smaller than the image draws only that much.
  Surface small(40, 30, RGB(255, 255, 255));
  ASSERT_TRUE(pv::DrawView(*view, small.dc(), {0, 0}, {0, 0}, {5, 4}, 255));
  EXPECT_EQ(small.At(4, 3), Pattern(4, 3) & 0xFFFFFF);
  EXPECT_EQ(small.At(5, 3), 0xFFFFFFu);
}

TEST(RenderDrawView, HalfTransparentImagesAreBlendedOverTheBackground) {
  // Red 200 at alpha 128 over white: 200 × 128 / 255 + 255 × 127 / 255.
  Ref<ImageBuffer> image = pvtest::SolidImage(4, 4, 0x80C80000u, 1);
  Ref<ViewState> view = ReadyView(image.get());
  Surface surface(4, 4, RGB(255, 255, 255));
  ASSERT_TRUE(pv::DrawView(*view, surface.dc(), {0, 0}, {0, 0}, {pv::kWholeImage, pv::kWholeImage}, 255));
  ExpectNear(surface.At(2, 2), 0xE37F7Fu, 1);

  // An opaque image at constant alpha 128.
  Ref<ImageBuffer> opaque = pvtest::SolidImage(4, 4, 0xFFFF0000u, 0);
  Ref<ViewState> faded = ReadyView(opaque.get());
  Surface second(4, 4, RGB(255, 255, 255));
  ASSERT_TRUE(pv::DrawView(*faded, second.dc(), {0, 0}, {0, 0}, {pv::kWholeImage, pv::kWholeImage}, 128));
  ExpectNear(second.At(1, 1), 0xFF7F7Fu, 1);
}

TEST(RenderDrawView, GreyImagesAreCopiedThroughTheirColourTable) {
  Ref<ImageBuffer> grey(pv::CreateImageBuffer(PixelFormat::Grey16, {3, 2}, false));
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) reinterpret_cast<uint16_t*>(grey->Row(y))[x] = static_cast<uint16_t>((x * 80 + y * 5) * 257);
  Ref<ViewState> view = ReadyView(grey.get());
  EXPECT_EQ(view->Final()->Format(), PixelFormat::Grey8);
  Surface surface(3, 2, RGB(255, 0, 0));
  ASSERT_TRUE(pv::DrawView(*view, surface.dc(), {0, 0}, {0, 0}, {pv::kWholeImage, pv::kWholeImage}, 128));
  EXPECT_EQ(surface.At(2, 1), 165u * 0x010101u);  // never blended
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

// The screen's pixel at a screen position, as 0x00RRGGBB.
uint32_t ScreenPixel(POINT p) {
  pv::WindowDc screen(nullptr);
  const COLORREF c = GetPixel(screen.get(), p.x, p.y);
  return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

void Pump() {
  MSG msg;
  for (int i = 0; i < 20; ++i) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

// A framed window painting as the viewer does: image centred or scrolled,
// background around it.
class PaintingWindow : public pv::ToolkitWindow {
 public:
  ViewState* view = nullptr;
  pv::Point scroll;
  pv::BackgroundBrush brush;
  void OnPaint(HDC dc, const PAINTSTRUCT& paint) override {
    SIZE client;
    GetClientSize(&client);
    pv::PaintRequest request;
    request.client = {client.cx, client.cy};
    request.scroll = scroll;
    request.background = 0xFF2040C0u;
    scroll = pv::PaintView(*view, dc, paint.rcPaint, request, brush);
  }
};

TEST(RenderDrawView, PaintCentresSmallImagesAndScrollsLargeOnes) {
  Ref<ImageBuffer> image = PatternImage(32, 24);
  Ref<ViewState> view = ReadyView(image.get());
  PaintingWindow window;
  window.view = view.get();
  window.Style().isPopup = true;
  pv::CreateOptions options;
  options.position = {400, 100};
  options.size = {102, 82};  // a 100 × 80 client inside the border
  ASSERT_TRUE(window.Create(options));
  Pump();
  SIZE client;
  ASSERT_TRUE(window.GetClientSize(&client));
  POINT origin = {0, 0};
  ClientToScreen(window.Handle(), &origin);
  const LONG left = (client.cx - 32) / 2, top = (client.cy - 24) / 2;
  EXPECT_EQ(ScreenPixel({origin.x + 2, origin.y + 2}), 0x2040C0u);
  EXPECT_EQ(ScreenPixel({origin.x + left - 1, origin.y + top + 3}), 0x2040C0u);
  EXPECT_EQ(ScreenPixel({origin.x + left, origin.y + top}), Pattern(0, 0) & 0xFFFFFF);
  EXPECT_EQ(ScreenPixel({origin.x + left + 31, origin.y + top + 23}), Pattern(31, 23) & 0xFFFFFF);
  EXPECT_EQ(ScreenPixel({origin.x + left + 32, origin.y + top + 23}), 0x2040C0u);

  // At zoom 4 the image is 128 × 96: it fills the client from the scroll
  // offset, which is clamped to the image.
  ASSERT_TRUE(view->SetZoom(4));
  view->BuildDisplayImage();
  window.scroll = {500, 10};
  InvalidateRect(window.Handle(), nullptr, FALSE);
  Pump();
  EXPECT_EQ(window.scroll, (pv::Point{128 - client.cx, 10}));
  const ImageBuffer& final = *view->Final();
  for (POINT p : {POINT{0, 0}, POINT{client.cx - 1, client.cy - 1}}) {
    const uint32_t expected =
        reinterpret_cast<const uint32_t*>(final.Row(p.y + 10))[p.x + 128 - client.cx] & 0xFFFFFF;
    EXPECT_EQ(ScreenPixel({origin.x + p.x, origin.y + p.y}), expected) << p.x << "," << p.y;
  }
}

TEST(RenderDrawView, LayeredWindowIsPushedWithItsAlpha) {
  // A window of the background colour below, and over it a layered window
  // whose image is transparent on the left half and opaque red on the right.
  PaintingWindow below;
  Ref<ImageBuffer> tiny = pvtest::SolidImage(1, 1, 0xFF2040C0u, 0);
  Ref<ViewState> tinyView = ReadyView(tiny.get());
  below.view = tinyView.get();
  below.Style().isPopup = true;
  pv::CreateOptions options;
  options.position = {300, 300};
  options.size = {60, 40};
  ASSERT_TRUE(below.Create(options));

  Ref<ImageBuffer> image = pvtest::SolidImage(40, 20, 0x00000000u, 1);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 20; x < 40; ++x) reinterpret_cast<uint32_t*>(image->Row(y))[x] = 0xFFFF0000u;
  Ref<ViewState> view = ReadyView(image.get());
  pv::ToolkitWindow layered;
  layered.Style().isPopup = true;
  layered.Style().layered = true;
  options.position = {0, 0};
  options.size = {10, 10};
  ASSERT_TRUE(layered.Create(options));
  const POINT at = {310, 310};
  const SIZE whole = {pv::kWholeImage, pv::kWholeImage};
  ASSERT_TRUE(pv::UpdateLayered(*view, layered.Handle(), &at, &whole, {0, 0}));
  Pump();
  RECT r;
  GetWindowRect(layered.Handle(), &r);
  EXPECT_EQ(r.left, 310);
  EXPECT_EQ(r.top, 310);
  EXPECT_EQ(r.right - r.left, 40);
  EXPECT_EQ(r.bottom - r.top, 20);
  EXPECT_EQ(ScreenPixel({330, 315}), 0xFF0000u);
  EXPECT_EQ(ScreenPixel({315, 315}), 0x2040C0u);  // the window below shows through

  // Without a size only the position changes.
  const POINT moved = {320, 312};
  ASSERT_TRUE(pv::UpdateLayered(*view, layered.Handle(), &moved, nullptr, {0, 0}));
  GetWindowRect(layered.Handle(), &r);
  EXPECT_EQ(r.left, 320);
  EXPECT_EQ(r.right - r.left, 40);
}

}  // namespace
