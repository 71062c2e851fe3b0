#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "core/format_registry.h"
#include "tests/jpeg_test_encoder.h"
#include "tests/test_support.h"

namespace {

using jpegtest::Picture;
using Bytes = std::vector<uint8_t>;
using pv::Status;

// A file split into its segments before the first SOS, and the rest.
struct Parsed {
  std::vector<std::pair<uint8_t, Bytes>> segments;  // marker, payload
  Bytes rest;                                       // from the first SOS marker on

  static Parsed From(const Bytes& file) {
    Parsed p;
    size_t i = 2;
    while (i + 4 <= file.size() && file[i + 1] != 0xDA) {
      const size_t n = size_t{file[i + 2]} << 8 | file[i + 3];
      p.segments.push_back({file[i + 1], Bytes(file.begin() + long(i + 4), file.begin() + long(i + 2 + n))});
      i += 2 + n;
    }
    p.rest.assign(file.begin() + long(i), file.end());
    return p;
  }
  Bytes File() const {
    Bytes out = {0xFF, 0xD8};
    for (const auto& s : segments) jpegtest::detail::Segment(out, s.first, s.second);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
  }
  Bytes& Payload(uint8_t marker) {
    for (auto& s : segments) if (s.first == marker) return s.second;
    static Bytes none;
    ADD_FAILURE() << "no segment " << std::hex << int(marker);
    return none;
  }
};

pvtest::DecodedBytes Decode(const Bytes& file, const pv::CancelFlag* cancel = nullptr) {
  pv::ReadProcessorFeatures();
  return pvtest::DecodeWith(pv::CreateJpegDecoder, L"jpg", file, cancel);
}

Bytes BaselineFile(uint32_t width = 48, uint32_t height = 32) { return jpegtest::Encode(Picture(width, height), {}); }

TEST(JpegProbe, SoiAtTheStartOr692BytesIn) {
  const Bytes jpeg = BaselineFile();
  Bytes late(692, 0x20);
  late.insert(late.end(), jpeg.begin(), jpeg.end());
  Bytes short693(693, 0x20);
  short693[692] = 0xFF;
  for (const auto& [bytes, expected] : {std::pair{jpeg, pv::kStatusOk}, {late, pv::kStatusOk},
                                        {short693, pv::kStatusUnknownFormat}}) {
    pv::MemorySource source(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(pv::ProbeJpeg(source), expected) << bytes.size();
  }
  const pvtest::DecodedBytes d = Decode(late);
  ASSERT_EQ(d.decode, pv::kStatusOk);
  EXPECT_EQ(d.buffer->Width(), 48u);
}

TEST(JpegProperties, DensityCommentAndCompression) {
  auto app0 = [](uint8_t units, uint16_t x, uint16_t y) {
    return Bytes{0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, units, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8),
                 uint8_t(y), 0, 0};
  };
  auto com = [](const std::string& text) {
    Bytes s;
    jpegtest::detail::Segment(s, 0xFE, Bytes(text.begin(), text.end()));
    return s;
  };
  struct Case { const char* name; std::vector<Bytes> segments; const wchar_t *density, *comment; };  // null: none
  const Case cases[] = {
      {"ppm", {app0(2, 28, 28)}, L"2800 x 2800 ppm", nullptr}, {"ppi", {app0(1, 72, 96)}, L"72 x 96 ppi", nullptr},
      {"no units", {app0(0, 1, 1)}, nullptr, nullptr},
      {"comment trimmed", {com("A rose   ")}, nullptr, L"A rose"},
      {"first comment wins", {com("one"), com("two")}, nullptr, L"one"},
      {"xml comment ignored", {com("<?xpacket begin")}, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const pvtest::DecodedBytes d = Decode(jpegtest::Encode(Picture(16, 16), {.segments = c.segments}));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_STREQ(d.decoder->GetText(pv::kPropCompression), L"HuffDCT");
    EXPECT_STREQ(d.decoder->Has(pv::kPropDensity) ? d.decoder->GetText(pv::kPropDensity) : nullptr, c.density);
    EXPECT_STREQ(d.decoder->Has(pv::kPropComment) ? d.decoder->GetText(pv::kPropComment) : nullptr, c.comment);
  }
}

// Faults in the markers, tables and headers. Everything before the first
// scan is read once, when the file is opened: a fault there fails Open, and
// a file that opens fails in Decode only for damage in its scans.

void SetSos(Parsed& p, size_t at, uint8_t value) { p.rest[4 + at] = value; }
// The encoder writes DQT, SOF0, DHT: the frame header is segment 1.
Bytes& Frame(Parsed& p) { return p.Payload(0xC0); }

TEST(JpegFault, GivesItsStatusAtOneStep) {
  struct Case { const char* name; void (*damage)(Parsed& p); bool atOpen; Status expected; };
  const Case cases[] = {
      {"intact", [](Parsed&) {}, false, pv::kStatusOk},
      {"quant table 4", [](Parsed& p) { p.Payload(0xDB)[0] = 0x04; }, true, pv::kStatusDamaged},
      {"quant table cut", [](Parsed& p) { p.Payload(0xDB).resize(40); }, true, pv::kStatusDamaged},
      {"huffman table 4", [](Parsed& p) { p.Payload(0xC4)[0] = 0x04; }, true, pv::kStatusDamaged},
      {"huffman counts over 256", [](Parsed& p) { p.Payload(0xC4)[16] = 250; }, true, pv::kStatusDamaged},
      {"huffman codes overfull", [](Parsed& p) { p.Payload(0xC4)[1] = 3; }, true, pv::kStatusDamaged},
      {"huffman values cut", [](Parsed& p) { p.Payload(0xC4).resize(200); }, true, pv::kStatusDamaged},
      {"restart length 5", [](Parsed& p) { p.segments.insert(p.segments.begin(), {0xDD, {0, 1, 0}}); }, true,
       pv::kStatusDamaged},
      {"reserved marker", [](Parsed& p) { p.segments.insert(p.segments.begin() + 1, {0xF0, {1, 2}}); }, true,
       pv::kStatusDamaged},
      {"second frame header", [](Parsed& p) { p.segments.push_back(p.segments[1]); }, true, pv::kStatusDamaged},
      {"lossless", [](Parsed& p) { p.segments[1].first = 0xC3; }, true, pv::kStatusUnsupported},
      {"differential", [](Parsed& p) { p.segments[1].first = 0xC5; }, true, pv::kStatusUnsupported},
      {"arithmetic lossless", [](Parsed& p) { p.segments[1].first = 0xCB; }, true, pv::kStatusUnsupported},
      {"12-bit samples", [](Parsed& p) { Frame(p)[0] = 12; }, true, pv::kStatusDamaged},
      {"zero height", [](Parsed& p) { Frame(p)[1] = Frame(p)[2] = 0; }, true, pv::kStatusDamaged},
      {"zero width", [](Parsed& p) { Frame(p)[3] = Frame(p)[4] = 0; }, true, pv::kStatusDamaged},
      {"sampling 0", [](Parsed& p) { Frame(p)[7] = 0x02; }, true, pv::kStatusDamaged},
      {"sampling 5", [](Parsed& p) { Frame(p)[7] = 0x52; }, true, pv::kStatusDamaged},
      // The engine decodes such a frame for TIFF; a JPEG file has 1, 3 or 4 components.
      {"two components", [](Parsed& p) { Frame(p)[5] = 2, Frame(p).resize(12); }, true, pv::kStatusUnsupported},
      {"frame quant table 4", [](Parsed& p) { Frame(p)[8] = 4; }, true, pv::kStatusDamaged},
      {"frame length wrong", [](Parsed& p) { Frame(p).push_back(0); }, true, pv::kStatusDamaged},
      {"segment length 1", [](Parsed& p) { p.segments.clear(), p.rest = {0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9, 0, 0}; },
       true, pv::kStatusDamaged},
      {"comment cut by the end of the file", [](Parsed& p) { p.rest = {0xFF, 0xFE, 0x10, 0x00, 'c', 'u', 't'}; }, true,
       pv::kStatusDamaged},
      // A size past the limits is refused before the missing scan is found.
      {"65535 square without a scan",
       [](Parsed& p) { std::fill(Frame(p).begin() + 1, Frame(p).begin() + 5, 0xFF), p.rest = {0xFF, 0xD9}; }, true,
       pv::kStatusUnsupported},
      {"no frame", [](Parsed& p) { p.segments.clear(); }, true, pv::kStatusDamaged},
      {"no scan", [](Parsed& p) { p.rest = {0xFF, 0xD9}; }, true, pv::kStatusDamaged},
      // Damage in the scans themselves.
      {"sampling 3 beside 2", [](Parsed& p) { Frame(p)[7] = 0x31, Frame(p)[10] = 0x21; }, false,
       pv::kStatusUnsupported},
      {"quant table never defined", [](Parsed& p) { Frame(p)[8] = 3; }, false, pv::kStatusDamaged},
      {"scan selects no component", [](Parsed& p) { SetSos(p, 1, 9); }, false, pv::kStatusDamaged},
      {"scan selects one twice", [](Parsed& p) { SetSos(p, 3, 1); }, false, pv::kStatusDamaged},
      {"scan of no component", [](Parsed& p) { SetSos(p, 0, 0); }, false, pv::kStatusDamaged},
      {"scan table 2 undefined", [](Parsed& p) { SetSos(p, 2, 0x22); }, false, pv::kStatusDamaged},
      {"scan table 5", [](Parsed& p) { SetSos(p, 2, 0x05); }, false, pv::kStatusDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parsed::From(BaselineFile());
    c.damage(p);
    const pvtest::DecodedBytes d = Decode(p.File());
    if (c.atOpen) {
      EXPECT_EQ(d.open, c.expected) << std::hex << d.open;
    } else {
      ASSERT_EQ(d.open, pv::kStatusOk) << std::hex << d.open;
      EXPECT_EQ(d.decode, c.expected) << std::hex << d.decode;
    }
  }
}

TEST(JpegProgressiveScan, Validation) {
  const Bytes file = jpegtest::Encode(Picture(32, 32), {.progressive = true});
  // Ss, Se, Ah/Al of an AC scan (AC 1-5 of component 1), or of the first,
  // interleaved DC scan.
  struct Case { uint8_t ss, se, ahal; bool dcScan; Status expected; };
  const Case cases[] = {{1, 5, 0x00, false, pv::kStatusOk},
                        {0, 5, 0x00, false, pv::kStatusDamaged},   // DC scan with AC
                        {6, 5, 0x00, false, pv::kStatusDamaged},   // Ss above Se
                        {1, 64, 0x00, false, pv::kStatusDamaged},  // Se past 63
                        {1, 5, 0x20, false, pv::kStatusDamaged},   // Al not Ah - 1
                        {1, 5, 0x0E, false, pv::kStatusDamaged},   // Al 14
                        {1, 5, 0x0D, false, pv::kStatusOk},        // Al 13
                        {1, 1, 0x00, true, pv::kStatusDamaged},    // AC of 3 components
                        {0, 0, 0x21, true, pv::kStatusOk}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.ss) << "-" << int(c.se) << " " << std::hex << int(c.ahal));
    Bytes bad = file;
    size_t sos = 0;
    for (size_t i = 0, seen = 0; i + 1 < bad.size() && !sos; ++i)
      if (bad[i] == 0xFF && bad[i + 1] == 0xDA && seen++ == (c.dcScan ? 0 : 1)) sos = i;
    ASSERT_NE(sos, 0u);
    const size_t at = sos + 5 + 2 * bad[sos + 4];
    bad[at] = c.ss, bad[at + 1] = c.se, bad[at + 2] = c.ahal;
    const pvtest::DecodedBytes d = Decode(bad);
    ASSERT_EQ(d.open, pv::kStatusOk);
    EXPECT_EQ(d.decode, c.expected) << std::hex << d.decode;
  }
}

// A file cut before its first scan's data fails at Open; cut anywhere after,
// it opens and decodes.
TEST(JpegTruncated, EveryCutFailsAtOpenOrDecodes) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline with restarts");
    const Bytes file =
        jpegtest::Encode(Picture(40, 40), {.restartInterval = uint16_t(progressive ? 0 : 2), .progressive = progressive});
    // SOS marker, length, Ns, three selectors, Ss, Se, Ah/Al.
    const size_t scanData = file.size() - Parsed::From(file).rest.size() + 14;
    for (size_t n = 2; n < file.size(); n += (n < 400 ? 1 : 7)) {
      const pvtest::DecodedBytes d = Decode(Bytes(file.begin(), file.begin() + long(n)));
      if (n < scanData) {
        EXPECT_EQ(d.open, pv::kStatusDamaged) << n;
      } else {
        EXPECT_EQ(d.open, pv::kStatusOk) << n;
        EXPECT_EQ(d.decode, pv::kStatusOk) << n;
      }
    }
  }
}

TEST(JpegTruncated, MissingRowsAreFlat) {
  const Bytes file = BaselineFile(64, 64);
  const pvtest::DecodedBytes d = Decode(Bytes(file.begin(), file.begin() + long(file.size() * 2 / 5)));
  ASSERT_EQ(d.decode, pv::kStatusOk);
  // The last MCU row repeats the last DC levels: one colour throughout.
  const uint8_t* first = d.buffer->Row(48);
  for (uint32_t y = 48; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(std::memcmp(d.buffer->Row(y) + 4 * x, first, 4), 0) << x << "," << y;
  // The rows before the cut hold the picture, not one colour.
  EXPECT_NE(std::memcmp(d.buffer->Row(0), d.buffer->Row(0) + 40, 4), 0);
}

TEST(JpegDamaged, CorruptedArithmeticStreamsNeverCrash) {
  const std::string dir = pvtest::CorpusDir("jpeg");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/jpeg";
  for (const char* name : {"gen-arith.jpg", "gen-arith-progressive.jpg", "gen-arith-444-restart.jpg"}) {
    SCOPED_TRACE(name);
    const Bytes file = pvtest::ReadFileBytes(dir + "/" + name);
    ASSERT_FALSE(file.empty());
    // Bytes of the scans flipped; magnitudes overflow and runs pass the band.
    const size_t scans = file.size() - Parsed::From(file).rest.size();
    for (size_t i = scans + 16; i < file.size(); i += file.size() / 97 + 1) {
      Bytes bad = file;
      bad[i] ^= 0xA5;
      bad[i - 7] = 0xFF;
      const pvtest::DecodedBytes d = Decode(bad);
      ASSERT_EQ(d.open, pv::kStatusOk);
      EXPECT_TRUE(d.decode == pv::kStatusOk || d.decode == pv::kStatusDamaged) << std::hex << d.decode;
    }
  }
}

TEST(JpegPreview, EighthScaleOfA1000x600Picture) {
  // Detailed luma, slowly changing chroma (a preview pixel shares its chroma
  // with three others), and no colour that clamps.
  jpegtest::Planes p = Picture(1000, 600);
  p.Fill([](uint32_t k, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(k == 0 ? 128 + 60 * std::sin(x * 0.09 + y * 0.05) : 128 + 20 * std::sin(x * 0.01 + k));
  });
  const pvtest::DecodedBytes full = Decode(jpegtest::Encode(p, {}));
  ASSERT_EQ(full.decode, pv::kStatusOk);
  ASSERT_TRUE(full.decoder->HasPreview());
  // The padded picture is 76 block rows high; the preview buffer has 75.
  pv::Ref<pv::ImageBuffer> preview(pv::CreateImageBuffer(pv::PixelFormat::Rgba8, {125, 75}, false));
  ASSERT_EQ(full.decoder->Decode(*preview, false, nullptr, nullptr), pv::kStatusOk);
  int worst = 0;
  for (uint32_t y = 0; y < 75; ++y) {
    for (uint32_t x = 0; x < 125; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0, n = 0;
        for (uint32_t yy = y * 8; yy < std::min(600u, y * 8 + 8); ++yy)
          for (uint32_t xx = x * 8; xx < x * 8 + 8; ++xx) sum += full.buffer->Row(yy)[4 * xx + c], ++n;
        worst = std::max(worst, std::abs(preview->Row(y)[4 * x + c] - (sum + n / 2) / n));
      }
    }
  }
  EXPECT_LE(worst, 4);
}

TEST(JpegPreview, ACamerasThumbnailIsTheEmbeddedImage) {
  const Bytes thumbnail = jpegtest::Encode(Picture(32, 20), {});
  const pvtest::DecodedBytes with =
      Decode(jpegtest::Encode(Picture(320, 200), {.segments = {jpegtest::ExifThumbnailSegment(thumbnail)}}));
  ASSERT_EQ(with.decode, pv::kStatusOk);
  pv::Ref<pv::ByteSource> embedded = with.decoder->EmbeddedImage();
  ASSERT_TRUE(embedded);
  EXPECT_EQ(Bytes(embedded->Data(), embedded->Data() + embedded->Size()), thumbnail);
  EXPECT_FALSE(Decode(BaselineFile()).decoder->EmbeddedImage());

  const std::string dir = pvtest::CorpusDir("jpeg");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/jpeg";
  // A camera's file: its thumbnail opens as an image of the picture's shape.
  const pvtest::DecodedBytes camera = Decode(pvtest::ReadFileBytes(dir + "/jdec-ycck.jpg"));
  ASSERT_EQ(camera.decode, pv::kStatusOk);
  embedded = camera.decoder->EmbeddedImage();
  ASSERT_TRUE(embedded);
  pv::RegisterDecoders();
  pv::Ref<pv::ImageDecoder> inner;
  ASSERT_EQ(pv::OpenImageSource(pv::Formats(), *embedded, L"", true, &inner), pv::kStatusOk);
  EXPECT_EQ(std::make_pair(inner->Width(), inner->Height()), std::make_pair(160u, 107u));
}

double Psnr(const Bytes& a, const Bytes& b) {
  double se = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.size(); i += 4)
    for (int c = 0; c < 3; ++c, ++n) se += double(a[i + c] - b[i + c]) * (a[i + c] - b[i + c]);
  return se == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * n / se);
}

TEST(JpegCorpus, ManifestOutcomesAndReferencePixels) {
  const std::string dir = pvtest::CorpusDir("jpeg");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/jpeg: every JPEG corpus case skipped";
  std::string below;
  pvtest::CorpusChecks checks;
  checks.rejected = [](const pvtest::CorpusCase&, Status status) {
    EXPECT_TRUE(status == pv::kStatusDamaged || status == pv::kStatusUnsupported) << std::hex << status;
  };
  checks.compare = [&below](const pvtest::CorpusCase& c, const Bytes& ours, const Bytes& ref) {
    const double psnr = Psnr(ref, ours);
    // The chroma upsampling stays inside each MCU, where the reference's
    // reaches across; that and the integer transforms cost a little.
    if (psnr < 38.0) below += c.file + " (" + std::to_string(psnr) + " dB) ";
  };
  const size_t compared = pvtest::CheckCorpus(dir, checks);
  EXPECT_TRUE(below.empty()) << "below 38 dB against libjpeg-turbo: " << below;
  EXPECT_GT(compared, 0u);
}

TEST(JpegCorpus, StreamsWithoutHuffmanTablesUseTheTypicalOnes) {
  const std::string dir = pvtest::CorpusDir("jpeg");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/jpeg";
  // gen-420.jpg carries the typical luminance and chrominance tables; without its DHT
  // segments the decoder must supply the same ones.
  const Bytes file = pvtest::ReadFileBytes(dir + "/gen-420.jpg");
  ASSERT_FALSE(file.empty());
  Parsed p = Parsed::From(file);
  const size_t before = p.segments.size();
  p.segments.erase(std::remove_if(p.segments.begin(), p.segments.end(), [](const auto& s) { return s.first == 0xC4; }),
                   p.segments.end());
  ASSERT_LT(p.segments.size(), before);
  const pvtest::DecodedBytes with = Decode(file), without = Decode(p.File());
  ASSERT_EQ(with.decode, pv::kStatusOk);
  ASSERT_EQ(without.decode, pv::kStatusOk);
  for (uint32_t y = 0; y < with.buffer->Height(); ++y)
    ASSERT_EQ(std::memcmp(with.buffer->Row(y), without.buffer->Row(y), 4 * with.buffer->Width()), 0) << y;
}

}  // namespace
