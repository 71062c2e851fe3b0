#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/png/png_decoder.h"
#include "codecs/png/png_rows.h"
#include "core/decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using pv::Status;

// A small PNG writer: chunks with their CRCs, scanlines filtered by the
// textbook definitions, zlib from the library.

struct Chunk { std::string type; Bytes data; };

// Big-endian values of `bytes` bytes each.
Bytes Be(std::initializer_list<uint32_t> values, int bytes = 4) {
  Bytes out;
  for (uint32_t v : values)
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}
void Put(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Plte(const std::vector<uint32_t>& colours) {  // 0xRRGGBB each
  Bytes out;
  for (uint32_t c : colours) Put(out, Be({c}, 3));
  return out;
}

Bytes Png(const std::vector<Chunk>& chunks) {
  Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Chunk& c : chunks) {
    Put(out, Be({static_cast<uint32_t>(c.data.size())}));
    const size_t start = out.size();
    Put(out, Text(c.type));
    Put(out, c.data);
    Put(out, Be({static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start)))}));
  }
  return out;
}

Chunk Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0) {
  Bytes d = Be({w, h});
  Put(d, {depth, type, 0, 0, interlace});
  return {"IHDR", d};
}

Bytes Zlib(const Bytes& raw) {
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(n);
  compress2(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 6);
  out.resize(n);
  return out;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Filters packed rows, row i with filter i % 5.
Bytes FilterRows(const std::vector<Bytes>& rows, uint32_t bpp) {
  Bytes out, prior;
  for (size_t y = 0; y < rows.size(); ++y) {
    const Bytes& row = rows[y];
    const uint8_t filter = static_cast<uint8_t>(y % 5);
    if (prior.size() != row.size()) prior.assign(row.size(), 0);
    out.push_back(filter);
    for (size_t i = 0; i < row.size(); ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
      const int predictor[5] = {0, a, b, (a + b) / 2, Paeth(a, b, c)};
      out.push_back(static_cast<uint8_t>(row[i] - predictor[filter]));
    }
    prior = row;
  }
  return out;
}

// A picture as samples per pixel, top row first.
struct Picture {
  uint32_t width = 0, height = 0;
  uint8_t depth = 8, type = 2;
  std::vector<std::vector<uint16_t>> samples;  // width * height pixels, channels each
  const std::vector<uint16_t>& At(uint32_t x, uint32_t y) const { return samples[size_t{y} * width + x]; }
};

uint32_t ChannelsOf(uint8_t type) { return type == 0 || type == 3 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4; }

// The packed scanline of pixels x0, x0 + dx, ... of row y.
Bytes PackRow(const Picture& p, uint32_t y, uint32_t x0, uint32_t dx) {
  Bytes row;
  uint32_t acc = 0, bits = 0;
  for (uint32_t x = x0; x < p.width; x += dx) {
    for (uint16_t s : p.At(x, y)) {
      if (p.depth == 16) {
        Put(row, Be({s}, 2));
      } else if (p.depth == 8) {
        row.push_back(static_cast<uint8_t>(s));
      } else {
        acc = acc << p.depth | s;
        bits += p.depth;
        if (bits == 8) row.push_back(static_cast<uint8_t>(acc)), acc = bits = 0;
      }
    }
  }
  if (bits) row.push_back(static_cast<uint8_t>(acc << (8 - bits)));
  return row;
}

// Filtered, interlaced where asked, scanlines of the picture.
Bytes Scanlines(const Picture& p, bool interlaced) {
  const uint32_t bpp = std::max(1u, ChannelsOf(p.type) * p.depth / 8);
  const uint32_t passes[8][4] = {{0, 0, 1, 1}, {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                 {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  Bytes out;
  for (int i = interlaced ? 1 : 0; i < (interlaced ? 8 : 1); ++i) {
    const uint32_t* s = passes[i];
    if (s[0] >= p.width) continue;
    std::vector<Bytes> rows;
    for (uint32_t y = s[1]; y < p.height; y += s[3]) rows.push_back(PackRow(p, y, s[0], s[2]));
    const Bytes f = FilterRows(rows, bpp);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

using Decoded = pvtest::DecodedBytes;

Decoded DecodeBytes(const Bytes& file) { return pvtest::DecodeWith(pv::CreatePngDecoder, L"png", file); }

// A pixel as R, G, B, A at the buffer's own depth (grey fills R, G and B;
// palette pixels give their index in R).
std::array<uint32_t, 4> ReadPixel(pv::ImageBuffer& b, uint32_t x, uint32_t y) {
  const uint8_t* row = b.Row(y);
  const uint16_t* wide = reinterpret_cast<const uint16_t*>(row);
  switch (b.Format()) {
    case pv::PixelFormat::Grey8: return {row[x], row[x], row[x], 255};
    case pv::PixelFormat::Indexed8: return {row[x], 0, 0, 0};
    case pv::PixelFormat::Grey16: return {wide[x], wide[x], wide[x], 65535};
    case pv::PixelFormat::Rgba8: return {row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]};
    default: return {wide[4 * x + 2], wide[4 * x + 1], wide[4 * x], wide[4 * x + 3]};
  }
}

// Colour types and depths, plain and interlaced, every filter. 8-bit and
// smaller files without a key, and the common keyed ones, are in the corpus
// with reference decodes; these rows keep what those do not reach: 16-bit
// samples and keys on 1-bit grey.

TEST(PngFormats, SamplesArriveAsTheFormatSays) {
  using PF = pv::PixelFormat;
  struct Case { const char* name; uint8_t type, depth; bool keyed; PF format; uint8_t usesAlpha; };  // keyed: a tRNS
  const Case cases[] = {{"Grey16", 0, 16, false, PF::Grey16, 0},
                        // A grey tRNS turns the image into colour with alpha.
                        {"Grey1Keyed", 0, 1, true, PF::Rgba8, 1}, {"Grey16Keyed", 0, 16, true, PF::Rgba16, 1},
                        {"Rgb16Keyed", 2, 16, true, PF::Rgba16, 1}, {"Palette2Alpha", 3, 2, true, PF::Indexed8, 1},
                        {"GreyAlpha16", 4, 16, false, PF::Rgba16, 1},
                        {"Rgba16", 6, 16, false, PF::Rgba16, 1}};
  const std::vector<uint32_t> palette = {0x102030, 0xFFEEDD, 0x00FF80, 0x123456, 0xABCDEF};
  const Bytes alphas = {0, 128, 255};
  for (const Case& c : cases) {
    const uint32_t max = (1u << c.depth) - 1, channels = ChannelsOf(c.type);
    std::mt19937 rng(c.type * 100 + c.depth);
    Picture p{13, 11, c.depth, c.type, {}};
    // Keyed pictures draw from few values, so that the key occurs.
    const uint16_t key[3] = {static_cast<uint16_t>(max / 3), static_cast<uint16_t>(max), 0};
    for (uint32_t i = 0; i < p.width * p.height; ++i) {
      std::vector<uint16_t> px;
      const bool pickKey = c.keyed && rng() % 3 == 0;
      for (uint32_t k = 0; k < channels; ++k) {
        uint16_t v = static_cast<uint16_t>(rng() & max);
        if (c.type == 3) v = static_cast<uint16_t>(rng() % std::min<uint32_t>(5, max + 1));
        px.push_back(pickKey ? key[k] : v);
      }
      p.samples.push_back(px);
    }
    for (uint8_t interlace = 0; interlace < 2; ++interlace) {
      SCOPED_TRACE(std::string(c.name) + (interlace ? " interlaced" : " plain"));
      std::vector<Chunk> chunks = {Ihdr(p.width, p.height, c.depth, c.type, interlace)};
      if (c.type == 3) chunks.push_back({"PLTE", Plte(palette)});
      if (c.keyed) {
        Bytes trns = c.type == 3 ? alphas : Bytes();
        for (uint32_t k = 0; k < channels && c.type != 3; ++k) Put(trns, Be({key[k]}, 2));
        chunks.push_back({"tRNS", trns});
      }
      // The data split over two IDAT chunks.
      const Bytes data = Zlib(Scanlines(p, interlace));
      const long third = static_cast<long>(data.size() / 3);
      chunks.push_back({"IDAT", Bytes(data.begin(), data.begin() + third)});
      chunks.push_back({"IDAT", Bytes(data.begin() + third, data.end())});
      Decoded d = DecodeBytes(Png(chunks));
      ASSERT_EQ(d.decode, pv::kStatusOk);
      ASSERT_EQ(d.buffer->Format(), c.format);
      EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha);
      EXPECT_EQ(d.decoder->BitsPerPixel(), c.depth * channels);
      EXPECT_EQ(d.decoder->Model(), c.type == 0 && !c.keyed ? pv::ColourModel::L : pv::ColourModel::Rgb);
      const bool wide = c.format == PF::Grey16 || c.format == PF::Rgba16;
      const uint32_t opaque = wide ? 65535 : 255;
      // Samples below 8 bits stretch to the full range.
      auto level = [&](uint32_t v) { return wide || c.depth == 8 ? v : v * 255 / max; };
      for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
          const std::vector<uint16_t>& s = p.At(x, y);
          std::array<uint32_t, 4> e = {s[0], 0, 0, 0};
          if (c.type != 3 && channels <= 2) e = {level(s[0]), level(s[0]), level(s[0]), channels == 2 ? s[1] : opaque};
          if (channels >= 3) e = {s[0], s[1], s[2], channels == 4 ? s[3] : opaque};
          if (c.keyed && c.type != 3 && s[0] == key[0] && (channels == 1 || (s[1] == key[1] && s[2] == key[2]))) e[3] = 0;
          ASSERT_EQ(ReadPixel(*d.buffer, x, y), e) << x << "," << y;
        }
      }
      for (size_t i = 0; i < palette.size() && c.type == 3; ++i) {
        EXPECT_EQ(d.buffer->Palette()[i], uint32_t{i < alphas.size() ? alphas[i] : 255u} << 24 | palette[i]) << i;
      }
    }
  }
}

std::vector<Chunk> SmallRgb() {
  Picture p{3, 2, 8, 2, {}};
  for (int i = 0; i < 6; ++i) p.samples.push_back({uint16_t(i * 40), uint16_t(255 - i), uint16_t(i)});
  return {Ihdr(3, 2, 8, 2), {"IDAT", Zlib(Scanlines(p, false))}, {"IEND", {}}};
}

TEST(PngDamaged, FaultsGiveStatus) {
  using Chunks = std::vector<Chunk>;
  auto changed = [](void (*change)(Chunks&)) {
    Chunks c = SmallRgb();
    change(c);
    return Png(c);
  };
  Bytes badCrc = Png(SmallRgb());
  badCrc[8 + 8 + 13] ^= 0xFF;                           // the IHDR's
  const Bytes cut(badCrc.begin(), badCrc.end() - 14);  // inside the IDAT's CRC
  pvtest::CheckPixelCases(pv::CreatePngDecoder, L"png", {
      {"no IHDR", changed([](Chunks& c) { c.erase(c.begin()); }), pv::kStatusDamaged},
      {"text before IHDR", changed([](Chunks& c) { c.insert(c.begin(), {"tEXt", Text("Title\0x")}); }),
       pv::kStatusDamaged},
      {"short IHDR", changed([](Chunks& c) { c[0].data.resize(12); }), pv::kStatusDamaged},
      {"width 0", changed([](Chunks& c) { c[0].data[3] = 0; }), pv::kStatusDamaged},
      {"width 2^31", changed([](Chunks& c) { c[0].data[0] = 0x80; }), pv::kStatusDamaged},
      {"width past the cap", changed([](Chunks& c) { c[0].data[1] = 0x10; }), pv::kStatusUnsupported},
      {"area past the cap", changed([](Chunks& c) { c[0] = Ihdr(1u << 17, 1u << 17, 8, 2); }),
       pv::kStatusUnsupported},
      {"grey + alpha at 4 bits", changed([](Chunks& c) { c[0] = Ihdr(3, 2, 4, 4); }), pv::kStatusUnsupported},
      {"palette at 16 bits", changed([](Chunks& c) { c[0] = Ihdr(3, 2, 16, 3); }), pv::kStatusUnsupported},
      {"compression 1", changed([](Chunks& c) { c[0].data[10] = 1; }), pv::kStatusUnsupported},
      {"filter method 1", changed([](Chunks& c) { c[0].data[11] = 1; }), pv::kStatusUnsupported},
      {"interlace 2", changed([](Chunks& c) { c[0].data[12] = 2; }), pv::kStatusUnsupported},
      {"palette image without PLTE", changed([](Chunks& c) { c[0] = Ihdr(3, 2, 8, 3); }), pv::kStatusDamaged},
      {"no IDAT", changed([](Chunks& c) { c.erase(c.begin() + 1); }), pv::kStatusDamaged},
      {"digit in a type", changed([](Chunks& c) { c.insert(c.begin() + 1, {"tEX1", {}}); }), pv::kStatusDamaged},
      {"unknown ancillary chunk", changed([](Chunks& c) { c.insert(c.begin() + 1, {"zzZz", {1, 2}}); }),
       pv::kStatusOk},
      {"no IEND", changed([](Chunks& c) { c.pop_back(); }), pv::kStatusOk},
      {.name = "empty image data", .file = changed([](Chunks& c) { c[1].data.clear(); }), .open = pv::kStatusOk,
       .decode = pv::kStatusDamaged},
      {.name = "broken deflate data", .file = changed([](Chunks& c) { c[1].data = {0x78, 0x9C, 0xFF, 0xFF, 0xFF}; }),
       .open = pv::kStatusOk, .decode = pv::kStatusDamaged},
      {"CRCs are not checked", badCrc, pv::kStatusOk},
      {"cut inside the last CRC", cut, pv::kStatusDamaged},
  });
  // The probe wants the signature and the IHDR's length and type (22 bytes); signatures
  // damaged in text-mode transfers are corpus files.
  pvtest::CheckProbe(pv::ProbePng, {{Bytes(cut.begin(), cut.begin() + 22), pv::kStatusOk},
                                    {Bytes(cut.begin(), cut.begin() + 21), pv::kStatusUnknownFormat}});
}

// Rows the data does not reach are transparent black: 0 in colour images,
// the preset entry 253 in palette images whose palette leaves it free.
TEST(PngDamaged, CutDataLeavesTheRestTransparent) {
  struct Case { const char* name; uint8_t type, interlace; size_t pieces; };
  for (const Case& c : {Case{"RGB", 2, 0, 1}, Case{"palette", 3, 0, 1}, Case{"RGB interlaced", 2, 1, 1},
                        Case{"RGB in several chunks", 2, 0, 5}}) {
    SCOPED_TRACE(c.name);
    Picture p{64, 64, 8, c.type, {}};
    std::mt19937 rng(3);
    for (uint32_t i = 0; i < 64 * 64; ++i)
      p.samples.push_back(c.type == 3 ? std::vector<uint16_t>{uint16_t(rng() % 3)}
                                      : std::vector<uint16_t>{uint16_t(rng() & 255), uint16_t(rng() & 255), uint16_t(rng() & 255)});
    Bytes data = Zlib(Scanlines(p, c.interlace));
    data.resize(data.size() / 2);
    std::vector<Chunk> chunks = {Ihdr(64, 64, 8, c.type, c.interlace)};
    if (c.type == 3) chunks.push_back({"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}});
    const size_t piece = data.size() / c.pieces + 1;
    for (size_t at = 0; at < data.size(); at += piece)
      chunks.push_back({"IDAT", Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + piece))});
    Decoded d = DecodeBytes(Png(chunks));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.buffer->UsesAlpha(), 1);
    using Px = std::array<uint32_t, 4>;
    const Px gone = c.type == 3 ? Px{253, 0, 0, 0} : Px{0, 0, 0, 0};
    uint32_t present = 0, absent = 0;
    for (uint32_t y = 0; y < 64; ++y) {
      for (uint32_t x = 0; x < 64; ++x) {
        const Px got = ReadPixel(*d.buffer, x, y);
        const std::vector<uint16_t>& s = p.At(x, y);
        const Px whole = c.type == 3 ? Px{s[0], 0, 0, 0} : Px{s[0], s[1], s[2], 255};
        ASSERT_TRUE(got == whole || got == gone) << x << "," << y;
        (got == whole ? present : absent)++;
      }
    }
    EXPECT_GT(present, 64u);
    EXPECT_GT(absent, 64u);
    if (c.type == 3) {
      EXPECT_EQ(d.buffer->Palette()[253], 0u);
    }
  }
}

TEST(PngDamaged, EveryPrefixDecodesOrFails) {
  Picture p{9, 7, 4, 3, {}};
  for (uint32_t i = 0; i < 63; ++i) p.samples.push_back({uint16_t(i % 3)});
  const std::vector<Chunk> files[] = {
      {Ihdr(9, 7, 4, 3, 1), {"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {"tRNS", {0}},
       {"tEXt", Text(std::string("Title\0x", 7))}, {"IDAT", Zlib(Scanlines(p, true))}, {"IEND", {}}},
      SmallRgb(),
  };
  for (const std::vector<Chunk>& chunks : files) pvtest::CheckEveryPrefix(pv::CreatePngDecoder, L"png", Png(chunks), true);
}

Bytes Joined(std::initializer_list<std::string> parts) {
  Bytes out;
  for (const std::string& s : parts) {
    if (&s != parts.begin()) out.push_back(0);
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

// keyword, compression flag and method, language, translated keyword, text.
Bytes Itxt(const std::string& keyword, uint8_t compressed, const std::string& language,
           const std::string& translated, const std::string& text) {
  return Joined({keyword, std::string{char(compressed), 0} + language, translated, text});
}

TEST(PngProperties, ChunksBecomeProperties) {
  // expected: null when not set
  struct Case { const char* name; std::vector<Chunk> chunks; uint32_t property; const wchar_t* expected; };
  Bytes metres = Be({2835, 3780});
  metres.push_back(1);
  Bytes aspect = metres;
  aspect[8] = 0;
  const Case cases[] = {
      {"title", {{"tEXt", Joined({"Title", "Sunset"})}}, pv::kPropTitle, L"Sunset"},
      {"description", {{"tEXt", Joined({"Description", "a view"})}}, pv::kPropComment, L"a view"},
      {"creation time", {{"tEXt", Joined({"Creation Time", "2020"})}}, pv::kPropCreationDate, L"2020"},
      {"Latin-1 text", {{"tEXt", Joined({"Author", "Ren\xE9"})}}, pv::kPropAuthor, L"Ren\u00E9"},
      {"unknown keyword", {{"tEXt", Joined({"Software", "x"})}}, pv::kPropComment, nullptr},
      {"empty keyword", {{"tEXt", Joined({"", "x"})}}, pv::kPropComment, nullptr},
      {"no text", {{"tEXt", Text("Comment")}}, pv::kPropComment, nullptr},
      {"international", {{"iTXt", Itxt("Author", 0, "", "", "Ren\xC3\xA9")}}, pv::kPropAuthor, L"Ren\u00E9"},
      {"compressed international skipped", {{"iTXt", Itxt("Author", 1, "", "", "xx")}}, pv::kPropAuthor, nullptr},
      {"English replaces", {{"tEXt", Joined({"Title", "old"})}, {"iTXt", Itxt("Title", 0, "en", "", "new")}},
       pv::kPropTitle, L"new"},
      {"German does not replace",
       {{"tEXt", Joined({"Title", "old"})}, {"iTXt", Itxt("Title", 0, "de", "Titel", "neu")}}, pv::kPropTitle, L"old"},
      {"German when there is none", {{"iTXt", Itxt("Title", 0, "de", "Titel", "neu")}}, pv::kPropTitle, L"neu"},
      {"compressed text is not read", {{"zTXt", Joined({"Author", std::string(1, '\0')})}}, pv::kPropAuthor, nullptr},
      {"density in metres", {{"pHYs", metres}}, pv::kPropDensity, L"2835 x 3780 ppm"},
      {"aspect ratio only", {{"pHYs", aspect}}, pv::kPropDensity, nullptr},
      {"short pHYs", {{"pHYs", Bytes(metres.begin(), metres.begin() + 8)}}, pv::kPropDensity, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Chunk> chunks = SmallRgb();
    chunks.insert(chunks.begin() + 1, c.chunks.begin(), c.chunks.end());
    Decoded d = DecodeBytes(Png(chunks));
    ASSERT_EQ(d.open, pv::kStatusOk);
    // Without a title the base names the image after its file.
    if (c.expected || c.property != pv::kPropTitle) {
      EXPECT_STREQ(d.decoder->Has(c.property) ? d.decoder->GetText(c.property) : nullptr, c.expected);
    }
  }
}

TEST(PngProperties, BackgroundColour) {
  // before: between IHDR and bKGD
  struct Case { const char* name; Chunk header; std::vector<Chunk> before; Bytes background; uint32_t expected; };
  const Chunk plte = {"PLTE", {1, 2, 3, 0x40, 0x50, 0x60}};
  const Case cases[] = {
      {"palette index", Ihdr(3, 2, 8, 3), {plte}, {1}, 0xFF405060},
      {"palette index past the palette", Ihdr(3, 2, 8, 3), {plte}, {2}, 0},
      {"palette not yet known", Ihdr(3, 2, 8, 3), {}, {1}, 0},
      // 8-bit samples are the values themselves.
      {"RGB at 8 bits", Ihdr(3, 2, 8, 2), {}, {0, 0x12, 0, 0x34, 0, 0x56}, 0xFF123456},
      {"RGB at 16 bits", Ihdr(3, 2, 16, 2), {}, {0x12, 0xFF, 0x34, 0xFF, 0x56, 0xFF}, 0xFF123456},
      {"grey at 4 bits", Ihdr(3, 2, 4, 0), {}, {0, 5}, 0xFF555555},
      {"grey at 16 bits", Ihdr(3, 2, 16, 0), {}, {0xAB, 0xCD}, 0xFFABABAB},
      {"too short", Ihdr(3, 2, 8, 2), {}, {0, 1}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Chunk> chunks = {c.header};
    chunks.insert(chunks.end(), c.before.begin(), c.before.end());
    chunks.push_back({"bKGD", c.background});
    if (c.before.empty() && c.header.data[9] == 3) chunks.push_back(plte);
    chunks.push_back({"IDAT", Zlib(Bytes(64, 0))});
    Decoded d = DecodeBytes(Png(chunks));
    ASSERT_EQ(d.open, pv::kStatusOk);
    EXPECT_EQ(d.decoder->Frame().background, c.expected);
  }
}

// Animation. Frames are 4 x 3 canvases of RGBA pictures of one colour each.

Chunk FrameControl(uint32_t seq, uint32_t w, uint32_t h, uint32_t x, uint32_t y, uint16_t num, uint16_t den,
                   uint8_t dispose, uint8_t blend) {
  Bytes d = Be({seq, w, h, x, y});
  Put(d, Be({num, den}, 2));
  Put(d, {dispose, blend});
  return {"fcTL", d};
}

// RGBA 0x11223344 is stored as R, G, B, A = 11, 22, 33, 44 and read back as 0x44112233.
Bytes Solid(uint32_t w, uint32_t h, uint32_t rgba) {
  Picture p{w, h, 8, 6, {}};
  p.samples.assign(w * h, {uint16_t(rgba >> 24), uint16_t((rgba >> 16) & 255), uint16_t((rgba >> 8) & 255),
                           uint16_t(rgba & 255)});
  return Zlib(Scanlines(p, false));
}

Chunk FrameData(uint32_t seq, const Bytes& data) {
  Bytes d = Be({seq});
  Put(d, data);
  return {"fdAT", d};
}

TEST(PngAnimation, FramesCarryTheirPlaceTimingAndPixels) {
  // Width, height, left, top, delay, disposal, blend, and the 0xAARRGGBB of every pixel.
  struct FrameExpect { uint32_t width, height, left, top, delay, disposal, blend, pixel; };
  struct Case { const char* name; std::vector<Chunk> chunks; std::vector<FrameExpect> frames; uint8_t loop; };
  const Chunk ihdr = Ihdr(4, 3, 8, 6);
  const Case cases[] = {
      {"default image is the first frame",
       {ihdr, {"acTL", Be({3, 0})}, FrameControl(0, 4, 3, 0, 0, 1, 0, 0, 0), {"IDAT", Solid(4, 3, 0x112233FF)},
        FrameControl(1, 2, 2, 1, 1, 0, 0, 1, 1), FrameData(2, Solid(2, 2, 0x44556680)),
        FrameControl(3, 1, 3, 3, 0, 1, 3, 2, 0), FrameData(4, Solid(1, 3, 0x77889900)), {"IEND", {}}},
       {{4, 3, 0, 0, 10, 0, 0, 0xFF112233},  // 1/0 s: a denominator of 0 means 1/100
        {2, 2, 1, 1, 17, 1, 1, 0x80445566},  // 0/0 s: as fast as possible
        {1, 3, 3, 0, 333, 2, 0, 0x00778899}},
       1},
      {"default image outside the animation",
       {ihdr, {"acTL", Be({2, 1})}, {"IDAT", Solid(4, 3, 0x010203FF)}, FrameControl(0, 3, 2, 1, 1, 5, 10, 0, 1),
        FrameData(1, Solid(3, 2, 0x0A0B0CFF)), FrameControl(2, 4, 3, 0, 0, 1, 1, 0, 0),
        FrameData(3, Solid(4, 3, 0x0D0E0FFF)), {"IEND", {}}},
       {{3, 2, 1, 1, 500, 0, 1, 0xFF0A0B0C}, {4, 3, 0, 0, 1000, 0, 0, 0xFF0D0E0F}},
       0},
      // A frame whose data is missing is transparent; the others stay.
      {"frame without data",
       {ihdr, {"acTL", Be({2, 0})}, FrameControl(0, 4, 3, 0, 0, 1, 1, 0, 0), {"IDAT", Solid(4, 3, 0x112233FF)},
        FrameControl(1, 2, 2, 0, 0, 1, 1, 0, 0), {"IEND", {}}},
       {{4, 3, 0, 0, 1000, 0, 0, 0xFF112233}, {2, 2, 0, 0, 1000, 0, 0, 0}},
       1},
      {"frame controls without animation control",
       {ihdr, FrameControl(0, 4, 3, 0, 0, 1, 1, 0, 0), {"IDAT", Solid(4, 3, 0x112233FF)},
        FrameControl(1, 4, 3, 0, 0, 1, 1, 0, 0), FrameData(2, Solid(4, 3, 0x445566FF))},
       {{4, 3, 0, 0, 0, 0, 0, 0xFF112233}},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = DecodeBytes(Png(c.chunks));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    const std::vector<pv::ImageBuffer*> frames = d.Frames();
    ASSERT_EQ(frames.size(), c.frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE(i);
      const FrameExpect& e = c.frames[i];
      const pv::FrameInfo& f = frames[i]->Frame();
      using Fields = std::array<uint32_t, 9>;
      EXPECT_EQ((Fields{frames[i]->Width(), frames[i]->Height(), f.left, f.top, f.delay, f.disposal, f.blend, f.loop,
                        f.canvasWidth}),
                (Fields{e.width, e.height, e.left, e.top, e.delay, e.disposal, e.blend, c.loop,
                        c.frames.size() > 1 ? 4u : 0u}));
      for (uint32_t y = 0; y < e.height; ++y)
        for (uint32_t x = 0; x < e.width; ++x) ASSERT_EQ(pv::LoadU32LE(frames[i]->Row(y) + 4 * x), e.pixel);
    }
  }
}

TEST(PngAnimation, FaultyFramesEndTheAnimation) {
  // The frames kept when the second fcTL is this one.
  auto withSecond = [](const Chunk& second) {
    return Png({Ihdr(4, 3, 8, 6), {"acTL", Be({3, 0})}, FrameControl(0, 4, 3, 0, 0, 1, 1, 0, 0),
                {"IDAT", Solid(4, 3, 0x112233FF)}, second, FrameData(2, Solid(2, 2, 0x44556680)),
                FrameControl(3, 4, 3, 0, 0, 1, 1, 0, 0), FrameData(4, Solid(4, 3, 0x44556680)), {"IEND", {}}});
  };
  pvtest::CheckPixelCases(pv::CreatePngDecoder, L"png", {
      {"inside the canvas", withSecond(FrameControl(1, 2, 2, 2, 1, 1, 1, 0, 0)), pv::kStatusOk, 4, {}, -1, 3},
      {"past the right edge", withSecond(FrameControl(1, 2, 2, 3, 1, 1, 1, 0, 0)), pv::kStatusOk, 4},
      {"past the bottom", withSecond(FrameControl(1, 2, 3, 0, 1, 1, 1, 0, 0)), pv::kStatusOk, 4},
      {"offset far out", withSecond(FrameControl(1, 2, 2, 0xFFFFFFF0, 0, 1, 1, 0, 0)), pv::kStatusOk, 4},
      {"zero width", withSecond(FrameControl(1, 0, 2, 0, 0, 1, 1, 0, 0)), pv::kStatusOk, 4},
      {"short", withSecond({"fcTL", Bytes(20, 0)}), pv::kStatusOk, 4},
  });
}

// The vector filters against their scalar twins (the layout twins are in the
// row helpers' harness).
TEST(PngRows, VectorFiltersMatchScalar) {
  if (!__builtin_cpu_supports("ssse3")) GTEST_SKIP() << "no SSSE3 on this machine";
  std::mt19937 rng(11);
  for (uint32_t bpp = 1; bpp <= 8; ++bpp) {
    for (uint8_t filter = 0; filter <= 5; ++filter) {
      // Rows hold whole pixels.
      for (size_t bytes : {size_t{16} / bpp * bpp, size_t{48} / bpp * bpp, size_t{120}, size_t{999} / bpp * bpp}) {
        SCOPED_TRACE("bpp " + std::to_string(bpp) + " filter " + std::to_string(filter) + " bytes " +
                     std::to_string(bytes));
        Bytes row(bytes + 16), above(bytes + 16);
        for (auto& b : row) b = static_cast<uint8_t>(rng());
        for (auto& b : above) b = static_cast<uint8_t>(rng());
        Bytes a = row, b = row;
        pv::png::scalar::Unfilter(filter, a.data(), above.data(), bytes, bpp);
        pv::png::ssse3::Unfilter(filter, b.data(), above.data(), bytes, bpp);
        ASSERT_TRUE(a == b);
      }
    }
  }
}

TEST(PngCorpus, OutcomesAndReferences) { pvtest::CheckCorpusPixels("png", {}, 100); }

}  // namespace
