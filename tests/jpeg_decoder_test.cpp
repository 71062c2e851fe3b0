#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "core/format_registry.h"
#include "tests/jpeg_test_encoder.h"
#include "tests/test_support.h"

namespace {

using pv::Status;

// A file split into its segments before the first SOS, that SOS, and the
// bytes after it.
struct Parsed {
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> segments;  // marker, payload
  std::vector<uint8_t> rest;                                       // from the first SOS marker on

  static Parsed From(const std::vector<uint8_t>& file) {
    Parsed p;
    size_t i = 2;
    while (i + 4 <= file.size() && file[i + 1] != 0xDA) {
      const size_t n = size_t{file[i + 2]} << 8 | file[i + 3];
      p.segments.push_back({file[i + 1], std::vector<uint8_t>(file.begin() + long(i + 4), file.begin() + long(i + 2 + n))});
      i += 2 + n;
    }
    p.rest.assign(file.begin() + long(i), file.end());
    return p;
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    for (const auto& s : segments) jpegtest::detail::Segment(out, s.first, s.second);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
  }
  std::vector<uint8_t>& Payload(uint8_t marker) {
    for (auto& s : segments) {
      if (s.first == marker) return s.second;
    }
    static std::vector<uint8_t> none;
    ADD_FAILURE() << "no segment " << std::hex << int(marker);
    return none;
  }
};

// Opens the bytes as a .jpg and decodes them; the status of the first step
// that fails.
struct Outcome {
  Status open = pv::kStatusOk, decode = pv::kStatusOk;
  pv::Ref<pv::ImageDecoder> decoder;
  pv::Ref<pv::ImageBuffer> image;
};

Outcome OpenAndDecode(const std::vector<uint8_t>& file, const pv::CancelFlag* cancel = nullptr,
                      pv::ImageSize size = {}) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  Outcome o;
  pv::Ref<pv::MemorySource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  o.open = pv::OpenImageSource(pv::Formats(), *source, L"test.jpg", false, &o.decoder);
  if (pv::Failed(o.open)) return o;
  if (size.width) {
    o.image = pv::Ref<pv::ImageBuffer>(pv::CreateImageBuffer(o.decoder->OutputFormat(), size, false));
  } else {
    o.decode = pv::CreateBufferFor(*o.decoder, false, false, &o.image);
    if (pv::Failed(o.decode)) return o;
  }
  o.decode = o.decoder->Decode(*o.image, true, nullptr, cancel);
  return o;
}

jpegtest::Planes Picture(uint32_t width, uint32_t height) {
  jpegtest::Planes p;
  p.width = width;
  p.height = height;
  p.components = 3;
  p.h[0] = p.v[0] = 2;
  p.Fill([](uint32_t k, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(128 + 80 * std::sin(x * (0.09 + 0.04 * k) + y * 0.05) + (x * 7 + y * 3) % 11);
  });
  return p;
}

std::vector<uint8_t> BaselineFile(uint32_t width = 48, uint32_t height = 32) {
  return jpegtest::Encode(Picture(width, height), {});
}

// ---------------------------------------------------------------------------

TEST(JpegProbe, SoiAtTheStartOr692BytesIn) {
  pv::RegisterDecoders();
  const std::vector<uint8_t> jpeg = BaselineFile();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    Status expected;
  };
  std::vector<uint8_t> late(692, 0x20);
  late.insert(late.end(), jpeg.begin(), jpeg.end());
  std::vector<uint8_t> short693(693, 0x20);
  short693[692] = 0xFF;
  const Case cases[] = {{"plain", jpeg, pv::kStatusOk},
                        {"after 692 bytes", late, pv::kStatusOk},
                        {"693 bytes without SOI", short693, pv::kStatusUnknownFormat},
                        {"png", {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, pv::kStatusUnknownFormat}};
  for (const Case& c : cases) {
    pv::Ref<pv::MemorySource> source(new pv::MemorySource(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
    EXPECT_EQ(pv::ProbeJpeg(*source), c.expected) << c.name;
  }
  const Outcome o = OpenAndDecode(late);
  EXPECT_EQ(o.decode, pv::kStatusOk);
  ASSERT_TRUE(o.image);
  EXPECT_EQ(o.image->Width(), 48u);
}

TEST(JpegProperties, DensityCommentAndCompression) {
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> segments;
    const wchar_t* density;
    const wchar_t* comment;
  };
  auto app0 = [](uint8_t units, uint16_t x, uint16_t y) {
    std::vector<uint8_t> s = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, units,
                              uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y), 0, 0};
    return s;
  };
  auto com = [](const std::string& text) {
    std::vector<uint8_t> s = {0xFF, 0xFE, uint8_t((text.size() + 2) >> 8), uint8_t(text.size() + 2)};
    s.insert(s.end(), text.begin(), text.end());
    return s;
  };
  const Case cases[] = {
      {"ppm", {app0(2, 28, 28)}, L"2800 x 2800 ppm", nullptr},
      {"ppi", {app0(1, 72, 96)}, L"72 x 96 ppi", nullptr},
      {"no units", {app0(0, 1, 1)}, nullptr, nullptr},
      {"comment trimmed", {com("A rose   ")}, nullptr, L"A rose"},
      {"first comment wins", {com("one"), com("two")}, nullptr, L"one"},
      {"xml comment ignored", {com("<?xpacket begin")}, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jpegtest::Options o;
    o.segments = c.segments;
    const Outcome out = OpenAndDecode(jpegtest::Encode(Picture(16, 16), o));
    ASSERT_EQ(out.open, pv::kStatusOk);
    EXPECT_EQ(out.decode, pv::kStatusOk);
    EXPECT_STREQ(out.decoder->GetText(pv::kPropCompression), L"HuffDCT");
    if (c.density) {
      EXPECT_STREQ(out.decoder->GetText(pv::kPropDensity), c.density);
    } else {
      EXPECT_FALSE(out.decoder->Has(pv::kPropDensity));
    }
    if (c.comment) {
      EXPECT_STREQ(out.decoder->GetText(pv::kPropComment), c.comment);
    } else {
      EXPECT_FALSE(out.decoder->Has(pv::kPropComment));
    }
  }
}

TEST(JpegProperties, CommentRunningPastTheFileIsClipped) {
  // Frame header, then a comment whose length claims more than the file has.
  std::vector<uint8_t> file = BaselineFile(16, 16);
  Parsed p = Parsed::From(file);
  std::vector<uint8_t> head = {0xFF, 0xD8};
  for (const auto& s : p.segments) jpegtest::detail::Segment(head, s.first, s.second);
  const std::string text = "cut comment";
  head.insert(head.end(), {0xFF, 0xFE, 0x10, 0x00});
  head.insert(head.end(), text.begin(), text.end());
  const Outcome o = OpenAndDecode(head);
  ASSERT_EQ(o.open, pv::kStatusOk);
  EXPECT_STREQ(o.decoder->GetText(pv::kPropComment), L"cut comment");
  EXPECT_EQ(o.decode, pv::kStatusDamaged);
}

// ---------------------------------------------------------------------------
// Faults in the markers, tables and headers.

struct FaultCase {
  const char* name;
  void (*damage)(Parsed& p);
  Status expected;  // of Open, or of Decode when Open succeeds
};

class JpegHeaderFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(JpegHeaderFault, GivesItsStatus) {
  Parsed p = Parsed::From(BaselineFile());
  GetParam().damage(p);
  const Outcome o = OpenAndDecode(p.Bytes());
  const Status got = pv::Failed(o.open) ? o.open : o.decode;
  EXPECT_EQ(got, GetParam().expected) << std::hex << got;
}

void SetSos(Parsed& p, size_t at, uint8_t value) { p.rest[4 + at] = value; }

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegHeaderFault,
    ::testing::Values(
        FaultCase{"intact", [](Parsed&) {}, pv::kStatusOk},
        FaultCase{"quant table 4", [](Parsed& p) { p.Payload(0xDB)[0] = 0x04; }, pv::kStatusDamaged},
        FaultCase{"quant table cut", [](Parsed& p) { p.Payload(0xDB).resize(40); }, pv::kStatusDamaged},
        FaultCase{"huffman table 4", [](Parsed& p) { p.Payload(0xC4)[0] = 0x04; }, pv::kStatusDamaged},
        FaultCase{"huffman counts over 256", [](Parsed& p) { p.Payload(0xC4)[16] = 250; }, pv::kStatusDamaged},
        FaultCase{"huffman codes overfull", [](Parsed& p) { p.Payload(0xC4)[1] = 3; }, pv::kStatusDamaged},
        FaultCase{"huffman values cut", [](Parsed& p) { p.Payload(0xC4).resize(200); }, pv::kStatusDamaged},
        FaultCase{"restart length 5",
                  [](Parsed& p) { p.segments.insert(p.segments.begin(), {0xDD, {0, 1, 0}}); }, pv::kStatusDamaged},
        FaultCase{"reserved marker",
                  [](Parsed& p) { p.segments.insert(p.segments.begin() + 1, {0xF0, {1, 2}}); }, pv::kStatusDamaged},
        FaultCase{"lossless", [](Parsed& p) { p.segments[1].first = 0xC3; }, pv::kStatusUnsupported},
        FaultCase{"differential", [](Parsed& p) { p.segments[1].first = 0xC5; }, pv::kStatusUnsupported},
        FaultCase{"arithmetic lossless", [](Parsed& p) { p.segments[1].first = 0xCB; }, pv::kStatusUnsupported},
        FaultCase{"12-bit samples", [](Parsed& p) { p.Payload(0xC0)[0] = 12; }, pv::kStatusDamaged},
        FaultCase{"zero height", [](Parsed& p) { p.Payload(0xC0)[1] = p.Payload(0xC0)[2] = 0; }, pv::kStatusDamaged},
        FaultCase{"zero width", [](Parsed& p) { p.Payload(0xC0)[3] = p.Payload(0xC0)[4] = 0; }, pv::kStatusDamaged},
        FaultCase{"sampling 0", [](Parsed& p) { p.Payload(0xC0)[7] = 0x02; }, pv::kStatusDamaged},
        FaultCase{"sampling 5", [](Parsed& p) { p.Payload(0xC0)[7] = 0x52; }, pv::kStatusDamaged},
        FaultCase{"sampling 3 beside 2",
                  [](Parsed& p) {
                    p.Payload(0xC0)[7] = 0x31;
                    p.Payload(0xC0)[10] = 0x21;
                  },
                  pv::kStatusUnsupported},
        FaultCase{"two components",
                  [](Parsed& p) {
                    auto& f = p.Payload(0xC0);
                    f[5] = 2;
                    f.resize(12);
                  },
                  pv::kStatusUnsupported},
        FaultCase{"frame length wrong", [](Parsed& p) { p.Payload(0xC0).push_back(0); }, pv::kStatusDamaged},
        FaultCase{"quant table never defined", [](Parsed& p) { p.Payload(0xC0)[8] = 3; }, pv::kStatusDamaged},
        FaultCase{"scan selects no component", [](Parsed& p) { SetSos(p, 1, 9); }, pv::kStatusDamaged},
        FaultCase{"scan selects one twice", [](Parsed& p) { SetSos(p, 3, 1); }, pv::kStatusDamaged},
        FaultCase{"scan of no component", [](Parsed& p) { SetSos(p, 0, 0); }, pv::kStatusDamaged},
        FaultCase{"scan table 2 undefined", [](Parsed& p) { SetSos(p, 2, 0x22); }, pv::kStatusDamaged},
        FaultCase{"scan table 5", [](Parsed& p) { SetSos(p, 2, 0x05); }, pv::kStatusDamaged},
        FaultCase{"segment length 1",
                  [](Parsed& p) {
                    p.segments.clear();
                    p.rest = {0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9, 0, 0};
                  },
                  pv::kStatusDamaged},
        FaultCase{"no frame", [](Parsed& p) { p.segments.clear(); }, pv::kStatusDamaged},
        FaultCase{"no scan", [](Parsed& p) { p.rest = {0xFF, 0xD9}; }, pv::kStatusDamaged}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

// ---------------------------------------------------------------------------
// Progressive scan headers outside the rules.

struct ScanCase {
  uint8_t ss, se, ahal;
  bool intoColourScan;  // change the first (interleaved DC) scan instead of an AC scan
  Status expected;
};

class JpegProgressiveScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(JpegProgressiveScan, Validation) {
  const ScanCase& c = GetParam();
  jpegtest::Options options;
  options.progressive = true;
  std::vector<uint8_t> file = jpegtest::Encode(Picture(32, 32), options);
  // The scans in order: DC (3 components), AC 1-5 of component 1, ...
  size_t sos = 0;
  int seen = 0;
  for (size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0xDA && seen++ == (c.intoColourScan ? 0 : 1)) {
      sos = i;
      break;
    }
  }
  ASSERT_NE(sos, 0u);
  const size_t ns = file[sos + 4];
  const size_t at = sos + 5 + 2 * ns;
  file[at] = c.ss;
  file[at + 1] = c.se;
  file[at + 2] = c.ahal;
  const Outcome o = OpenAndDecode(file);
  ASSERT_EQ(o.open, pv::kStatusOk);
  EXPECT_EQ(o.decode, c.expected) << std::hex << o.decode;
}

INSTANTIATE_TEST_SUITE_P(Cases, JpegProgressiveScan,
                         ::testing::Values(ScanCase{1, 5, 0x00, false, pv::kStatusOk},
                                           ScanCase{0, 5, 0x00, false, pv::kStatusDamaged},   // DC scan with AC
                                           ScanCase{6, 5, 0x00, false, pv::kStatusDamaged},   // Ss above Se
                                           ScanCase{1, 64, 0x00, false, pv::kStatusDamaged},  // Se past 63
                                           ScanCase{1, 5, 0x20, false, pv::kStatusDamaged},   // Al not Ah - 1
                                           ScanCase{1, 5, 0x0E, false, pv::kStatusDamaged},   // Al 14
                                           ScanCase{1, 5, 0x0D, false, pv::kStatusOk},        // Al 13
                                           ScanCase{1, 1, 0x00, true, pv::kStatusDamaged},    // AC of 3 components
                                           ScanCase{0, 0, 0x21, true, pv::kStatusOk}));

// ---------------------------------------------------------------------------
// Damaged entropy data.

TEST(JpegTruncated, EveryCutAfterTheFirstScanHeaderDecodes) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline with restarts");
    jpegtest::Options options;
    options.progressive = progressive;
    options.restartInterval = progressive ? 0 : 2;
    const std::vector<uint8_t> file = jpegtest::Encode(Picture(40, 40), options);
    // SOS marker, length, Ns, three selectors, Ss, Se, Ah/Al.
    const size_t scanData = file.size() - Parsed::From(file).rest.size() + 14;
    for (size_t n = 2; n < file.size(); n += (n < 400 ? 1 : 7)) {
      const std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
      const Outcome o = OpenAndDecode(cut);
      if (n >= scanData) {
        EXPECT_EQ(o.open, pv::kStatusOk) << n;
        EXPECT_EQ(o.decode, pv::kStatusOk) << n;
      } else {
        EXPECT_TRUE(o.open == pv::kStatusDamaged || o.decode == pv::kStatusDamaged) << n;
      }
    }
  }
}

TEST(JpegTruncated, MissingRowsAreFlat) {
  const std::vector<uint8_t> file = BaselineFile(64, 64);
  const std::vector<uint8_t> cut(file.begin(), file.begin() + long(file.size() * 2 / 5));
  const Outcome o = OpenAndDecode(cut);
  ASSERT_EQ(o.decode, pv::kStatusOk);
  // The last MCU row repeats the last DC levels: one colour throughout.
  const uint8_t* first = o.image->Row(48);
  for (uint32_t y = 48; y < 64; ++y) {
    for (uint32_t x = 0; x < 64; ++x) {
      ASSERT_EQ(std::memcmp(o.image->Row(y) + 4 * x, first, 4), 0) << x << "," << y;
    }
  }
  // The rows before the cut hold the picture, not one colour.
  EXPECT_NE(std::memcmp(o.image->Row(0), o.image->Row(0) + 40, 4), 0);
}

TEST(JpegDamaged, CorruptedBytesNeverCrash) {
  // Every byte of a small baseline and progressive file flipped in turn.
  for (bool progressive : {false, true}) {
    jpegtest::Options options;
    options.progressive = progressive;
    const std::vector<uint8_t> file = jpegtest::Encode(Picture(24, 24), options);
    for (size_t i = 2; i < file.size(); ++i) {
      std::vector<uint8_t> bad = file;
      bad[i] ^= static_cast<uint8_t>(0x5A + i);
      const Outcome o = OpenAndDecode(bad);
      if (pv::Succeeded(o.open) && pv::Succeeded(o.decode)) {
        EXPECT_EQ(o.image->Width(), o.decoder->Width());
      }
    }
  }
}

TEST(JpegDamaged, CorruptedArithmeticStreamsNeverCrash) {
  const std::string dir = pvtest::CorpusDir("jpeg");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/jpeg";
  for (const char* name : {"gen-arith.jpg", "gen-arith-progressive.jpg", "gen-arith-444-restart.jpg"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> file = pvtest::ReadFileBytes(dir + "/" + name);
    ASSERT_FALSE(file.empty());
    // Bytes of the scans flipped; magnitudes overflow and runs pass the band.
    const size_t scans = file.size() - Parsed::From(file).rest.size();
    for (size_t i = scans + 16; i < file.size(); i += file.size() / 97 + 1) {
      std::vector<uint8_t> bad = file;
      bad[i] ^= 0xA5;
      bad[i - 7] = 0xFF;
      const Outcome o = OpenAndDecode(bad);
      ASSERT_EQ(o.open, pv::kStatusOk);
      EXPECT_TRUE(o.decode == pv::kStatusOk || o.decode == pv::kStatusDamaged) << std::hex << o.decode;
    }
  }
}

// ---------------------------------------------------------------------------

TEST(JpegPreview, EighthScaleOfA1000x600Picture) {
  // Detailed luma, slowly changing chroma (a preview pixel shares its chroma
  // with three others), and no colour that clamps.
  jpegtest::Planes p = Picture(1000, 600);
  p.Fill([](uint32_t k, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(k == 0 ? 128 + 60 * std::sin(x * 0.09 + y * 0.05) : 128 + 20 * std::sin(x * 0.01 + k));
  });
  const std::vector<uint8_t> file = jpegtest::Encode(p, {});
  const Outcome full = OpenAndDecode(file);
  ASSERT_EQ(full.decode, pv::kStatusOk);
  ASSERT_TRUE(full.decoder->HasPreview());
  EXPECT_EQ(full.decoder->PreviewWidth(), 125u);
  EXPECT_EQ(full.decoder->PreviewHeight(), 75u);
  // The padded picture is 76 MCU... block rows high; the preview buffer has 75.
  const Outcome preview = OpenAndDecode(file, nullptr, {125, 75});
  ASSERT_EQ(preview.decode, pv::kStatusOk);
  int worst = 0;
  for (uint32_t y = 0; y < 75; ++y) {
    for (uint32_t x = 0; x < 125; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0, n = 0;
        for (uint32_t yy = y * 8; yy < std::min(600u, y * 8 + 8); ++yy) {
          for (uint32_t xx = x * 8; xx < x * 8 + 8; ++xx) sum += full.image->Row(yy)[4 * xx + c], ++n;
        }
        worst = std::max(worst, std::abs(preview.image->Row(y)[4 * x + c] - (sum + n / 2) / n));
      }
    }
  }
  EXPECT_LE(worst, 4);
}

TEST(JpegCancel, FlagSetBeforeDecodeCancels) {
  pv::CancelFlag flag{1};
  const Outcome o = OpenAndDecode(BaselineFile(), &flag);
  EXPECT_EQ(o.open, pv::kStatusOk);
  EXPECT_EQ(o.decode, pv::kStatusCancelled);
}

// ---------------------------------------------------------------------------
// The shared corpus.

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.size(); i += 4) {
    for (int c = 0; c < 3; ++c, ++n) se += double(a[i + c] - b[i + c]) * (a[i + c] - b[i + c]);
  }
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
  checks.compare = [&below](const pvtest::CorpusCase& c, const std::vector<uint8_t>& ours,
                            const std::vector<uint8_t>& ref) {
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
  const std::vector<uint8_t> file = pvtest::ReadFileBytes(dir + "/gen-420.jpg");
  ASSERT_FALSE(file.empty());
  Parsed p = Parsed::From(file);
  const size_t before = p.segments.size();
  p.segments.erase(std::remove_if(p.segments.begin(), p.segments.end(), [](const auto& s) { return s.first == 0xC4; }),
                   p.segments.end());
  ASSERT_LT(p.segments.size(), before);
  const Outcome with = OpenAndDecode(file), without = OpenAndDecode(p.Bytes());
  ASSERT_EQ(with.decode, pv::kStatusOk);
  ASSERT_EQ(without.decode, pv::kStatusOk);
  for (uint32_t y = 0; y < with.image->Height(); ++y) {
    ASSERT_EQ(std::memcmp(with.image->Row(y), without.image->Row(y), 4 * with.image->Width()), 0) << y;
  }
}

}  // namespace
