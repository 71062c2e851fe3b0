#include "codecs/hdr/hdr_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/pixel_convert.h"
#include "tests/test_support.h"

namespace {

pvtest::DecodedBytes Decode(const std::string& header, const std::vector<uint8_t>& data = {}) {
  std::vector<uint8_t> f(header.begin(), header.end());
  f.insert(f.end(), data.begin(), data.end());
  return pvtest::DecodeWith(pv::CreateHdrDecoder, L"hdr", f);
}

// The floats B, G, R of one pixel.
std::vector<float> Bgr(const pvtest::DecodedBytes& d, uint32_t x, uint32_t y) {
  const float* p = reinterpret_cast<const float*>(d.buffer->Row(y)) + 4 * x;
  return {p[0], p[1], p[2]};
}

const std::string kRgbe = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n";

TEST(HdrDecoder, RunLengthStyles) {
  // Old style: a pixel, 3 repeats, then 1 x 256 more (a second repeat in a row), then another pixel.
  const std::vector<uint8_t> old = {128, 64, 32, 129, 1, 1, 1, 3, 1, 1, 1, 1, 10, 20, 30, 140};
  // Separated: each component as a run of 5 and one literal byte.
  std::vector<uint8_t> separated = {2, 2, 0, 6};
  for (auto [run, last] : {std::pair{128, 10}, {64, 20}, {32, 30}, {129, 140}})
    separated.insert(separated.end(), {128 + 5, uint8_t(run), 1, uint8_t(last)});
  struct Case {
    const char* name;
    std::string resolution;
    std::vector<uint8_t> data;
    uint32_t lastX;
  };
  const Case cases[] = {{"old", "-Y 1 +X 261\n", old, 260}, {"separated", "-Y 1 +X 6\n", separated, 5}};
  // A mantissa of 128 with exponent 129 is 128.5 / 128; 10 with 140 is 10.5 x 16.
  const std::vector<float> first = {pv::SrgbEncode(32.5f / 128), pv::SrgbEncode(64.5f / 128),
                                    pv::SrgbEncode(128.5f / 128)};
  const std::vector<float> last = {pv::SrgbEncode(30.5f * 16), pv::SrgbEncode(20.5f * 16), pv::SrgbEncode(10.5f * 16)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = Decode(kRgbe + c.resolution, c.data);
    ASSERT_EQ(d.decode, pv::kStatusOk);
    for (uint32_t x = 0; x < c.lastX; ++x) ASSERT_EQ(Bgr(d, x, 0), first) << x;
    EXPECT_EQ(Bgr(d, c.lastX, 0), last);
  }
}

TEST(HdrDecoder, XyzKeepsXAndZInPlace) {
  // Pure X: the conversion makes it mostly red, a little blue and no green.
  pvtest::DecodedBytes d = Decode("#?RGBE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n", {128, 0, 0, 128});
  ASSERT_EQ(d.decode, pv::kStatusOk);
  EXPECT_STREQ(d.decoder->GetText(pv::kPropColourModel), L"XYZ");
  // The shared exponent gives Y and Z half a step each.
  const float x = 128.5f / 256, yz = 0.5f / 256;
  const std::vector<float> bgr = Bgr(d, 0, 0);
  EXPECT_NEAR(bgr[2], pv::SrgbEncode(3.2406f * x - 1.5372f * yz - 0.4986f * yz), 1e-5);
  EXPECT_NEAR(bgr[1], pv::SrgbEncode(-0.9689f * x + 1.8758f * yz + 0.0415f * yz), 1e-5);
  EXPECT_NEAR(bgr[0], pv::SrgbEncode(0.0557f * x - 0.2040f * yz + 1.0570f * yz), 1e-5);
}

TEST(HdrDecoder, ResolutionLineAndOrientation) {
  struct Case {
    std::string line;
    uint32_t width, height;
    const wchar_t* orientation;  // empty: none
  };
  const Case cases[] = {
      {"-Y 2 +X 3", 3, 2, L""},
      {"+Y 10 +X 20", 20, 10, L"Bottom-Up"},
      {"-Y 2 -X 3", 3, 2, L"Mirrored"},
      {"+Y 2 -X 3", 3, 2, L"Rotated 180"},
      {"+X 2 +Y 3", 3, 2, L"Rotated 90"},
      {"+X 2 -Y 3", 3, 2, L"Rotated 270 & Bottom-Up"},
      {"-X 2 -Y 3", 3, 2, L"Rotated 270"},
      {"-X 2 +Y 3", 3, 2, L"Rotated 90 & Bottom-Up"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // A command line that made the picture comes before the resolution.
    pvtest::DecodedBytes d = Decode("#?RADIANCE\n# a comment \npfilt -x 3\n\n" + c.line + "\n");
    ASSERT_EQ(d.open, pv::kStatusOk);
    EXPECT_EQ(d.decoder->Width(), c.width);
    EXPECT_EQ(d.decoder->Height(), c.height);
    EXPECT_STREQ(d.decoder->Has(pv::kPropOrientation) ? d.decoder->GetText(pv::kPropOrientation) : L"", c.orientation);
    EXPECT_STREQ(d.decoder->GetText(pv::kPropComment), L"a comment");
  }
}

TEST(HdrDecoder, DamagedInput) {
  const std::pair<std::string, pv::Status> opens[] = {
      {"#?RADIANCE\nFORMAT=32-bit_rle_rgbx\n\n-Y 1 +X 1\n", pv::kStatusUnsupported},
      {"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n", pv::kStatusUnknownFormat},
      {"#?RADIANCE\n\x01\n-Y 1 +X 1\n", pv::kStatusUnknownFormat},
      {"#?RADIANCE\n\n-Y 0 +X 1\n", pv::kStatusUnknownFormat},
      {"#?RADIANCE\n\n-Y 999999999 +X 999999999\n", pv::kStatusUnsupported},
  };
  for (const auto& [header, status] : opens) EXPECT_EQ(Decode(header).open, status) << header;
  // A repeat of 255 stops at the row end; scanlines that end early leave the rest transparent black.
  const std::vector<float> p = {pv::SrgbEncode(56), pv::SrgbEncode(40), pv::SrgbEncode(24)}, none = {0, 0, 0};
  const std::pair<std::vector<uint8_t>, std::vector<float>> rows[] = {
      {{1, 2, 3, 140, 1, 1, 1, 255}, p},
      {{2, 2, 0, 3, 128 + 100, 7}, none},
  };
  for (const auto& [data, lastOfFirstRow] : rows) {
    pvtest::DecodedBytes d = Decode(kRgbe + "-Y 2 +X 3\n", data);
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(Bgr(d, 2, 0), lastOfFirstRow);
    EXPECT_EQ(Bgr(d, 0, 1), none);
    EXPECT_EQ(d.buffer->UsesAlpha(), 1);
  }
}

TEST(HdrDecoder, Corpus) {
  const std::string dir = pvtest::CorpusDir("hdr");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/hdr: every Radiance corpus case skipped";
  // No reference decodes: outcomes only.
  EXPECT_EQ(pvtest::CheckCorpus(dir, {}), 0u);
}

}  // namespace
