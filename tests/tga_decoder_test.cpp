#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/tga/tga_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Header, colour map (entries of mapBits), then the pixel data as given.
Bytes Tga(uint8_t type, uint8_t depth, uint8_t descriptor, uint16_t w, uint16_t h, const Bytes& data,
          const Bytes& map = {}, uint8_t mapBits = 0, uint16_t first = 0) {
  Bytes f(18);
  f[1] = !map.empty();
  f[2] = type;
  pv::StoreU16LE(&f[3], first);
  pv::StoreU16LE(&f[5], static_cast<uint16_t>(map.empty() ? 0 : map.size() / ((mapBits + 7) / 8)));
  f[7] = mapBits;
  pv::StoreU16LE(&f[12], w);
  pv::StoreU16LE(&f[14], h);
  f[16] = depth;
  f[17] = descriptor;
  f.insert(f.end(), map.begin(), map.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// Appends an extension area with this alpha attribute and the version 2 footer.
Bytes WithFooter(Bytes f, uint8_t attributes) {
  const uint32_t extension = static_cast<uint32_t>(f.size());
  f.resize(f.size() + 495);
  f.back() = attributes;
  f.resize(f.size() + 8);
  pv::StoreU32LE(&f[f.size() - 8], extension);
  const std::string text = "TRUEVISION-XFILE.";
  f.insert(f.end(), text.begin(), text.end() + 1);
  return f;
}

pvtest::DecodedBytes Decode(const Bytes& f) { return pvtest::DecodeWith(pv::CreateTgaDecoder, L"tga", f); }

struct Case {
  const char* name;
  Bytes file;
  pv::Status open;
  int usesAlpha;                 // -1: not checked
  uint32_t width;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, top row first
};

void Check(const Case& c) {
  SCOPED_TRACE(c.name);
  pvtest::DecodedBytes d = Decode(c.file);
  ASSERT_EQ(d.open, c.open);
  if (pv::Failed(c.open)) return;
  ASSERT_EQ(d.decode, pv::kStatusOk);
  if (c.usesAlpha >= 0) {
    EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha);
  }
  for (uint32_t i = 0; i < c.pixels.size(); ++i) EXPECT_EQ(d.Colour(i % c.width, i / c.width), c.pixels[i]) << i;
}

TEST(TgaDecode, OriginsRunsAlphaAndFooters) {
  const Bytes twoRows = {1, 2, 3, 4, 5, 6};  // one pixel per row, first row first in the file
  const Case cases[] = {
      {"bottom-left origin", Tga(2, 24, 0x00, 1, 2, twoRows), pv::kStatusOk, 0, 1, {0xFF060504, 0xFF030201}},
      {"top-left origin", Tga(2, 24, 0x20, 1, 2, twoRows), pv::kStatusOk, 0, 1, {0xFF030201, 0xFF060504}},
      {"bottom-right origin refused", Tga(2, 24, 0x10, 1, 2, twoRows), pv::kStatusUnknownFormat, -1, 1, {}},
      {"top-right origin refused", Tga(2, 24, 0x30, 1, 2, twoRows), pv::kStatusUnknownFormat, -1, 1, {}},
      {"run packet across rows", Tga(10, 24, 0x20, 2, 3, {0x82, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
       pv::kStatusOk, 0, 2, {0xFF030201, 0xFF030201, 0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A}},
      {"raw packet across rows, bottom-up grey", Tga(11, 8, 0x00, 2, 2, {0x02, 10, 20, 30, 0x80, 40}), pv::kStatusOk,
       0, 2, {0xFF1E1E1E, 0xFF282828, 0xFF0A0A0A, 0xFF141414}},
      {"32 bits, no alpha bits: opaque", Tga(2, 32, 0x20, 1, 1, {1, 2, 3, 4}), pv::kStatusOk, 0, 1, {0xFF030201}},
      {"32 bits, 8 alpha bits", Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 4}), pv::kStatusOk, 1, 1, {0x04030201}},
      {"footer: premultiplied", WithFooter(Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 4}), 4), pv::kStatusOk, 2, 1, {0x04030201}},
      {"footer: no alpha", WithFooter(Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 4}), 0), pv::kStatusOk, 0, 1, {0xFF030201}},
      {"16 bits with footer alpha", WithFooter(Tga(2, 16, 0x20, 2, 1, {0xFF, 0x7F, 0x00, 0x80}), 3), pv::kStatusOk, 1, 2,
       {0x00FFFFFF, 0xFF000000}},
      {"colour map from index 2", Tga(1, 8, 0x20, 2, 1, {2, 3}, {0x1F, 0x00, 0xE0, 0x83}, 16, 2), pv::kStatusOk, 0, 2,
       {0xFF0000F8, 0xFF00F800}},
      {"19-byte file", Tga(3, 8, 0x20, 1, 1, {77}), pv::kStatusOk, 0, 1, {0xFF4D4D4D}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(TgaDamaged, ExtentsAreCheckedAgainstTheFile) {
  Bytes mapPastEnd = Tga(1, 8, 0x20, 1, 1, {0}, {1, 2, 3}, 24);
  pv::StoreU16LE(&mapPastEnd[5], 0xFFFF);
  Bytes idPastEnd = Tga(3, 8, 0x20, 1, 1, {0});
  idPastEnd[0] = 200;
  Bytes footerPastEnd = WithFooter(Tga(2, 32, 0x28, 1, 1, {1, 2, 3, 4}), 4);
  pv::StoreU32LE(&footerPastEnd[footerPastEnd.size() - 26], 0xFFFFFF00);
  const Case cases[] = {
      {"colour map past the end", mapPastEnd, pv::kStatusDamaged, -1, 1, {}},
      {"ID field past the end", idPastEnd, pv::kStatusDamaged, -1, 1, {}},
      {"extension area past the end", footerPastEnd, pv::kStatusOk, 1, 1, {0x04030201}},
      {"raw data short", Tga(2, 24, 0x20, 2, 2, Bytes(11)), pv::kStatusUnsupported, -1, 1, {}},
      {"data over twice the pixels", Tga(3, 8, 0x20, 1, 1, Bytes(1027)), pv::kStatusUnsupported, -1, 1, {}},
      {"width 0", Tga(3, 8, 0x20, 0, 1, {1}), pv::kStatusUnknownFormat, -1, 1, {}},
      {"65535 x 65535", Tga(11, 8, 0x20, 0xFFFF, 0xFFFF, {0x81, 1}), pv::kStatusUnsupported, -1, 1, {}},
      {"runs end early", Tga(10, 24, 0x20, 1, 2, {0x80, 1, 2, 3}), pv::kStatusOk, 1, 1, {0xFF030201, 0}},
      {"run longer than the image", Tga(10, 24, 0x20, 1, 1, {0xFF, 1, 2, 3}), pv::kStatusOk, 0, 1, {0xFF030201}},
  };
  for (const Case& c : cases) Check(c);
  // Every prefix opens and decodes, or fails with a status.
  for (const Bytes& whole : {cases[7].file, WithFooter(Tga(10, 16, 0x20, 2, 2, {0x83, 1, 0x80}), 3)}) {
    for (size_t n = 0; n <= whole.size(); ++n) {
      pvtest::DecodedBytes d = Decode(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
      if (pv::Succeeded(d.open)) {
        EXPECT_EQ(d.decode, pv::kStatusOk) << n;
      }
    }
  }
}

TEST(TgaCorpus, ManifestOutcomesAndReferencePixels) {
  const std::string dir = pvtest::CorpusDir("tga");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/tga: every TGA corpus case skipped";
  pvtest::CorpusChecks checks;
  checks.compare = [&](const pvtest::CorpusCase& c, const std::vector<uint8_t>& ours, std::vector<uint8_t> want) {
    // Rule: rows are placed by the header's origin; the references keep the
    // file's row order, so those of bottom-left files are turned over here.
    const Bytes file = pvtest::ReadFileBytes(dir + "/" + c.file);
    if (!(file[17] & 0x20)) {
      const size_t row = size_t{pv::LoadU16LE(&file[12])} * 4, rows = want.size() / row;
      for (size_t y = 0; y < rows / 2; ++y)
        std::swap_ranges(want.begin() + y * row, want.begin() + (y + 1) * row, want.begin() + (rows - 1 - y) * row);
    }
    pvtest::ExpectSamePixels(ours, want);
  };
  EXPECT_GT(pvtest::CheckCorpus(dir, checks), 0u);
}

}  // namespace
