#include "viewer/render_stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/cpu.h"
#include "metadata/exif_reader.h"
#include "viewer/view_geometry.h"
#include "tests/test_support.h"

namespace {

using pv::ColourAdjustments;
using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

using pvtest::NewImage;

uint32_t& Px(ImageBuffer& b, uint32_t x, uint32_t y) { return pvtest::PixelAt(b, x, y); }

// Each row: one pixel (B, G, R, A) or a few grey samples through one
// adjustment set, with the result worked out by hand from the formulas.
TEST(RenderStages, AdjustmentsFollowTheFormulasInEveryFormat) {
  // count: how many values differ from neutral
  struct Row { const char* name; ColourAdjustments a; int count; PixelFormat format; std::vector<double> in, out; };
  using F = PixelFormat;
  // Contrast 1 and luminance 0.1 on one channel: v -> 2 v - 0.4, so x / 255 -> 2 x - 102;
  // saturation and the colour offsets do nothing there.
  const ColourAdjustments grey{.contrast = 1, .saturation = 3, .luminance = 0.1f, .red = 0.5f};
  const Row rows[] = {
      {"neutral", {}, 0, F::Rgba8, {40, 100, 200, 77}, {40, 100, 200, 77}},
      // base = 1.5 L; each channel c + L / 2
      {"brightness", {.brightness = 0.5f}, 1, F::Rgba8, {40, 100, 200, 77}, {97, 157, 255, 77}},
      {"invert", {.invert = true}, 1, F::Rgba8, {40, 100, 200, 128}, {215, 155, 55, 128}},
      // offsets: red +0.15, green and blue -0.075
      {"red", {.red = 0.3f}, 1, F::Rgba8, {100, 100, 100, 255}, {81, 81, 138, 255}},
      // square root of each positive channel
      {"gamma", {.gamma = 1.5f}, 1, F::Rgba8, {255, 64, 0, 9}, {255, 128, 0, 9}},
      // a third of a turn: red becomes green
      {"hue", {.hue = 1.0f / 3}, 1, F::Rgba8, {0, 0, 255, 255}, {0, 255, 0, 255}},
      {"saturation", {.saturation = -1}, 1, F::Rgba8, {30, 60, 90, 1}, {60, 60, 60, 1}},
      {"three", {.hue = -0.1f, .gamma = 1.2f, .invert = true}, 3, F::Grey8, {0}, {255}},
      // L = 340 / 765; B = 40/255 + L/2 = 0.379085 -> 24843.3, G = 0.614379 -> 40263.3.
      {"16 bits", {.brightness = 0.5f}, 1, F::Rgba16, {40 * 257, 100 * 257, 200 * 257, 1234},
       {24843, 40263, 65535, 1234}},
      // L = 0.5; each channel + 0.25, and 1.15 passes unclamped.
      {"floats", {.brightness = 0.5f}, 1, F::RgbaF, {0.2, 0.4, 0.9, 0.5}, {0.45, 0.65, 1.15, 0.5}},
      {"grey", grey, 4, F::Grey8, {100, 200, 40}, {98, 255, 0}},
      {"grey 16 bits", grey, 4, F::Grey16, {25700}, {2 * 25700 - 26214}},
      {"grey floats inverted", {.contrast = 1, .luminance = 0.1f, .invert = true}, 3, F::GreyF, {0.3}, {0.8}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.a.Count(), r.count);
    const uint32_t width = static_cast<uint32_t>(r.in.size() / pvtest::ChannelsOf(r.format));
    Ref<ImageBuffer> src = pvtest::ImageOf(r.format, width, 1, r.in), dst = NewImage(r.format, width, 1);
    ASSERT_EQ(pv::AdjustColours(*dst, *src, r.a, 1), pv::kStatusOk);
    const std::vector<double> out = pvtest::SamplesOf(*dst);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], r.out[i], 1e-6) << i;
  }
  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 1, 1), out = NewImage(PixelFormat::Indexed8, 1, 1);
  EXPECT_EQ(pv::AdjustColours(*out, *indexed, grey, 1), pv::kStatusColourFormat);
}

TEST(RenderStages, AdjustmentBandsGiveTheSamePixelsAsOneBand) {
  pvtest::ScopedValue<uint32_t> many(pv::ProcessorCount, 4);  // so that bands really run on the pool
  const ColourAdjustments a{.contrast = 0.3f, .hue = 0.2f, .blue = -0.1f, .gamma = 0.8f};
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Rgba16, PixelFormat::Grey8}) {
    Ref<ImageBuffer> src = pvtest::RandomImage(f, 37, 53, 7), one = NewImage(f, 37, 53);
    ASSERT_EQ(pv::AdjustColours(*one, *src, a, 1), pv::kStatusOk);
    for (uint32_t bands : {2u, 7u, 53u, 200u}) {
      Ref<ImageBuffer> banded = NewImage(f, 37, 53);
      ASSERT_EQ(pv::AdjustColours(*banded, *src, a, bands), pv::kStatusOk);
      EXPECT_TRUE(pvtest::SamePixels(*one, *banded)) << "format " << int(f) << " bands " << bands;
    }
  }
}

// 3 × 2 grey image 0 1 2 / 3 4 5 under the codes no EXIF value leads to
// (the others are shown upright below).
TEST(RenderStages, OrientationTurnsThenMirrorsThenFlips) {
  struct Row { uint8_t orientation; uint32_t width; std::vector<double> pixels; };
  const Row rows[] = {{12, 3, {5, 4, 3, 2, 1, 0}}, {9, 2, {5, 2, 4, 1, 3, 0}}};
  Ref<ImageBuffer> src = pvtest::ImageOf(PixelFormat::Grey8, 3, 2, {0, 1, 2, 3, 4, 5});
  for (const Row& r : rows) {
    Ref<ImageBuffer> out(pv::OrientImage(*src, r.orientation));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Dimensions(), (pv::ImageSize{r.width, 6 / r.width})) << int(r.orientation);
    EXPECT_EQ(pvtest::SamplesOf(*out), r.pixels) << int(r.orientation);
  }
  // Wider pixels move whole, and a palette goes with the image.
  const std::vector<double> two = {1, 2, 3, 4, 5, 6, 7, 8};
  Ref<ImageBuffer> turned(pv::OrientImage(*pvtest::ImageOf(PixelFormat::RgbaF, 2, 1, two), 1));
  ASSERT_TRUE(turned);
  EXPECT_EQ(pvtest::SamplesOf(*turned), two);
  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 2, 2);
  indexed->Palette()[9] = 0xFF123456u;
  Ref<ImageBuffer> mirrored(pv::OrientImage(*indexed, 4));
  ASSERT_TRUE(mirrored);
  EXPECT_EQ(mirrored->Palette()[9], 0xFF123456u);
}

TEST(RenderStages, CropIsClippedToTheImage) {
  Ref<ImageBuffer> src = NewImage(PixelFormat::Rgba8, 4, 3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) Px(*src, x, y) = y * 10 + x;
  Ref<ImageBuffer> c(pv::CropImage(*src, {2, 1, 5, 5}));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Dimensions(), (pv::ImageSize{2, 2}));
  EXPECT_EQ(Px(*c, 0, 0), 12u);
  EXPECT_EQ(Px(*c, 1, 1), 23u);
  Ref<ImageBuffer> d(pv::CropImage(*src, {-1, 0, 2, 1}));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->Dimensions(), (pv::ImageSize{1, 1}));
  EXPECT_FALSE(Ref<ImageBuffer>(pv::CropImage(*src, {4, 0, 2, 2})));
  EXPECT_FALSE(Ref<ImageBuffer>(pv::CropImage(*src, {0, 0, 0, 2})));
}

TEST(RenderStages, AlphaIsFlattenedOverTheBackgroundOrPremultiplied) {
  Ref<ImageBuffer> src = pvtest::SolidImage(2, 1, 0x800064C8u, 1);  // alpha 128, red 0, green 100, blue 200
  Px(*src, 1, 0) = 0x00FFFFFFu;
  Ref<ImageBuffer> flat(pv::FlattenImage(*src, 0xFF0000FFu));  // over blue
  ASSERT_TRUE(flat);
  // a = 128/255: blue 200 a + 255 (1 - a) = 227.4, green 100 a = 50.2.
  EXPECT_EQ(Px(*flat, 0, 0), 0xFF0032E3u);
  EXPECT_EQ(Px(*flat, 1, 0), 0xFF0000FFu);
  EXPECT_EQ(flat->UsesAlpha(), 0);
  EXPECT_FALSE(Ref<ImageBuffer>(pv::FlattenImage(*NewImage(PixelFormat::Grey8, 1, 1), 0)));

  Ref<ImageBuffer> out(pv::PremultiplyAlpha(*src));
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->IsScreenCompatible());
  EXPECT_EQ(out->UsesAlpha(), 2);
  EXPECT_EQ(Px(*out, 0, 0), 0x80003264u);  // 100 × 128 / 255 = 50.2, 200 × 128 / 255 = 100.4
  EXPECT_EQ(Px(*out, 1, 0), 0u);
}

TEST(RenderStages, FramesAreDrawnClippedToTheCanvas) {
  Ref<ImageBuffer> first = NewImage(PixelFormat::Rgba8, 2, 2);
  first->Frame().canvasWidth = 4;
  first->Frame().canvasHeight = 3;
  first->Frame().background = 0xFF000011u;
  Ref<ImageBuffer> canvas(pv::CreateCanvas(*first));
  ASSERT_TRUE(canvas);
  EXPECT_TRUE(canvas->IsScreenCompatible());
  EXPECT_TRUE(pvtest::SamePixels(*canvas, *pvtest::SolidImage(4, 3, 0xFF000011u)));

  // A 2 × 2 frame at (3, 2) reaches one canvas pixel.
  Ref<ImageBuffer> frame = pvtest::SolidImage(2, 2, 0xFFA00001u);
  Px(*frame, 0, 0) = 0xFFA00000u;
  frame->Frame().left = 3;
  frame->Frame().top = 2;
  ASSERT_EQ(pv::DrawFrame(*canvas, *frame), pv::kStatusOk);
  EXPECT_EQ(Px(*canvas, 3, 2), 0xFFA00000u);
  EXPECT_EQ(Px(*canvas, 2, 2), 0xFF000011u);
  EXPECT_EQ(Px(*canvas, 3, 1), 0xFF000011u);
  // Offsets far outside draw nothing and read nothing outside the frame.
  frame->Frame().left = 0xFFFFFFF0u;
  frame->Frame().top = 0;
  ASSERT_EQ(pv::DrawFrame(*canvas, *frame), pv::kStatusOk);

  // Blending: a quarter-opaque blue over opaque red; without blend the
  // frame's pixels replace the canvas, alpha included.
  Ref<ImageBuffer> over = pvtest::SolidImage(1, 1, 0x400000FFu);
  Px(*canvas, 0, 0) = 0xFFFF0000u;
  for (uint8_t blend : {1, 0}) {
    over->Frame().blend = blend;
    ASSERT_EQ(pv::DrawFrame(*canvas, *over), pv::kStatusOk);
    EXPECT_EQ(Px(*canvas, 0, 0), blend ? 0xFFBF0040u : 0x400000FFu);
  }
}

TEST(RenderStages, AreasAreSavedFilledAndRestoredWithinTheCanvas) {
  Ref<ImageBuffer> canvas = NewImage(PixelFormat::Rgba8, 3, 3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 3; ++x) Px(*canvas, x, y) = 0xFF000000u + y * 3 + x;
  Ref<ImageBuffer> saved(pv::CopyArea(*canvas, {2, 1, 2, 2}));
  ASSERT_TRUE(saved);
  EXPECT_EQ(Px(*saved, 0, 0), 0xFF000005u);
  EXPECT_EQ(Px(*saved, 0, 1), 0xFF000008u);
  EXPECT_EQ(Px(*saved, 1, 0), 0u);  // outside the canvas: transparent black
  pv::FillArea(*canvas, {1, 1, 9, 9}, 0x12345678u);
  EXPECT_EQ(Px(*canvas, 2, 2), 0x12345678u);
  EXPECT_EQ(Px(*canvas, 0, 1), 0xFF000003u);
  pv::PasteArea(*canvas, *saved, {2, 1});
  EXPECT_EQ(Px(*canvas, 2, 1), 0xFF000005u);
  EXPECT_EQ(Px(*canvas, 2, 2), 0xFF000008u);
  EXPECT_EQ(Px(*canvas, 1, 1), 0x12345678u);
}

TEST(RenderStages, BackgroundColourIsTheMedianOfOpaqueSamples) {
  Ref<ImageBuffer> img = pvtest::SolidImage(5, 5, 0);
  EXPECT_EQ(pv::PickBackgroundColour(*img), 0xFF808080u);  // wholly transparent
  Px(*img, 0, 0) = 0xFF000000u;
  Px(*img, 4, 0) = 0xFFFFFFFFu;
  Px(*img, 0, 4) = Px(*img, 2, 2) = 0xFF102030u;
  Px(*img, 4, 4) = 0xFF405060u;
  EXPECT_EQ(pv::PickBackgroundColour(*img), 0xFF102030u);

  // Corners mostly transparent (alpha 63 is not enough): the inner samples.
  Ref<ImageBuffer> inner = pvtest::SolidImage(8, 8, 0x3F0000FFu);
  const uint32_t points[5][2] = {{4, 2}, {4, 6}, {2, 4}, {6, 4}, {4, 4}};
  for (uint32_t i = 0; i < 5; ++i) Px(*inner, points[i][0], points[i][1]) = 0x40000000u + (i + 1) * 0x010203u;
  EXPECT_EQ(pv::PickBackgroundColour(*inner), 0xFF030609u);

  EXPECT_EQ(pv::PickBackgroundColour(*pvtest::ImageOf(PixelFormat::Grey16, 2, 1, {0x12FF, 0x12FF})), 0xFF121212u);
  EXPECT_EQ(pv::PickBackgroundColour(*pvtest::ImageOf(PixelFormat::GreyF, 2, 1, {0.25, 0.25})), 0xFF404040u);
}

TEST(RenderStages, SharpeningAddsTheDifferenceFromABlur) {
  Ref<ImageBuffer> dot = pvtest::ImageOf(PixelFormat::Grey8, 3, 3, {0, 0, 0, 0, 100, 0, 0, 0, 0});
  // The blur keeps a quarter of the dot: 100 + (100 - 25); its neighbours
  // go below 0 and are clamped.
  Ref<ImageBuffer> sharp(pv::SharpenImage(*dot, pv::SharpeningStrength(1.0f)));
  ASSERT_TRUE(sharp);
  EXPECT_EQ(pvtest::SamplesOf(*sharp), (std::vector<double>{0, 0, 0, 0, 175, 0, 0, 0, 0}));
  // Half the strength: 100 + 75 / 2.
  Ref<ImageBuffer> half(pv::SharpenImage(*dot, pv::SharpeningStrength(0.5f)));
  EXPECT_EQ(half->Row(1)[1], 138);  // 137.5 rounds to even

  // A flat colour image keeps its pixels and its alpha.
  Ref<ImageBuffer> flat = pvtest::SolidImage(4, 4, 0x80336699u);
  Ref<ImageBuffer> same(pv::SharpenImage(*flat, 512));
  ASSERT_TRUE(same);
  EXPECT_TRUE(pvtest::SamePixels(*same, *flat));

  EXPECT_EQ(pv::SharpeningStrength(0.001f), 0);  // too weak to change anything
  EXPECT_EQ(pv::SharpeningStrength(std::nanf("")), 0);
  EXPECT_FALSE(Ref<ImageBuffer>(pv::SharpenImage(*NewImage(PixelFormat::Indexed8, 2, 2), 256)));
}

// The frame lies in the guard rows and row margins of a screen buffer,
// exactly one pixel around the image, whose own pixels stay as they were.
TEST(RenderStages, BorderRingsTheImageOutsideItsPixels) {
  for (PixelFormat format : {PixelFormat::Rgba8, PixelFormat::Indexed8}) {
    Ref<ImageBuffer> image(pv::CreateImageBuffer(format, {3, 2}, true));
    ASSERT_TRUE(image);
    const size_t bpp = image->BytesPerPixel(), rowBytes = image->RowBytes();
    for (uint32_t y = 0; y < 2; ++y) std::fill(image->Row(y), image->Row(y) + 3 * bpp, uint8_t{0x11});
    if (format == PixelFormat::Indexed8) {
      std::fill(image->Palette(), image->Palette() + 256, 0xFF000000u);
      image->Palette()[40] = 0xFFF00A0Au;  // nearest to the colour
    }
    ASSERT_TRUE(pv::DrawBorder(*image, 0xFF0000));
    const uint32_t expected = format == PixelFormat::Rgba8 ? 0xFFFF0000u : 40u;
    auto at = [&](int x, int y) {
      const uint8_t* p = image->Row(0) + y * static_cast<ptrdiff_t>(rowBytes) + x * static_cast<ptrdiff_t>(bpp);
      uint32_t v = 0;
      std::memcpy(&v, p, bpp);
      return v;
    };
    for (int y = -1; y <= 2; ++y) {
      for (int x = -1; x <= 3; ++x) {
        const bool ring = x < 0 || y < 0 || x == 3 || y == 2;
        EXPECT_EQ(at(x, y), ring ? expected : (bpp == 4 ? 0x11111111u : 0x11u)) << x << "," << y;
      }
    }
  }
  // A heap buffer has no guard rows to carry it.
  Ref<ImageBuffer> heap = NewImage(PixelFormat::Rgba8, 3, 2);
  EXPECT_FALSE(pv::DrawBorder(*heap, 0));
}

// A picture stored as each EXIF orientation value says (where its first row
// and column lie) is shown upright through the name and code the metadata
// reader gives it.
TEST(RenderStages, EveryExifOrientationIsShownUpright) {
  constexpr uint32_t w = 3, h = 2;
  auto upright = [](uint32_t x, uint32_t y) { return static_cast<double>(1 + x + 10 * y); };
  for (uint32_t value = 1; value <= 8; ++value) {
    const bool swapped = value >= 5;
    const uint32_t sw = swapped ? h : w, sh = swapped ? w : h;
    std::vector<double> stored;
    for (uint32_t y = 0; y < sh; ++y) {
      for (uint32_t x = 0; x < sw; ++x) {
        switch (value) {
          case 1: stored.push_back(upright(x, y)); break;
          case 2: stored.push_back(upright(w - 1 - x, y)); break;
          case 3: stored.push_back(upright(w - 1 - x, h - 1 - y)); break;
          case 4: stored.push_back(upright(x, h - 1 - y)); break;
          case 5: stored.push_back(upright(y, x)); break;
          case 6: stored.push_back(upright(w - 1 - y, x)); break;  // row 0 is the right side
          case 7: stored.push_back(upright(w - 1 - y, h - 1 - x)); break;
          default: stored.push_back(upright(y, h - 1 - x)); break;  // row 0 is the left side, bottom up
        }
      }
    }
    Ref<ImageBuffer> image = pvtest::ImageOf(PixelFormat::Grey8, sw, sh, stored);
    const uint8_t orientation = pv::OrientationForCode(pv::OrientationCode(pv::OrientationName(value)));
    Ref<ImageBuffer> shown(pv::OrientImage(*image, orientation));
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->Dimensions(), (pv::ImageSize{w, h})) << value;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) EXPECT_EQ(shown->Row(y)[x], upright(x, y)) << "value " << value << " at " << x << "," << y;
  }
  // Values outside 1 to 8 have no name, and unknown names no code.
  EXPECT_EQ(pv::OrientationName(0), nullptr);
  EXPECT_EQ(pv::OrientationName(9), nullptr);
  EXPECT_EQ(pv::OrientationCode(L"rotated 270"), 0);
  EXPECT_EQ(pv::OrientationCode(nullptr), 0);
}

}  // namespace
