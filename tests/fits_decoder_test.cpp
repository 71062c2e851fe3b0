#include "codecs/fits/fits_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/pixel_convert.h"
#include "tests/test_support.h"

namespace {

// Cards padded to 80 columns, END (unless `end` is false), the header padded to 2880 bytes, then the data.
std::vector<uint8_t> Fits(const std::vector<std::string>& cards, const std::vector<uint8_t>& data, bool end = true) {
  std::string text;
  for (const std::string& c : cards) text += c + std::string(80 - c.size(), ' ');
  if (end) text += "END" + std::string(77, ' ');
  text.resize((text.size() + 2879) / 2880 * 2880, ' ');
  std::vector<uint8_t> f(text.begin(), text.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

std::vector<std::string> Image(int bitpix, int width, int height, std::vector<std::string> more = {}) {
  std::vector<std::string> cards = {"SIMPLE  =                    T", "BITPIX  = " + std::to_string(bitpix),
                                    "NAXIS   = 2", "NAXIS1  = " + std::to_string(width),
                                    "NAXIS2  = " + std::to_string(height)};
  cards.insert(cards.end(), more.begin(), more.end());
  return cards;
}

// Two samples in the file's first (bottom) row, read back from the bottom row of the buffer.
TEST(FitsDecoder, DepthsAndScaling) {
  struct Case {
    const char* name;
    int bitpix;
    std::vector<std::string> more;
    std::vector<uint8_t> samples;
    double expected[2];
  };
  const Case cases[] = {
      {"8 bits", 8, {}, {7, 250}, {7, 250}},
      {"16 bits signed to unsigned", 16, {}, {0x80, 0x00, 0x7F, 0xFF}, {0, 65535}},
      // Unsigned data keeps the same samples: the offset is the one BZERO = 32768 states.
      {"16 bits BZERO", 16, {"BZERO   = 32768", "BSCALE  = 1"}, {0x00, 0x05, 0xFF, 0xFF}, {32773, 32767}},
      {"32 bits keep the upper half", 32, {}, {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}, {0, 65535}},
      {"float", -32, {}, {0x3E, 0x80, 0, 0, 0, 0, 0, 0}, {pv::SrgbEncode(0.25f), 0}},
      {"double",
       -64,
       {},
       {0x3F, 0xD0, 0, 0, 0, 0, 0, 0, 0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       {pv::SrgbEncode(0.25f), pv::SrgbEncode(FLT_MAX)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data = c.samples;
    data.resize(data.size() * 2, 0);  // a second row above
    pvtest::DecodedBytes d =
        pvtest::DecodeWith(pv::CreateFitsDecoder, L"fits", Fits(Image(c.bitpix, 2, 2, c.more), data));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    const uint8_t* row = d.buffer->Row(1);
    for (int x = 0; x < 2; ++x) {
      double v = c.bitpix == 8  ? row[x]
                 : c.bitpix > 0 ? reinterpret_cast<const uint16_t*>(row)[x]
                                : reinterpret_cast<const float*>(row)[x];
      EXPECT_EQ(v, c.expected[x]) << x;
    }
  }
}

TEST(FitsDecoder, TextProperties) {
  pvtest::DecodedBytes d =
      pvtest::DecodeWith(pv::CreateFitsDecoder, L"fits",
                         Fits(Image(8, 1, 1,
                                    {"OBJECT  = 'M13 cluster' / the target", "COMMENT   first words  ",
                                     "COMMENT second", "ORIGIN  = 'Kitt Peak'", "OBSERVER= 'someone else'",
                                     "AUTHOR  = 'A. Writer'", "DATE    = '2024-05-06'"}),
                              {1}));
  ASSERT_EQ(d.open, pv::kStatusOk);
  const std::pair<pv::PropertyId, const wchar_t*> expected[] = {{pv::kPropTitle, L"M13 cluster"},
                                                                {pv::kPropComment, L" first words"},
                                                                {pv::kPropSource, L"Kitt Peak"},
                                                                {pv::kPropAuthor, L"A. Writer"},
                                                                {pv::kPropCreationDate, L"2024-05-06"}};
  for (auto [id, text] : expected) EXPECT_STREQ(d.decoder->GetText(id), text) << id;
}

TEST(FitsDecoder, DamagedInput) {
  const std::pair<std::vector<uint8_t>, pv::Status> opens[] = {
      {Fits({"SIMPLE  =                    F", "BITPIX  = 8", "NAXIS   = 2"}, {}), pv::kStatusUnsupported},
      {Fits({"SIMPLER =                    T"}, {}), pv::kStatusUnknownFormat},
      {Fits(Image(64, 1, 1), {}), pv::kStatusUnsupported},
      {Fits(Image(8, 0, 1), {}), pv::kStatusUnsupported},
      {Fits({"SIMPLE  =                    T", "BITPIX  = 8", "NAXIS   = 1", "NAXIS1  = 4"}, {}),
       pv::kStatusUnsupported},
      {Fits({"SIMPLE  =                    T", "NAXIS   = 2", "NAXIS1  = 4", "NAXIS2  = 4"}, {}), pv::kStatusDamaged},
      {Fits(Image(8, 99999999, 99999999), {}), pv::kStatusUnsupported},
      // Without an END card the data has no start.
      {Fits(Image(8, 1, 1), {}, false), pv::kStatusDamaged},
  };
  for (const auto& [file, status] : opens)
    EXPECT_EQ(pvtest::DecodeWith(pv::CreateFitsDecoder, L"fits", file).open, status);
  // Data cut short: the rows that are there decode (at the bottom), the rest is black.
  pvtest::DecodedBytes d =
      pvtest::DecodeWith(pv::CreateFitsDecoder, L"fits", Fits(Image(16, 2, 3), {0x7F, 0xFF, 0x7F}));
  ASSERT_EQ(d.decode, pv::kStatusOk);
  const uint16_t* bottom = reinterpret_cast<const uint16_t*>(d.buffer->Row(2));
  EXPECT_EQ(bottom[0], 65535);
  EXPECT_EQ(bottom[1], 0);
  EXPECT_EQ(reinterpret_cast<const uint16_t*>(d.buffer->Row(0))[0], 0);
}

TEST(FitsDecoder, Corpus) {
  const std::string dir = pvtest::CorpusDir("fits");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/fits: every FITS corpus case skipped";
  // No reference decodes: outcomes only.
  EXPECT_EQ(pvtest::CheckCorpus(dir, {}), 0u);
}

}  // namespace
