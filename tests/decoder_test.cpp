#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "core/checked_math.h"
#include "core/decoder.h"

namespace {

using pv::ColourModel;
using pv::ImageBuffer;
using pv::ImageDecoder;
using pv::PixelFormat;
using pv::Ref;
using pv::Status;

pv::FormatEntry g_entry{L"tst", L"Test format", nullptr, nullptr};

// A decoder whose header and pixels the test dictates.
class FakeDecoder final : public ImageDecoder {
 public:
  using Fill = std::function<void(ImageBuffer&)>;
  FakeDecoder(pv::ByteSource& s, PixelFormat f, ColourModel m, uint32_t bits, uint32_t w, uint32_t h, Fill fill)
      : ImageDecoder(s, g_entry), format(f), model(m), bits(bits), w(w), h(h), fill(std::move(fill)) {}

  Status ReadHeader(uint32_t, pv::ImageHeader& header) override {
    header.size = {w, h};
    header.format = format;
    header.model = model;
    header.bitsPerPixel = bits;
    header.preview = {previewW, previewH};
    header.frame.delay = delay;
    return headerStatus;
  }
  Status DecodePixels(ImageBuffer& b, bool usePreview, pv::ProgressSink*, const pv::CancelFlag* cancel) override {
    decodedPreview = usePreview;
    ++decodes;
    if (cancelDuring) const_cast<pv::CancelFlag*>(cancel)->store(1);
    fill(b);
    return pv::kStatusOk;
  }
  void Append(FakeDecoder* d) { AppendNext(Ref<ImageDecoder>(d), d->Header()); }

  PixelFormat format;
  ColourModel model;
  uint32_t bits, w, h;
  Fill fill;
  uint32_t previewW = 0, previewH = 0, delay = 0;
  Status headerStatus = pv::kStatusOk;
  bool cancelDuring = false;
  bool decodedPreview = false;
  int decodes = 0;
};

struct Fixture {
  uint8_t bytes[4] = {1, 2, 3, 4};
  Ref<pv::MemorySource> source{new pv::MemorySource(bytes, 4)};
};

void FillBytes(ImageBuffer& b, std::initializer_list<uint8_t> values) {
  size_t i = 0;
  for (uint8_t v : values) b.Pixels()[i++] = v;
}

uint32_t Pixel32(ImageBuffer& b, uint32_t x) {
  uint32_t v;
  std::memcpy(&v, b.Pixels() + 4 * x, 4);
  return v;
}

TEST(Decoder, OpenSetsTheStandardProperties) {
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Rgba8, ColourModel::Undetermined, 24, 2, 2,
                                     [](ImageBuffer&) {}));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  EXPECT_EQ(d->Model(), ColourModel::Rgb);
  EXPECT_STREQ(d->GetText(pv::kPropBitsPerPixel), L"24");
  EXPECT_STREQ(d->GetText(pv::kPropColourModel), L"RGB");
  EXPECT_STREQ(d->GetText(pv::kPropCompression), L"None");
  EXPECT_STREQ(d->GetText(pv::kPropFileFormat), L"Test format");
  EXPECT_STREQ(d->GetText(pv::kPropFileSize), L"4");
  EXPECT_FALSE(d->Has(pv::kPropTitle));  // a memory source has no name

  Ref<FakeDecoder> bad(new FakeDecoder(*fx.source, PixelFormat::Rgba8, ColourModel::Rgb, 24, 2, 2, {}));
  bad->headerStatus = pv::kStatusUnsupported;
  EXPECT_EQ(bad->Open(0), pv::kStatusUnsupported);
}

TEST(Decoder, ColourModelsBecomeRgb) {
  struct Case {
    const char* name;
    ColourModel model;
    std::initializer_list<uint8_t> in;  // one Rgba8 pixel
    uint32_t out;                       // 0xAARRGGBB
  };
  // Worked out from the conversion formulas by hand.
  const Case cases[] = {
      {"YCbCr grey", ColourModel::YCbCr, {128, 128, 128, 0}, 0xFF808080u},
      {"YCbCr red", ColourModel::YCbCr, {76, 85, 255, 0}, 0xFFFE0000u},
      {"CMYK white", ColourModel::Cmyk, {0, 0, 0, 0}, 0xFFFFFFFFu},
      {"CMYK cyan half", ColourModel::Cmyk, {255, 0, 0, 127}, 0xFF008080u},
      {"CMYL", ColourModel::Cmyl, {255, 128, 0, 255}, 0xFF008000u | 0x00FF0000u},
      {"YCCK", ColourModel::Ycck, {100, 128, 128, 128}, 0xFF554D4Du},
      {"Lab black", ColourModel::Lab, {0, 0, 0, 0}, 0xFF000000u},
      {"Lab colour", ColourModel::Lab, {128, 20, 236, 0}, 0xFF402651u},  // L 50.2, a 20, b -20
  };
  for (const Case& c : cases) {
    Fixture fx;
    auto values = c.in;
    Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Rgba8, c.model, 32, 1, 1,
                                       [values](ImageBuffer& b) { FillBytes(b, values); }));
    ASSERT_EQ(d->Open(0), pv::kStatusOk);
    Ref<ImageBuffer> b;
    ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
    ASSERT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusOk) << c.name;
    EXPECT_EQ(Pixel32(*b, 0), c.out) << c.name << std::hex << " got " << Pixel32(*b, 0);
  }
}

TEST(Decoder, GreyModelsExpandAndInvert) {
  struct Case {
    ColourModel model;
    uint32_t bits;
    uint8_t in, out;
  };
  const Case cases[] = {{ColourModel::L, 4, 1, 17},  {ColourModel::L, 4, 15, 255}, {ColourModel::L, 1, 1, 255},
                        {ColourModel::K, 1, 1, 0},   {ColourModel::K, 8, 10, 245}, {ColourModel::L, 8, 10, 10}};
  for (const Case& c : cases) {
    Fixture fx;
    uint8_t v = c.in;
    Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Grey8, c.model, c.bits, 1, 1,
                                       [v](ImageBuffer& b) { b.Pixels()[0] = v; }));
    ASSERT_EQ(d->Open(0), pv::kStatusOk);
    Ref<ImageBuffer> b;
    ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
    ASSERT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
    EXPECT_EQ(b->Pixels()[0], c.out) << int(c.model) << " bits " << c.bits << " in " << int(c.in);
  }
  // A colour buffer cannot carry a grey model.
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Rgba8, ColourModel::L, 8, 1, 1, [](ImageBuffer&) {}));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
  EXPECT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusColourFormat);
}

TEST(Decoder, FloatAndSixteenBitModels) {
  Fixture fx;
  // Linear light to sRGB on float RGB; alpha untouched.
  Ref<FakeDecoder> f(new FakeDecoder(*fx.source, PixelFormat::RgbaF, ColourModel::Rgb, 96, 1, 1, [](ImageBuffer& b) {
    float v[4] = {0.002f, 0.5f, 1.0f, 0.25f};
    std::memcpy(b.Pixels(), v, sizeof v);
  }));
  ASSERT_EQ(f->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*f, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(f->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  const float* p = reinterpret_cast<float*>(b->Pixels());
  EXPECT_NEAR(p[0], 12.92f * 0.002f, 1e-6);
  EXPECT_NEAR(p[1], 0.735357f, 1e-5);
  EXPECT_NEAR(p[2], 1.0f, 1e-5);
  EXPECT_EQ(p[3], 0.25f);

  // CMYK in 16-bit samples.
  Ref<FakeDecoder> c(new FakeDecoder(*fx.source, PixelFormat::Rgba16, ColourModel::Cmyk, 64, 1, 1, [](ImageBuffer& b) {
    uint16_t v[4] = {65535, 0, 32768, 0};  // C, M, Y, K
    std::memcpy(b.Pixels(), v, sizeof v);
  }));
  ASSERT_EQ(c->Open(0), pv::kStatusOk);
  ASSERT_EQ(pv::CreateBufferFor(*c, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(c->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  const uint16_t* q = reinterpret_cast<uint16_t*>(b->Pixels());
  EXPECT_EQ(q[2], 0);       // R
  EXPECT_EQ(q[1], 65535);   // G
  EXPECT_EQ(q[0], 32767);   // B = 65535 * 32767 / 65535
  EXPECT_EQ(q[3], 65535);

  // XYZ of D65 white in floats gives white.
  Ref<FakeDecoder> x(new FakeDecoder(*fx.source, PixelFormat::RgbaF, ColourModel::Xyz, 96, 1, 1, [](ImageBuffer& b) {
    float v[4] = {0.9505f, 1.0f, 1.089f, 0.0f};
    std::memcpy(b.Pixels(), v, sizeof v);
  }));
  ASSERT_EQ(x->Open(0), pv::kStatusOk);
  ASSERT_EQ(pv::CreateBufferFor(*x, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(x->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  p = reinterpret_cast<float*>(b->Pixels());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], 1.0f, 0.01f);
  EXPECT_EQ(p[3], 1.0f);
}

TEST(Decoder, GreyRampPaletteArrivesAsGrey8) {
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Indexed8, ColourModel::Rgb, 8, 1, 1, [](ImageBuffer& b) {
    for (uint32_t i = 0; i < 256; ++i) b.Palette()[i] = 0x10000000u | (i * 0x010101u);
    b.Pixels()[0] = 77;
  }));
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_EQ(b->Format(), PixelFormat::Grey8);
  EXPECT_EQ(b->Pixels()[0], 77);
  EXPECT_EQ(b->UsesAlpha(), 0);
}

TEST(Decoder, DecodingIntoAnotherFormatConvertsAndAnotherSizeResamples) {
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 2, 1,
                                     [](ImageBuffer& b) { FillBytes(b, {10, 20}); }));
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
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 16, 16,
                                     [](ImageBuffer& b) { b.Pixels()[0] = 5; }));
  d->previewW = 2, d->previewH = 2;
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  EXPECT_TRUE(d->HasPreview());
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, true, &b), pv::kStatusOk);
  EXPECT_EQ(b->Width(), 2u);
  ASSERT_EQ(d->Decode(*b, false, nullptr, nullptr), pv::kStatusOk);
  EXPECT_TRUE(d->decodedPreview);
}

TEST(Decoder, CancelDuringDecodeReportsCancelled) {
  Fixture fx;
  Ref<FakeDecoder> d(new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 1, 1, [](ImageBuffer&) {}));
  d->cancelDuring = true;
  ASSERT_EQ(d->Open(0), pv::kStatusOk);
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*d, false, false, &b), pv::kStatusOk);
  pv::CancelFlag cancel{0};
  EXPECT_EQ(d->Decode(*b, true, nullptr, &cancel), pv::kStatusCancelled);
}

TEST(Decoder, PagesAreNumberedAcrossTheChain) {
  Fixture fx;
  auto make = [&](uint8_t v) {
    auto* d = new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 1, 1,
                              [v](ImageBuffer& b) { b.Pixels()[0] = v; });
    d->delay = pv::kDelayWaitForUser;
    EXPECT_EQ(d->Open(0), pv::kStatusOk);
    return d;
  };
  Ref<FakeDecoder> first(make(1));
  first->Append(make(2));
  first->Append(make(3));
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*first, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(first->Decode(*b, true, nullptr, nullptr), pv::kStatusOk);
  const wchar_t* expected[] = {L"1:3", L"2:3", L"3:3"};
  ImageBuffer* f = b.get();
  for (int i = 0; i < 3; ++i, f = f->Frame().next) {
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Pixels()[0], i + 1);
    EXPECT_STREQ(f->Properties().GetText(pv::kPropPage), expected[i]);
  }
  EXPECT_EQ(f, nullptr);
}

TEST(Decoder, FrameCountIsCapped) {
  Fixture fx;
  Ref<FakeDecoder> first(new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 1, 1, [](ImageBuffer&) {}));
  ASSERT_EQ(first->Open(0), pv::kStatusOk);
  FakeDecoder* tail = first.get();
  for (uint32_t i = 1; i < pv::kMaxFrameCount + 10; ++i) {
    auto* d = new FakeDecoder(*fx.source, PixelFormat::Grey8, ColourModel::Rgb, 8, 1, 1, [](ImageBuffer&) {});
    ASSERT_EQ(d->Open(0), pv::kStatusOk);
    tail->Append(d);
    tail = d;
  }
  Ref<ImageBuffer> b;
  ASSERT_EQ(pv::CreateBufferFor(*first, false, false, &b), pv::kStatusOk);
  ASSERT_EQ(first->Decode(*b, true, nullptr, nullptr), pv::kStatusOk);
  uint32_t frames = 0;
  for (ImageBuffer* f = b.get(); f; f = f->Frame().next) ++frames;
  EXPECT_EQ(frames, pv::kMaxFrameCount);
}

}  // namespace
