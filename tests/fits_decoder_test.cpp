#include <gtest/gtest.h>

#include <cfloat>

#include "codecs/fits/fits_decoder.h"
#include "core/pixel_convert.h"
#include "tests/test_support.h"

namespace {

using Cards = std::vector<std::string>;

// Cards padded to 80 columns, END (unless `end` is false), the header padded to 2880 bytes, then the data.
std::vector<uint8_t> Fits(const Cards& cards, const std::vector<uint8_t>& data, bool end = true) {
  std::string text;
  for (const std::string& c : cards) text += c + std::string(80 - c.size(), ' ');
  text += end ? "END" : "";
  text.resize((text.size() + 2879) / 2880 * 2880, ' ');
  std::vector<uint8_t> f(text.begin(), text.end());
  return f.insert(f.end(), data.begin(), data.end()), f;
}

Cards Image(int bitpix, int width, int height, Cards more = {}) {
  Cards c = {"SIMPLE  =                    T", "BITPIX  = " + std::to_string(bitpix), "NAXIS   = 2",
             "NAXIS1  = " + std::to_string(width), "NAXIS2  = " + std::to_string(height)};
  return c.insert(c.end(), more.begin(), more.end()), c;
}

pvtest::DecodedBytes Decode(const std::vector<uint8_t>& f) {
  return pvtest::DecodeWith(pv::CreateFitsDecoder, L"fits", f);
}

// The file's first row of a 2 x 2 image lands at the bottom.
TEST(FitsDecoder, DepthsAndScaling) {
  struct Case { int bitpix; Cards more; std::vector<uint8_t> firstRow; double expected[2]; };
  const Case cases[] = {
      {8, {}, {7, 250}, {7, 250}},
      {16, {}, {0x80, 0x00, 0x7F, 0xFF}, {0, 65535}},  // signed becomes unsigned
      // Unsigned data stored with BZERO = 32768 comes back as it was.
      {16, {"BZERO   = 32768", "BSCALE  = 1"}, {0x00, 0x05, 0xFF, 0xFF}, {32773, 32767}},
      {32, {}, {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}, {0, 65535}},  // the upper half
      {-32, {}, {0x3E, 0x80, 0, 0, 0, 0, 0, 0}, {pv::SrgbEncode(0.25f), 0}},
      {-64, {}, {0x3F, 0xD0, 0, 0, 0, 0, 0, 0, 0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {pv::SrgbEncode(0.25f), pv::SrgbEncode(FLT_MAX)}}};
  for (const Case& c : cases) {
    std::vector<uint8_t> data = c.firstRow;
    data.resize(data.size() * 2, 0);
    pvtest::DecodedBytes d = Decode(Fits(Image(c.bitpix, 2, 2, c.more), data));
    ASSERT_EQ(d.decode, pv::kStatusOk) << c.bitpix;
    for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(pvtest::SampleAt(*d.buffer, 1, x), c.expected[x]) << c.bitpix << " " << x;
  }
}

// Strings between quotes, comments from column 10; of two comments or two sources the first stays.
TEST(FitsDecoder, TextProperties) {
  const Cards cards = {"OBJECT  = 'M13' / the target", "COMMENT   first  ", "COMMENT second", "ORIGIN  = 'Kitt Peak'",
                       "OBSERVER= 'B'"};
  pvtest::DecodedBytes d = Decode(Fits(Image(8, 1, 1, cards), {1}));
  EXPECT_STREQ(d.decoder->GetText(pv::kPropTitle), L"M13");
  EXPECT_STREQ(d.decoder->GetText(pv::kPropComment), L" first");
  EXPECT_STREQ(d.decoder->GetText(pv::kPropSource), L"Kitt Peak");
}

TEST(FitsDecoder, DamagedInput) {
  pvtest::CheckPixelCases(pv::CreateFitsDecoder, L"fits", {
      {"not simple", Fits({"SIMPLE  =                    F"}, {}), pv::kStatusUnsupported},
      {"not FITS", Fits({"SIMPLER =                    T"}, {}), pv::kStatusUnknownFormat},
      {"64-bit integers", Fits(Image(64, 1, 1), {}), pv::kStatusUnsupported},
      {"zero width", Fits(Image(8, 0, 1), {}), pv::kStatusUnsupported},
      {"huge", Fits(Image(8, 99999999, 99999999), {}), pv::kStatusUnsupported},
      {"BITPIX 0", Fits(Image(0, 1, 1), {}), pv::kStatusDamaged},
      {"without END the data has no start", Fits(Image(8, 1, 1), {}, false), pv::kStatusDamaged},
  });
  // Data cut inside its second sample: the first decodes at the bottom, the rest is black.
  pvtest::DecodedBytes d = Decode(Fits(Image(16, 2, 3), {0x7F, 0xFF, 0x7F}));
  const std::vector<double> got = {pvtest::SampleAt(*d.buffer, 2, 0), pvtest::SampleAt(*d.buffer, 2, 1),
                                   pvtest::SampleAt(*d.buffer, 0, 0)};
  EXPECT_EQ(got, (std::vector<double>{65535, 0, 0}));
}

TEST(FitsDecoder, Corpus) { pvtest::CheckCorpusPixels("fits", {}, 0); }  // outcomes only: no reference decodes

}  // namespace
