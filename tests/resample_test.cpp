#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
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

using pvtest::ScopedValue;
using pvtest::VectorSettings;

bool MachineHasSsse3() { return VectorSettings().size() == 2; }

using pvtest::NewImage;

uint32_t ChannelsOf(PixelFormat f) {
  return f == PixelFormat::Rgba8 || f == PixelFormat::Rgba16 || f == PixelFormat::RgbaF ? 4 : 1;
}

// Sample i of row y as a double, whatever the format.
double SampleAt(const ImageBuffer& b, uint32_t y, size_t i) {
  const uint8_t* row = b.Row(y);
  switch (b.Format()) {
    case PixelFormat::Rgba8:
    case PixelFormat::Grey8: return row[i];
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: return reinterpret_cast<const uint16_t*>(row)[i];
    default: return reinterpret_cast<const float*>(row)[i];
  }
}

void SetSample(ImageBuffer& b, uint32_t y, size_t i, double v) {
  uint8_t* row = b.Row(y);
  switch (b.Format()) {
    case PixelFormat::Rgba8:
    case PixelFormat::Grey8: row[i] = static_cast<uint8_t>(v); break;
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(v); break;
    default: reinterpret_cast<float*>(row)[i] = static_cast<float>(v); break;
  }
}

double MaxSample(PixelFormat f) {
  switch (f) {
    case PixelFormat::Rgba8:
    case PixelFormat::Grey8: return 255;
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: return 65535;
    default: return 1;
  }
}

Ref<ImageBuffer> RandomImage(PixelFormat f, uint32_t w, uint32_t h, uint32_t seed) {
  Ref<ImageBuffer> b = NewImage(f, w, h);
  std::mt19937 rng(seed);
  const double top = MaxSample(f);
  for (uint32_t y = 0; y < h; ++y) {
    for (size_t i = 0; i < size_t{w} * ChannelsOf(f); ++i) {
      const double v = top == 1 ? (rng() % 10001) / 10000.0 : rng() % (static_cast<uint32_t>(top) + 1);
      SetSample(*b, y, i, v);
    }
  }
  return b;
}

bool SamePixels(const ImageBuffer& a, const ImageBuffer& b) {
  if (a.Dimensions() != b.Dimensions() || a.Format() != b.Format()) return false;
  for (uint32_t y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), size_t{a.Width()} * a.BytesPerPixel()) != 0) return false;
  }
  return true;
}

// A plain floating-point model of the resampler: the same sample positions
// and the same filter (the table's weights / 16384), computed in doubles.
struct Plane {
  uint32_t w = 0, h = 0, ch = 0;
  std::vector<double> v;
  double& At(uint32_t x, uint32_t y, uint32_t c) { return v[(size_t{y} * w + x) * ch + c]; }
};

Plane PlaneOf(const ImageBuffer& b) {
  Plane p{b.Width(), b.Height(), ChannelsOf(b.Format()), {}};
  p.v.resize(size_t{p.w} * p.h * p.ch);
  for (uint32_t y = 0; y < p.h; ++y) {
    for (uint32_t i = 0; i < p.w * p.ch; ++i) p.v[size_t{y} * p.w * p.ch + i] = SampleAt(b, y, i);
  }
  return p;
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
        for (uint32_t j = 0; j < f; ++j) {
          for (uint32_t i = 0; i < f; ++i) sum += s.At(x * f + i, y * f + j, c);
        }
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
  struct Size {
    uint32_t sw, sh, tw, th;
    int stages;  // 0 box only, 1 cubic only, 2 cubic then box
  };
  const Size sizes[] = {
      {37, 23, 19, 17, 1},   // reduction below 2:1
      {13, 9, 40, 29, 1},    // enlargement
      {50, 20, 25, 15, 1},   // exactly 2:1 across, cubic down
      {64, 20, 16, 17, 1},   // exactly 4:1 across
      {3, 2, 7, 5, 1},       // rows narrower than four taps
      {1, 1, 4, 3, 1},       // one pixel
      {2, 5, 5, 2, 1},       // narrow and reduced down
      {20, 100, 18, 9, 1},   // vertical steps beyond the ring
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
        const double top = MaxSample(f);
        const double tolerance = top == 1 ? 1e-5 : top == 255 ? (stages == 2 ? 1.5 : 1.0) : (stages == 1 ? 0.5 : 1.0);
        double worst = 0;
        for (uint32_t y = 0; y < z.th; ++y) {
          for (uint32_t i = 0; i < z.tw * model.ch; ++i) {
            const double want = model.v[size_t{y} * z.tw * model.ch + i];
            worst = std::max(worst, std::fabs(SampleAt(*t, y, i) - want));
          }
        }
        EXPECT_LE(worst, tolerance + 1e-9);
      }
    }
  }
}

TEST(Resample, EdgeCasesOfTheStages) {
  // 100 × 100 to 25 × 25 is one box reduction by 4: exact rounded means.
  Ref<ImageBuffer> s = RandomImage(PixelFormat::Rgba8, 100, 100, 5);
  Ref<ImageBuffer> t = NewImage(PixelFormat::Rgba8, 25, 25);
  ASSERT_EQ(Resample(*t, *s), kStatusOk);
  for (uint32_t y = 0; y < 25; ++y) {
    for (uint32_t x = 0; x < 25; ++x) {
      for (uint32_t c = 0; c < 4; ++c) {
        uint32_t sum = 0;
        for (uint32_t j = 0; j < 4; ++j) {
          for (uint32_t i = 0; i < 4; ++i) sum += s->Row(4 * y + j)[4 * (4 * x + i) + c];
        }
        ASSERT_EQ(t->Row(y)[4 * x + c], (sum + 8) / 16) << x << "," << y;
      }
    }
  }

  // Equal size through the cubic path reproduces the source exactly.
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Grey16, PixelFormat::RgbaF}) {
    Ref<ImageBuffer> a = RandomImage(f, 33, 17, 7);
    Ref<ImageBuffer> b = NewImage(f, 33, 17);
    ASSERT_EQ(Resample(*b, *a), kStatusOk);
    EXPECT_TRUE(SamePixels(*a, *b)) << int(f);
  }
}

TEST(Resample, RefusesWhatItCannotDo) {
  Ref<ImageBuffer> grey = NewImage(PixelFormat::Grey8, 8, 8);
  Ref<ImageBuffer> rgba = NewImage(PixelFormat::Rgba8, 4, 4);
  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 8, 8);
  Ref<ImageBuffer> indexedSmall = NewImage(PixelFormat::Indexed8, 4, 4);
  Ref<ImageBuffer> grey3 = NewImage(PixelFormat::Grey8, 3, 3);
  Ref<ImageBuffer> grey4x2 = NewImage(PixelFormat::Grey8, 4, 2);
  Ref<ImageBuffer> grey9 = NewImage(PixelFormat::Grey8, 9, 9);
  struct Case {
    const char* name;
    Status (*op)(ImageBuffer&, ImageBuffer&, const CancelFlag*);
    ImageBuffer* target;
    ImageBuffer* source;
    Status expected;
  };
  const Case cases[] = {
      {"resample formats", Resample, rgba.get(), grey.get(), kStatusFormatMismatch},
      {"box formats", BoxReduce, rgba.get(), grey.get(), kStatusFormatMismatch},
      {"resample indexed", Resample, indexedSmall.get(), indexed.get(), kStatusColourFormat},
      {"box indexed", BoxReduce, indexedSmall.get(), indexed.get(), kStatusColourFormat},
      {"box by 3", BoxReduce, grey3.get(), grey9.get(), kStatusSizeMismatch},
      {"box heights differ", BoxReduce, grey4x2.get(), grey.get(), kStatusSizeMismatch},
  };
  for (const Case& c : cases) EXPECT_EQ(c.op(*c.target, *c.source, nullptr), c.expected) << c.name;
}

TEST(Resample, ASetCancelByteEndsWithCancelled) {
  CancelFlag cancel{1};
  Ref<ImageBuffer> s = RandomImage(PixelFormat::Rgba8, 64, 64, 2);
  for (uint32_t size : {16u, 40u, 100u}) {
    Ref<ImageBuffer> t = NewImage(PixelFormat::Rgba8, size, size);
    EXPECT_EQ(Resample(*t, *s, &cancel), kStatusCancelled) << size;
  }
  Ref<ImageBuffer> half = NewImage(PixelFormat::Rgba8, 32, 32);
  EXPECT_EQ(BoxReduce(*half, *s, &cancel), kStatusCancelled);
  cancel = 0;
  EXPECT_EQ(BoxReduce(*half, *s, &cancel), kStatusOk);
}

TEST(Resample, FlatAreasStayFlat) {
  const uint32_t sizes[][4] = {{40, 30, 17, 13}, {17, 13, 40, 30}, {40, 30, 9, 7}, {5, 5, 23, 2}};
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Grey8}) {
    for (uint8_t value : {0, 1, 127, 254, 255}) {
      for (const auto& z : sizes) {
        Ref<ImageBuffer> s = NewImage(f, z[0], z[1]);
        for (uint32_t y = 0; y < z[1]; ++y) std::memset(s->Row(y), value, size_t{z[0]} * s->BytesPerPixel());
        Ref<ImageBuffer> t = NewImage(f, z[2], z[3]);
        ASSERT_EQ(Resample(*t, *s), kStatusOk);
        for (uint32_t y = 0; y < z[3]; ++y) {
          for (uint32_t i = 0; i < z[2] * t->BytesPerPixel(); ++i) ASSERT_EQ(t->Row(y)[i], value) << z[2] << " " << i;
        }
      }
    }
  }
}

TEST(Resample, BandsGiveTheResultOfOneBand) {
  struct Case {
    PixelFormat format;
    uint32_t sw, sh, tw, th;
  };
  const Case cases[] = {
      {PixelFormat::Rgba8, 1300, 700, 1024, 530},  // cubic, bands of 16 or so rows
      {PixelFormat::Grey8, 600, 300, 1100, 560},   // enlarged: the ring moves by 0 or 1
      {PixelFormat::GreyF, 1500, 1100, 700, 520},  // two stages
      {PixelFormat::Rgba16, 2048, 1024, 512, 256}, // box by 4
      {PixelFormat::Grey8, 1200, 800, 60, 40},     // a stage reduced by 16: more bands than rows of 16K pixels
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    Ref<ImageBuffer> s = RandomImage(c.format, c.sw, c.sh, c.tw);
    Ref<ImageBuffer> one = NewImage(c.format, c.tw, c.th);
    Ref<ImageBuffer> many = NewImage(c.format, c.tw, c.th);
    Ref<ImageBuffer> nested = NewImage(c.format, c.tw, c.th);
    {
      ScopedValue<uint32_t> processors(ProcessorCount, 1);
      ASSERT_EQ(Resample(*one, *s), kStatusOk);
    }
    ScopedValue<uint32_t> processors(ProcessorCount, 4);
    ASSERT_EQ(Resample(*many, *s), kStatusOk);
    EXPECT_TRUE(SamePixels(*one, *many));
    // Inside another parallel job the work runs as one band.
    ParallelNesting += 1;
    EXPECT_EQ(Resample(*nested, *s), kStatusOk);
    ParallelNesting -= 1;
    EXPECT_TRUE(SamePixels(*one, *nested));
  }
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

// The vector kernels against their scalar twins, on odd counts and at
// every alignment of the input.
class ResampleKernels : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MachineHasSsse3()) GTEST_SKIP() << "no SSSE3";
  }
  std::mt19937 rng{11};
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }
};

TEST_F(ResampleKernels, HorizontalPassesMatch) {
  for (uint32_t channels : {1u, 4u}) {
    for (uint32_t count : {1u, 2u, 7u, 8u, 9u, 31u, 37u}) {
      for (uint32_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(std::to_string(channels) + " " + std::to_string(count) + " " + std::to_string(offset));
        const uint32_t width = 4 * count + 5;  // room for decimation by 4
        std::vector<uint8_t> row = Bytes(size_t{width + 8} * channels + 64);
        const uint8_t* src = row.data() + offset;
        std::vector<CubicTap> taps(count);
        for (CubicTap& t : taps) {
          t.first = static_cast<int32_t>(rng() % (width - 3));
          // Weights of any size, so the 16-bit limits are reached too.
          for (int16_t& w : t.weight) w = static_cast<int16_t>(rng() % 40001) - 20000;
        }
        std::vector<int16_t> a(size_t{count} * channels), b(a.size());
        scalar::CubicRow8(a.data(), src, taps.data(), count, channels);
        ssse3::CubicRow8(b.data(), src, taps.data(), count, channels);
        EXPECT_EQ(a, b);
        for (uint32_t ratio : {2u, 4u}) {
          scalar::DecimateRow8(a.data(), src, count, channels, ratio);
          ssse3::DecimateRow8(b.data(), src, count, channels, ratio);
          EXPECT_EQ(a, b) << ratio;
        }
      }
    }
  }
}

TEST_F(ResampleKernels, GroupedGreyPassMatches) {
  const int16_t* table = CubicFilterTable();
  // Steps of 16.16 positions with the table's weights, and the groups' period
  // they give; step 0 stands for columns that move on at random.
  struct Columns {
    uint32_t step, period;
  };
  const Columns kinds[] = {{81920, 2}, {32768, 2}, {102400, 4}, {0, 0}};
  for (const Columns& kind : kinds) {
    for (uint32_t count : {4u, 8u, 13u, 40u, 203u, 1000u}) {
      for (uint32_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(std::to_string(kind.step) + " " + std::to_string(count) + " " + std::to_string(offset));
        std::vector<CubicTap> taps(count);
        int32_t first = static_cast<int32_t>(rng() % 3);
        for (uint32_t x = 0; x < count; ++x) {
          CubicTap& t = taps[x];
          if (kind.step) {
            const uint64_t u = uint64_t{x} * kind.step;
            t.first = std::max<int32_t>(0, static_cast<int32_t>(u >> 16) - 1);
            std::copy_n(table + ((u >> 8) & 255) * 4, 4, t.weight);
          } else {
            // Columns move on by 0 to 3 pixels, as at ratios below 4:1.
            t.first = first;
            first += static_cast<int32_t>(rng() % 4);
            for (int16_t& w : t.weight) w = static_cast<int16_t>(rng() % 40001) - 20000;
          }
        }
        // The last columns leave the period, as where the right edge folds its taps.
        if (count > 2) taps[count - 2].weight[1] ^= 1;
        const std::vector<uint8_t> row = Bytes(4 * size_t{count} + 64);
        std::vector<GreyTapGroup> groups(count / 4 + 1);
        GreyTapPlan plan;
        ASSERT_TRUE(PlanGreyTaps(groups.data(), &plan, taps.data(), count));
        if (count >= 200) {
          EXPECT_EQ(plan.period, kind.period);
        }
        std::vector<int16_t> a(count), b(count);
        scalar::CubicRow8(a.data(), row.data() + offset, taps.data(), count, 1);
        ssse3::CubicRowGrey8(b.data(), row.data() + offset, groups.data(), plan, taps.data(), count);
        EXPECT_EQ(a, b);
      }
    }
  }
  // Taps spread over more than 16 bytes cannot be grouped.
  std::vector<CubicTap> wide(8, CubicTap{0, {0, 16384, 0, 0}});
  wide[3].first = 13;
  GreyTapGroup group[2];
  GreyTapPlan plan;
  EXPECT_FALSE(PlanGreyTaps(group, &plan, wide.data(), 8));
  wide[3].first = 12;
  EXPECT_TRUE(PlanGreyTaps(group, &plan, wide.data(), 8));
}

TEST_F(ResampleKernels, VerticalPassMatches) {
  // Table rows, and a gain that drives sums far past both ends of 0-255.
  const int16_t weights[][4] = {{-1023, 9216, 9216, -1023}, {0, 16384, 0, 0}, {-4096, 20480, 20480, -4096}};
  for (uint32_t samples : {1u, 15u, 16u, 17u, 45u, 136u}) {
    for (uint32_t offset = 0; offset < 3; ++offset) {
      std::vector<int16_t> rows[4];
      const int16_t* p[4];
      for (int j = 0; j < 4; ++j) {
        rows[j].resize(samples + 3);
        for (int16_t& v : rows[j]) v = static_cast<int16_t>(rng());
        p[j] = rows[j].data() + offset;
      }
      for (const auto& w : weights) {
        std::vector<uint8_t> a(samples), b(samples);
        scalar::CubicColumn8(a.data(), p, w, samples);
        ssse3::CubicColumn8(b.data(), p, w, samples);
        EXPECT_EQ(a, b) << samples << " " << offset << " " << w[0];
        // Into Grey8 box sums by eights: the same as summing the row it makes.
        const uint32_t whole = samples / 8 * 8;
        std::vector<uint16_t> expected(whole / 8, 7), scalarSums(expected), vectorSums(expected);
        scalar::BoxAccumulateGrey8(expected.data(), a.data(), whole);
        scalar::CubicColumnSumsGrey8(scalarSums.data(), p, w, whole);
        ssse3::CubicColumnSumsGrey8(vectorSums.data(), p, w, whole);
        EXPECT_EQ(scalarSums, expected);
        EXPECT_EQ(vectorSums, expected);
      }
    }
  }
}

TEST_F(ResampleKernels, BoxPassesMatch) {
  for (uint32_t channels : {1u, 4u}) {
    for (uint32_t factor : {2u, 4u, 8u, 16u}) {
      for (uint32_t count : {1u, 3u, 4u, 8u, 9u, 21u, 70u}) {
        SCOPED_TRACE(std::to_string(channels) + " " + std::to_string(factor) + " " + std::to_string(count));
        const uint32_t samples = count * factor * channels;
        std::vector<uint16_t> a(samples + 1, 0), b(samples + 1, 0);
        // Grey8 sums by eights, from 8 × 8 blocks up.
        const bool eights = channels == 1 && factor >= 8;
        std::vector<uint16_t> c(samples / 8 + 1, 0), d(c.size(), 0);
        for (uint32_t k = 0; k < factor; ++k) {
          const std::vector<uint8_t> row = Bytes(samples + 1);
          scalar::BoxAccumulate8(a.data() + 1, row.data() + 1, samples);
          ssse3::BoxAccumulate8(b.data() + 1, row.data() + 1, samples);
          if (eights) {
            scalar::BoxAccumulateGrey8(c.data() + 1, row.data() + 1, samples);
            ssse3::BoxAccumulateGrey8(d.data() + 1, row.data() + 1, samples);
          }
        }
        ASSERT_EQ(a, b);
        ASSERT_EQ(c, d);
        std::vector<uint8_t> x(size_t{count} * channels), y(x.size());
        scalar::BoxFinish8(x.data(), a.data() + 1, count, channels, factor);
        ssse3::BoxFinish8(y.data(), b.data() + 1, count, channels, factor);
        EXPECT_EQ(x, y);
        if (eights) {
          scalar::BoxFinishGrey8(y.data(), c.data() + 1, count, factor);
          EXPECT_EQ(x, y) << "by eights";
        }
      }
    }
  }
}

TEST(Resample, VectorAndScalarCallsGiveTheSamePixels) {
  if (!MachineHasSsse3()) GTEST_SKIP() << "no SSSE3";
  // Irregular ratios, then ratios whose columns repeat (5:4, 1:2, 25:16, and
  // 5:4 into a stage reduced by 16).
  const uint32_t sizes[][4] = {{101, 77, 59, 41},  {77, 31, 250, 99},   {203, 64, 101, 32},
                               {333, 200, 41, 25}, {250, 90, 200, 72},  {120, 50, 240, 100},
                               {800, 60, 512, 40}, {1200, 800, 60, 40}};
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Grey8}) {
    for (const auto& z : sizes) {
      Ref<ImageBuffer> s = RandomImage(f, z[0], z[1], z[2]);
      Ref<ImageBuffer> a = NewImage(f, z[2], z[3]);
      Ref<ImageBuffer> b = NewImage(f, z[2], z[3]);
      {
        ScopedValue<bool> flag(CpuHasSsse3, false);
        ASSERT_EQ(Resample(*a, *s), kStatusOk);
      }
      ScopedValue<bool> flag(CpuHasSsse3, true);
      ASSERT_EQ(Resample(*b, *s), kStatusOk);
      EXPECT_TRUE(SamePixels(*a, *b)) << int(f) << " " << z[0] << " to " << z[2];
    }
  }
}

TEST(ResampleInto, BringsFormatsTogetherFirst) {
  // A flat colour stays that colour through every road.
  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 12, 10);
  for (uint32_t y = 0; y < 10; ++y) std::memset(indexed->Row(y), 3, 12);
  indexed->Palette()[3] = 0xFF336699u;
  indexed->Properties().SetText(kPropComment, L"kept");
  Ref<ImageBuffer> rgba = NewImage(PixelFormat::Rgba8, 5, 7);
  ASSERT_EQ(ResampleInto(*rgba, *indexed), kStatusOk);
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 5; ++x) {
      uint32_t v;
      std::memcpy(&v, rgba->Row(y) + 4 * x, 4);
      ASSERT_EQ(v, 0xFF336699u);
    }
  }
  EXPECT_STREQ(rgba->Properties().GetText(kPropComment), L"kept");

  Ref<ImageBuffer> smaller = NewImage(PixelFormat::Indexed8, 3, 9);
  ASSERT_EQ(ResampleInto(*smaller, *indexed), kStatusOk);
  EXPECT_EQ(smaller->Palette()[smaller->Row(8)[2]], 0xFF336699u);
  EXPECT_STREQ(smaller->Properties().GetText(kPropComment), L"kept");

  Ref<ImageBuffer> deep = NewImage(PixelFormat::Grey16, 9, 9);
  for (uint32_t y = 0; y < 9; ++y) {
    for (uint32_t x = 0; x < 9; ++x) reinterpret_cast<uint16_t*>(deep->Row(y))[x] = 30000;
  }
  Ref<ImageBuffer> grey = NewImage(PixelFormat::Grey8, 4, 4);
  ASSERT_EQ(ResampleInto(*grey, *deep), kStatusOk);
  EXPECT_EQ(grey->Row(3)[3], 30000 >> 8);
}

// A synthetic 32-bit bitmap file of w × h with a varied pattern.
std::wstring WriteBitmap(const char* folder, uint32_t w, uint32_t h) {
  std::vector<uint8_t> rgba(size_t{w} * h * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i % 4 == 3 ? 255 : (i * 37) ^ (i >> 7));
  const std::wstring path = pvtest::Widen(pvtest::ScratchDir(folder) + "/pattern.bmp");
  EXPECT_TRUE(WriteWholeFile(path, EncodeBmp32(rgba, w, h)));
  return path;
}

// The library road and the decoding tool both give the decode resampled.
TEST(ResampleDecode, DecodingToAnotherSizeEqualsResamplingTheDecode) {
  ReadProcessorFeatures();
  RegisterDecoders();
  const std::wstring path = WriteBitmap("resample-decode", 64, 48);
  const std::string out = pvtest::ScratchDir("resample-decode-out") + "/small.pam";
  LoadOptions natural;
  Ref<ImageBuffer> full;
  ASSERT_EQ(LoadImageFile(path.c_str(), natural, &full), kStatusOk);
  for (ImageSize size : {ImageSize{16, 12}, ImageSize{50, 20}, ImageSize{100, 70}}) {
    const std::string asked = std::to_string(size.width) + "x" + std::to_string(size.height);
    SCOPED_TRACE(asked);
    LoadOptions options;
    options.size = size;
    Ref<ImageBuffer> sized;
    ASSERT_EQ(LoadImageFile(path.c_str(), options, &sized), kStatusOk);
    ASSERT_EQ(sized->Dimensions(), size);
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
