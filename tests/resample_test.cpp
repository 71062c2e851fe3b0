#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "core/image_buffer.h"
#include "core/pixel_convert.h"
#include "core/resample.h"
#include "core/task_group.h"
#include "tests/test_support.h"
#include "tools/decode_tool.h"
#include "tools/image_writers.h"

namespace pv {
namespace {

using pvtest::ChannelsOf;
using pvtest::NewImage;
using pvtest::RandomImage;
using pvtest::SampleAt;
using pvtest::SamePixels;
using pvtest::ScopedValue;
using pvtest::VectorSettings;

double MaxSample(PixelFormat f) {
  const uint32_t bytes = BytesPerPixel(f) / ChannelsOf(f);
  return bytes == 1 ? 255 : bytes == 2 ? 65535 : 1;
}

// A plain floating-point model of the resampler: the same sample positions
// and the same filter (the table's weights / 16384), computed in doubles.
struct Plane {
  uint32_t w = 0, h = 0, ch = 0;
  std::vector<double> v;
  double& At(uint32_t x, uint32_t y, uint32_t c) { return v[(size_t{y} * w + x) * ch + c]; }
};

Plane PlaneOf(const ImageBuffer& b) {
  return {b.Width(), b.Height(), ChannelsOf(b.Format()), pvtest::SamplesOf(b)};
}

// One pass along x (or y when `vertical`); 8-bit intermediates keep 16 bits.
Plane CubicPass(Plane s, uint32_t size, bool vertical, double low, double high) {
  const int16_t* table = CubicFilterTable();
  const uint32_t from = vertical ? s.h : s.w;
  const uint64_t step = (uint64_t{from} << 16) / size;
  Plane out{vertical ? s.w : size, vertical ? size : s.h, s.ch, {}};
  out.v.resize(size_t{out.w} * out.h * out.ch);
  for (uint32_t y = 0; y < out.h; ++y) {
    for (uint32_t x = 0; x < out.w; ++x) {
      const uint64_t u = (vertical ? y : x) * step;
      const int64_t first = static_cast<int64_t>(u >> 16) - 1;
      const int16_t* w = table + ((u >> 8) & 255) * 4;
      for (uint32_t c = 0; c < s.ch; ++c) {
        double sum = 0;
        for (int j = 0; j < 4; ++j) {
          const uint32_t i = static_cast<uint32_t>(std::clamp<int64_t>(first + j, 0, from - 1));
          sum += w[j] / 16384.0 * (vertical ? s.At(x, i, c) : s.At(i, y, c));
        }
        out.At(x, y, c) = std::clamp(sum, low, high);
      }
    }
  }
  return out;
}

Plane BoxModel(Plane s, uint32_t f) {
  Plane out{s.w / f, s.h / f, s.ch, {}};
  out.v.resize(size_t{out.w} * out.h * out.ch);
  for (uint32_t y = 0; y < out.h; ++y) {
    for (uint32_t x = 0; x < out.w; ++x) {
      for (uint32_t c = 0; c < s.ch; ++c) {
        double sum = 0;
        for (uint32_t j = 0; j < f; ++j) for (uint32_t i = 0; i < f; ++i) sum += s.At(x * f + i, y * f + j, c);
        out.At(x, y, c) = sum / (f * f);
      }
    }
  }
  return out;
}

// The model of the whole call: a box reduction by 2^k when the target fits
// 2^k times into the source both ways, after a cubic stage to the nearest
// multiple; the cubic filter alone otherwise. `stages` tells which ran.
Plane ResampleModel(const Plane& s, PixelFormat f, uint32_t tw, uint32_t th, int* stages) {
  const double top = MaxSample(f);
  const bool eightBit = top == 255;
  const double low = eightBit ? -256 : -1e30, high = eightBit ? 32767 / 128.0 : 1e30;
  auto cubic = [&](const Plane& p, uint32_t w, uint32_t h) {
    Plane v = CubicPass(CubicPass(p, w, false, low, high), h, true, top == 1 ? -1e30 : 0, top == 1 ? 1e30 : top);
    if (top != 1) {
      // Integer families store whole samples between the stages.
      for (double& x : v.v) x = eightBit ? std::floor(x) : std::round(x);
    }
    return v;
  };
  uint32_t k = 0;
  while (uint64_t{tw} << (k + 1) <= s.w && uint64_t{th} << (k + 1) <= s.h) ++k;
  if (k == 0) {
    *stages = 1;
    return cubic(s, tw, th);
  }
  const uint32_t iw = tw << k, ih = th << k;
  *stages = iw == s.w && ih == s.h ? 0 : 2;
  return BoxModel(*stages ? cubic(s, iw, ih) : s, 1u << k);
}

TEST(Resample, FilterTableHoldsTheCatmullRomWeights) {
  const int16_t* table = CubicFilterTable();
  // Keys' kernel with a = -0.5, written out for the test.
  auto keys = [](double x) {
    x = std::fabs(x);
    return x <= 1 ? 1.5 * x * x * x - 2.5 * x * x + 1 : x < 2 ? -0.5 * x * x * x + 2.5 * x * x - 4 * x + 2 : 0.0;
  };
  for (uint32_t p = 0; p < kFilterPhases; ++p) {
    int32_t sum = 0;
    for (int j = 0; j < 4; ++j) {
      EXPECT_NEAR(table[p * 4 + j], 16384 * keys(p / 256.0 + 1 - j), 1.5) << p << " " << j;
      sum += table[p * 4 + j];
    }
    // Never below one, so flat areas survive the truncating shifts.
    EXPECT_GE(sum, 16384) << p;
  }
}

TEST(Resample, EachKernelFamilyMatchesAFloatingPointModel) {
  // stages: 0 box only, 1 cubic only, 2 cubic then box
  struct Size { uint32_t sw, sh, tw, th; int stages; };
  const Size sizes[] = {
      {37, 23, 19, 17, 1},   // reduction below 2:1
      {13, 9, 40, 29, 1},    // enlargement
      {50, 20, 25, 15, 1},   // exactly 2:1 across, cubic down
      {64, 20, 16, 17, 1},   // exactly 4:1 across
      {3, 2, 7, 5, 1},       // rows narrower than four taps
      {1, 1, 4, 3, 1},       // one pixel
      {2, 5, 5, 2, 1},       // narrow and reduced down
      {20, 100, 18, 9, 1},   // vertical steps beyond the ring
      {33, 17, 33, 17, 1},   // the same size: the source exactly
      {100, 60, 30, 20, 2},  // cubic to 60 × 40, then halved
      {200, 130, 20, 13, 2}, // cubic to 160 × 104, then reduced by 8
      {64, 48, 16, 12, 0},   // box by 4
      {96, 64, 3, 2, 0},     // box by 32: 16, then 2
  };
  const PixelFormat formats[] = {PixelFormat::Rgba8,  PixelFormat::Grey8,  PixelFormat::Rgba16,
                                 PixelFormat::Grey16, PixelFormat::RgbaF, PixelFormat::GreyF};
  for (bool vector : VectorSettings()) {
    ScopedValue<bool> flag(CpuHasSsse3, vector);
    for (PixelFormat f : formats) {
      for (const Size& z : sizes) {
        SCOPED_TRACE(std::to_string(int(f)) + ": " + std::to_string(z.sw) + "x" + std::to_string(z.sh) + " to " +
                     std::to_string(z.tw) + "x" + std::to_string(z.th) + (vector ? " vector" : " scalar"));
        Ref<ImageBuffer> s = RandomImage(f, z.sw, z.sh, z.sw * 31 + z.th);
        Ref<ImageBuffer> t = NewImage(f, z.tw, z.th);
        ASSERT_EQ(Resample(*t, *s), kStatusOk);
        int stages = -1;
        Plane model = ResampleModel(PlaneOf(*s), f, z.tw, z.th, &stages);
        EXPECT_EQ(stages, z.stages);
        // 8-bit cubic passes truncate (under one step); each box reduction
        // (two beyond 16:1) and each 16-bit cubic stage rounds once; floats
        // are exact to rounding.
        const double top = MaxSample(f), boxes = z.sw / z.tw > 16 ? 2 : 1;
        const double tolerance = top == 1     ? 1e-5
                                 : top == 255 ? (stages == 2 ? 1.5 : stages == 1 ? 1.0 : 0.5 * boxes)
                                              : (stages == 1 ? 0.5 : 1.0);
        double worst = 0;
        for (uint32_t y = 0; y < z.th; ++y) {
          for (uint32_t i = 0; i < z.tw * model.ch; ++i) {
            const double want = model.v[size_t{y} * z.tw * model.ch + i];
            worst = std::max(worst, std::fabs(SampleAt(*t, y, i) - want));
          }
        }
        EXPECT_LE(worst, tolerance + 1e-9);
        if (z.sw == z.tw && z.sh == z.th) {
          EXPECT_TRUE(SamePixels(*s, *t));
        }
        if (top != 255) continue;
        // Flat 8-bit areas stay exactly flat, at both ends of the range too.
        for (uint8_t value : {0, 1, 127, 254, 255}) {
          const std::vector<double> samples(size_t{z.sw} * z.sh * model.ch, value);
          Ref<ImageBuffer> flat = pvtest::ImageOf(f, z.sw, z.sh, samples);
          ASSERT_EQ(Resample(*t, *flat), kStatusOk);
          EXPECT_EQ(pvtest::SamplesOf(*t), std::vector<double>(model.v.size(), value)) << int(value);
        }
      }
    }
  }
}

TEST(Resample, RefusesWhatItCannotDoAndEndsWhenCancelled) {
  using Op = Status (*)(ImageBuffer&, ImageBuffer&, const CancelFlag*);
  struct Case { const char* name; Op op; Ref<ImageBuffer> target, source; CancelFlag cancel; Status expected; };
  auto image = [](PixelFormat f, uint32_t w, uint32_t h) { return RandomImage(f, w, h, w); };
  const PixelFormat grey = PixelFormat::Grey8, rgba = PixelFormat::Rgba8, indexed = PixelFormat::Indexed8;
  const Case cases[] = {
      {"resample formats", Resample, image(rgba, 4, 4), image(grey, 8, 8), 0, kStatusFormatMismatch},
      {"box formats", BoxReduce, image(rgba, 4, 4), image(grey, 8, 8), 0, kStatusFormatMismatch},
      {"resample indexed", Resample, image(indexed, 4, 4), image(indexed, 8, 8), 0, kStatusColourFormat},
      {"box indexed", BoxReduce, image(indexed, 4, 4), image(indexed, 8, 8), 0, kStatusColourFormat},
      {"box by 3", BoxReduce, image(grey, 3, 3), image(grey, 9, 9), 0, kStatusSizeMismatch},
      {"box heights differ", BoxReduce, image(grey, 4, 2), image(grey, 8, 8), 0, kStatusSizeMismatch},
      {"cancelled reduction", Resample, image(rgba, 40, 40), image(rgba, 64, 64), 1, kStatusCancelled},
      {"cancelled enlargement", Resample, image(rgba, 100, 100), image(rgba, 64, 64), 1, kStatusCancelled},
      {"cancelled box stage", Resample, image(rgba, 16, 16), image(rgba, 64, 64), 1, kStatusCancelled},
      {"cancelled box", BoxReduce, image(rgba, 32, 32), image(rgba, 64, 64), 1, kStatusCancelled},
      {"box", BoxReduce, image(rgba, 32, 32), image(rgba, 64, 64), 0, kStatusOk},
  };
  for (const Case& c : cases) EXPECT_EQ(c.op(*c.target, *c.source, &c.cancel), c.expected) << c.name;
}

TEST(Resample, SourcesWiderThan65535PixelsKeepTheirPositions) {
  // At a ratio of 70 every target pixel falls on phase 0 of source pixel 70 x,
  // a position beyond 32 bits in 16.16 fixed point from x = 937 on.
  const uint32_t n = 70000;
  auto value = [](uint32_t i) { return static_cast<uint8_t>(i * 7 + i / 256); };
  Ref<ImageBuffer> wide = NewImage(PixelFormat::Grey8, n, 2);
  Ref<ImageBuffer> tall = NewImage(PixelFormat::Grey8, 2, n);
  for (uint32_t i = 0; i < n; ++i) {
    wide->Row(0)[i] = wide->Row(1)[i] = value(i);
    tall->Row(i)[0] = tall->Row(i)[1] = value(i);
  }
  Ref<ImageBuffer> narrow = NewImage(PixelFormat::Grey8, 1000, 2);
  Ref<ImageBuffer> shortened = NewImage(PixelFormat::Grey8, 2, 1000);
  ASSERT_EQ(Resample(*narrow, *wide), kStatusOk);
  ASSERT_EQ(Resample(*shortened, *tall), kStatusOk);
  for (uint32_t x = 0; x < 1000; ++x) {
    ASSERT_EQ(narrow->Row(1)[x], value(70 * x)) << x;
    ASSERT_EQ(shortened->Row(x)[1], value(70 * x)) << x;
  }
}

// Different roads to the same pixels: the scalar kernels in one band, the
// vector kernels in many bands, and in one band again inside another
// parallel job. This is the one test of the vector kernels against their
// scalar twins: the 8-bit sizes lead to each of them.
TEST(Resample, KernelsAndBandsGiveTheSamePixels) {
  struct Case { PixelFormat format; uint32_t sw, sh, tw, th; };
  std::vector<Case> cases = {
      {PixelFormat::Rgba8, 1300, 700, 1024, 530},  // cubic, bands of 16 or so rows
      {PixelFormat::Grey8, 600, 300, 1100, 560},   // enlarged: the ring moves by 0 or 1
      {PixelFormat::GreyF, 1500, 1100, 700, 520},  // two stages
      {PixelFormat::Rgba16, 2048, 1024, 512, 256}, // box by 4
  };
  const uint32_t sizes[][4] = {
      {101, 77, 59, 41}, {77, 31, 250, 99}, {203, 64, 101, 32}, {333, 200, 41, 25},  // irregular ratios
      {250, 90, 200, 72}, {120, 50, 240, 100}, {800, 60, 512, 40},  // columns that repeat: 5:4, 1:2, 25:16
      // 5:4 into a stage reduced by 16 (Grey8 sums by eights): more bands than rows of 16K pixels
      {1200, 800, 60, 40},
      {433, 30, 100, 30},   // four columns' taps spread over 16 bytes and more: not grouped
      {200, 50, 100, 60}, {400, 50, 100, 60},  // columns decimated by exactly 2 and 4
      {96, 64, 24, 16}, {256, 128, 32, 16},   // box only, by 4 and by 8
  };
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Grey8})
    for (const auto& z : sizes) cases.push_back({f, z[0], z[1], z[2], z[3]});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(int(c.format)) + ": " + std::to_string(c.sw) + "x" + std::to_string(c.sh) + " to " +
                 std::to_string(c.tw) + "x" + std::to_string(c.th));
    Ref<ImageBuffer> s = RandomImage(c.format, c.sw, c.sh, c.tw);
    Ref<ImageBuffer> one = NewImage(c.format, c.tw, c.th), many = NewImage(c.format, c.tw, c.th),
                     nested = NewImage(c.format, c.tw, c.th);
    {
      ScopedValue<bool> scalar(CpuHasSsse3, false);
      ScopedValue<uint32_t> processors(ProcessorCount, 1);
      ASSERT_EQ(Resample(*one, *s), kStatusOk);
    }
    ScopedValue<bool> vector(CpuHasSsse3, VectorSettings().back());
    ScopedValue<uint32_t> processors(ProcessorCount, 4);
    ASSERT_EQ(Resample(*many, *s), kStatusOk);
    ParallelNesting += 1;
    EXPECT_EQ(Resample(*nested, *s), kStatusOk);
    ParallelNesting -= 1;
    EXPECT_TRUE(SamePixels(*one, *many));
    EXPECT_TRUE(SamePixels(*one, *nested));
  }
}

TEST(ResampleInto, BringsFormatsTogetherFirst) {
  // A flat colour stays that colour through every road.
  Ref<ImageBuffer> indexed = pvtest::ImageOf(PixelFormat::Indexed8, 12, 10, std::vector<double>(120, 3));
  indexed->Palette()[3] = 0xFF336699u;
  indexed->Properties().SetText(kPropComment, L"kept");
  Ref<ImageBuffer> rgba = NewImage(PixelFormat::Rgba8, 5, 7);
  ASSERT_EQ(ResampleInto(*rgba, *indexed), kStatusOk);
  EXPECT_EQ(pvtest::SamplesOf(*rgba), pvtest::SamplesOf(*pvtest::SolidImage(5, 7, 0xFF336699u)));
  EXPECT_STREQ(rgba->Properties().GetText(kPropComment), L"kept");

  Ref<ImageBuffer> smaller = NewImage(PixelFormat::Indexed8, 3, 9);
  ASSERT_EQ(ResampleInto(*smaller, *indexed), kStatusOk);
  EXPECT_EQ(smaller->Palette()[smaller->Row(8)[2]], 0xFF336699u);
  EXPECT_STREQ(smaller->Properties().GetText(kPropComment), L"kept");

  Ref<ImageBuffer> grey = NewImage(PixelFormat::Grey8, 4, 4);
  ASSERT_EQ(ResampleInto(*grey, *pvtest::ImageOf(PixelFormat::Grey16, 9, 9, std::vector<double>(81, 30000))),
            kStatusOk);
  EXPECT_EQ(grey->Row(3)[3], 30000 >> 8);
}

// The library road and the decoding tool both give the decode resampled.
TEST(ResampleDecode, DecodingToAnotherSizeEqualsResamplingTheDecode) {
  ReadProcessorFeatures();
  RegisterDecoders();
  // A synthetic 32-bit bitmap file with a varied pattern.
  std::vector<uint8_t> pattern(64 * 48 * 4);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 4 == 3 ? 255 : (i * 37) ^ (i >> 7));
  const std::wstring path = pvtest::Widen(pvtest::ScratchDir("resample-decode") + "/pattern.bmp");
  ASSERT_TRUE(WriteWholeFile(path, EncodeBmp32(pattern, 64, 48)));
  const std::string out = pvtest::ScratchDir("resample-decode-out") + "/small.pam";
  Ref<ImageBuffer> full;
  ASSERT_EQ(LoadImageFile(path.c_str(), LoadOptions(), &full), kStatusOk);
  for (ImageSize size : {ImageSize{16, 12}, ImageSize{50, 20}, ImageSize{100, 70}}) {
    const std::string asked = std::to_string(size.width) + "x" + std::to_string(size.height);
    SCOPED_TRACE(asked);
    LoadOptions options;
    options.size = size;
    Ref<ImageBuffer> sized;
    ASSERT_EQ(LoadImageFile(path.c_str(), options, &sized), kStatusOk);
    Ref<ImageBuffer> expected = NewImage(full->Format(), size.width, size.height);
    ASSERT_EQ(Resample(*expected, *full), kStatusOk);
    EXPECT_TRUE(SamePixels(*sized, *expected));
    EXPECT_TRUE(sized->Properties().Has(kPropFileFormat));

    std::FILE* log = std::tmpfile();
    ASSERT_EQ(RunDecodeTool({L"--out", pvtest::Widen(out), L"--size", pvtest::Widen(asked), path}, log, log), 0);
    std::fclose(log);
    pvtest::Pam pam;
    ASSERT_TRUE(pvtest::ReadPam(out, &pam));
    std::vector<uint8_t> rgba;
    ASSERT_EQ(ToStraightRgba(*expected, &rgba), kStatusOk);
    EXPECT_EQ(pvtest::PamAsRgba(pam), rgba);
  }
}

}  // namespace
}  // namespace pv
