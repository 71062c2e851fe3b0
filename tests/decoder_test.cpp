#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/decoder.h"
#include "tests/test_support.h"

namespace {

using pv::ColourModel;
using pv::ImageBuffer;
using pv::ImageDecoder;
using pv::PixelFormat;
using pv::Ref;
using pv::Status;

pv::FormatEntry g_entry{L"tst", L"Test format", nullptr, nullptr};
const uint8_t g_bytes[4] = {1, 2, 3, 4};
pv::MemorySource g_source(g_bytes, 4);

// A decoder whose header and pixels the test dictates.
class FakeDecoder final : public ImageDecoder {
 public:
  using Fill = std::function<void(FakeDecoder&, ImageBuffer&)>;
  FakeDecoder(const pv::ImageHeader& header, Fill fill) : ImageDecoder(g_source, g_entry), header(header), fill(fill) {}

  Status ReadHeader(uint32_t, pv::ImageHeader& h) override {
    h = header;
    return headerStatus;
  }
  Status DecodePixels(ImageBuffer& b, bool usePreview, pv::ProgressSink*, const pv::CancelFlag* cancel) override {
    decodedPreview = usePreview;
    if (cancelDuring) const_cast<pv::CancelFlag*>(cancel)->store(1);
    if (fill) fill(*this, b);
    return pv::kStatusOk;
  }
  void Append(FakeDecoder* d) { AppendNext(Ref<ImageDecoder>(d), d->header); }
  using ImageDecoder::FillMissing;

  pv::ImageHeader header;
  Fill fill;
  Status headerStatus = pv::kStatusOk;
  bool cancelDuring = false;
  bool decodedPreview = false;
};

pv::ImageHeader Header(PixelFormat format, ColourModel model, uint32_t bits, uint32_t w = 1, uint32_t h = 1) {
  pv::ImageHeader header;
  header.size = {w, h};
  header.format = format;
  header.model = model;
  header.bitsPerPixel = bits;
  return header;
}

// Opens the decoder, decodes it into a buffer of its own, and gives the status.
Status OpenAndDecode(FakeDecoder& d, Ref<ImageBuffer>* out, bool decodeRest = false) {
  Status s = d.Open(0);
  if (pv::Succeeded(s)) s = pv::CreateBufferFor(d, false, false, out);
  return pv::Succeeded(s) ? d.Decode(**out, decodeRest, nullptr, nullptr) : s;
}

// The standard texts a real file gets are in the decoding tool's test.
TEST(Decoder, OpenSetsTheStandardProperties) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::Undetermined, 24, 2, 2), {}));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  EXPECT_EQ(d->Model(), ColourModel::Rgb);
  EXPECT_STREQ(d->GetText(pv::kPropColourModel), L"RGB");
  EXPECT_FALSE(d->Has(pv::kPropTitle));  // a memory source has no name

  Ref<FakeDecoder> bad(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::Rgb, 24), {}));
  bad->headerStatus = pv::kStatusUnsupported;
  EXPECT_EQ(bad->Open(0), pv::kStatusUnsupported);
  EXPECT_EQ(bad->OutputFormat(), PixelFormat::Undetermined);  // a failed header is not kept
}

TEST(Decoder, ColourModelsBecomeRgbOrGrey) {
  // One pixel's samples in and out (B, G, R, A places for colour), worked out
  // from the conversion formulas by hand; floats leave the linear light for sRGB.
  struct Case {
    const char* name; PixelFormat format; ColourModel model; uint32_t bits; std::vector<double> in, out; double tolerance = 0;
  };
  using F = PixelFormat;
  using M = ColourModel;
  const Case cases[] = {
      {"YCbCr grey", F::Rgba8, M::YCbCr, 32, {128, 128, 128, 0}, {0x80, 0x80, 0x80, 255}},
      {"YCbCr red", F::Rgba8, M::YCbCr, 32, {76, 85, 255, 0}, {0, 0, 0xFE, 255}},
      {"CMYK white", F::Rgba8, M::Cmyk, 32, {0, 0, 0, 0}, {255, 255, 255, 255}},
      {"CMYK cyan half", F::Rgba8, M::Cmyk, 32, {255, 0, 0, 127}, {0x80, 0x80, 0, 255}},
      {"CMYL", F::Rgba8, M::Cmyl, 32, {255, 128, 0, 255}, {0, 0x80, 0xFF, 255}},
      {"YCCK", F::Rgba8, M::Ycck, 32, {100, 128, 128, 128}, {0x4D, 0x4D, 0x55, 255}},
      {"Lab black", F::Rgba8, M::Lab, 32, {0, 0, 0, 0}, {0, 0, 0, 255}},
      {"Lab colour", F::Rgba8, M::Lab, 32, {128, 20, 236, 0}, {0x51, 0x26, 0x40, 255}},  // L 50.2, a 20, b -20
      {"L at 4 bits", F::Grey8, M::L, 4, {1}, {17}}, {"L at 4 bits, top", F::Grey8, M::L, 4, {15}, {255}},
      {"L at 1 bit", F::Grey8, M::L, 1, {1}, {255}}, {"L at 8 bits", F::Grey8, M::L, 8, {10}, {10}},
      {"K at 1 bit", F::Grey8, M::K, 1, {1}, {0}}, {"K at 8 bits", F::Grey8, M::K, 8, {10}, {245}},
      // B = 65535 * 32767 / 65535.
      {"CMYK at 16 bits", F::Rgba16, M::Cmyk, 64, {65535, 0, 32768, 0}, {32767, 65535, 0, 65535}},
      {"linear floats", F::RgbaF, M::Rgb, 96, {0.002, 0.5, 1.0, 0.25}, {12.92 * 0.002, 0.735357, 1.0, 0.25}, 1e-5},
      {"XYZ of D65 white", F::RgbaF, M::Xyz, 96, {0.9505, 1.0, 1.089, 0.0}, {1, 1, 1, 1}, 0.01},
  };
  for (const Case& c : cases) {
    Ref<FakeDecoder> d(new FakeDecoder(Header(c.format, c.model, c.bits), [&c](FakeDecoder&, ImageBuffer& b) {
      for (size_t i = 0; i < c.in.size(); ++i) pvtest::SetSample(b, 0, i, c.in[i]);
    }));
    Ref<ImageBuffer> b;
    ASSERT_EQ(OpenAndDecode(*d, &b), pv::kStatusOk) << c.name;
    const std::vector<double> out = pvtest::SamplesOf(*b);
    ASSERT_EQ(out.size(), c.out.size()) << c.name;
    for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], c.out[i], c.tolerance) << c.name << " sample " << i;
  }
  // A colour buffer cannot carry a grey model.
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::L, 8), {}));
  Ref<ImageBuffer> b;
  EXPECT_EQ(OpenAndDecode(*d, &b), pv::kStatusColourFormat);
}

TEST(Decoder, GreyRampPaletteArrivesAsGrey8) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Indexed8, ColourModel::Rgb, 8),
                                     [](FakeDecoder&, ImageBuffer& b) {
                                       for (uint32_t i = 0; i < 256; ++i) b.Palette()[i] = 0x10000000u | (i * 0x010101u);
                                       b.Pixels()[0] = 77;
                                     }));
  Ref<ImageBuffer> b;
  ASSERT_EQ(OpenAndDecode(*d, &b), pv::kStatusOk);
  EXPECT_EQ(b->Format(), PixelFormat::Grey8);
  EXPECT_EQ(b->Pixels()[0], 77);
  EXPECT_EQ(b->UsesAlpha(), 0);
}

// Pixels the data never reached, by the buffer's format and the file's
// palette: the value they get and whether the image then shows alpha.
TEST(Decoder, MissingPixelsAreTransparentWhereTheFormatCanShowIt) {
  struct Case {
    const char* name;
    PixelFormat format;
    uint32_t paletteEntries;
    int32_t transparentIndex;
    uint8_t value, usesAlpha;
  };
  const Case cases[] = {
      {"colour", PixelFormat::Rgba8, 256, -1, 0, 1}, {"16-bit colour", PixelFormat::Rgba16, 256, -1, 0, 1},
      {"grey is black", PixelFormat::Grey8, 256, -1, 0, 0},
      {"palette leaving the preset entry free", PixelFormat::Indexed8, 253, -1, pv::kMissingEntry, 1},
      {"palette reaching the preset entry", PixelFormat::Indexed8, 254, -1, 0, 0},
      {"the file's own transparent entry", PixelFormat::Indexed8, 256, 7, 7, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pv::ImageHeader h = Header(c.format, ColourModel::Rgb, 8, 3, 1);
    h.paletteEntries = c.paletteEntries;
    h.transparentIndex = c.transparentIndex;
    Ref<FakeDecoder> d(new FakeDecoder(h, [](FakeDecoder& self, ImageBuffer& b) {
      std::memset(b.Pixels(), 0xA5, b.RowBytes());
      if (b.AsIndexed8()) std::fill(b.Palette(), b.Palette() + 256, 0xFF102030u);
      self.FillMissing(b, b.Pixels() + b.BytesPerPixel(), 2);
    }));
    Ref<ImageBuffer> b;
    ASSERT_EQ(OpenAndDecode(*d, &b), pv::kStatusOk);
    EXPECT_EQ(b->Pixels()[0], 0xA5);
    for (size_t i = b->BytesPerPixel(); i < 3 * b->BytesPerPixel(); ++i) ASSERT_EQ(b->Pixels()[i], c.value) << i;
    EXPECT_EQ(b->UsesAlpha(), c.usesAlpha);
    if (c.value == pv::kMissingEntry) {
      EXPECT_EQ(b->Palette()[pv::kMissingEntry], 0u);
    }
  }
}

// Another size resamples: ResampleDecode holds that against Resample itself.
TEST(Decoder, DecodingIntoAnotherFormatConverts) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Grey8, ColourModel::Rgb, 8, 2, 1),
                                     [](FakeDecoder&, ImageBuffer& b) { b.Pixels()[0] = 10, b.Pixels()[1] = 20; }));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> rgba(pv::CreateImageBuffer(PixelFormat::Rgba8, {2, 1}, false));
  ASSERT_EQ(d->Decode(*rgba, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_EQ(pvtest::PixelAt(*rgba, 1, 0), 0xFF141414u);
  EXPECT_STREQ(rgba->Properties().GetText(pv::kPropFileFormat), L"Test format");
}

TEST(Decoder, ATargetOfThePreviewSizeDecodesOnlyThePreview) {
  pv::ImageHeader h = Header(PixelFormat::Grey8, ColourModel::Rgb, 8, 16, 16);
  h.preview = {2, 2};
  Ref<FakeDecoder> d(new FakeDecoder(h, {}));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  EXPECT_TRUE(d->HasPreview());
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, true, &b), pv::kStatusOk);
  EXPECT_EQ(b->Width(), 2u);
  ASSERT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_TRUE(d->decodedPreview);
}

TEST(Decoder, CancelDuringDecodeReportsCancelled) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Grey8, ColourModel::Rgb, 8), {}));
  d->cancelDuring = true;
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
  pv::CancelFlag cancel{0};
  EXPECT_EQ(d->Decode(*b, true, nullptr, &cancel), pv::kStatusCancelled);
}

// Frames appended behind the first: each keeps its own timing and pixels,
// takes the first frame's canvas, background and loop flag, and pages are
// counted across the chain.
TEST(Decoder, ChainedFramesAndPages) {
  auto make = [](uint8_t v, uint32_t left) {
    pv::ImageHeader h = Header(PixelFormat::Grey8, ColourModel::Rgb, 8);
    h.frame.delay = pv::kDelayWaitForUser;
    h.frame.left = left;
    if (v == 1) h.frame = {4, 3, 0xFF112233u, 1, left, 0, pv::kDelayWaitForUser, 0, 0};
    return new FakeDecoder(h, [v](FakeDecoder&, ImageBuffer& b) { b.Pixels()[0] = v; });
  };
  Ref<FakeDecoder> first(make(1, 0));
  first->Append(make(2, 1));
  first->Append(make(3, 2));
  Ref<ImageBuffer> b;
  ASSERT_EQ(OpenAndDecode(*first, &b, true), pv::kStatusOk);
  const wchar_t* expected[] = {L"1:3", L"2:3", L"3:3"};
  ImageBuffer* f = b.get();
  for (uint32_t i = 0; i < 3; ++i, f = f->Frame().next) {
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Pixels()[0], i + 1);
    EXPECT_EQ(f->Frame().left, i);
    EXPECT_EQ(f->Frame().canvasWidth, 4u);
    EXPECT_EQ(f->Frame().background, 0xFF112233u);
    EXPECT_EQ(f->Frame().loop, 1);
    EXPECT_STREQ(f->Properties().GetText(pv::kPropPage), expected[i]);
  }
  EXPECT_EQ(f, nullptr);
}

}  // namespace
