#include <gtest/gtest.h>

#include <vector>

#include "codecs/pcx/pcx_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Header palette entry i is (10i, 10i + 1, 10i + 2).
constexpr uint32_t H(uint32_t i) { return 0xFF000000u | (10 * i) << 16 | (10 * i + 1) << 8 | (10 * i + 2); }

Bytes Pcx(uint8_t version, uint8_t encoding, uint8_t bits, uint8_t planes, uint16_t w, uint16_t h, uint16_t lineBytes,
          const Bytes& data, const Bytes& tail = {}) {
  Bytes f = {10, version, encoding, bits, 0, 0, 0, 0, uint8_t(w - 1), uint8_t((w - 1) >> 8), uint8_t(h - 1),
             uint8_t((h - 1) >> 8)};
  f.resize(128);
  for (uint8_t i = 0; i < 48; ++i) f[16 + i] = static_cast<uint8_t>(i / 3 * 10 + i % 3);
  f[65] = planes;
  pv::StoreU16LE(&f[66], lineBytes);
  f.insert(f.end(), data.begin(), data.end());
  f.insert(f.end(), tail.begin(), tail.end());
  return f;
}

// The marker 12 and 256 entries (i, 255 - i, 7).
const Bytes kVga = [] {
  Bytes t = {12};
  for (int i = 0; i < 256; ++i) t.insert(t.end(), {uint8_t(i), uint8_t(255 - i), 7});
  return t;
}();

TEST(PcxDecode, PalettesPlanesAndRuns) {
  pvtest::CheckPixelCases(pv::CreatePcxDecoder, L"pcx", {
      // The second row is missing: the palette's bytes are not read as its pixels.
      {"VGA palette after marker 12", Pcx(5, 0, 8, 1, 2, 2, 2, {1, 2}, kVga), pv::kStatusOk, 2,
       {0xFF01FE07, 0xFF02FD07, 0xFF00FF07, 0xFF00FF07}},
      {"version 5 under 769 bytes: header palette", Pcx(5, 0, 8, 1, 2, 1, 2, {1, 2}), pv::kStatusOk, 2, {H(1), H(2)}},
      {"version 3, one 1-bit plane: black and white", Pcx(3, 0, 1, 1, 4, 1, 2, {0xA0, 0xFF}), pv::kStatusOk, 4,
       {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000}},
      {"four 1-bit planes, lines wider than the width", Pcx(5, 0, 1, 4, 3, 1, 2, {0xA0, 9, 0x60, 9, 0, 9, 0x20, 9}),
       pv::kStatusOk, 3, {H(1), H(2), H(11)}},
      {"three planes, lines wider than the width", Pcx(5, 0, 8, 3, 2, 1, 3, {1, 2, 99, 3, 4, 99, 5, 6, 99}),
       pv::kStatusOk, 2, {0xFF010305, 0xFF020406}},
      {"four planes: the fourth is alpha", Pcx(5, 0, 8, 4, 1, 1, 1, {1, 2, 3, 4}), pv::kStatusOk, 1, {0x04010203}},
      {"packed 4 bits", Pcx(5, 0, 4, 1, 3, 1, 2, {0x12, 0x30}), pv::kStatusOk, 3, {H(1), H(2), H(3)}},
      {"run byte 0xC0 writes nothing", Pcx(5, 1, 8, 1, 2, 1, 2, {0xC0, 0x55, 1, 2}), pv::kStatusOk, 2, {H(1), H(2)}},
      {"run across rows", Pcx(5, 1, 8, 1, 2, 2, 2, {0xC3, 1, 2}), pv::kStatusOk, 2, {H(1), H(1), H(1), H(2)}},
      {"one pixel: equal bounds", Pcx(5, 0, 8, 3, 1, 1, 1, {1, 2, 3}), pv::kStatusOk, 1, {0xFF010203}},
  });
}

TEST(PcxDamaged, ExtentsAreCheckedAgainstTheFile) {
  Bytes markerInHeader = Pcx(5, 0, 8, 1, 2, 1, 2, Bytes(760, 1));
  markerInHeader[markerInHeader.size() - 769] = 12;  // the marker's place lies inside the header
  pvtest::CheckPixelCases(pv::CreatePcxDecoder, L"pcx", {
      {"three planes, line shorter than the width", Pcx(5, 0, 8, 3, 4, 1, 2, Bytes(12)), pv::kStatusDamaged},
      {"1-bit plane, line shorter than the width", Pcx(5, 0, 1, 1, 20, 1, 2, Bytes(4)), pv::kStatusDamaged},
      {"one plane of 32 bits", Pcx(5, 0, 32, 1, 1, 1, 4, Bytes(4)), pv::kStatusUnsupported},
      {"65536 x 65536", Pcx(5, 1, 8, 1, 0, 0, 0, {0xC1, 1}), pv::kStatusUnsupported},
      {"VGA marker inside the header", markerInHeader, pv::kStatusOk, 2, {H(1), H(1)}},
      {"runs end early", Pcx(5, 1, 8, 1, 2, 2, 2, {0xC1, 5}), pv::kStatusOk, 2, {H(5), 0, 0, 0}, 1},
  });
}

TEST(PcxCorpus, ManifestOutcomesAndReferencePixels) { pvtest::CheckCorpusPixels("pcx"); }

}  // namespace
