#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "codecs/tiff/ccitt_fax.h"
#include "codecs/tiff/tiff_decoder.h"
#include "codecs/tiff/tiff_lzw.h"
#include "codecs/tiff/tiff_strips.h"
#include "core/decoder.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using pv::Status;

// Each page's strip, then its directory; StripOffsets and StripByteCounts
// are added for the strip unless the page gives its own.
using Tag = pvtest::TiffTag;
struct Page {
  std::vector<Tag> tags;
  Bytes strip;
};

Bytes Tiff(const std::vector<Page>& pages) {
  pvtest::TiffBuilder b;
  for (const Page& page : pages) {
    std::vector<Tag> tags = page.tags;
    const uint32_t strip = b.Append(page.strip);
    if (std::none_of(tags.begin(), tags.end(), [](const Tag& t) { return t.tag == 273; }))
      tags.insert(tags.end(), {{273, 4, {strip}}, {279, 4, {static_cast<uint32_t>(page.strip.size())}}});
    b.Directory(tags);
  }
  return b.bytes;
}

// A grey page of width x height, 8 bits unless told, uncompressed.
Page Grey(uint32_t width, uint32_t height, uint32_t bits = 8) {
  Page p;
  p.tags = {{256, 4, {width}}, {257, 4, {height}}, {258, 3, {bits}}, {262, 3, {1}}};
  p.strip.resize((width * bits + 7) / 8 * height);
  for (size_t i = 0; i < p.strip.size(); ++i) p.strip[i] = static_cast<uint8_t>(i * 7 + 3);
  return p;
}

pvtest::DecodedBytes Decode(const Bytes& file) { return pvtest::DecodeWith(pv::CreateTiffDecoder, L"tif", file); }

std::wstring Property(const pvtest::DecodedBytes& d, uint32_t id) {
  return d.decoder->Has(id) ? d.decoder->GetText(id) : L"";
}

// TIFF's LZW from a textbook encoder. The decoder adds its entries one
// code later, so its width grows at 511, 1023 and 2047 free codes where
// the encoder's grows at 512, 1024 and 2048. Without clears the table
// fills and stays full.
Bytes LzwEncode(const Bytes& in, bool clears = true) {
  Bytes out;
  uint64_t bits = 0;
  uint32_t count = 0, width = 9, next = 258;
  auto emit = [&](uint32_t code) {
    bits = bits << width | code, count += width;
    for (; count >= 8; count -= 8) out.push_back(static_cast<uint8_t>(bits >> (count - 8)));
  };
  std::map<std::string, uint32_t> table;
  auto code = [&](const std::string& s) { return s.size() == 1 ? static_cast<uint8_t>(s[0]) : table.at(s); };
  emit(256);
  std::string w;
  for (uint8_t c : in) {
    const std::string wc = w + static_cast<char>(c);
    if (wc.size() == 1 || table.count(wc)) {
      w = wc;
      continue;
    }
    emit(code(w));
    if (next < 4096) table[wc] = next++;
    width = next >= 2048 ? 12 : next >= 1024 ? 11 : next >= 512 ? 10 : 9;
    if (clears && next == 4093) {
      emit(256);
      table.clear();
      next = 258, width = 9;
    }
    w = std::string(1, static_cast<char>(c));
  }
  emit(code(w));
  emit(257);
  if (count) out.push_back(static_cast<uint8_t>(bits << (8 - count)));
  return out;
}

TEST(TiffCodings, LzwPackBitsAndFloats) {
  // Enough distinct strings that the table passes 511 and 1023 entries; and
  // long runs, whose strings grow past 16 bytes and keep meeting codes not
  // yet in the table.
  Bytes varied(6000), runs(9000);
  for (size_t i = 0; i < varied.size(); ++i) varied[i] = static_cast<uint8_t>((i * i / 7 + i / 3) & 0xFF);
  for (size_t i = 0; i < runs.size(); ++i) runs[i] = static_cast<uint8_t>(i / 700 % 3 ? i / 700 : i % 5);
  for (const auto& [data, clears] : {std::pair{varied, true}, {runs, true}, {varied, false}}) {
    const Bytes lzw = LzwEncode(data, clears);
    // Every output size cuts the last string; every input size ends early.
    // The bytes written are exact, and none outside the buffer.
    for (size_t size = 0; size <= data.size(); size += 1 + size / 64) {
      Bytes out(size);
      EXPECT_EQ(pv::DecodeTiffLzw(pv::ByteReader(lzw.data(), lzw.size()), out.data(), size), size);
      EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << size;
    }
    for (size_t cut = 0; cut < lzw.size(); cut += 1 + cut / 64) {
      Bytes out(data.size());
      const size_t n = pv::DecodeTiffLzw(pv::ByteReader(lzw.data(), cut), out.data(), out.size());
      ASSERT_LE(n, data.size());
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(n), data.begin())) << cut;
    }
  }

  struct PackCase {
    Bytes in, out;
  };
  const PackCase packs[] = {
      {{0x80, 0x01, 0xAA, 0xBB}, {0xAA, 0xBB}},      // 0x80 is a no-op
      {{0xFE, 0x07, 0x80, 0x00, 0x09}, {7, 7, 7, 9}},  // a run of 3
      {{0x05, 0x01, 0x02}, {1, 2}},                    // literals cut by the end of the input
      {{0x81, 0x05}, {5, 5, 5, 5}},                    // a run cut by the end of the output (size 4)
  };
  for (const PackCase& c : packs) {
    Bytes o(4, 0xEE);
    const size_t n = pv::UnpackPackBits(pv::ByteReader(c.in.data(), c.in.size()), o.data(), o.size());
    EXPECT_EQ(Bytes(o.begin(), o.begin() + static_cast<long>(n)), c.out);
  }

  struct FloatCase {
    uint32_t bits, value, expected;
  };
  const FloatCase floats[] = {
      {16, 0x3C00, 0x3F800000}, {16, 0x7C01, 0xFFC00000}, {16, 0xFC00, 0xFF800000},
      {16, 0x0001, 0x33800000}, {16, 0xC000, 0xC0000000}, {24, 0x3F0000, 0x3F800000},
      {24, 0x400000, 0x40000000}, {24, 0xBF8000, 0xBFC00000}, {24, 0x7F0001, 0xFFC00000},
  };
  for (const FloatCase& f : floats) {
    const float v = f.bits == 16 ? pv::HalfToFloat(static_cast<uint16_t>(f.value)) : pv::Float24ToFloat(f.value);
    EXPECT_EQ(std::bit_cast<uint32_t>(v), f.expected) << std::hex << f.value;
  }
}

TEST(TiffPredictor, EverySampleIsTheSumOfItsColumn) {
  // Each sample of a row is the wrapped sum of the differences before it at
  // its place in the pixel, in the file's byte order.
  for (uint32_t samples : {1u, 2u, 3u, 4u, 5u}) {
    for (uint32_t bytes : {1u, 2u, 4u}) {
      for (bool big : {false, true}) {
        const uint32_t width = 37, step = samples * bytes;
        Bytes row(width * step);
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 97 + 13);
        Bytes undone = row;
        pv::UndoPredictor(undone.data(), width, samples, bytes, big);
        for (uint32_t c = 0; c < samples; ++c) {
          uint64_t sum = 0;
          for (uint32_t x = 0; x < width; ++x) {
            uint64_t diff = 0, got = 0;
            for (uint32_t b = 0; b < bytes; ++b) {
              const uint32_t at = x * step + c * bytes + (big ? b : bytes - 1 - b);
              diff = diff << 8 | row[at];
              got = got << 8 | undone[at];
            }
            sum = (sum + diff) & ((uint64_t{1} << (8 * bytes)) - 1);
            ASSERT_EQ(got, sum) << samples << " samples of " << bytes << " bytes, pixel " << x;
          }
        }
      }
    }
  }
}

// Fax rows: runs fitted to the row, the two-dimensional modes against the
// row before. Rows are '0' white and '1' black; the row buffer has exactly
// the row's bytes, so a write past it is an error under the sanitizer.

Bytes Bits(const std::string& bits) {
  Bytes out((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i) out[i / 8] |= static_cast<uint8_t>((bits[i] == '1') << (7 - i % 8));
  return out;
}

TEST(TiffFax, RowsStopAtTheirWidth) {
  struct Case {
    const char* name;
    uint32_t compression, options;
    std::string bits;
    std::vector<std::string> rows;
  };
  // Whole rows of the T.4 and T.6 codings are in the corpus with reference decodes:
  // gen-bilevel-g3-1d.tif, gen-bilevel-g3-2d.tif, gen-bilevel-g4.tif.
  const Case cases[] = {
      {"modified Huffman, byte-aligned rows", 2, 0, "1000" "11" "1100" "000000" "0111" "011" "0111" "11",
       {"0001100000", "0011110011"}},
      {"a white run past the width is cut", 2, 0, "11011" "00110101", {"0000000000"}},
      {"a black run past the width is cut", 2, 0, "0111" "0000001111" "0000110111", {"0011111111"}},
      {"T.6: a run past the width is cut", 4, 0, "001" "11011" "00110101" "0000110111", {"0000000000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fax = pv::FaxDecoder::Create(c.compression, c.options, 10, false);
    ASSERT_TRUE(fax);
    const Bytes data = Bits(c.bits);
    fax->Begin(pv::ByteReader(data.data(), data.size()));
    std::vector<std::string> rows;
    for (;;) {
      Bytes row(2, 0xEE);
      if (!fax->DecodeRow(row.data())) break;
      std::string text;
      for (uint32_t x = 0; x < 10; ++x) text += (row[x / 8] >> (7 - x % 8)) & 1 ? '1' : '0';
      rows.push_back(text);
    }
    EXPECT_EQ(rows, c.rows);
  }
}

// The container: pages, the preview page, resolution texts, text tags,
// colour models and depths.

Page With(Page p, std::vector<Tag> more) {
  p.tags.insert(p.tags.end(), more.begin(), more.end());
  return p;
}

TEST(TiffContainer, PagesPropertiesAndModels) {
  struct Case {
    const char* name;
    std::vector<Page> pages;
    Status open;
    size_t pagesKept;
    pv::ColourModel model;
    std::wstring density, make;
  };
  const Page full = Grey(8, 6), half = Grey(4, 3);
  const Case cases[] = {
      {"a half-size second page is a preview", {full, half}, pv::kStatusOk, 1, pv::ColourModel::L, L"", L""},
      {"a second page of other proportions stays", {full, Grey(7, 2)}, pv::kStatusOk, 2, pv::ColourModel::L, L"", L""},
      {"with a third page all stay", {full, half, Grey(2, 2)}, pv::kStatusOk, 3, pv::ColourModel::L, L"", L""},
      {"centimetres give ppm", {With(full, {{282, 5, {300, 1}}, {296, 3, {3}}})}, pv::kStatusOk, 1,
       pv::ColourModel::L, L"30000 x 30000 ppm", L""},
      {"inches give ppi", {With(full, {{282, 5, {144, 2}}, {283, 5, {96, 1}}})}, pv::kStatusOk, 1,
       pv::ColourModel::L, L"72 x 96 ppi", L""},
      {"the first Make wins", {With(full, {pvtest::TiffAscii(271, "First  "), pvtest::TiffAscii(271, "Second")})},
       pv::kStatusOk, 1, pv::ColourModel::L, L"", L"First"},
      {"1 bit, photometric 0, is K", {With(Grey(8, 2, 1), {{262, 3, {0}}})}, pv::kStatusOk, 1, pv::ColourModel::K,
       L"", L""},
      {"12-bit grey is unsupported", {Grey(4, 2, 12)}, pv::kStatusUnsupported, 0, pv::ColourModel::L, L"", L""},
      {"photometric 7 is unsupported", {With(full, {{262, 3, {7}}})}, pv::kStatusUnsupported, 0,
       pv::ColourModel::L, L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = Decode(Tiff(c.pages));
    ASSERT_EQ(d.open, c.open);
    if (pv::Failed(c.open)) continue;
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.DecoderCount(), c.pagesKept);
    EXPECT_EQ(d.decoder->Model(), c.model);
    EXPECT_EQ(Property(d, pv::kPropDensity), c.density);
    EXPECT_EQ(Property(d, pv::kPropCameraMaker), c.make);
    // Every page holds its own strip, and says which page it is.
    const std::vector<pv::ImageBuffer*> frames = d.Frames();
    ASSERT_EQ(frames.size(), c.pagesKept);
    for (size_t i = 0; i < frames.size() && c.model == pv::ColourModel::L; ++i) {
      const Page& page = c.pages[i];
      for (uint32_t y = 0; y < frames[i]->Height(); ++y) {
        const uint8_t* row = frames[i]->Row(y);
        ASSERT_TRUE(std::equal(row, row + frames[i]->Width(), page.strip.begin() + y * frames[i]->Width()));
      }
      if (c.pagesKept > 1) {
        const std::wstring page = std::to_wstring(i + 1) + L":" + std::to_wstring(c.pagesKept);
        EXPECT_EQ(frames[i]->Properties().GetText(pv::kPropPage), page);
      }
    }
  }
}

// Damaged files: every extent is checked against the file, huge sizes are
// refused before anything is allocated, and pixels a strip does not reach
// are filled, never left as they were.

TEST(TiffDamaged, ExtentsSizesAndShortStrips) {
  // 5 x 4 grey in two strips of two rows: rows 0-1 at 8, rows 2-3 at 18.
  auto twoStrips = [](std::vector<uint32_t> offsets, std::vector<uint32_t> counts) {
    Page p = Grey(5, 4);
    p.tags.push_back({278, 3, {2}});
    p.tags.push_back({273, 4, offsets});
    p.tags.push_back({279, 4, counts});
    return p;
  };
  // PackBits strips whose data end after one row (5 literals).
  Page packed = twoStrips({8, 14}, {6, 6});
  packed.tags.push_back({259, 3, {32773}});
  packed.strip = {4, 1, 2, 3, 4, 5, 4, 6, 7, 8, 9, 10};
  struct Case {
    const char* name;
    Page page;
    Status open;
    uint32_t rowsFromFile;  // rows equal to the strip data; the others must be missing (0)
  };
  const Case cases[] = {
      {"two whole strips", twoStrips({8, 18}, {10, 10}), pv::kStatusOk, 4},
      {"a byte count past the end is cut to the file", twoStrips({8, 18}, {10, 100000}), pv::kStatusOk, 4},
      {"a strip past the end is missing", twoStrips({8, 100000}, {10, 10}), pv::kStatusOk, 2},
      {"offsets array outside the file", With(Grey(5, 4), {{273, 4, {8}, 0x40000000}}), pv::kStatusDamaged, 0},
      {"offsets of another type", With(Grey(5, 4), {{273, 2, {8}}}), pv::kStatusDamaged, 0},
      {"colour map outside the file", With(Grey(5, 4), {{320, 3, {0}, 0x30000000}}), pv::kStatusDamaged, 0},
      {"zero width", With(Grey(5, 4), {{256, 4, {0}}}), pv::kStatusDamaged, 0},
      {"huge width", With(Grey(5, 4), {{256, 4, {1u << 20}}}), pv::kStatusUnsupported, 0},
      {"too many pixels", With(Grey(5, 4), {{256, 4, {1u << 17}}, {257, 4, {1u << 17}}}), pv::kStatusUnsupported, 0},
      {"huge tiles", With(Grey(5, 4), {{322, 4, {1u << 20}}, {323, 4, {1u << 20}}}), pv::kStatusUnsupported, 0},
      {"tiny tiles", With(Grey(5, 4), {{322, 4, {1}}, {323, 4, {1}}}), pv::kStatusUnsupported, 0},
      {"subsampling by 3", With(Grey(5, 4), {{530, 3, {3, 1}}}), pv::kStatusUnsupported, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The later tags of the same number are ignored, so the changed ones go first.
    Page page = c.page;
    std::stable_sort(page.tags.begin(), page.tags.end(), [](const Tag& a, const Tag& b) { return a.count > b.count; });
    pvtest::DecodedBytes d = Decode(Tiff({page}));
    ASSERT_EQ(d.open, c.open);
    if (pv::Failed(c.open)) continue;
    ASSERT_EQ(d.decode, pv::kStatusOk);
    for (uint32_t y = 0; y < 4; ++y) {
      for (uint32_t x = 0; x < 5; ++x)
        EXPECT_EQ(d.buffer->Row(y)[x], y < c.rowsFromFile ? c.page.strip[y * 5 + x] : 0) << x << "," << y;
    }
  }
  pvtest::DecodedBytes d = Decode(Tiff({packed}));
  ASSERT_EQ(d.decode, pv::kStatusOk);
  const uint8_t expected[4][5] = {{1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}, {6, 7, 8, 9, 10}, {0, 0, 0, 0, 0}};
  for (uint32_t y = 0; y < 4; ++y) EXPECT_TRUE(std::equal(expected[y], expected[y] + 5, d.buffer->Row(y))) << y;

  // Every prefix of a file with an LZW strip in front of its directory opens and decodes or fails with a status.
  Page lzw = Grey(6, 5);
  lzw.strip = LzwEncode(lzw.strip);
  lzw.tags.push_back({259, 3, {5}});
  pvtest::CheckEveryPrefix(pv::CreateTiffDecoder, L"tif", Tiff({lzw, Grey(3, 3)}));
}

TEST(TiffCorpus, ManifestOutcomesAndReferencePixels) {
  pvtest::CheckCorpusPixels("tiff", [](const pvtest::CorpusCase& c, const Bytes& ours, const Bytes& want) {
    if (c.file.find("jpeg") != std::string::npos) {
      // Lossy: another decoder's rounding may differ by a level.
      for (size_t i = 0; i < want.size(); ++i) ASSERT_LE(std::abs(ours[i] - want[i]), 1) << "sample " << i;
      return;
    }
    std::vector<uint8_t> expected = want;
    for (size_t i = 0; i < expected.size(); i += 4) {
      for (size_t k = 0; k < 3; ++k) {
        // Rules: fax data are shown black on white whatever the photometric
        // value says; signed samples are moved to the middle of the range.
        if (c.file == "irs-fax4.tiff") expected[i + k] = static_cast<uint8_t>(255 - expected[i + k]);
        if (c.file == "pilgh-8bit.s.tif") expected[i + k] = static_cast<uint8_t>(expected[i + k] + 128);
      }
    }
    pvtest::ExpectSamePixels(ours, expected);
  });
}

}  // namespace
