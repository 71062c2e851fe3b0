#include "viewer/render_stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/cpu.h"
#include "tests/test_support.h"

namespace {

using pv::ColourAdjustments;
using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

using pvtest::NewImage;

template <class T>
T* At(ImageBuffer& b, uint32_t x, uint32_t y, uint32_t channels = 1) {
  return reinterpret_cast<T*>(b.Row(y)) + size_t{x} * channels;
}

uint32_t& Px(ImageBuffer& b, uint32_t x, uint32_t y) { return pvtest::PixelAt(b, x, y); }

// Raises the processor count so that bands really run on the pool.
struct ManyProcessors : pvtest::ScopedValue<uint32_t> {
  ManyProcessors() : ScopedValue(pv::ProcessorCount, 4) {}
};

TEST(RenderStages, AdjustmentCountFollowsTheValuesThatLeaveNeutral) {
  ColourAdjustments a;
  EXPECT_EQ(a.Count(), 0);
  a.gamma = 1.2f;
  a.invert = true;
  a.hue = -0.1f;
  EXPECT_EQ(a.Count(), 3);
}

// Each row: one Rgba8 pixel (B, G, R, A) through one adjustment set, with
// the result worked out by hand from the formulas.
TEST(RenderStages, Rgba8AdjustmentsFollowTheFormulas) {
  struct Row {
    const char* name;
    ColourAdjustments a;
    uint8_t in[4], out[4];
  };
  ColourAdjustments bright;
  bright.brightness = 0.5f;  // base = 1.5 L; each channel c + L / 2
  ColourAdjustments inverted;
  inverted.invert = true;
  ColourAdjustments red;
  red.red = 0.3f;  // offsets: red +0.15, green and blue -0.075
  ColourAdjustments gamma;
  gamma.gamma = 1.5f;  // square root of each positive channel
  ColourAdjustments hue;
  hue.hue = 1.0f / 3;  // a third of a turn: red becomes green
  ColourAdjustments saturation;
  saturation.saturation = -1;  // every channel becomes L
  const Row rows[] = {
      {"brightness", bright, {40, 100, 200, 77}, {97, 157, 255, 77}},
      {"invert", inverted, {40, 100, 200, 128}, {215, 155, 55, 128}},
      {"red", red, {100, 100, 100, 255}, {81, 81, 138, 255}},
      {"gamma", gamma, {255, 64, 0, 9}, {255, 128, 0, 9}},
      {"hue", hue, {0, 0, 255, 255}, {0, 255, 0, 255}},
      {"saturation", saturation, {30, 60, 90, 1}, {60, 60, 60, 1}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Ref<ImageBuffer> src = NewImage(PixelFormat::Rgba8, 1, 1), dst = NewImage(PixelFormat::Rgba8, 1, 1);
    std::memcpy(src->Row(0), r.in, 4);
    ASSERT_EQ(pv::AdjustColours(*dst, *src, r.a, 1), pv::kStatusOk);
    EXPECT_EQ(std::vector<uint8_t>(dst->Row(0), dst->Row(0) + 4), std::vector<uint8_t>(r.out, r.out + 4));
  }
}

TEST(RenderStages, WiderFormatsUseTheSameArithmeticAtTheirScale) {
  ColourAdjustments bright;
  bright.brightness = 0.5f;
  Ref<ImageBuffer> s16 = NewImage(PixelFormat::Rgba16, 1, 1), d16 = NewImage(PixelFormat::Rgba16, 1, 1);
  const uint16_t in16[4] = {40 * 257, 100 * 257, 200 * 257, 1234};
  std::memcpy(s16->Row(0), in16, 8);
  ASSERT_EQ(pv::AdjustColours(*d16, *s16, bright, 1), pv::kStatusOk);
  const uint16_t* o16 = At<uint16_t>(*d16, 0, 0, 4);
  // L = 340 / 765; B = 40/255 + L/2 = 0.379085 -> 24843.3, G = 0.614379 -> 40263.3.
  EXPECT_EQ(o16[0], 24843);
  EXPECT_EQ(o16[1], 40263);
  EXPECT_EQ(o16[2], 65535);
  EXPECT_EQ(o16[3], 1234);

  Ref<ImageBuffer> sf = NewImage(PixelFormat::RgbaF, 1, 1), df = NewImage(PixelFormat::RgbaF, 1, 1);
  const float inF[4] = {0.2f, 0.4f, 0.9f, 0.5f};
  std::memcpy(sf->Row(0), inF, 16);
  ASSERT_EQ(pv::AdjustColours(*df, *sf, bright, 1), pv::kStatusOk);
  const float* oF = At<float>(*df, 0, 0, 4);
  // L = 0.5; each channel + 0.25, and 1.15 passes unclamped.
  EXPECT_NEAR(oF[0], 0.45f, 1e-6);
  EXPECT_NEAR(oF[1], 0.65f, 1e-6);
  EXPECT_NEAR(oF[2], 1.15f, 1e-6);
  EXPECT_EQ(oF[3], 0.5f);
}

TEST(RenderStages, GreyAdjustmentsHaveOneChannel) {
  // Contrast 1 and luminance 0.1: v -> 2 v - 0.4, so x / 255 -> 2 x - 102.
  ColourAdjustments a;
  a.contrast = 1;
  a.luminance = 0.1f;
  a.saturation = 3;  // no effect on one channel
  a.red = 0.5f;      // neither
  Ref<ImageBuffer> g8 = NewImage(PixelFormat::Grey8, 3, 1), o8 = NewImage(PixelFormat::Grey8, 3, 1);
  const uint8_t in8[3] = {100, 200, 40};
  std::memcpy(g8->Row(0), in8, 3);
  ASSERT_EQ(pv::AdjustColours(*o8, *g8, a, 1), pv::kStatusOk);
  EXPECT_EQ(std::vector<uint8_t>(o8->Row(0), o8->Row(0) + 3), (std::vector<uint8_t>{98, 255, 0}));

  Ref<ImageBuffer> g16 = NewImage(PixelFormat::Grey16, 1, 1), o16 = NewImage(PixelFormat::Grey16, 1, 1);
  *At<uint16_t>(*g16, 0, 0) = 25700;
  ASSERT_EQ(pv::AdjustColours(*o16, *g16, a, 1), pv::kStatusOk);
  EXPECT_EQ(*At<uint16_t>(*o16, 0, 0), 2 * 25700 - 26214);

  a.invert = true;
  Ref<ImageBuffer> gf = NewImage(PixelFormat::GreyF, 1, 1), of = NewImage(PixelFormat::GreyF, 1, 1);
  *At<float>(*gf, 0, 0) = 0.3f;
  ASSERT_EQ(pv::AdjustColours(*of, *gf, a, 1), pv::kStatusOk);
  EXPECT_NEAR(*At<float>(*of, 0, 0), 1 - 0.2f, 1e-6);

  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 1, 1), out = NewImage(PixelFormat::Indexed8, 1, 1);
  EXPECT_EQ(pv::AdjustColours(*out, *indexed, a, 1), pv::kStatusColourFormat);
}

TEST(RenderStages, AdjustmentBandsGiveTheSamePixelsAsOneBand) {
  ManyProcessors many;
  std::mt19937 random(7);
  ColourAdjustments a;
  a.contrast = 0.3f;
  a.hue = 0.2f;
  a.gamma = 0.8f;
  a.blue = -0.1f;
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Rgba16, PixelFormat::Grey8}) {
    Ref<ImageBuffer> src = NewImage(f, 37, 53);
    for (uint32_t y = 0; y < 53; ++y)
      for (uint32_t i = 0; i < 37 * src->BytesPerPixel(); ++i) src->Row(y)[i] = static_cast<uint8_t>(random());
    Ref<ImageBuffer> one = NewImage(f, 37, 53);
    ASSERT_EQ(pv::AdjustColours(*one, *src, a, 1), pv::kStatusOk);
    for (uint32_t bands : {2u, 7u, 53u, 200u}) {
      Ref<ImageBuffer> many_ = NewImage(f, 37, 53);
      ASSERT_EQ(pv::AdjustColours(*many_, *src, a, bands), pv::kStatusOk);
      for (uint32_t y = 0; y < 53; ++y)
        ASSERT_EQ(std::memcmp(one->Row(y), many_->Row(y), 37 * src->BytesPerPixel()), 0)
            << "format " << int(f) << " bands " << bands << " row " << y;
    }
  }
}

TEST(RenderStages, BandCountFollowsProcessorsAndImageSize) {
  {
    ManyProcessors many;
    EXPECT_EQ(pv::AdjustmentBandCount({1000, 1000}), 32u);  // 8 per processor
    EXPECT_EQ(pv::AdjustmentBandCount({100, 100}), 4u);     // 10000 / 2048
    EXPECT_EQ(pv::AdjustmentBandCount({10, 10}), 1u);
    EXPECT_EQ(pv::AdjustmentBandCount({5000, 3}), 3u);      // rows of 5000 pixels each
  }
  pvtest::ScopedValue<uint32_t> one(pv::ProcessorCount, 1);
  EXPECT_EQ(pv::AdjustmentBandCount({1000, 1000}), 1u);
}

// 3 × 2 grey image 0 1 2 / 3 4 5 under each orientation code.
TEST(RenderStages, OrientationTurnsThenMirrorsThenFlips) {
  struct Row {
    uint8_t orientation;
    uint32_t width, height;
    std::vector<uint8_t> pixels;
  };
  const Row rows[] = {
      {0, 3, 2, {0, 1, 2, 3, 4, 5}},  {1, 2, 3, {3, 0, 4, 1, 5, 2}}, {2, 3, 2, {5, 4, 3, 2, 1, 0}},
      {3, 2, 3, {2, 5, 1, 4, 0, 3}},  {4, 3, 2, {2, 1, 0, 5, 4, 3}}, {8, 3, 2, {3, 4, 5, 0, 1, 2}},
      {5, 2, 3, {0, 3, 1, 4, 2, 5}},  {12, 3, 2, {5, 4, 3, 2, 1, 0}}, {9, 2, 3, {5, 2, 4, 1, 3, 0}},
  };
  Ref<ImageBuffer> src = NewImage(PixelFormat::Grey8, 3, 2);
  for (uint8_t i = 0; i < 6; ++i) src->Row(i / 3)[i % 3] = i;
  for (const Row& r : rows) {
    SCOPED_TRACE(int(r.orientation));
    Ref<ImageBuffer> out(pv::OrientImage(*src, r.orientation));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->Width(), r.width);
    ASSERT_EQ(out->Height(), r.height);
    std::vector<uint8_t> got;
    for (uint32_t y = 0; y < r.height; ++y) got.insert(got.end(), out->Row(y), out->Row(y) + r.width);
    EXPECT_EQ(got, r.pixels);
  }

  // Wider pixels move whole, and a palette goes with the image.
  Ref<ImageBuffer> wide = NewImage(PixelFormat::RgbaF, 2, 1);
  const float values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::memcpy(wide->Row(0), values, sizeof values);
  Ref<ImageBuffer> turned(pv::OrientImage(*wide, 1));
  ASSERT_TRUE(turned);
  EXPECT_EQ(At<float>(*turned, 0, 1, 4)[2], 7.0f);
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

TEST(RenderStages, FlatteningCompositesOverTheBackground) {
  Ref<ImageBuffer> src = NewImage(PixelFormat::Rgba8, 1, 1);
  src->SetUsesAlpha(1);
  const uint8_t in[4] = {200, 100, 0, 128};
  std::memcpy(src->Row(0), in, 4);
  Ref<ImageBuffer> flat(pv::FlattenImage(*src, 0xFF0000FFu));  // blue
  ASSERT_TRUE(flat);
  // a = 128/255: blue 200 a + 255 (1 - a) = 227.4, green 100 a = 50.2.
  EXPECT_EQ(Px(*flat, 0, 0), 0xFF0032E3u);
  EXPECT_EQ(flat->UsesAlpha(), 0);
  EXPECT_FALSE(Ref<ImageBuffer>(pv::FlattenImage(*NewImage(PixelFormat::Grey8, 1, 1), 0)));
}

TEST(RenderStages, FramesAreDrawnClippedToTheCanvas) {
  Ref<ImageBuffer> first = NewImage(PixelFormat::Rgba8, 2, 2);
  first->Frame().canvasWidth = 4;
  first->Frame().canvasHeight = 3;
  first->Frame().background = 0xFF000011u;
  Ref<ImageBuffer> canvas(pv::CreateCanvas(*first));
  ASSERT_TRUE(canvas);
  EXPECT_TRUE(canvas->IsScreenCompatible());
  EXPECT_EQ(canvas->Dimensions(), (pv::ImageSize{4, 3}));
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) ASSERT_EQ(Px(*canvas, x, y), 0xFF000011u);

  // A 2 × 2 frame at (3, 2) reaches one canvas pixel.
  Ref<ImageBuffer> frame = NewImage(PixelFormat::Rgba8, 2, 2);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 2; ++x) Px(*frame, x, y) = 0xFFA00000u + y * 2 + x;
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

  // Blending: a quarter-opaque blue over opaque red.
  Ref<ImageBuffer> over = NewImage(PixelFormat::Rgba8, 1, 1);
  Px(*over, 0, 0) = 0x400000FFu;
  over->Frame().blend = 1;
  Px(*canvas, 0, 0) = 0xFFFF0000u;
  ASSERT_EQ(pv::DrawFrame(*canvas, *over), pv::kStatusOk);
  EXPECT_EQ(Px(*canvas, 0, 0), 0xFFBF0040u);
  // Without blend the frame's pixels replace the canvas, alpha included.
  over->Frame().blend = 0;
  ASSERT_EQ(pv::DrawFrame(*canvas, *over), pv::kStatusOk);
  EXPECT_EQ(Px(*canvas, 0, 0), 0x400000FFu);
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
  Ref<ImageBuffer> img = NewImage(PixelFormat::Rgba8, 5, 5);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 5; ++x) Px(*img, x, y) = 0;
  EXPECT_EQ(pv::PickBackgroundColour(*img), 0xFF808080u);  // wholly transparent

  Px(*img, 0, 0) = 0xFF000000u;
  Px(*img, 4, 0) = 0xFFFFFFFFu;
  Px(*img, 0, 4) = 0xFF102030u;
  Px(*img, 4, 4) = 0xFF405060u;
  Px(*img, 2, 2) = 0xFF102030u;
  EXPECT_EQ(pv::PickBackgroundColour(*img), 0xFF102030u);

  // Corners mostly transparent (alpha 63 is not enough): the inner samples.
  Ref<ImageBuffer> inner = NewImage(PixelFormat::Rgba8, 8, 8);
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) Px(*inner, x, y) = 0x3F0000FFu;
  const uint32_t points[5][2] = {{4, 2}, {4, 6}, {2, 4}, {6, 4}, {4, 4}};
  for (uint32_t i = 0; i < 5; ++i) Px(*inner, points[i][0], points[i][1]) = 0x40000000u + (i + 1) * 0x010203u;
  EXPECT_EQ(pv::PickBackgroundColour(*inner), 0xFF030609u);

  Ref<ImageBuffer> g16 = NewImage(PixelFormat::Grey16, 2, 2);
  for (uint32_t y = 0; y < 2; ++y) At<uint16_t>(*g16, 0, y)[0] = At<uint16_t>(*g16, 1, y)[0] = 0x12FF;
  EXPECT_EQ(pv::PickBackgroundColour(*g16), 0xFF121212u);
  Ref<ImageBuffer> gf = NewImage(PixelFormat::GreyF, 2, 2);
  for (uint32_t y = 0; y < 2; ++y) At<float>(*gf, 0, y)[0] = At<float>(*gf, 1, y)[0] = 0.25f;
  EXPECT_EQ(pv::PickBackgroundColour(*gf), 0xFF404040u);
}

TEST(RenderStages, PremultipliedCopyScalesColoursByAlpha) {
  Ref<ImageBuffer> src = NewImage(PixelFormat::Rgba8, 2, 1);
  src->SetUsesAlpha(1);
  Px(*src, 0, 0) = 0x800064C8u;  // alpha 128, red 0, green 100, blue 200
  Px(*src, 1, 0) = 0x00FFFFFFu;
  Ref<ImageBuffer> out(pv::PremultiplyAlpha(*src));
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->IsScreenCompatible());
  EXPECT_EQ(out->UsesAlpha(), 2);
  EXPECT_EQ(Px(*out, 0, 0), 0x80003264u);  // 100 × 128 / 255 = 50.2, 200 × 128 / 255 = 100.4
  EXPECT_EQ(Px(*out, 1, 0), 0u);
}

TEST(RenderStages, SharpeningAddsTheDifferenceFromABlur) {
  Ref<ImageBuffer> dot = NewImage(PixelFormat::Grey8, 3, 3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 3; ++x) dot->Row(y)[x] = 0;
  dot->Row(1)[1] = 100;
  // The blur keeps a quarter of the dot: 100 + (100 - 25); its neighbours
  // go below 0 and are clamped.
  Ref<ImageBuffer> sharp(pv::SharpenImage(*dot, pv::SharpeningStrength(1.0f)));
  ASSERT_TRUE(sharp);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(sharp->Row(y)[x], x == 1 && y == 1 ? 175 : 0) << x << "," << y;
  // Half the strength: 100 + 75 / 2.
  Ref<ImageBuffer> half(pv::SharpenImage(*dot, pv::SharpeningStrength(0.5f)));
  EXPECT_EQ(half->Row(1)[1], 138);  // 137.5 rounds to even

  // A flat colour image keeps its pixels and its alpha.
  Ref<ImageBuffer> flat = NewImage(PixelFormat::Rgba8, 4, 4);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) Px(*flat, x, y) = 0x80336699u;
  Ref<ImageBuffer> same(pv::SharpenImage(*flat, 512));
  ASSERT_TRUE(same);
  EXPECT_EQ(Px(*same, 2, 3), 0x80336699u);

  EXPECT_EQ(pv::SharpeningStrength(0.001f), 0);  // too weak to change anything
  EXPECT_EQ(pv::SharpeningStrength(std::nanf("")), 0);
  EXPECT_FALSE(Ref<ImageBuffer>(pv::SharpenImage(*NewImage(PixelFormat::Indexed8, 2, 2), 256)));
}

}  // namespace
