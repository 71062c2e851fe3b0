#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/image_buffer.h"
#include "core/pixel_convert.h"
#include "tests/test_support.h"

namespace {

using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

using pvtest::NewImage;
using pvtest::PixelAt;
// The process-wide options as they were, after each test.
using OptionsGuard = pvtest::ScopedValue<pv::ConversionOptions>;

TEST(PixelConvert, EveryTargetFromOneKnownPixelOfEachSource) {
  // One pixel of each source format holding the colour B=0x20, G=0x80, R=0xFF, A=0x40 (grey: 0x80).
  // rgba8: expected into Rgba8; grey8: expected into Grey8 with the plain average
  struct Case { PixelFormat source; std::vector<double> samples; uint32_t rgba8; uint8_t grey8; };
  const uint8_t mean = (0x20 + 0x80 + 0xFF + 1) / 3;
  const Case cases[] = {
      {PixelFormat::Rgba8, {0x20, 0x80, 0xFF, 0x40}, 0x40FF8020u, mean},
      {PixelFormat::Rgba16, {0x20 * 257, 0x80 * 257, 0xFF * 257, 0x40 * 257}, 0x40FF8020u, mean},
      {PixelFormat::RgbaF, {0x20 / 255.0, 0x80 / 255.0, 1.0, 0x40 / 255.0}, 0x40FF8020u, mean},
      {PixelFormat::Grey8, {0x80}, 0xFF808080u, 0x80}, {PixelFormat::Grey16, {0x8080}, 0xFF808080u, 0x80},
      {PixelFormat::GreyF, {0x80 / 255.0}, 0xFF808080u, 0x80}, {PixelFormat::Indexed8, {7}, 0x40FF8020u, mean},
  };
  OptionsGuard guard(pv::PixelConversionOptions(), {});
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.source));
    Ref<ImageBuffer> s = pvtest::ImageOf(c.source, 1, 1, c.samples);
    if (c.source == PixelFormat::Indexed8) s->Palette()[7] = 0x40FF8020u;
    s->SetUsesAlpha(1);
    s->Properties().SetText(8, L"note");
    Ref<ImageBuffer> t = NewImage(PixelFormat::Rgba8, 1, 1);
    ASSERT_EQ(pv::ConvertInto(*t, *s, false), pv::kStatusOk);
    EXPECT_EQ(PixelAt(*t, 0, 0), c.rgba8);
    EXPECT_EQ(t->UsesAlpha(), 1);
    EXPECT_STREQ(t->Properties().GetText(8), L"note");

    Ref<ImageBuffer> g = NewImage(PixelFormat::Grey8, 1, 1);
    ASSERT_EQ(pv::ConvertInto(*g, *s, false), pv::kStatusOk);
    EXPECT_EQ(g->Pixels()[0], c.grey8);

    // Higher precision targets keep the sample values.
    Ref<ImageBuffer> w16 = NewImage(PixelFormat::Rgba16, 1, 1);
    ASSERT_EQ(pv::ConvertInto(*w16, *s, false), pv::kStatusOk);
    EXPECT_EQ(pvtest::SampleAt(*w16, 0, 2), ((c.rgba8 >> 16) & 0xFF) * 257);
    Ref<ImageBuffer> f = NewImage(PixelFormat::GreyF, 1, 1);
    ASSERT_EQ(pv::ConvertInto(*f, *s, false), pv::kStatusOk);
    EXPECT_NEAR(pvtest::SampleAt(*f, 0, 0), c.grey8 / 255.0, 1.0 / 255);
  }
  // Without dither 16 bits take the high byte.
  Ref<ImageBuffer> t = NewImage(PixelFormat::Rgba8, 3, 1);
  ASSERT_EQ(pv::ConvertInto(*t, *pvtest::ImageOf(PixelFormat::Grey16, 3, 1, {0x00FF, 0x12FF, 0xFFFF}), false),
            pv::kStatusOk);
  EXPECT_EQ(pvtest::SamplesOf(*t), (std::vector<double>{0, 0, 0, 255, 0x12, 0x12, 0x12, 255, 255, 255, 255, 255}));
}

TEST(PixelConvert, SrgbGreyUsesLinearLightLuminance) {
  struct Case { uint8_t r, g, b, grey; };
  // Expected values worked out from the sRGB transfer curves by hand.
  const Case cases[] = {{0, 255, 0, 220}, {255, 0, 0, 127}, {0, 0, 255, 76},
                        {128, 128, 128, 128}, {0, 0, 0, 0}, {255, 255, 255, 255}};
  OptionsGuard guard(pv::PixelConversionOptions(), {});
  pv::PixelConversionOptions().sRgbGrey = 1;
  for (const Case& c : cases) {
    Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba8, 1, 1);
    const uint8_t px[4] = {c.b, c.g, c.r, 255};
    std::memcpy(s->Pixels(), px, 4);
    Ref<ImageBuffer> t = NewImage(PixelFormat::Grey8, 1, 1);
    ASSERT_EQ(pv::ConvertInto(*t, *s, false), pv::kStatusOk);
    EXPECT_EQ(t->Pixels()[0], c.grey);
  }
}

TEST(PixelConvert, ErrorDiffusionKeepsTheMeanAndStaysWithinOneStep) {
  OptionsGuard guard(pv::PixelConversionOptions(), {});
  pv::PixelConversionOptions().dither = 1;
  const uint32_t w = 61, h = 23;
  std::mt19937 rng(7);
  for (PixelFormat source : {PixelFormat::Grey16, PixelFormat::Rgba16}) {
    const uint32_t channels = source == PixelFormat::Grey16 ? 1 : 4;
    Ref<ImageBuffer> s = NewImage(source, w, h);
    // A flat field between two 8-bit steps: 0x80 + 3/8 of a step.
    const uint16_t flat = 0x8060;
    for (uint32_t y = 0; y < h; ++y) {
      uint16_t* row = reinterpret_cast<uint16_t*>(s->Row(y));
      for (uint32_t i = 0; i < w * channels; ++i) row[i] = (channels == 4 && i % 4 == 3) ? 0xABCD : flat;
    }
    Ref<ImageBuffer> t = NewImage(PixelFormat::Rgba8, w, h);
    ASSERT_EQ(pv::ConvertInto(*t, *s, false), pv::kStatusOk);
    double sum = 0;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* p = t->Row(y) + 4 * x;
        for (int k = 0; k < 3; ++k) {
          ASSERT_TRUE(p[k] == 0x80 || p[k] == 0x81) << x << "," << y;
          sum += p[k];
        }
        EXPECT_EQ(p[3], channels == 4 ? 0xAB : 0xFF);
      }
    }
    double mean = sum / (3.0 * w * h);
    EXPECT_NEAR(mean, flat / 256.0, 0.03);  // truncation alone would give 128.0
  }
}

TEST(PixelConvert, SizeMismatchIsRefusedAndIndexedTargetsGetAPalette) {
  const uint32_t colours[2] = {0xFF102030u, 0xFFC0B0A0u};
  Ref<ImageBuffer> a = pvtest::SolidImage(2, 2, colours[0]);
  PixelAt(*a, 1, 1) = colours[1];
  Ref<ImageBuffer> b = NewImage(PixelFormat::Rgba8, 3, 2);
  EXPECT_EQ(pv::ConvertInto(*b, *a, false), pv::kStatusSizeMismatch);
  // Colour becomes indexed through colour reduction, which keeps few colours exactly.
  Ref<ImageBuffer> idx = NewImage(PixelFormat::Indexed8, 2, 2);
  ASSERT_EQ(pv::ConvertInto(*idx, *a, false), pv::kStatusOk);
  EXPECT_EQ(idx->Palette()[idx->Row(1)[0]], colours[0]);
  EXPECT_EQ(idx->Palette()[idx->Row(1)[1]], colours[1]);
  // Grey becomes indexed with the grey ramp.
  ASSERT_EQ(pv::ConvertInto(*idx, *pvtest::ImageOf(PixelFormat::Grey8, 2, 2, {9, 0, 0, 0}), false), pv::kStatusOk);
  EXPECT_EQ(idx->Palette()[idx->Row(0)[0]], 0xFF090909u);
}

TEST(PixelConvert, CloneKeepsOrDropsTheFrameChain) {
  Ref<ImageBuffer> first = NewImage(PixelFormat::Grey8, 2, 1);
  ImageBuffer* second = pv::CreateImageBuffer(PixelFormat::Grey8, {4, 3}, false);
  second->Row(2)[3] = 99;
  first->Frame().delay = 40;
  second->Frame().delay = 50;
  second->Frame().left = 3;
  first->SetNext(second);

  Ref<ImageBuffer> keep(pv::CloneImageBuffer(*first, true, false, PixelFormat::Rgba8));
  ASSERT_TRUE(keep);
  EXPECT_EQ(keep->Frame().delay, 40u);
  ImageBuffer* n = keep->Frame().next;
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Frame().previous, keep.get());
  EXPECT_EQ(n->Format(), PixelFormat::Rgba8);
  EXPECT_EQ(n->Width(), 4u);
  EXPECT_EQ(n->Frame().left, 3u);
  EXPECT_EQ(PixelAt(*n, 3, 2), 0xFF636363u);

  Ref<ImageBuffer> single(pv::CloneImageBuffer(*first, false, false));
  ASSERT_TRUE(single);
  EXPECT_EQ(single->Frame().next, nullptr);
  EXPECT_EQ(single->Frame().delay, 0u);
}

}  // namespace
