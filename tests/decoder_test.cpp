#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/decoder.h"
#include "core/endian.h"

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

uint32_t Pixel32(const ImageBuffer& b, uint32_t x) { return pv::LoadU32LE(b.Pixels() + 4 * x); }

TEST(Decoder, OpenSetsTheStandardProperties) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::Undetermined, 24, 2, 2), {}));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  EXPECT_EQ(d->Model(), ColourModel::Rgb);
  EXPECT_STREQ(d->GetText(pv::kPropBitsPerPixel), L"24");
  EXPECT_STREQ(d->GetText(pv::kPropColourModel), L"RGB");
  EXPECT_STREQ(d->GetText(pv::kPropCompression), L"None");
  EXPECT_STREQ(d->GetText(pv::kPropFileFormat), L"Test format");
  EXPECT_STREQ(d->GetText(pv::kPropFileSize), L"4");
  EXPECT_FALSE(d->Has(pv::kPropTitle));  // a memory source has no name

  Ref<FakeDecoder> bad(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::Rgb, 24), {}));
  bad->headerStatus = pv::kStatusUnsupported;
  EXPECT_EQ(bad->Open(0), pv::kStatusUnsupported);
  EXPECT_EQ(bad->OutputFormat(), PixelFormat::Undetermined);  // a failed header is not kept
}

TEST(Decoder, ColourModelsBecomeRgbOrGrey) {
  // in: one pixel; out: 0xAARRGGBB, or the grey level
  struct Case { const char* name; PixelFormat format; ColourModel model; uint32_t bits; uint8_t in[4]; uint32_t out; };
  // Worked out from the conversion formulas by hand.
  const Case cases[] = {
      {"YCbCr grey", PixelFormat::Rgba8, ColourModel::YCbCr, 32, {128, 128, 128, 0}, 0xFF808080u},
      {"YCbCr red", PixelFormat::Rgba8, ColourModel::YCbCr, 32, {76, 85, 255, 0}, 0xFFFE0000u},
      {"CMYK white", PixelFormat::Rgba8, ColourModel::Cmyk, 32, {0, 0, 0, 0}, 0xFFFFFFFFu},
      {"CMYK cyan half", PixelFormat::Rgba8, ColourModel::Cmyk, 32, {255, 0, 0, 127}, 0xFF008080u},
      {"CMYL", PixelFormat::Rgba8, ColourModel::Cmyl, 32, {255, 128, 0, 255}, 0xFFFF8000u},
      {"YCCK", PixelFormat::Rgba8, ColourModel::Ycck, 32, {100, 128, 128, 128}, 0xFF554D4Du},
      {"Lab black", PixelFormat::Rgba8, ColourModel::Lab, 32, {0, 0, 0, 0}, 0xFF000000u},
      {"Lab colour", PixelFormat::Rgba8, ColourModel::Lab, 32, {128, 20, 236, 0}, 0xFF402651u},  // L 50.2, a 20, b -20
      {"L at 4 bits", PixelFormat::Grey8, ColourModel::L, 4, {1}, 17},
      {"L at 4 bits, top", PixelFormat::Grey8, ColourModel::L, 4, {15}, 255},
      {"L at 1 bit", PixelFormat::Grey8, ColourModel::L, 1, {1}, 255},
      {"L at 8 bits", PixelFormat::Grey8, ColourModel::L, 8, {10}, 10},
      {"K at 1 bit", PixelFormat::Grey8, ColourModel::K, 1, {1}, 0},
      {"K at 8 bits", PixelFormat::Grey8, ColourModel::K, 8, {10}, 245},
  };
  for (const Case& c : cases) {
    Ref<FakeDecoder> d(new FakeDecoder(Header(c.format, c.model, c.bits), [&c](FakeDecoder&, ImageBuffer& b) {
      std::memcpy(b.Pixels(), c.in, b.BytesPerPixel());
    }));
    Ref<ImageBuffer> b;
    ASSERT_EQ(OpenAndDecode(*d, &b), pv::kStatusOk) << c.name;
    EXPECT_EQ(c.format == PixelFormat::Grey8 ? b->Pixels()[0] : Pixel32(*b, 0), c.out) << c.name;
  }
  // A colour buffer cannot carry a grey model.
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Rgba8, ColourModel::L, 8), {}));
  Ref<ImageBuffer> b;
  EXPECT_EQ(OpenAndDecode(*d, &b), pv::kStatusColourFormat);
}

TEST(Decoder, FloatAndSixteenBitModels) {
  auto fill = [](const void* pixel, size_t n) {
    return [pixel, n](FakeDecoder&, ImageBuffer& b) { std::memcpy(b.Pixels(), pixel, n); };
  };
  // Linear light to sRGB on float RGB; alpha untouched.
  const float linear[4] = {0.002f, 0.5f, 1.0f, 0.25f};
  Ref<FakeDecoder> f(new FakeDecoder(Header(PixelFormat::RgbaF, ColourModel::Rgb, 96), fill(linear, 16)));
  Ref<ImageBuffer> b;
  ASSERT_EQ(OpenAndDecode(*f, &b), pv::kStatusOk);
  const float* p = reinterpret_cast<float*>(b->Pixels());
  EXPECT_NEAR(p[0], 12.92f * 0.002f, 1e-6);
  EXPECT_NEAR(p[1], 0.735357f, 1e-5);
  EXPECT_NEAR(p[2], 1.0f, 1e-5);
  EXPECT_EQ(p[3], 0.25f);

  // CMYK in 16-bit samples.
  const uint16_t cmyk[4] = {65535, 0, 32768, 0};
  Ref<FakeDecoder> c(new FakeDecoder(Header(PixelFormat::Rgba16, ColourModel::Cmyk, 64), fill(cmyk, 8)));
  ASSERT_EQ(OpenAndDecode(*c, &b), pv::kStatusOk);
  const uint16_t* q = reinterpret_cast<uint16_t*>(b->Pixels());
  EXPECT_EQ(q[2], 0);      // R
  EXPECT_EQ(q[1], 65535);  // G
  EXPECT_EQ(q[0], 32767);  // B = 65535 * 32767 / 65535
  EXPECT_EQ(q[3], 65535);

  // XYZ of D65 white in floats gives white.
  const float xyz[4] = {0.9505f, 1.0f, 1.089f, 0.0f};
  Ref<FakeDecoder> x(new FakeDecoder(Header(PixelFormat::RgbaF, ColourModel::Xyz, 96), fill(xyz, 16)));
  ASSERT_EQ(OpenAndDecode(*x, &b), pv::kStatusOk);
  p = reinterpret_cast<float*>(b->Pixels());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], 1.0f, 0.01f);
  EXPECT_EQ(p[3], 1.0f);
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
      {"colour", PixelFormat::Rgba8, 256, -1, 0, 1},
      {"16-bit colour", PixelFormat::Rgba16, 256, -1, 0, 1},
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

TEST(Decoder, DecodingIntoAnotherFormatConvertsAndAnotherSizeResamples) {
  Ref<FakeDecoder> d(new FakeDecoder(Header(PixelFormat::Grey8, ColourModel::Rgb, 8, 2, 1),
                                     [](FakeDecoder&, ImageBuffer& b) { b.Pixels()[0] = 10, b.Pixels()[1] = 20; }));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> rgba(pv::CreateImageBuffer(PixelFormat::Rgba8, {2, 1}, false));
  ASSERT_EQ(d->Decode(*rgba, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_EQ(Pixel32(*rgba, 1), 0xFF141414u);
  EXPECT_STREQ(rgba->Properties().GetText(pv::kPropFileFormat), L"Test format");
  // Half the width: the cubic filter at 2:1 falls on the first of each pair.
  Ref<ImageBuffer> other(pv::CreateImageBuffer(PixelFormat::Rgba8, {1, 1}, false));
  ASSERT_EQ(d->Decode(*other, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_EQ(Pixel32(*other, 0), 0xFF0A0A0Au);
  EXPECT_STREQ(other->Properties().GetText(pv::kPropFileFormat), L"Test format");
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
