#include <gtest/gtest.h>

#include <vector>

#include "codecs/ico/ico_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Entry(uint32_t i) { return 0xFF004020u | i << 16; }  // palette entry i: R = i, G = 0x40, B = 0x20

// A bitmap rendition from its pixels (indices or 0xAARRGGBB) and mask bits,
// both top row first; a mask left empty is all 0.
Bytes Bitmap(uint32_t w, uint32_t h, uint16_t bits, const std::vector<uint32_t>& pixels, std::vector<uint32_t> mask = {}) {
  Bytes b = {40, 0, 0, 0, uint8_t(w), 0, 0, 0, uint8_t(2 * h), 0, 0, 0, 1, 0, uint8_t(bits), 0};
  b.resize(40);
  for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i) b.insert(b.end(), {0x20, 0x40, uint8_t(i), 0});
  mask.resize(pixels.size());
  for (uint32_t depth : {uint32_t{bits}, 0u}) {  // colour rows, then the 1-bit mask rows
    const uint32_t d = depth ? depth : 1;
    for (uint32_t y = h; y-- > 0;) {
      Bytes row((w * d + 31) / 32 * 4);
      for (uint32_t x = 0, bit = 0; x < w; ++x, bit += d) {
        for (uint32_t k = 0, v = (depth ? pixels : mask)[y * w + x]; k < (d + 7) / 8; ++k)
          row[bit / 8 + k] |= uint8_t(v >> (8 * k) << (8 - d % 8 - bit % 8) % 8);
      }
      b.insert(b.end(), row.begin(), row.end());
    }
  }
  return b;
}

Bytes Solid(uint32_t size, uint16_t bits, uint32_t value) {
  return Bitmap(size, size, bits, std::vector<uint32_t>(size * size, value));
}

// The directory (only byte counts and offsets are read) and the images.
Bytes Ico(const std::vector<Bytes>& images) {
  Bytes f = {0, 0, 1, 0, uint8_t(images.size()), 0};
  f.resize(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    pv::StoreU32LE(&f[14 + 16 * i], static_cast<uint32_t>(images[i].size()));
    pv::StoreU32LE(&f[18 + 16 * i], static_cast<uint32_t>(f.size()));
    f.insert(f.end(), images[i].begin(), images[i].end());
  }
  return f;
}

TEST(IcoChoice, LargestAndDeepestFirstThenTheOthers) {
  const Bytes png = pvtest::ReadFileBytes(PV_OWN_DATA_DIR "/../../samples/sample.png"), rgb4 = Solid(4, 32, 0xFF010203);
  ASSERT_FALSE(png.empty());  // 400 x 300, 32 bits
  pvtest::CheckPixelCases(pv::CreateIcoDecoder, L"ico", {
      {"16, 48, 32", Ico({Solid(16, 8, 1), Solid(48, 8, 2), Solid(32, 8, 3)}), pv::kStatusOk, 48, {Entry(2)}, -1, 3},
      {"48, 32, 16", Ico({Solid(48, 8, 2), Solid(32, 8, 3), Solid(16, 8, 1)}), pv::kStatusOk, 48, {Entry(2)}, -1, 3},
      {"of equal ones the later", Ico({Solid(4, 8, 5), Solid(4, 8, 6)}), pv::kStatusOk, 4, {Entry(6)}, -1, 2},
      {"a PNG must be deeper too", Ico({rgb4, png}), pv::kStatusOk, 4, {0xFF010203}, -1, 2},
      {"PNG, then a smaller bitmap", Ico({png, rgb4}), pv::kStatusOk, 400, {}, -1, 2},
  });
}

TEST(IcoMask, AndMaskMakesPixelsTransparent) {
  std::vector<uint32_t> all(16 * 17), first(16 * 17);  // every index, index 0 masked once but shown at (0, 16)
  for (uint32_t i = 0; i < all.size(); ++i) all[i] = i % 256;
  first[0] = 1;
  pvtest::CheckPixelCases(pv::CreateIcoDecoder, L"ico", {
      {"4 bits: index 16", Ico({Bitmap(2, 1, 4, {1, 2}, {0, 1})}), pv::kStatusOk, 2, {Entry(1), 0x00FFFFFF}},
      {"8 bits: the highest unused index", Ico({Bitmap(2, 1, 8, {255, 3}, {0, 1})}), pv::kStatusOk, 2,
       {Entry(255), 0x00FFFFFF}},
      {"8 bits, every index used: opaque", Ico({Bitmap(16, 17, 8, all, first)}), pv::kStatusOk, 16, {Entry(0)}},
      {"32 bits, all alpha 0: mask used", Ico({Bitmap(2, 1, 32, {7, 7}, {0, 1})}), pv::kStatusOk, 2,
       {0xFF000007, 0x00000007}},
  });
}

// The file with one 32-bit field replaced.
Bytes Patched(Bytes f, size_t at, uint32_t v) {
  pv::StoreU32LE(&f[at], v);
  return f;
}

TEST(IcoDamaged, ExtentsAreCheckedAgainstTheFile) {
  const Bytes good = Ico({Solid(2, 4, 3)});
  pvtest::CheckPixelCases(pv::CreateIcoDecoder, L"ico", {
      {"info header size past the data", Patched(good, 22, 0x7FFFFFFF), pv::kStatusUnknownFormat},
      {"data offset past the end", Patched(good, 18, 0xFFFFFF00), pv::kStatusUnknownFormat},
      {"width 2^20", Patched(good, 26, 1u << 20), pv::kStatusUnknownFormat},
      {"byte count past the end", Patched(good, 14, 0xFFFFFFF0), pv::kStatusOk, 2, {Entry(3), Entry(3)}},
      {"colour rows cut", Bytes(good.begin(), good.begin() + 22 + 108), pv::kStatusOk, 2,
       {0x00FFFFFF, 0x00FFFFFF, Entry(3), Entry(3)}},
      {"mask cut: opaque", Bytes(good.begin(), good.end() - 8), pv::kStatusOk, 2, {Entry(3), Entry(3)}},
  });
}

TEST(IcoCorpus, ManifestOutcomesAndReferencePixels) {
  // That reference reads the pixels from a wrong offset: its picture wraps around sideways.
  pvtest::CheckCorpusPixels("ico", [](const pvtest::CorpusCase& c, const Bytes& ours, const Bytes& ref) {
    if (c.file != "irs-bmp_v5_with_icc.ico") pvtest::ExpectSamePixels(ours, ref);
  });
}

}  // namespace
