#include <gtest/gtest.h>

#include "codecs/dds/dds_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A 128-byte header (pixel-format flags 0x4: four-character code, 0x40: RGB) and the surface data.
Bytes Dds(uint32_t w, uint32_t h, uint32_t flags, const char* code, uint32_t bits, std::vector<uint32_t> masks,
          Bytes data, uint32_t caps = 0x1000) {
  Bytes f(128);
  std::memcpy(f.data(), "DDS ", 4);
  for (auto [at, v] : {std::pair{4u, 124u}, {12u, h}, {16u, w}, {80u, flags}, {88u, bits}, {108u, caps}})
    pv::StoreU32LE(&f[at], v);
  if (code) std::memcpy(&f[84], code, 4);
  for (size_t i = 0; i < masks.size(); ++i) pv::StoreU32LE(&f[92 + 4 * i], masks[i]);
  return f.insert(f.end(), data.begin(), data.end()), f;
}

pvtest::DecodedBytes Decode(const Bytes& file) { return pvtest::DecodeWith(pv::CreateDdsDecoder, L"dds", file); }

// Colour halves, indices 0-3: red over blue (c0 > c1: thirds between), blue over red (midpoint, transparent).
const Bytes kRedBlue = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0}, kBlueRed = {0x1F, 0, 0, 0xF8, 0xE4, 0, 0, 0};
Bytes Before(Bytes first) { return first.insert(first.end(), kRedBlue.begin(), kRedBlue.end()), first; }

TEST(DdsDecoder, BlocksAndMasks) {
  // 5 x 5 takes 2 x 2 whole blocks: the last one's first pixel lands at (4, 4).
  std::vector<uint32_t> fiveByFive(25, 0xFF000000);
  fiveByFive.back() = 0xFFFF0000;
  const uint32_t r = 0xFFFF0000, b = 0xFF0000FF;
  pvtest::CheckPixelCases(pv::CreateDdsDecoder, L"dds", {
      {"DXT1", Dds(4, 4, 4, "DXT1", 0, {}, kRedBlue), pv::kStatusOk, 4, {r, b, 0xFFAA0055, 0xFF5500AA}, 2},
      {"DXT1 c0 <= c1", Dds(4, 4, 4, "DXT1", 0, {}, kBlueRed), pv::kStatusOk, 4, {b, r, 0xFF800080, 0}, 2},
      {"DXT1 5 x 5", Dds(5, 5, 4, "DXT1", 0, {}, Before(Bytes(24, 0))), pv::kStatusOk, 5, fiveByFive, 2},
      {"DXT3", Dds(4, 4, 4, "DXT3", 0, {}, Before({0xF0, 0x18, 0, 0, 0, 0, 0, 0})), pv::kStatusOk, 4,
       {0x00FF0000, b, 0x88AA0055, 0x115500AA}, 1},
      // Alpha indices 0, 1, 2, 7: a0 > a1 gives sevenths, otherwise fifths, then 0 and 255.
      {"DXT5", Dds(4, 4, 4, "DXT5", 0, {}, Before({255, 0, 0x88, 0x0E, 0, 0, 0, 0})), pv::kStatusOk, 4,
       {r, 0x000000FF, 0xDBAA0055, 0x245500AA}, 1},
      {"DXT4", Dds(4, 4, 4, "DXT4", 0, {}, Before({0, 255, 0x88, 0x0E, 0, 0, 0, 0})), pv::kStatusOk, 4,
       {0x00FF0000, b, 0x33AA0055, 0xFF5500AA}, 2},
      // Fields stretch to the full range (31 and 63 give 255); no mask reads 0, a 32-bit mask its top half.
      {"565", Dds(3, 1, 0x40, 0, 16, {0xF800, 0x7E0, 0x1F}, {0xFF, 0xFF, 0, 0xF8, 0xE0, 7, 0, 0}), pv::kStatusOk, 3,
       {0xFFFFFFFF, r, 0xFF00FF00}, 0},
      {"4444", Dds(1, 1, 0x41, 0, 16, {0xF00, 0xF0, 0xF, 0xF000}, {0x21, 0x83, 0, 0}), pv::kStatusOk, 1, {0x88332211}, 1},
      {"no masks", Dds(1, 1, 0x40, 0, 24, {0, 0, 0, 0}, {0x12, 0x34, 0x56, 0}), pv::kStatusOk, 1, {0xFF000000}, 0},
      {"32-bit mask", Dds(1, 1, 0x40, 0, 32, {0xFFFFFFFF, 0, 0, 0}, {0, 0, 0, 0x80}), pv::kStatusOk, 1, {0xFF7F0000}, 0},
  });
}

TEST(DdsDecoder, DamagedInput) {
  const Bytes dxt5 = Dds(8, 8, 4, "DXT5", 0, {}, pvtest::RandomBytes(5, 64));
  pvtest::CheckPixelCases(pv::CreateDdsDecoder, L"dds", {
      {"no texture caps", Dds(4, 4, 4, "DXT1", 0, {}, {}, 0), pv::kStatusUnsupported},
      {"ATI2", Dds(4, 4, 4, "ATI2", 0, {}, {}), pv::kStatusUnsupported},
      {"33 bits", Dds(4, 4, 0x40, 0, 33, {}, {}), pv::kStatusUnsupported},
      {"zero width", Dds(0, 4, 4, "DXT1", 0, {}, {}), pv::kStatusUnknownFormat},
      {"huge", Dds(1 << 30, 9, 4, "DXT1", 0, {}, {}), pv::kStatusUnsupported},
      {"header cut", Bytes(dxt5.begin(), dxt5.begin() + 127), pv::kStatusUnknownFormat},
  });
  // Surface data cut anywhere: the blocks that are there decode, the rest is transparent black.
  for (size_t n = 128; n <= dxt5.size(); n += 7) {
    pvtest::DecodedBytes d = Decode(Bytes(dxt5.begin(), dxt5.begin() + n));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.Pixel(7, 7) == 0, n < dxt5.size()) << n;
  }
}

TEST(DdsDecoder, Corpus) { pvtest::CheckCorpusPixels("dds"); }

}  // namespace
