#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/bmp/bmp_decoder.h"
#include "core/decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A small bitmap writer: array prefix, file header, info header, the bytes
// between header and pixel data (palette or masks), then the pixel data.

struct BmpFile {
  uint32_t headerSize = 40;
  int32_t width = 1, height = 1;  // height < 0: rows stored top-down
  uint16_t planes = 1, bits = 8;
  uint32_t compression = 0;
  int32_t hres = 0, vres = 0;
  std::vector<uint32_t> headerMasks = {};  // red, green, blue[, alpha] at header offset 40
  Bytes gap = {};                          // palette entries or masks after the header
  Bytes pixels = {};
  bool arrayPrefix = false;
};

void Put32(Bytes& v, size_t at, uint32_t x) { pv::StoreU32LE(&v[at], x); }

Bytes Write(const BmpFile& f) {
  const size_t base = f.arrayPrefix ? 14 : 0, info = base + 14;
  // Room for the Windows fields even when the header claims to be shorter.
  Bytes out(info + std::max<size_t>(f.headerSize, 40));
  if (f.arrayPrefix) out[0] = 'B', out[1] = 'A', Put32(out, 2, 40);
  out[base] = 'B', out[base + 1] = 'M';
  const size_t pixelOffset = info + f.headerSize + f.gap.size();  // from the start of the file
  for (auto [at, v] : {std::pair{base + 2, pixelOffset + f.pixels.size()}, {base + 10, pixelOffset}, {info, size_t{f.headerSize}}})
    Put32(out, at, static_cast<uint32_t>(v));
  if (f.headerSize == 12) {
    for (auto [at, v] : {std::pair{4, uint32_t(f.width)}, {6, uint32_t(f.height)}, {8, uint32_t{f.planes}}, {10, uint32_t{f.bits}}})
      pv::StoreU16LE(&out[info + at], static_cast<uint16_t>(v));
  } else {
    for (auto [at, v] : {std::pair{4, uint32_t(f.width)}, {8, uint32_t(f.height)}, {12, f.planes | uint32_t{f.bits} << 16},
                         {16, f.compression}, {24, uint32_t(f.hres)}, {28, uint32_t(f.vres)}})
      Put32(out, info + at, v);
    for (size_t i = 0; i < f.headerMasks.size() && 40 + 4 * i + 4 <= f.headerSize; ++i)
      Put32(out, info + 40 + 4 * i, f.headerMasks[i]);
  }
  out.resize(info + f.headerSize);
  out.insert(out.end(), f.gap.begin(), f.gap.end());
  out.insert(out.end(), f.pixels.begin(), f.pixels.end());
  return out;
}

// Palette entries B, G, R[, 0] for colours given as 0xRRGGBB.
Bytes PaletteBytes(const std::vector<uint32_t>& colours, size_t entrySize) {
  Bytes out;
  for (uint32_t c : colours) {
    out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    if (entrySize == 4) out.push_back(0);
  }
  return out;
}

// Rows given top row first, stored in file order and padded to 4 bytes.
Bytes StoreRows(const std::vector<Bytes>& rows, bool topDown) {
  Bytes out;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Bytes& row = rows[topDown ? i : rows.size() - 1 - i];
    out.insert(out.end(), row.begin(), row.end());
    out.resize((out.size() + 3) / 4 * 4, 0);
  }
  return out;
}

// Little-endian pixel words of `bytes` bytes each.
Bytes Words(const std::vector<uint32_t>& values, size_t bytes) {
  Bytes out;
  for (uint32_t v : values)
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

using Decoded = pvtest::DecodedBytes;

Decoded DecodeBytes(const Bytes& file, pv::ProgressSink* progress = nullptr) {
  return pvtest::DecodeWith(pv::CreateBmpDecoder, L"bmp", file, nullptr, progress);
}

// The preset transparent black entry that palette pixels the file never gives get.
constexpr uint8_t G = 253;

BmpFile SmallEightBit() {
  return {.width = 3, .height = 2, .gap = PaletteBytes({0x112233, 0x445566, 0x778899}, 4),
          .pixels = StoreRows({{0, 1, 2}, {2, 1, 0}}, false)};
}

// The same palette picture plain and in an OS/2 bitmap array (whose pixel
// offset counts from the file start); core headers and top-down rows are in
// the corpus with reference decodes.
TEST(BmpHeaders, BitmapArrayGivesTheSamePicture) {
  const std::vector<uint32_t> colours = {0x102030, 0x2A4060, 0x306090, 0x4A80C0, 0x50A0F0};
  const BmpFile plain{.width = 5, .height = 3, .gap = PaletteBytes(colours, 4),
                      .pixels = StoreRows({{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 2, 4, 4, 1}}, false)};
  BmpFile array = plain;
  array.headerSize = 12, array.gap = PaletteBytes(colours, 3), array.arrayPrefix = true;
  std::vector<uint32_t> expected;
  for (int i : {0, 1, 2, 3, 4, 4, 3, 2, 1, 0, 2, 2, 4, 4, 1}) expected.push_back(0xFF000000u | colours[i]);
  pvtest::CheckPixelCases(pv::CreateBmpDecoder, L"bmp", {{"plain", Write(plain), pv::kStatusOk, 5, expected, 0},
                                                        {"array", Write(array), pv::kStatusOk, 5, expected, 0}});
  // Entries the file does not give keep the buffer's presets.
  EXPECT_EQ(DecodeBytes(Write(array)).buffer->Palette()[254], 0xFFFFFFFFu);
}

// Direct colour: 16, 24 and 32 bits, plain and with bit fields. Expected
// pixels are 0xAARRGGBB, top row first, two rows of two pixels.

TEST(BmpDirect, PixelsBecomeBgra) {
  struct Case {
    const char* name;
    uint32_t headerSize;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> headerMasks;
    Bytes gap;
    bool topDown;
    std::vector<uint32_t> stored;    // pixel values as stored, top row first
    std::vector<uint32_t> expected;  // 0xAARRGGBB
    uint8_t usesAlpha;
  };
  const Case cases[] = {
      {"24 bits OS/2", 12, 24, 0, {}, {}, false, {0x102030, 0x405060, 0x708090, 0xA0B0C0},
       {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0}, 0},
      // 5-5-5 fields are shifted up, not replicated: 31 becomes 248; the top bit is unused.
      {"16 bits plain is 555", 40, 16, 0, {}, {}, false, {0x7C00, 0x03E0, 0x801F, 0x0421},
       {0xFFF80000, 0xFF00F800, 0xFF0000F8, 0xFF080808}, 0},
      {"16 bits 565 in the header", 56, 16, 3, {0xF800, 0x7E0, 0x1F, 0}, {}, false, {0xF800, 0x07E0, 0x001F, 0xFFFF},
       {0xFFF80000, 0xFF00FC00, 0xFF0000F8, 0xFFF8FCF8}, 0},
      {"16 bits 565 in a 52-byte header, top-down", 52, 16, 3, {0xF800, 0x7E0, 0x1F}, {}, true,
       {0x0821, 0x0000, 0xF81F, 0x07E0}, {0xFF080408, 0xFF000000, 0xFFF800F8, 0xFF00FC00}, 0},
      // A 40-byte header keeps its three masks right after it.
      {"16 bits 565 after a short header", 40, 16, 3, {}, Words({0xF800, 0x7E0, 0x1F}, 4), false,
       {0xF800, 0x07E0, 0x001F, 0x0000}, {0xFFF80000, 0xFF00FC00, 0xFF0000F8, 0xFF000000}, 0},
      {"16 bits 555 bit fields", 56, 16, 3, {0x7C00, 0x3E0, 0x1F, 0}, {}, false, {0x7FFF, 0x0001, 0x0020, 0x0400},
       {0xFFF8F8F8, 0xFF000008, 0xFF000800, 0xFF080000}, 0},
      {"16 bits ARGB 4444", 56, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}, {}, false, {0xF123, 0x0FFF, 0x8000, 0x7ABC},
       {0xF0102030, 0x00F0F0F0, 0x80000000, 0x70A0B0C0}, 1},
      // Without an alpha mask in the header all-zero alpha bytes mean opaque...
      {"32 bits zero alpha is opaque", 40, 32, 0, {}, {}, false, {0x00112233, 0x00445566, 0x00778899, 0x00AABBCC},
       {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC}, 0},
      // ...and any non-zero alpha byte keeps all of them.
      {"32 bits alpha kept", 40, 32, 0, {}, {}, false, {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC},
       {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC}, 1},
      {"32 bits 52-byte header alpha kept", 52, 32, 0, {}, {}, true, {0x10112233, 0x00445566, 0x00778899, 0x00AABBCC},
       {0x10112233, 0x00445566, 0x00778899, 0x00AABBCC}, 1},
      // A header with room for an alpha mask decides alone: none given, so opaque.
      {"32 bits V5 plain is opaque", 124, 32, 0, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {}, false,
       {0x80112233, 0x00445566, 0xFF778899, 0x01AABBCC}, {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC}, 0},
      {"32 bits standard fields with alpha", 56, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {}, false,
       {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC}, {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC}, 1},
      {"32 bits standard fields without alpha", 108, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0}, {}, false,
       {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC}, {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC}, 0},
      {"32 bits fields in a short header use the standard masks", 40, 32, 3, {}, {}, false,
       {0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC}, {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC}, 0},
      // Fields wider than 8 bits keep their top 8 bits.
      {"32 bits 10-10-10", 56, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF, 0}, {}, false,
       {0x3FF00000, 0x00080000, 0x00000003, 0xC0000201}, {0xFFFF0000, 0xFF008000, 0xFF000000, 0xFF000080}, 0},
      {"32 bits swapped channels", 56, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {}, false,
       {0x80123456, 0xFF0000FF, 0x00FF0000, 0x01000000}, {0x80563412, 0xFFFF0000, 0x000000FF, 0x01000000}, 1},
  };
  std::vector<pvtest::PixelCase> pixelCases;
  for (const Case& c : cases) {
    const std::vector<Bytes> rows = {Words({c.stored[0], c.stored[1]}, c.bits / 8), Words({c.stored[2], c.stored[3]}, c.bits / 8)};
    const BmpFile f{.headerSize = c.headerSize, .width = 2, .height = c.topDown ? -2 : 2, .bits = c.bits,
                    .compression = c.compression, .headerMasks = c.headerMasks, .gap = c.gap, .pixels = StoreRows(rows, c.topDown)};
    pixelCases.push_back({c.name, Write(f), pv::kStatusOk, 2, c.expected, c.usesAlpha});
  }
  pvtest::CheckPixelCases(pv::CreateBmpDecoder, L"bmp", pixelCases);
}

// Run-length streams. Plain runs, literals and ends of line are in the corpus
// files with reference decodes. Expected indices are the picture, top row
// first; what a delta skips, and the rows never reached, are transparent black (G).

TEST(BmpRle, StreamPaintsTheRowsItReaches) {
  // compression: 1 RLE8, 2 RLE4
  struct Case { const char* name; uint32_t compression; int32_t width, height; Bytes stream, expected; };
  const Case cases[] = {
      // The delta moves right and up.
      {"RLE8 delta skips pixels", 1, 4, 3, {1, 7, 0, 2, 1, 1, 1, 8, 0, 1}, {G, G, G, G, G, G, 8, G, 7, G, G, G}},
      {"RLE8 end of bitmap leaves the rest transparent", 1, 3, 2, {2, 4, 0, 1, 3, 5}, {G, G, G, 4, 4, G}},
      {"RLE8 stream cut inside a literal", 1, 4, 2, {0, 4, 1, 2}, {G, G, G, G, 1, 2, G, G}},
      {"RLE8 stream without end code", 1, 2, 2, {1, 3}, {G, G, 3, G}},
      {"RLE8 top-down", 1, 2, -2, {2, 1, 0, 0, 2, 2, 0, 1}, {1, 1, 2, 2}},
      // A run past the row end is cut there and does not spill into the next row.
      {"RLE8 run past the row end", 1, 3, 2, {10, 4, 1, 6, 0, 0, 1, 5, 0, 1}, {5, G, G, 4, 4, 4}},
      {"RLE8 literal past the row end", 1, 2, 2, {0, 4, 1, 2, 3, 4, 0, 0, 1, 9, 0, 1}, {9, G, 1, 2}},
      {"RLE8 delta past the row end", 1, 2, 2, {0, 2, 200, 0, 1, 4, 0, 0, 1, 6, 0, 1}, {6, G, G, G}},
      {"RLE8 delta past the image ends", 1, 2, 2, {1, 3, 0, 2, 0, 2, 1, 4, 0, 1}, {G, G, 3, G}},
      {"RLE8 end of line on the last row ends", 1, 2, 1, {1, 1, 0, 0, 1, 2, 0, 1}, {1, G}},
      {"RLE8 oversized counts stay inside", 1, 3, 2, {255, 1, 255, 2, 0, 255, 0, 0, 1, 3}, {G, G, G, 1, 1, 1}},
      // RLE4 runs alternate the value's high and low nibble.
      {"RLE4 run alternates nibbles", 2, 5, 2, {5, 0x12, 0, 0, 3, 0x3F, 0, 1}, {3, 15, 3, G, G, 1, 2, 1, 2, 1}},
      // Five nibbles take three bytes, padded by one.
      {"RLE4 odd literal is padded", 2, 7, 1, {0, 5, 0x12, 0x34, 0x50, 0, 2, 0x67, 0, 1}, {1, 2, 3, 4, 5, 6, 7}},
      {"RLE4 three-nibble literal takes two bytes", 2, 4, 1, {0, 3, 0xAB, 0xC0, 1, 0xD0, 0, 1}, {10, 11, 12, 13}},
      {"RLE4 delta and end of line", 2, 3, 3, {1, 0x90, 0, 2, 1, 1, 1, 0x80, 0, 0, 3, 0x77, 0, 1},
       {7, 7, 7, G, G, 8, 9, G, G}},
      {"RLE4 run past the row end", 2, 3, 1, {9, 0x12, 0, 1}, {1, 2, 1}},
  };
  std::vector<uint32_t> colours;
  for (uint32_t i = 0; i < 16; ++i) colours.push_back(0x400000u + i * 0x000811u);
  std::vector<pvtest::PixelCase> pixelCases;
  for (const Case& c : cases) {
    std::vector<uint32_t> expected;
    for (uint8_t i : c.expected) expected.push_back(i == G ? 0 : 0xFF000000u | colours[i]);
    const bool gaps = std::find(c.expected.begin(), c.expected.end(), G) != c.expected.end();
    pixelCases.push_back({c.name, Write({.width = c.width, .height = c.height, .bits = uint16_t(c.compression == 1 ? 8 : 4),
                                         .compression = c.compression, .gap = PaletteBytes(colours, 4), .pixels = c.stream}),
                          pv::kStatusOk, uint32_t(c.width), expected, gaps});
  }
  pvtest::CheckPixelCases(pv::CreateBmpDecoder, L"bmp", pixelCases);
}

TEST(BmpProperties, DensityAndCompressionTexts) {
  // Horizontal and vertical resolution, compression, density text (null: none), compression text.
  const std::tuple<int32_t, int32_t, uint32_t, const wchar_t*, const wchar_t*> cases[] = {
      {0, 0, 0, nullptr, L"None"}, {2835, 3780, 0, L"2835 x 3780 ppm", L"None"},
      {2835, 0, 0, nullptr, L"None"}, {2835, 3780, 1, L"2835 x 3780 ppm", L"RLE"}};
  for (const auto& [hres, vres, compression, density, compressionName] : cases) {
    BmpFile f = SmallEightBit();
    f.hres = hres, f.vres = vres, f.compression = compression;
    Decoded d = DecodeBytes(Write(f));
    ASSERT_EQ(d.open, pv::kStatusOk);
    EXPECT_STREQ(d.decoder->Has(pv::kPropDensity) ? d.decoder->GetText(pv::kPropDensity) : nullptr, density) << hres;
    EXPECT_STREQ(d.decoder->GetText(pv::kPropCompression), compressionName);
  }
}

TEST(BmpProbe, SignatureAndHeaderSize) {
  const Bytes good = Write(SmallEightBit());
  Bytes badSignature = good, os2v2 = good;
  badSignature[1] = 'X';
  Put32(os2v2, 14, 64);
  BmpFile array = SmallEightBit();
  array.arrayPrefix = true;
  pvtest::CheckProbe(pv::ProbeBmp, {{good, pv::kStatusOk}, {Write(array), pv::kStatusOk},
                                    {badSignature, pv::kStatusUnknownFormat}, {os2v2, pv::kStatusUnsupported},
                                    {Bytes(good.begin(), good.begin() + 43), pv::kStatusUnknownFormat}});
}

TEST(BmpDamaged, HeaderFaultsGiveStatus) {
  auto changed = [](void (*change)(BmpFile&)) {
    BmpFile f = SmallEightBit();
    change(f);
    return Write(f);
  };
  BmpFile v5 = SmallEightBit();
  v5.headerSize = 124;
  Bytes cut = Write(v5);
  cut.resize(14 + 100);
  pvtest::CheckPixelCases(pv::CreateBmpDecoder, L"bmp", {
      {"header size 64", changed([](BmpFile& f) { f.headerSize = 64; }), pv::kStatusUnsupported},
      {"header size 20", changed([](BmpFile& f) { f.headerSize = 20; }), pv::kStatusUnsupported},
      {"two planes", changed([](BmpFile& f) { f.planes = 2; }), pv::kStatusUnsupported},
      {"two bits", changed([](BmpFile& f) { f.bits = 2; }), pv::kStatusUnsupported},
      {"zero bits", changed([](BmpFile& f) { f.bits = 0; }), pv::kStatusUnsupported},
      {"compression 4", changed([](BmpFile& f) { f.compression = 4; }), pv::kStatusUnsupported},
      {"RLE8 at 24 bits", changed([](BmpFile& f) { f.compression = 1, f.bits = 24; }), pv::kStatusUnsupported},
      {"RLE4 at 1 bit", changed([](BmpFile& f) { f.compression = 2, f.bits = 1; }), pv::kStatusUnsupported},
      {"bit fields at 8 bits", changed([](BmpFile& f) { f.compression = 3; }), pv::kStatusUnsupported},
      {"bit fields at 24 bits", changed([](BmpFile& f) { f.compression = 3, f.bits = 24; }), pv::kStatusUnsupported},
      {"zero width", changed([](BmpFile& f) { f.width = 0; }), pv::kStatusUnknownFormat},
      {"zero height", changed([](BmpFile& f) { f.height = 0; }), pv::kStatusUnknownFormat},
      {"negative width", changed([](BmpFile& f) { f.width = -3; }), pv::kStatusDamaged},
      {"huge width", changed([](BmpFile& f) { f.width = 0x7FFFFFFF; }), pv::kStatusUnsupported},
      {"most negative height", changed([](BmpFile& f) { f.height = INT32_MIN; }), pv::kStatusUnsupported},
      {"too many pixels", changed([](BmpFile& f) { f.width = 1 << 18, f.height = 1 << 18; }), pv::kStatusUnsupported},
      // The core header's sizes are unsigned 16-bit values.
      {"core width 0xFFFF", changed([](BmpFile& f) { f.headerSize = 12, f.width = 0xFFFF; }), pv::kStatusOk, 0xFFFF},
      {"cut inside the info header", cut, pv::kStatusDamaged},
  });
}

// Of a file cut anywhere in its pixel data, every pixel whose bytes are all
// there equals the whole file's pixel and every other is transparent black.
TEST(BmpDamaged, CutPixelDataKeepsWhatIsThere) {
  struct Case { const char* name; uint16_t bits; std::vector<Bytes> rows; };  // bytes of each row, top row first
  const Case cases[] = {
      {"8 bits", 8, {{1, 2, 3, 4, 0}, {4, 3, 2, 1, 0}, {2, 2, 2, 2, 2}, {1, 1, 3, 3, 4}}},
      {"24 bits", 24, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                       32, 33, 34, 35}, {41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55}}},
  };
  for (const Case& c : cases) {
    BmpFile f{.width = 5, .height = static_cast<int32_t>(c.rows.size()), .bits = c.bits};
    if (c.bits == 8) f.gap = PaletteBytes({0x010101, 0x020304, 0x050607, 0x08090A, 0x0B0C0D}, 4);
    f.pixels = StoreRows(c.rows, false);
    const Bytes whole = Write(f);
    const size_t pixelOffset = whole.size() - f.pixels.size(), stride = f.pixels.size() / c.rows.size();
    const uint32_t bytes = c.bits / 8;
    Decoded full = DecodeBytes(whole);
    ASSERT_EQ(full.decode, pv::kStatusOk);
    for (size_t n = pixelOffset; n <= whole.size(); ++n) {
      SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(n));
      Decoded d = DecodeBytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
      ASSERT_EQ(d.decode, pv::kStatusOk);
      bool missing = false;
      for (uint32_t y = 0; y < c.rows.size(); ++y) {
        const size_t fileRow = c.rows.size() - 1 - y;
        for (uint32_t x = 0; x < 5; ++x) {
          const bool present = pixelOffset + fileRow * stride + (x + 1) * bytes <= n;
          missing |= !present;
          if (bytes == 1) {
            ASSERT_EQ(d.Index(x, y), present ? full.Index(x, y) : G) << x << "," << y;
          } else {
            ASSERT_EQ(d.Pixel(x, y), present ? full.Pixel(x, y) : 0u) << x << "," << y;
          }
        }
      }
      EXPECT_EQ(d.buffer->UsesAlpha(), missing ? 1 : 0);
    }
  }
}

// The palette fills the bytes up to the pixel data; what lies beyond the file is not read.
TEST(BmpDamaged, PaletteClippedToTheFile) {
  BmpFile f{.width = 2, .height = 1, .gap = PaletteBytes({0x123456, 0x654321, 0x0A0B0C}, 4)};
  f.gap.resize(f.gap.size() - 2);  // the file ends inside the third entry
  Bytes bytes = Write(f);
  Put32(bytes, 10, 0x00FFFFF0);  // pixel data far beyond the end
  Decoded d = DecodeBytes(bytes);
  ASSERT_EQ(d.decode, pv::kStatusOk);
  const uint32_t* entries = d.buffer->Palette();
  // The cut entry is not read: transparent black; entries past the file keep their presets.
  EXPECT_EQ((std::vector<uint32_t>{entries[0], entries[1], entries[2], entries[254]}),
            (std::vector<uint32_t>{0xFF123456u, 0xFF654321u, 0u, 0xFFFFFFFFu}));
  EXPECT_EQ(d.Index(0, 0), G);
  EXPECT_EQ(d.Index(1, 0), G);
  EXPECT_EQ(d.buffer->UsesAlpha(), 1);
}

// Every prefix of a file opens and decodes, or fails with a status.
TEST(BmpDamaged, EveryPrefixDecodesOrFails) {
  const Bytes palette = PaletteBytes({0x112233, 0x445566, 0x778899}, 4);
  const Bytes runs = {2, 1, 0, 0, 0, 3, 2, 1, 0, 0, 2, 0, 1, 2, 0, 2, 0, 0, 1, 1, 0, 1};
  const std::vector<uint32_t> masks = {0xFF0, 0xF000F, 0xFF000000, 0xF00000};
  const Bytes words = Words({0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x4B5A6978}, 4);
  const BmpFile core{.headerSize = 12, .width = 3, .height = 2, .gap = PaletteBytes({0x112233, 0x445566, 0x778899}, 3),
                     .pixels = StoreRows({{0, 1, 2}, {2, 1, 0}}, false), .arrayPrefix = true};
  const BmpFile four{.width = 5, .height = 2, .bits = 4, .gap = palette,
                     .pixels = StoreRows({{0x01, 0x20, 0x10}, {0x21, 0x02, 0x00}}, false)};
  const BmpFile rle8{.width = 3, .height = 2, .compression = 1, .gap = palette, .pixels = runs};
  const BmpFile rle4{.width = 3, .height = 2, .bits = 4, .compression = 2, .gap = palette, .pixels = runs};
  const BmpFile fields{.headerSize = 56, .width = 2, .height = 2, .bits = 32, .compression = 3, .headerMasks = masks,
                       .pixels = words};
  const BmpFile alpha{.width = 2, .height = 2, .bits = 32, .headerMasks = masks, .pixels = words};
  for (const BmpFile& file : {core, four, rle8, rle4, fields, alpha}) {
    SCOPED_TRACE(std::to_string(file.bits) + " bits, compression " + std::to_string(file.compression));
    pvtest::CheckEveryPrefix(pv::CreateBmpDecoder, L"bmp", Write(file));
  }
}

TEST(BmpDecode, ProgressEvery32Rows) {
  for (uint32_t compression : {0u, 1u}) {
    SCOPED_TRACE(compression ? "RLE8" : "plain");
    BmpFile f{.width = 4, .height = 70, .compression = compression, .gap = PaletteBytes({0xFF0000, 0x00FF00}, 4)};
    const Bytes row = compression ? Bytes{4, 1, 0, 0} : Bytes{1, 1, 1, 1};
    for (int i = 0; i < 70; ++i) f.pixels.insert(f.pixels.end(), row.begin(), row.end());
    pv::Ref<pvtest::ProgressLog> log(new pvtest::ProgressLog);
    Decoded d = DecodeBytes(Write(f), log.get());
    ASSERT_EQ(d.decode, pv::kStatusOk);
    const std::vector<std::pair<int32_t, int32_t>> expected = {{31, 70}, {63, 70}, {100, 100}};
    EXPECT_EQ(log->calls, expected);
    EXPECT_EQ(d.Index(3, 0), 1);
  }
}

TEST(BmpCorpus, ManifestOutcomesAndReferencePixels) {
  pvtest::CheckCorpusPixels("bmp", [](const pvtest::CorpusCase& c, const Bytes& ours, Bytes want) {
    // Rule: pixels a run-length stream never reaches are transparent black
    // here; the reference shows palette entry 0 there.
    const bool runLength = c.file.find("rle") != std::string::npos || c.exercises.find("RLE") != std::string::npos;
    for (size_t i = 0; runLength && i < want.size(); i += 4)
      if (std::all_of(ours.begin() + i, ours.begin() + i + 4, [](uint8_t v) { return v == 0; })) want[i + 3] = 0;
    pvtest::ExpectSamePixels(ours, want);
  });
}

}  // namespace
