#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codecs/tga/tga_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Header, colour map (of 2-byte entries), then the data.
Bytes Tga(uint8_t type, uint8_t depth, uint8_t descriptor, uint16_t w, uint16_t h, const Bytes& data, const Bytes& map = {}) {
  Bytes f = {0, !map.empty(), type, 0, 0, uint8_t(map.size() / 2), 0, uint8_t(map.empty() ? 0 : 16), 0, 0, 0, 0,
             uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), depth, descriptor};
  f.insert(f.end(), map.begin(), map.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// Appends an extension area with this alpha attribute and the version 2 footer.
Bytes WithFooter(Bytes f, uint8_t attributes, uint32_t extension = 0) {
  extension = extension ? extension : static_cast<uint32_t>(f.size());
  f.resize(f.size() + 503);
  f[f.size() - 9] = attributes;
  pv::StoreU32LE(&f[f.size() - 8], extension);
  const std::string text = "TRUEVISION-XFILE.";
  f.insert(f.end(), text.begin(), text.end() + 1);
  return f;
}

TEST(TgaDecode, OriginsRunsAlphaAndFooters) {
  const Bytes bgra = {1, 2, 3, 4};
  pvtest::CheckPixelCases(pv::CreateTgaDecoder, L"tga", {
      // Both left origins (gen-rgb-raw-bottomleft.tga, irs-top_left.tga), and the right ones refused, are in the corpus.
      {"run packet across rows", Tga(10, 24, 0x20, 2, 3, {0x82, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
       pv::kStatusOk, 2, {0xFF030201, 0xFF030201, 0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A}, 0},
      {"footer: premultiplied", WithFooter(Tga(2, 32, 0x28, 1, 1, bgra), 4), pv::kStatusOk, 1, {0x04030201}, 2},
      {"16 bits, footer alpha", WithFooter(Tga(2, 16, 0x20, 2, 1, {0xFF, 0x7F, 0x00, 0x80}), 3), pv::kStatusOk, 2,
       {0x00FFFFFF, 0xFF000000}, 1},
      {"19-byte file", Tga(3, 8, 0x20, 1, 1, {77}), pv::kStatusOk, 1, {0xFF4D4D4D}},
  });
}

TEST(TgaDamaged, ExtentsAreCheckedAgainstTheFile) {
  Bytes mapPastEnd = Tga(1, 8, 0x20, 1, 1, {0}, {1, 2});
  mapPastEnd[5] = mapPastEnd[6] = 0xFF;
  pvtest::CheckPixelCases(pv::CreateTgaDecoder, L"tga", {
      {"colour map past the end", mapPastEnd, pv::kStatusDamaged},
      {"extension area past the end", WithFooter(Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 4}), 4, 0xFFFFFF00),
       pv::kStatusOk, 1, {0x04030201}, 1},
      {"raw data short", Tga(2, 24, 0x20, 2, 2, Bytes(11)), pv::kStatusUnsupported},
      {"data over twice the pixels", Tga(3, 8, 0x20, 1, 1, Bytes(1027)), pv::kStatusUnsupported},
      {"65535 x 65535", Tga(11, 8, 0x20, 0xFFFF, 0xFFFF, {0x81, 1}), pv::kStatusUnsupported},
      {"runs end early", Tga(10, 24, 0x20, 1, 2, {0x80, 1, 2, 3}), pv::kStatusOk, 1, {0xFF030201, 0}, 1},
  });
}

TEST(TgaCorpus, ManifestOutcomesAndReferencePixels) {
  // Rows are placed by the header's origin; the references keep the file's
  // row order, so those of bottom-left files are turned over here.
  pvtest::CheckCorpusPixels("tga", [](const pvtest::CorpusCase& c, const Bytes& ours, Bytes want) {
    const Bytes file = pvtest::ReadFileBytes(pvtest::CorpusDir("tga") + "/" + c.file);
    const size_t row = size_t{pv::LoadU16LE(&file[12])} * 4, rows = want.size() / row;
    for (size_t y = 0; !(file[17] & 0x20) && y < rows / 2; ++y)
      std::swap_ranges(want.begin() + y * row, want.begin() + (y + 1) * row, want.begin() + (rows - 1 - y) * row);
    pvtest::ExpectSamePixels(ours, want);
  });
}

}  // namespace
