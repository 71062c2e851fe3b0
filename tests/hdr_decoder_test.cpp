#include <gtest/gtest.h>

#include "codecs/hdr/hdr_decoder.h"
#include "core/pixel_convert.h"
#include "tests/test_support.h"

namespace {

using Floats = std::vector<float>;

pvtest::DecodedBytes Decode(const std::string& header, const std::vector<uint8_t>& data = {}) {
  std::vector<uint8_t> f(header.begin(), header.end());
  f.insert(f.end(), data.begin(), data.end());
  return pvtest::DecodeWith(pv::CreateHdrDecoder, L"hdr", f);
}

// The floats B, G, R of one pixel.
Floats Bgr(const pvtest::DecodedBytes& d, uint32_t x, uint32_t y) {
  const float* p = reinterpret_cast<const float*>(d.buffer->Row(y)) + 4 * x;
  return {p[0], p[1], p[2]};
}

Floats Srgb(float b, float g, float r) { return {pv::SrgbEncode(b), pv::SrgbEncode(g), pv::SrgbEncode(r)}; }

const std::string kRgbe = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n";

TEST(HdrDecoder, RunLengthStyles) {
  // Old style: a pixel, 3 repeats, 1 x 256 more (a second repeat in a row), another pixel.
  const std::vector<uint8_t> old = {128, 64, 32, 129, 1, 1, 1, 3, 1, 1, 1, 1, 10, 20, 30, 140};
  // Separated: each component as a run of 5 and one literal byte.
  std::vector<uint8_t> separated = {2, 2, 0, 6};
  for (auto [run, last] : {std::pair{128, 10}, {64, 20}, {32, 30}, {129, 140}})
    separated.insert(separated.end(), {128 + 5, uint8_t(run), 1, uint8_t(last)});
  const std::tuple<std::string, std::vector<uint8_t>, uint32_t> cases[] = {{"-Y 1 +X 261\n", old, 260},
                                                                           {"-Y 1 +X 6\n", separated, 5}};
  for (const auto& [resolution, data, lastX] : cases) {
    pvtest::DecodedBytes d = Decode(kRgbe + resolution, data);
    ASSERT_EQ(d.decode, pv::kStatusOk) << resolution;
    // A mantissa of 128 with exponent 129 is 128.5 / 128; 10 with 140 is 10.5 x 16.
    for (uint32_t x = 0; x < lastX; ++x) ASSERT_EQ(Bgr(d, x, 0), Srgb(32.5f / 128, 64.5f / 128, 128.5f / 128)) << x;
    EXPECT_EQ(Bgr(d, lastX, 0), Srgb(30.5f * 16, 20.5f * 16, 10.5f * 16)) << resolution;
  }
}

TEST(HdrDecoder, XyzKeepsXAndZInPlace) {
  // Mostly X: the conversion makes it red with a little blue; Y and Z are half a step each.
  pvtest::DecodedBytes d = Decode("#?RGBE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\n", {128, 0, 0, 128});
  EXPECT_STREQ(d.decoder->GetText(pv::kPropColourModel), L"XYZ");
  const float x = 128.5f / 256, yz = 0.5f / 256;
  const Floats want = Srgb(0.0557f * x + 0.853f * yz, -0.9689f * x + 1.9173f * yz, 3.2406f * x - 2.0358f * yz);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(Bgr(d, 0, 0)[c], want[c], 1e-5) << c;
}

TEST(HdrDecoder, ResolutionLineAndOrientation) {
  // The first axis counts the scanlines, the second the pixels of each.
  const std::tuple<std::string, uint32_t, uint32_t, const wchar_t*> cases[] = {
      {"-Y 2 +X 3", 3, 2, L""}, {"+Y 10 +X 20", 20, 10, L"Bottom-Up"}, {"+Y 2 -X 3", 3, 2, L"Rotated 180"},
      {"+X 2 -Y 3", 3, 2, L"Rotated 270 & Bottom-Up"}};
  for (const auto& [line, width, height, orientation] : cases) {
    // A command that made the picture may come before the resolution.
    pvtest::DecodedBytes d = Decode("#?RADIANCE\n# a comment \npfilt -x 3\n\n" + line + "\n");
    ASSERT_EQ(d.open, pv::kStatusOk) << line;
    EXPECT_EQ(std::pair(d.decoder->Width(), d.decoder->Height()), std::pair(width, height));
    EXPECT_STREQ(d.decoder->Has(pv::kPropOrientation) ? d.decoder->GetText(pv::kPropOrientation) : L"", orientation);
    EXPECT_STREQ(d.decoder->GetText(pv::kPropComment), L"a comment");
  }
}

TEST(HdrDecoder, DamagedInput) {
  auto file = [](const std::string& header) { return std::vector<uint8_t>(header.begin(), header.end()); };
  pvtest::CheckPixelCases(pv::CreateHdrDecoder, L"hdr", {
      {"rgbx", file("#?RADIANCE\nFORMAT=32-bit_rle_rgbx\n\n-Y 1 +X 1\n"), pv::kStatusUnsupported},
      {"no resolution", file(kRgbe), pv::kStatusUnknownFormat},
      {"control character", file("#?RADIANCE\n\x01\n-Y 1 +X 1\n"), pv::kStatusUnknownFormat},
      {"zero height", file("#?RADIANCE\n\n-Y 0 +X 1\n"), pv::kStatusUnknownFormat},
      {"huge", file("#?RADIANCE\n\n-Y 999999999 +X 999999999\n"), pv::kStatusUnsupported},
  });
  // A repeat of 255 stops at the row end; scanlines that end early leave the rest transparent black.
  const std::pair<std::vector<uint8_t>, Floats> rows[] = {{{1, 2, 3, 140, 1, 1, 1, 255}, Srgb(56, 40, 24)},
                                                          {{2, 2, 0, 3, 128 + 100, 7}, {0, 0, 0}}};
  for (const auto& [data, lastOfFirstRow] : rows) {
    pvtest::DecodedBytes d = Decode(kRgbe + "-Y 2 +X 3\n", data);
    EXPECT_EQ(Bgr(d, 2, 0), lastOfFirstRow);
    EXPECT_EQ(Bgr(d, 0, 1), Floats(3, 0));
    EXPECT_EQ(d.buffer->UsesAlpha(), 1);
  }
}

TEST(HdrDecoder, Corpus) { pvtest::CheckCorpusPixels("hdr", {}, 0); }  // outcomes only: no reference decodes

}  // namespace
