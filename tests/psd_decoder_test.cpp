#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/psd/psd_decoder.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& v, uint64_t x, int n) {
  for (int i = n - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

struct Doc {
  uint16_t version = 1, channels = 3, depth = 8, mode = 3;
  uint32_t width = 2, height = 1;
  Bytes colourData = {}, resources = {}, layers = {};
  uint64_t extraLayerLength = 0;  // claimed beyond the layer bytes given
  uint16_t compression = 0;
  Bytes data = {};  // after the compression word (with PackBits: the row counts first)
};

Bytes Write(const Doc& d) {
  Bytes f = {'8', 'B', 'P', 'S'};
  Put(f, d.version, 2), Put(f, 0, 6), Put(f, d.channels, 2), Put(f, d.height, 4), Put(f, d.width, 4);
  Put(f, d.depth, 2), Put(f, d.mode, 2);
  for (const Bytes* section : {&d.colourData, &d.resources, &d.layers}) {
    const bool layers = section == &d.layers;
    Put(f, section->size() + (layers ? d.extraLayerLength : 0), layers && d.version == 2 ? 8 : 4);
    f.insert(f.end(), section->begin(), section->end());
  }
  Put(f, d.compression, 2);
  f.insert(f.end(), d.data.begin(), d.data.end());
  return f;
}

pvtest::DecodedBytes Decode(const Bytes& file) { return pvtest::DecodeWith(pv::CreatePsdDecoder, L"psd", file); }

TEST(PsdDecode, ModesDepthsAndCodings) {
  // Version 2: an 8-byte layer length and 4-byte row counts; -128 is no run.
  Doc large{.version = 2, .compression = 1};
  for (int c = 0; c < 3; ++c) Put(large.data, 3, 4);
  for (uint8_t v : {0x11, 0x22, 0x33}) large.data.insert(large.data.end(), {0x80, 0xFF, v});
  const Bytes resolution = {'8', 'B', 'I', 'M', 3, 0xED, 0, 0, 0, 0, 0, 16, 0, 72, 0, 0, 0, 1, 0, 1, 0, 150, 0, 0, 0, 1, 0, 1};
  const Doc withResources{.resources = resolution, .layers = {9, 9}, .data = {1, 2, 3, 4, 5, 6}};
  // Two pixels, 0xAARRGGBB (16-bit grey: the sample).
  auto two = [](const char* what, const Doc& doc, uint32_t first, uint32_t second) {
    return pvtest::PixelCase{what, Write(doc), pv::kStatusOk, 2, {first, second}};
  };
  pvtest::CheckPixelCases(pv::CreatePsdDecoder, L"psd", {
      two("RGB with alpha channel decodes opaque", {.channels = 4, .data = {1, 2, 3, 4, 5, 6, 0, 0}}, 0xFF010305, 0xFF020406),
      two("CMYK all 255 in the file is white", {.channels = 4, .mode = 4, .data = Bytes(8, 255)}, 0xFFFFFFFF, 0xFFFFFFFF),
      two("Lab: L full, a and b neutral", {.mode = 9, .data = {255, 0, 128, 128, 128, 128}}, 0xFFFEFFFF, 0xFF000000),
      two("indexed: planar palette", {.channels = 1, .mode = 2, .colourData = {10, 20, 30, 40, 50, 60}, .data = {1, 0}},
          0xFF14283C, 0xFF0A1E32),
      two("bitmap: a set bit is black", {.channels = 1, .depth = 1, .mode = 0, .data = {0x80}}, 0xFF000000, 0xFFFFFFFF),
      two("16-bit grey swapped", {.channels = 1, .depth = 16, .mode = 1, .data = {0x12, 0x34, 0xFE, 0xDC}}, 0x1234, 0xFEDC),
      two("version 2 with PackBits", large, 0xFF112233, 0xFF112233),
      two("layers and resources skipped", withResources, 0xFF010305, 0xFF020406),
  });
  EXPECT_STREQ(Decode(Write(withResources)).decoder->GetText(pv::kPropDensity), L"72 x 150 ppi");
}

TEST(PsdDamaged, ExtentsAreCheckedAgainstTheFile) {
  const Bytes good = Write({.data = {1, 2, 3, 4, 5, 6}});
  auto patched = [&](long at, const Bytes& bytes) {
    Bytes f = good;
    std::copy(bytes.begin(), bytes.end(), f.begin() + at);
    return f;
  };
  const Doc packed{.compression = 1, .data = {0, 3}};
  const Doc floats{.channels = 1, .depth = 32, .mode = 1, .width = 1, .compression = 1, .data = {0, 3, 3, 0, 0, 0, 0}};
  const Doc v2huge{.version = 2, .extraLayerLength = uint64_t{1} << 40, .data = {1, 2, 3, 4, 5, 6}};
  pvtest::CheckPixelCases(pv::CreatePsdDecoder, L"psd", {
      {"colour data past the end", patched(26, {0, 0x10, 0, 0}), pv::kStatusDamaged},
      {"resources past the end", patched(30, {0xFF, 0xFF, 0xFF, 0xF0}), pv::kStatusDamaged},
      {"layer section past the end", patched(34, {0, 0, 1, 0}), pv::kStatusDamaged},
      {"8-byte layer length past the end", Write(v2huge), pv::kStatusDamaged},
      {"row counts cut", Write(packed), pv::kStatusDamaged},
      {"header cut", Bytes(good.begin(), good.begin() + 28), pv::kStatusUnknownFormat},
      {"huge extents", patched(14, {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}), pv::kStatusUnsupported},
      {"depth 7", patched(22, {0, 7}), pv::kStatusUnsupported},
      {"CMYK with 3 channels", patched(24, {0, 4}), pv::kStatusUnsupported},
      {"compression 2", patched(38, {0, 2}), pv::kStatusUnsupported},
      {"pixel data cut: what is there decodes", Bytes(good.begin(), good.end() - 3), pv::kStatusOk},
      {.name = "32-bit PackBits", .file = Write(floats), .open = pv::kStatusOk,
       .decode = static_cast<pv::Status>(0x80028019)},
  });
  // Every prefix: refused up to the compression word, decoded as far as it goes after it.
  for (size_t n = 0; n < good.size(); ++n) {
    const pvtest::DecodedBytes d = Decode(Bytes(good.begin(), good.begin() + static_cast<long>(n)));
    EXPECT_EQ(pv::Succeeded(d.open) && pv::Succeeded(d.decode), n >= 40) << n;
  }
}

TEST(PsdCorpus, OutcomesAndReferences) { pvtest::CheckCorpusPixels("psd", {}, 4); }

}  // namespace
