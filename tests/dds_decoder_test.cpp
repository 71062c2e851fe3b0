#include "codecs/dds/dds_decoder.h"

#include <gtest/gtest.h>

#include "core/endian.h"
#include "tests/test_support.h"

namespace {

// A 128-byte header (flags 0x4 four-character code or 0x40 RGB in the pixel format) and the surface data.
std::vector<uint8_t> Dds(uint32_t w, uint32_t h, uint32_t flags, const char* code, uint32_t bits,
                         std::vector<uint32_t> masks, const std::vector<uint8_t>& data, uint32_t caps = 0x1000) {
  std::vector<uint8_t> f(128);
  std::memcpy(f.data(), "DDS ", 4);
  const uint32_t fields[][2] = {{4, 124}, {12, h}, {16, w}, {80, flags}, {88, bits}, {108, caps}};
  for (auto [at, v] : fields) pv::StoreU32LE(&f[at], v);
  if (code) std::memcpy(&f[84], code, 4);
  for (size_t i = 0; i < masks.size(); ++i) pv::StoreU32LE(&f[92 + 4 * i], masks[i]);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

TEST(DdsDecoder, BlocksAndMasks) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB of the first pixels of the top row
    uint8_t usesAlpha;
  };
  // Colour halves: red over blue (c0 > c1: two thirds between) and blue over red (c0 <= c1: midpoint, transparent).
  const std::vector<uint8_t> redBlue = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0};  // indices 0, 1, 2, 3
  const std::vector<uint8_t> blueRed = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
  auto with = [](std::vector<uint8_t> alpha, const std::vector<uint8_t>& colour) {
    alpha.insert(alpha.end(), colour.begin(), colour.end());
    return alpha;
  };
  const Case cases[] = {
      {"DXT1 four colours", Dds(4, 4, 4, "DXT1", 0, {}, redBlue), {0xFFFF0000, 0xFF0000FF, 0xFFAA0055, 0xFF5500AA}, 2},
      {"DXT1 transparent black", Dds(4, 4, 4, "DXT1", 0, {}, blueRed), {0xFF0000FF, 0xFFFF0000, 0xFF800080, 0}, 2},
      {"DXT2 nibbles",
       Dds(4, 4, 4, "DXT2", 0, {}, with({0xF0, 0x18, 0, 0, 0, 0, 0, 0}, redBlue)),
       {0x00FF0000, 0xFF0000FF, 0x88AA0055, 0x115500AA},
       2},
      {"DXT3 nibbles",
       Dds(4, 4, 4, "DXT3", 0, {}, with({0xF0, 0x18, 0, 0, 0, 0, 0, 0}, redBlue)),
       {0x00FF0000, 0xFF0000FF, 0x88AA0055, 0x115500AA},
       1},
      // Alpha indices 0, 1, 2, 7: a0 > a1 gives sevenths, otherwise fifths then 0 and 255.
      {"DXT5 eight levels",
       Dds(4, 4, 4, "DXT5", 0, {}, with({255, 0, 0x88, 0x0E, 0, 0, 0, 0}, redBlue)),
       {0xFFFF0000, 0x000000FF, 0xDBAA0055, 0x245500AA},
       1},
      {"DXT4 six levels",
       Dds(4, 4, 4, "DXT4", 0, {}, with({0, 255, 0x88, 0x0E, 0, 0, 0, 0}, redBlue)),
       {0x00FF0000, 0xFF0000FF, 0x33AA0055, 0xFF5500AA},
       2},
      // 5-6-5 fields stretch to the full range: 31 and 63 give 255.
      {"565",
       Dds(3, 1, 0x40, nullptr, 16, {0xF800, 0x7E0, 0x1F}, {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07, 0, 0}),
       {0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00},
       0},
      {"4444 with alpha",
       Dds(1, 1, 0x41, nullptr, 16, {0xF00, 0xF0, 0xF, 0xF000}, {0x21, 0x83, 0, 0}),
       {0x88332211},
       1},
      // No masks at all: black; a mask of all 32 bits: its top half.
      {"zero masks", Dds(1, 1, 0x40, nullptr, 24, {0, 0, 0, 0}, {0x12, 0x34, 0x56, 0}), {0xFF000000}, 0},
      {"32-bit masks", Dds(1, 1, 0x40, nullptr, 32, {0xFFFFFFFF, 0, 0, 0}, {0, 0, 0, 0x80}), {0xFF7F0000}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = pvtest::DecodeWith(pv::CreateDdsDecoder, L"dds", c.file);
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha);
    for (uint32_t x = 0; x < c.pixels.size(); ++x) EXPECT_EQ(d.Pixel(x, 0), c.pixels[x]) << std::hex << x;
  }
}

TEST(DdsDecoder, OddSizeTakesWholeBlocks) {
  // 5 x 5 is 2 x 2 blocks; the last block is red over blue, its pixel (0, 0) lands at (4, 4).
  std::vector<uint8_t> data(24, 0);
  data.insert(data.end(), {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0});
  pvtest::DecodedBytes d = pvtest::DecodeWith(pv::CreateDdsDecoder, L"dds", Dds(5, 5, 4, "DXT1", 0, {}, data));
  ASSERT_EQ(d.decode, pv::kStatusOk);
  EXPECT_EQ(d.decoder->MinRows(), 8u);
  EXPECT_EQ(d.decoder->MinRowBytes(), 32u);
  EXPECT_EQ(d.Pixel(4, 4), 0xFFFF0000u);
}

TEST(DdsDecoder, DamagedInput) {
  const std::vector<uint8_t> dxt5 = Dds(8, 8, 4, "DXT5", 0, {}, pvtest::RandomBytes(5, 64));
  const std::pair<std::vector<uint8_t>, pv::Status> opens[] = {
      {Dds(4, 4, 4, "DXT1", 0, {}, {}, 0), pv::kStatusUnsupported},
      {Dds(4, 4, 4, "ATI2", 0, {}, {}), pv::kStatusUnsupported},
      {Dds(4, 4, 0x40, nullptr, 8, {}, {}), pv::kStatusUnsupported},
      {Dds(4, 4, 0x40, nullptr, 33, {}, {}), pv::kStatusUnsupported},
      {Dds(0, 4, 4, "DXT1", 0, {}, {}), pv::kStatusUnknownFormat},
      {Dds(0x7FFFFFFF, 0x7FFFFFFF, 4, "DXT1", 0, {}, {}), pv::kStatusUnsupported},
      {std::vector<uint8_t>(dxt5.begin(), dxt5.begin() + 127), pv::kStatusUnknownFormat},
  };
  for (const auto& [file, status] : opens)
    EXPECT_EQ(pvtest::DecodeWith(pv::CreateDdsDecoder, L"dds", file).open, status);
  // Surface data cut anywhere: the blocks that are there decode, the rest is transparent black.
  for (size_t n = 128; n <= dxt5.size(); n += 7) {
    pvtest::DecodedBytes d = pvtest::DecodeWith(pv::CreateDdsDecoder, L"dds", {dxt5.begin(), dxt5.begin() + n});
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.Pixel(7, 7) == 0, n < dxt5.size()) << n;
  }
}

TEST(DdsDecoder, Corpus) {
  const std::string dir = pvtest::CorpusDir("dds");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/dds: every DDS corpus case skipped";
  pvtest::CorpusChecks checks;
  checks.compare = [](const pvtest::CorpusCase&, const std::vector<uint8_t>& ours,
                      const std::vector<uint8_t>& reference) { pvtest::ExpectSamePixels(ours, reference); };
  EXPECT_GT(pvtest::CheckCorpus(dir, checks), 0u);
}

}  // namespace
