#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/jpeg/huffman.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/mcu_writers.h"
#include "core/cpu.h"
#include "core/row_helpers.h"
#include "core/task_group.h"
#include "tests/jpeg_test_encoder.h"
#include "tests/test_support.h"

namespace {

using jpegtest::Picture;
using pv::ColourModel;
using pv::Status;

// The outcome of one JpegCodec run over a padded buffer of its own.
struct Result {
  Status header = pv::kStatusOk, status = pv::kStatusOk;
  uint32_t width = 0, height = 0, bytesPerPixel = 0;
  size_t stride = 0;
  ColourModel model = ColourModel::Undetermined;
  std::vector<uint8_t> pixels;
  const uint8_t* At(uint32_t x, uint32_t y) const { return &pixels[y * stride + x * bytesPerPixel]; }
};

struct RunOptions {
  bool eighthScale = false;
  const pv::CancelFlag* cancel = nullptr;
  pv::ProgressSink* progress = nullptr;
};

Result DecodeJpeg(const std::vector<uint8_t>& file, const RunOptions& options = {}) {
  pv::ReadProcessorFeatures();
  Result r;
  pv::JpegCodec codec;
  codec.SetInput(file.data(), file.size());
  r.header = codec.ReadHeader();
  if (pv::Failed(r.header)) return r;
  const uint32_t scale = options.eighthScale ? 8 : 1;
  r.width = codec.PaddedWidth() / scale;
  r.height = codec.PaddedHeight() / scale;
  r.bytesPerPixel = codec.ComponentCount() == 1 ? 1 : 4;
  r.stride = size_t{r.width} * r.bytesPerPixel;
  r.pixels.assign(r.stride * r.height, 0xEE);
  r.status = codec.Decode({r.pixels.data(), r.bytesPerPixel, r.stride, r.height, options.eighthScale,
                           options.progress, options.cancel});
  r.model = codec.Model();
  return r;
}

// Component k of a decoded pixel: frames with R, G, B identifiers come out
// as B, G, R; four components as they are.
int Sample(const Result& r, uint32_t components, uint32_t k, uint32_t x, uint32_t y) {
  const uint8_t* p = r.At(x, y);
  return components == 3 ? p[2 - k] : p[k];
}

int PlaneAt(const jpegtest::Planes& p, uint32_t k, int x, int y) {
  return p.samples[k][size_t(y) * p.PlaneWidth(k) + size_t(x)];
}

// The expected sample of component k at image pixel (x, y): the 3:1
// triangle filter inside each MCU for the layouts that have a writer of
// their own, nearest neighbour for the rest.
int Expected(const jpegtest::Planes& p, bool triangle, uint32_t k, uint32_t x, uint32_t y) {
  const uint32_t sx = p.Hmax() / p.h[k], sy = p.Vmax() / p.v[k];
  if (!triangle || (sx == 1 && sy == 1)) return PlaneAt(p, k, int(x / sx), int(y / sy));
  // Position inside the MCU's 8x8 chroma block and the neighbour's.
  const int baseX = int(x / 16 * 8), baseY = int(y / (8 * p.Vmax()) * 8);
  const int i = sx == 2 ? int(x % 16) / 2 : int(x % 8);
  const int j = sy == 2 ? int(y % 16) / 2 : int(y % 8);
  const int ni = sx == 2 ? ((x & 1) ? std::min(i + 1, 7) : std::max(i - 1, 0)) : i;
  const int nj = sy == 2 ? ((y & 1) ? std::min(j + 1, 7) : std::max(j - 1, 0)) : j;
  const int bx = sx == 2 ? baseX : int(x / 8 * 8);
  auto c = [&](int a, int b) { return PlaneAt(p, k, bx + a, baseY + b); };
  if (sx == 2 && sy == 2) {
    const int s = 3 * c(i, j) + c(i, nj), n = 3 * c(ni, j) + c(ni, nj);
    return (3 * s + n + 8) >> 4;
  }
  if (sx == 2) return (3 * c(i, j) + c(ni, j) + 2) >> 2;
  return (3 * c(i, j) + c(i, nj) + 2) >> 2;
}

// A pattern with strong steps between neighbouring samples, different per
// component, so that a wrong neighbour or weight shows.
uint8_t Pattern(uint32_t k, uint32_t x, uint32_t y) {
  return static_cast<uint8_t>(40 + ((x * (29 + 10 * k) + y * (53 + 7 * k) + (x * y) % 17) % 176));
}

// triangle: the dedicated writer upsamples with the triangle filter
struct LayoutCase { const char* name; uint32_t components; uint8_t h[4], v[4]; bool triangle; };

class JpegWriterLayout : public ::testing::TestWithParam<LayoutCase> {};

jpegtest::Planes LayoutPlanes(const LayoutCase& c, uint32_t width, uint32_t height) {
  jpegtest::Planes p{.width = width, .height = height, .components = c.components};
  const uint8_t rgb[3] = {'R', 'G', 'B'}, cmyk[4] = {'C', 'M', 'Y', 'K'};
  for (uint32_t k = 0; k < c.components; ++k) {
    p.h[k] = c.h[k];
    p.v[k] = c.v[k];
    p.ids[k] = c.components == 3 ? rgb[k] : c.components == 4 ? cmyk[k] : 1;
  }
  p.Fill(Pattern);
  return p;
}

TEST_P(JpegWriterLayout, FullScaleSamplesFollowTheUpsamplingRule) {
  const LayoutCase& c = GetParam();
  const jpegtest::Planes p = LayoutPlanes(c, 37, 35);
  const Result r = DecodeJpeg(jpegtest::Encode(p, {}));
  ASSERT_EQ(r.status, pv::kStatusOk);
  const ColourModel models[5] = {ColourModel::Undetermined, ColourModel::L, ColourModel::Undetermined,
                                 ColourModel::Rgb, ColourModel::Cmyl};
  EXPECT_EQ(r.model, models[c.components]);
  int worst = 0;
  for (uint32_t k = 0; k < c.components; ++k) {
    for (uint32_t y = 0; y < p.height; ++y) {
      for (uint32_t x = 0; x < p.width; ++x) {
        const int d = std::abs(Sample(r, c.components, k, x, y) - Expected(p, c.triangle, k, x, y));
        worst = std::max(worst, d);
      }
    }
  }
  // Quantisers of 1 leave only the rounding of the transforms.
  EXPECT_LE(worst, 2);
  if (c.components == 3) {
    EXPECT_EQ(r.At(5, 5)[3], 255);
  }
}

TEST_P(JpegWriterLayout, EighthScaleGivesEachBlockItsMean) {
  const LayoutCase& c = GetParam();
  const jpegtest::Planes p = LayoutPlanes(c, 70, 45);
  // A progressive frame keeps only the DC coefficients for it.
  for (bool progressive : {false, true}) {
    const Result r = DecodeJpeg(jpegtest::Encode(p, {.progressive = progressive}), {.eighthScale = true});
    ASSERT_EQ(r.status, pv::kStatusOk);
    const uint32_t w = (p.width + 7) / 8, h = (p.height + 7) / 8;
    for (uint32_t k = 0; k < c.components; ++k) {
      const uint32_t sx = p.Hmax() / p.h[k], sy = p.Vmax() / p.v[k];
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
          const uint32_t bx = x / sx, by = y / sy;
          int sum = 0;
          for (int i = 0; i < 64; ++i) sum += PlaneAt(p, k, int(bx * 8 + i % 8), int(by * 8 + i / 8));
          EXPECT_NEAR(Sample(r, c.components, k, x, y), (sum + 32) / 64, 1)
              << (progressive ? "progressive, " : "") << "component " << k << " at " << x << "," << y;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, JpegWriterLayout,
    ::testing::Values(LayoutCase{"grey", 1, {1}, {1}, true}, LayoutCase{"h1v1", 3, {1, 1, 1}, {1, 1, 1}, true},
                      LayoutCase{"h2v1", 3, {2, 1, 1}, {1, 1, 1}, true}, LayoutCase{"h1v2", 3, {1, 1, 1}, {2, 1, 1}, true},
                      LayoutCase{"h2v2", 3, {2, 1, 1}, {2, 1, 1}, true},
                      LayoutCase{"cmyk", 4, {1, 1, 1, 1}, {1, 1, 1, 1}, true},
                      LayoutCase{"h4v1generic", 3, {4, 1, 1}, {1, 1, 1}, false},
                      LayoutCase{"lumaSubsampledGeneric", 3, {1, 2, 1}, {1, 2, 1}, false},
                      LayoutCase{"cmykSubsampledGeneric", 4, {2, 1, 1, 2}, {2, 1, 1, 2}, false},
                      // Two components reach the engine only through TIFF.
                      LayoutCase{"twoComponentsGeneric", 2, {2, 1}, {1, 1}, false},
                      LayoutCase{"h2v2chromaH1V2Generic", 3, {2, 1, 2}, {2, 2, 1}, false}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Colour models from component identifiers and the Adobe segment, as
// ReadHeader reports them. Grey, plain YCbCr and R, G, B identifiers are in
// the corpus with reference decodes.

TEST(JpegColourModel, IdentifiersAndAdobeTransformChooseTheModel) {
  struct Case { uint32_t components; uint8_t ids[4]; int adobe; ColourModel model; };
  const Case cases[] = {{3, {'B', 'G', 'R'}, -1, ColourModel::YCbCr}, {3, {1, 2, 3}, 0, ColourModel::Rgb},
                        {3, {'R', 'G', 'B'}, 1, ColourModel::YCbCr},  {3, {1, 2, 3}, 7, ColourModel::YCbCr},
                        {4, {1, 2, 3, 4}, -1, ColourModel::Cmyk},     {4, {'C', 'M', 'Y', 'K'}, -1, ColourModel::Cmyl},
                        {4, {1, 2, 3, 4}, 0, ColourModel::Cmyl},      {4, {1, 2, 3, 4}, 2, ColourModel::Ycck},
                        {4, {'C', 'M', 'Y', 'K'}, 1, ColourModel::Cmyl}};
  for (const Case& c : cases) {
    jpegtest::Planes p{.width = 8, .height = 8, .components = c.components,
                       .ids = {c.ids[0], c.ids[1], c.ids[2], c.ids[3]}};
    p.Fill([](uint32_t, uint32_t, uint32_t) { return uint8_t{128}; });
    const std::vector<uint8_t> file = jpegtest::Encode(p, {.adobeTransform = c.adobe});
    pv::JpegCodec codec;
    codec.SetInput(file.data(), file.size());
    ASSERT_EQ(codec.ReadHeader(), pv::kStatusOk);
    EXPECT_EQ(codec.Model(), c.model) << c.components << " components, ids " << int(c.ids[0]) << ", Adobe " << c.adobe;
  }
}

TEST(JpegRoads, ProgressiveSeparateAndRestartScansMatchBaseline) {
  const jpegtest::Planes p = Picture(61, 43);
  const Result baseline = DecodeJpeg(jpegtest::Encode(p, {.quant = 3}));
  ASSERT_EQ(baseline.status, pv::kStatusOk);
  struct Road { const char* name; jpegtest::Options options; };
  // Plain progressive files and plain restarts are also in the corpus.
  const Road roads[] = {
      {"one scan per component", {.quant = 3, .separateScans = true}},
      {"restarts with wrong numbers", {.quant = 3, .restartInterval = 2, .wrongRestartNumbers = true}},
      {"progressive with restarts", {.quant = 3, .restartInterval = 1, .progressive = true}},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    const Result r = DecodeJpeg(jpegtest::Encode(p, road.options));
    ASSERT_EQ(r.status, pv::kStatusOk);
    for (uint32_t y = 0; y < p.height; ++y)
      ASSERT_TRUE(std::equal(r.At(0, y), r.At(p.width, y), baseline.At(0, y))) << "row " << y;
  }
}

TEST(JpegRoads, ParallelAndSerialDecodesAgree) {
  const jpegtest::Planes p = Picture(1920, 1040);
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "sequential");
    const std::vector<uint8_t> file = jpegtest::Encode(p, {.quant = 8, .progressive = progressive});
    // 120 MCUs x 3 components per row and 65 MCU rows: the sequential frame
    // takes the pipeline, the progressive one decodes its chroma scans and
    // its last pass on the pool, unless another parallel job runs.
    pv::JpegCodec codec;
    codec.SetInput(file.data(), file.size());
    ASSERT_EQ(codec.ReadHeader(), pv::kStatusOk);
    ASSERT_EQ(codec.UsesPipeline(false), !progressive);
    EXPECT_FALSE(codec.UsesPipeline(true));
    const Result parallel = DecodeJpeg(file);
    pv::ParallelNesting.fetch_add(1);
    EXPECT_FALSE(codec.UsesPipeline(false));
    const Result serial = DecodeJpeg(file);
    pv::ParallelNesting.fetch_sub(1);
    ASSERT_EQ(parallel.status, pv::kStatusOk);
    ASSERT_EQ(serial.status, pv::kStatusOk);
    EXPECT_EQ(parallel.model, ColourModel::Rgb);
    EXPECT_EQ(serial.model, ColourModel::Rgb);
    EXPECT_TRUE(parallel.pixels == serial.pixels);
  }
}

// The table that decodes up to two symbols at once against decoding them one
// by one, on every 11-bit prefix of the typical tables.

TEST(JpegHuffman, FastEntriesMatchSymbolBySymbolDecoding) {
  using pv::jpeg::AcFast;
  using pv::jpeg::BitReader;
  using pv::jpeg::HuffmanTable;
  for (const bool dc : {true, false}) {
    for (const int number : {0, 1}) {
      HuffmanTable table;
      table.SetDefault(dc, number);
      table.Derive(dc);
      for (uint32_t peek = 0; peek < (1u << HuffmanTable::kLookBits); ++peek) {
        const uint32_t e = table.Fast(peek);
        if (e == 0) continue;
        SCOPED_TRACE(testing::Message() << (dc ? "DC " : "AC ") << number << " prefix " << peek);
        // The prefix, then bits that tell how far each reader got.
        std::vector<uint8_t> data;
        for (const uint32_t b : {peek >> 3, (peek & 7) << 5 | 0x15, 0xA5u, 0x3Cu, 0x96u, 0x5Au, 0x11u, 0x2Eu}) {
          data.push_back(static_cast<uint8_t>(b));
          if (b == 0xFF) data.push_back(0);
        }
        BitReader fast, slow;
        fast.Reset(data.data(), data.data() + data.size());
        slow.Reset(data.data(), data.data() + data.size());
        fast.Fill();
        auto next = [&](int* run) {
          const int rs = table.Decode(slow);
          *run = rs >> 4;
          return pv::jpeg::Extend(slow.Bits(rs & 15), rs & 15) + (rs & 15 ? 0 : 1 << 20);
        };
        int run = 0;
        if (dc) {
          fast.Consume(static_cast<int>(pv::jpeg::DcFast::Used(e)));
          const int size = table.Decode(slow);
          EXPECT_EQ(pv::jpeg::DcFast::Difference(e), pv::jpeg::Extend(slow.Bits(size), size));
        } else {
          fast.Consume(static_cast<int>(AcFast::UsedBoth(e)));
          // Symbols without value bits come back as 1 << 20: an end of block
          // (run below 15) or sixteen zeros.
          const int32_t first = next(&run);
          const bool ends = first == (1 << 20) && run != 15;
          EXPECT_EQ(AcFast::Value1(e), ends || first == (1 << 20) ? 0 : first);
          EXPECT_EQ(AcFast::Run1(e), ends ? 0u : static_cast<uint32_t>(run));
          if (!ends && AcFast::UsedBoth(e) != AcFast::Used1(e)) {
            const int32_t second = next(&run);
            const bool ends2 = second == (1 << 20) && run != 15;
            EXPECT_EQ(AcFast::Ends(e), ends2);
            EXPECT_EQ(AcFast::Advance2(e), ends2 ? 0u : static_cast<uint32_t>(run) + 1);
            EXPECT_EQ(AcFast::Value2(e), second == (1 << 20) ? 0 : second);
          } else {
            EXPECT_EQ(AcFast::Ends(e), ends);
            EXPECT_EQ(AcFast::Advance2(e), 0u);
          }
        }
        // Both readers took the same bits.
        EXPECT_EQ(fast.Bits(16), slow.Bits(16));
      }
    }
  }
}

TEST(JpegCancel, StopsAtTheNextRowAndLeavesTheRest) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "sequential");
    jpegtest::Planes p = Picture(64, 160);
    const std::vector<uint8_t> file = jpegtest::Encode(p, {.progressive = progressive});
    pv::CancelFlag flag{0};
    pvtest::ProgressLog sink(&flag, 3);
    const Result r = DecodeJpeg(file, {.cancel = &flag, .progress = &sink});
    EXPECT_EQ(r.status, pv::kStatusOk);
    EXPECT_EQ(sink.calls.size(), 3u);
    // The last rows were never written.
    EXPECT_EQ(r.At(10, 150)[0], 0xEE);
  }
}

// The writers that convert Y, Cb, Cr as they write against the plain writer
// followed by the scalar conversion.

TEST(JpegWriterVector, ConvertingWritersMatchPlainWriterAndScalarConversion) {
  struct Layout { uint32_t h, v; };
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> sample(0, 255);
  for (const Layout& shape : {Layout{1, 1}, Layout{2, 1}, Layout{1, 2}, Layout{2, 2}}) {
    const uint32_t lumaBlocks = shape.h * shape.v, width = 8 * shape.h, height = 8 * shape.v;
    pv::jpeg::McuLayout layout{.components = 3, .h = {shape.h, 1, 1}, .v = {shape.v, 1, 1},
                               .offset = {0, lumaBlocks, lumaBlocks + 1}, .hmax = shape.h, .vmax = shape.v,
                               .bytesPerPixel = 4, .stride = width * 4 + 12};
    for (int round = 0; round < 50; ++round) {
      std::vector<uint8_t> samples((lumaBlocks + 2) * pv::jpeg::kBlockBytes);
      // Extremes are frequent, so that clamping is reached.
      for (uint8_t& s : samples) s = static_cast<uint8_t>(round % 5 == 0 ? (sample(rng) & 1) * 255 : sample(rng));
      layout.ycc = true;
      const pv::jpeg::WriterChoice converting = pv::jpeg::ChooseMcuWriter(layout);
      layout.ycc = false;
      const pv::jpeg::WriterChoice plain = pv::jpeg::ChooseMcuWriter(layout);
      if (!converting.convertsColour) GTEST_SKIP() << "no vector writers on this processor";
      ASSERT_FALSE(plain.convertsColour);
      std::vector<uint8_t> a(layout.stride * height), b(layout.stride * height);
      converting.write(layout, samples.data(), a.data());
      plain.write(layout, samples.data(), b.data());
      for (uint32_t y = 0; y < height; ++y) pv::scalar::YccToRgb(b.data() + y * layout.stride, width);
      for (uint32_t y = 0; y < height; ++y) {
        ASSERT_EQ(std::memcmp(a.data() + y * layout.stride, b.data() + y * layout.stride, width * 4), 0)
            << shape.h << "x" << shape.v << " row " << y;
      }
    }
  }
}

}  // namespace
