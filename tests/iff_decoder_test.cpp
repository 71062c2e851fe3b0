#include "codecs/iff/iff_decoder.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Chunk(const char* id, const Bytes& data) {
  Bytes c(id, id + 4);
  for (int shift = 24; shift >= 0; shift -= 8) c.push_back(uint8_t(data.size() >> shift));
  c.insert(c.end(), data.begin(), data.end());
  return c.resize((c.size() + 1) & ~size_t{1}), c;
}

Bytes Form(const char* type, const std::vector<Bytes>& chunks) {
  Bytes body(type, type + 4);
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("FORM", body);
}

Bytes Bmhd(uint8_t width, uint8_t height, uint8_t planes, uint8_t masking = 0, uint8_t packed = 0, uint8_t key = 0) {
  return Chunk("BMHD", {0, width, 0, height, 0, 0, 0, 0, planes, masking, packed, 0, 0, key, 1, 1, 0, 0, 0, 0});
}

// One 16-pixel ILBM row: each plane's two bytes from the pixels' values.
Bytes Planar(const std::vector<uint32_t>& values, uint32_t planes = 2) {
  Bytes row(2 * planes, 0);
  for (uint32_t p = 0; p < planes; ++p)
    for (size_t x = 0; x < values.size(); ++x) row[2 * p + x / 8] |= ((values[x] >> p) & 1) << (7 - x % 8);
  return row;
}

Bytes Map(std::vector<uint32_t> rgb) {
  Bytes m;
  for (uint32_t c : rgb) m.insert(m.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  return Chunk("CMAP", m);
}

Bytes Body(const Bytes& data) { return Chunk("BODY", data); }

pvtest::DecodedBytes Decode(const Bytes& file) { return pvtest::DecodeWith(pv::CreateIffDecoder, L"iff", file); }

const Bytes kCamgHam = Chunk("CAMG", {0, 0, 8, 0}), kCamgEhb = Chunk("CAMG", {0, 0, 0, 0x80});

TEST(IffDecoder, PlanesAndModes) {
  struct Case { const char* name; Bytes file; std::vector<uint32_t> lastRow; uint8_t usesAlpha; };  // 0xAARRGGBB
  std::vector<uint32_t> ehbMap(32, 0), grey(7);
  ehbMap[1] = 0x804020;
  for (uint32_t i = 0; i < 7; ++i) grey[i] = i * 0x010101;
  const Case cases[] = {
      {"extra half-brite", Form("ILBM", {Bmhd(16, 1, 6), kCamgEhb, Map(ehbMap), Body(Planar({1, 33}, 6))}),
       {0xFF804020, 0xFF402010}, 1},
      // The running colour starts as entry 0; red, blue and green are replaced, then entry 5 is taken.
      {"HAM6", Form("ILBM", {Bmhd(16, 1, 6), kCamgHam, Map({0x102030, 0, 0, 0, 0, 0x010203}),
                             Body(Planar({0x2F, 0x1A, 0x31, 0x05}, 6))}),
       {0xFFFF2030, 0xFFFF20AA, 0xFFFF11AA, 0xFF010203}, 1},
      {"HAM8", Form("ILBM", {Bmhd(16, 1, 8), kCamgHam, Map({0}), Body(Planar({0xFF, 0x81}, 8))}),
       {0xFF00FF00, 0xFF04FF00}, 1},
      // Chunky values are cut to the planes there are, so they pick one of the 16 entries.
      {"HAM6 chunky", Form("PBM ", {Bmhd(2, 1, 6), kCamgHam, Map({0, 0, 0, 0, 0, 0x010203}), Body({0xC5, 0})}),
       {0xFF010203, 0xFF000000}, 1},
      {"24 planes, a colour map", Form("ILBM", {Bmhd(16, 1, 24), Map({1, 2}), Body(Planar({0x244281}, 24))}),
       {0xFF814224}, 0},
      // Rows count the mask plane, and chunky rows their padding byte.
      {"mask plane", Form("ILBM", {Bmhd(16, 2, 1, 1), Map({0, 0xFFFFFF}), Body({128, 0, 255, 255, 64, 0, 255, 255})}),
       {0xFF000000, 0xFFFFFFFF}, 1},
      {"chunky odd width", Form("PBM ", {Bmhd(3, 2, 4, 0, 1), Map(grey), Body({7, 1, 2, 3, 0, 4, 5, 6, 0})}),
       {0xFF040404, 0xFF050505, 0xFF060606}, 1},
      {"run past the block", Form("PBM ", {Bmhd(2, 1, 8, 0, 1), Map(grey), Body({0x81, 5, 0x81, 6})}),
       {0xFF050505, 0xFF050505}, 1},
      // Entries past a short colour map are not read: transparent black.
      {"short colour map", Form("ILBM", {Bmhd(16, 1, 2), Chunk("CMAP", {9, 8, 7, 6}), Body(Planar({0, 1}))}),
       {0xFF090807, 0}, 1}};
  for (const Case& c : cases) {
    pvtest::DecodedBytes d = Decode(c.file);
    ASSERT_EQ(d.decode, pv::kStatusOk) << c.name;
    EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha) << c.name;
    for (uint32_t x = 0; x < c.lastRow.size(); ++x)
      EXPECT_EQ(d.Colour(x, d.buffer->Height() - 1), c.lastRow[x]) << c.name << " " << x;
  }
}

TEST(IffDecoder, DamagedInput) {
  const Bytes body = Body({0, 0});
  pvtest::CheckPixelCases(pv::CreateIffDecoder, L"iff", {
      {"no header", Form("ILBM", {Map({1}), body, Chunk("TEXT", Bytes(20, 'a'))}), pv::kStatusDamaged},
      {"no body", Form("ILBM", {Bmhd(2, 1, 1), Map({1})}), pv::kStatusDamaged},
      {"9 planes", Form("ILBM", {Bmhd(2, 1, 9), body}), pv::kStatusUnsupported},
      {"packing 2", Form("ILBM", {Bmhd(2, 1, 1, 0, 2), body}), pv::kStatusUnsupported},
      {"zero width", Form("ILBM", {Bmhd(0, 1, 1), body}), pv::kStatusUnknownFormat},
      {"short header", Form("ILBM", {Chunk("BMHD", Bytes(10, 1)), body, Map({1, 2, 3})}), pv::kStatusDamaged},
      {"ACBM", Form("ACBM", {Bmhd(2, 1, 1), body}), pv::kStatusUnknownFormat},
  });
  // Every prefix of a packed file, with its chunk sizes left as they were.
  const Bytes whole = Form("ILBM", {Bmhd(16, 3, 4, 0, 1), Map({1, 2, 3}), Body(pvtest::RandomBytes(3, 40))});
  pvtest::CheckEveryPrefix(pv::CreateIffDecoder, L"iff", whole, true);
}

TEST(IffDecoder, Corpus) {
  pvtest::CheckCorpusPixels("iff", [](const pvtest::CorpusCase& c, const Bytes& ours, const Bytes& ref) {
    // Rule: a modified channel is the value widened to 8 bits (x 17 in HAM6), where the reference keeps the
    // previous colour's low bits; so gen-ham6.iff and gen-ham8.iff agree with it in the top 4 or 6 bits.
    const int low = c.exercises.rfind("HAM6", 0) == 0 ? 4 : c.exercises.rfind("HAM8", 0) == 0 ? 2 : 0;
    if (!low) return pvtest::ExpectSamePixels(ours, ref);
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i] >> low, ref[i] >> low) << c.file << " sample " << i;
  });
}

}  // namespace
