#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codecs/gif/gif_decoder.h"
#include "core/lzw.h"
#include "core/checked_math.h"
#include "core/decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A small GIF writer: the blocks are appended in the order a test gives.

void Put16(Bytes& out, uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }

// Bits of a table of n entries (n a power of two from 2 to 256).
uint8_t TableBits(size_t n) {
  uint8_t bits = 1;
  while ((size_t{1} << bits) < n) ++bits;
  return bits;
}

// Appends a colour table (none when empty) and gives its flag and size bits.
uint8_t PutTable(Bytes* out, const std::vector<uint32_t>& table) {
  if (table.empty()) return 0;
  for (size_t i = 0; out && i < (size_t{1} << TableBits(table.size())); ++i) {
    const uint32_t c = i < table.size() ? table[i] : 0;
    out->insert(out->end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  }
  return static_cast<uint8_t>(0x80 | (TableBits(table.size()) - 1));
}

Bytes Header(uint32_t width, uint32_t height, const std::vector<uint32_t>& global, uint8_t background = 0,
             uint8_t resolution = 8) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  for (uint32_t v : {width, height}) Put16(out, v);
  out.insert(out.end(), {uint8_t((resolution - 1) << 4 | PutTable(nullptr, global)), background, 0});
  PutTable(&out, global);
  return out;
}

// Graphic control: flags bit 0 transparency, bit 1 user input, bits 2-4 disposal.
Bytes Control(uint8_t flags, uint16_t delay, uint8_t transparentIndex) {
  return {0x21, 0xF9, 4, flags, uint8_t(delay), uint8_t(delay >> 8), transparentIndex, 0};
}

Bytes Extension(uint8_t label, const std::vector<std::string>& blocks) {
  Bytes out = {0x21, label};
  for (const std::string& b : blocks) {
    out.push_back(static_cast<uint8_t>(b.size()));
    out.insert(out.end(), b.begin(), b.end());
  }
  out.push_back(0);
  return out;
}

Bytes Netscape(uint16_t loops) {
  return Extension(0xFF, {"NETSCAPE2.0", std::string{1, static_cast<char>(loops & 255), static_cast<char>(loops >> 8)}});
}

struct GifImage {
  uint16_t left = 0, top = 0, width = 1, height = 1;
  Bytes indices;                  // top row first
  std::vector<uint32_t> local;    // 0xRRGGBB; empty: no local table
  bool interlaced = false;
  const Bytes* data = nullptr;    // LZW data as stored, instead of encoding `indices`
};

// The rows in the order an interlaced image stores them.
Bytes InterlaceOrder(const Bytes& indices, uint32_t width, uint32_t height) {
  Bytes out;
  const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int p = 0; p < 4; ++p) {
    for (uint32_t y = start[p]; y < height; y += step[p])
      out.insert(out.end(), indices.begin() + y * width, indices.begin() + (y + 1) * width);
  }
  return out;
}

Bytes Image(const GifImage& img) {
  Bytes out = {0x2C};
  for (uint16_t v : {img.left, img.top, img.width, img.height}) Put16(out, v);
  out.push_back(static_cast<uint8_t>((img.interlaced ? 0x40 : 0) | PutTable(nullptr, img.local)));
  PutTable(&out, img.local);
  const Bytes order = img.interlaced ? InterlaceOrder(img.indices, img.width, img.height) : img.indices;
  Bytes lzw(pv::LzwEncodeBound(order.size()));
  lzw.resize(pv::LzwEncode(lzw.data(), order.data(), order.size()));
  const Bytes& data = img.data ? *img.data : lzw;
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kTrailer = {0x3B};

using Decoded = pvtest::DecodedBytes;

Decoded DecodeBytes(const Bytes& file) { return pvtest::DecodeWith(pv::CreateGifDecoder, L"gif", file); }

Bytes Pixels(const pv::ImageBuffer& b) {
  Bytes out;
  for (uint32_t y = 0; y < b.Height(); ++y) out.insert(out.end(), b.Row(y), b.Row(y) + b.Width());
  return out;
}

Bytes Ramp(size_t n, uint32_t mod) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 7 + i / 5) % mod);
  return out;
}

const std::vector<uint32_t> kGlobal = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
const std::vector<uint32_t> kLocal = {0x101010, 0x202020, 0x303030, 0x404040, 0x505050, 0x606060, 0x707070, 0x808080};

// Frames: one file of four images, each row the fields its blocks give.

TEST(GifFrames, EveryImageBecomesAFrameWithItsFields) {
  struct Expected {
    const char* name;
    uint32_t left, top, width, height;
    uint32_t delay;
    uint8_t disposal, blend, usesAlpha;
    const std::vector<uint32_t>* table;
    int transparent;  // -1: none
    const char* page;
  };
  GifImage first{0, 0, 4, 3, Ramp(12, 4), {}, false, nullptr};
  GifImage second{1, 1, 2, 2, Ramp(4, 8), kLocal, false, nullptr};
  GifImage third{0, 2, 3, 1, Ramp(3, 4), {}, false, nullptr};
  GifImage fourth{0, 0, 2, 9, Ramp(18, 4), {}, true, nullptr};
  const Bytes file = Join({Header(4, 3, kGlobal, 2), Control(1 << 2, 30, 0), Image(first),
                           // transparent index 1, restore background
                           Control(2 << 2 | 1, 0, 1), Image(second),
                           // restore previous, waits for the user
                           Control(3 << 2 | 2, 7, 0), Image(third),
                           // no control block: the third's does not carry over
                           Image(fourth), kTrailer});
  const Expected expected[] = {
      {"full frame, global table", 0, 0, 4, 3, 300, 0, 0, 0, &kGlobal, -1, "1:2"},
      {"local table, transparent", 1, 1, 2, 2, 0, 1, 1, 1, &kLocal, 1, "1:2"},
      {"back to the global table, user input", 0, 2, 3, 1, pv::kDelayWaitForUser, 2, 0, 0, &kGlobal, -1, "1:2"},
      {"interlaced, no control block", 0, 0, 2, 9, 0, 0, 0, 0, &kGlobal, -1, "2:2"},
  };
  const GifImage* images[] = {&first, &second, &third, &fourth};
  Decoded d = DecodeBytes(file);
  ASSERT_EQ(d.open, pv::kStatusOk);
  ASSERT_EQ(d.decode, pv::kStatusOk);
  const std::vector<pv::ImageBuffer*> frames = d.Frames();
  ASSERT_EQ(frames.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    pv::ImageBuffer& b = *frames[i];
    ASSERT_EQ(b.Format(), pv::PixelFormat::Indexed8);
    const pv::FrameInfo& f = b.Frame();
    // The canvas and the background (entry 2 of the global table) are on every frame.
    using Fields = std::array<uint32_t, 11>;
    EXPECT_EQ((Fields{b.Width(), b.Height(), f.left, f.top, f.delay, f.disposal, f.blend, b.UsesAlpha(),
                      f.canvasWidth, f.canvasHeight, f.background}),
              (Fields{e.width, e.height, e.left, e.top, e.delay, e.disposal, e.blend, e.usesAlpha, 4, 3, 0xFF00FF00u}));
    EXPECT_EQ(Pixels(b), images[i]->indices);
    const uint32_t* palette = b.Palette();
    for (size_t k = 0; k < e.table->size(); ++k) {
      const uint32_t alpha = static_cast<int>(k) == e.transparent ? 0 : 0xFF000000u;
      EXPECT_EQ(palette[k], alpha | (*e.table)[k]) << "entry " << k;
    }
    EXPECT_STREQ(b.Properties().GetText(pv::kPropPage), pvtest::Widen(e.page).c_str());
  }
}

// The loop flag from the Netscape block, the background from the global
// table, the first comment with text. Two 1 x 1 images follow `before`, with
// `between` them; colour resolution 5, whatever the tables' sizes.
TEST(GifHeader, LoopBackgroundAndComment) {
  struct Case {
    const char* name; std::vector<uint32_t> global; uint8_t background; Bytes before, between;
    uint8_t loop; uint32_t colour; const wchar_t* comment;  // null when there is none
  };
  const uint32_t black = 0xFF000000;
  const Case cases[] = {
      {"loop count 0 repeats for ever", kGlobal, 0, Netscape(0), {}, 1, black, nullptr},
      {"loop count 1 plays once", kGlobal, 0, Netscape(1), {}, 0, black, nullptr},
      {"loop block after the first image", kGlobal, 0, {}, Netscape(0), 1, black, nullptr},
      {"other application", kGlobal, 0, Extension(0xFF, {"ANIMEXTS1.0", std::string{1, 0, 0}}), {}, 0, black, nullptr},
      {"four loop bytes", kGlobal, 0, Extension(0xFF, {"NETSCAPE2.0", std::string{1, 0, 0, 0}}), {}, 0, black, nullptr},
      {"background from the global table", kGlobal, 3, {}, {}, 0, 0xFF0000FF, nullptr},
      {"background 0 with a transparent first frame", kGlobal, 0, Control(1, 0, 2), {}, 0, 0, nullptr},
      {"background that is the transparent index", kGlobal, 3, Control(1, 0, 3), {}, 0, 0, nullptr},
      {"transparency elsewhere", kGlobal, 1, Control(1, 0, 2), {}, 0, 0xFFFF0000, nullptr},
      {"background beyond the table", kGlobal, 9, {}, {}, 0, 0, nullptr},
      {"no global table", {}, 1, {}, {}, 0, 0, nullptr},
      {"comment, trailing blanks dropped", kGlobal, 0, Extension(0xFE, {"made here  "}), {}, 0, black, L"made here"},
      {"comment blocks joined", kGlobal, 0, Extension(0xFE, {"first ", "second"}), {}, 0, black, L"first second"},
      {"Windows-1252 comment", kGlobal, 0, Extension(0xFE, {"\x80 5"}), {}, 0, black, L"\u20AC 5"},
      {"only the first comment", kGlobal, 0, Join({Extension(0xFE, {"one"}), Extension(0xFE, {"two"})}), {}, 0, black,
       L"one"},
      {"an empty comment does not count", kGlobal, 0, Join({Extension(0xFE, {}), Extension(0xFE, {"two"})}), {}, 0,
       black, L"two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes image = Image(GifImage{0, 0, 1, 1, {0}, c.global.empty() ? kLocal : std::vector<uint32_t>{}, false, nullptr});
    Decoded d = DecodeBytes(Join({Header(1, 1, c.global, c.background, 5), c.before, image, c.between, image, kTrailer}));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    for (pv::ImageBuffer* b : d.Frames()) EXPECT_EQ(b->Frame().loop, c.loop);
    EXPECT_EQ(d.buffer->Frame().background, c.colour);
    EXPECT_STREQ(d.decoder->Has(pv::kPropComment) ? d.decoder->GetText(pv::kPropComment) : nullptr, c.comment);
    EXPECT_STREQ(d.decoder->GetText(pv::kPropBitsPerPixel), L"5");
    EXPECT_STREQ(d.decoder->GetText(pv::kPropCompression), L"LZW");
  }
}

// Without any colour table the palette is the grey ramp, which the decoder
// base turns into a grey image.
TEST(GifDecode, NoColourTableGivesGrey) {
  GifImage img{0, 0, 3, 2, {0, 100, 255, 7, 8, 9}, {}, false, nullptr};
  Decoded d = DecodeBytes(Join({Header(3, 2, {}), Image(img), kTrailer}));
  ASSERT_EQ(d.decode, pv::kStatusOk);
  EXPECT_EQ(d.buffer->Format(), pv::PixelFormat::Grey8);
  EXPECT_EQ(Pixels(*d.buffer), img.indices);
}

// Interlaced rows return to their place, for heights that end in every pass.
TEST(GifDecode, InterlacedRowsReturnToTheirPlace) {
  for (uint16_t h = 1; h <= 17; ++h) {
    GifImage laced{0, 0, 5, h, Ramp(5u * h, 256), {}, true, nullptr};  // no two rows alike
    Decoded d = DecodeBytes(Join({Header(5, h, kGlobal), Image(laced), kTrailer}));
    ASSERT_EQ(d.decode, pv::kStatusOk) << h;
    EXPECT_EQ(Pixels(*d.buffer), laced.indices) << h;
  }
}

// Pixels the data never reaches take the frame's transparent index, else
// the preset transparent black entry 253 when the table leaves it free,
// else index 0.
TEST(GifDamaged, CutImageDataLeavesTheRestMissing) {
  struct Case { const char* name; std::vector<uint32_t> table; Bytes control; uint8_t missing; uint8_t usesAlpha; };
  std::vector<uint32_t> full(256);
  for (uint32_t i = 0; i < 256; ++i) full[i] = i * 0x010203u;
  const Case cases[] = {
      {"small table", kGlobal, {}, 253, 1}, {"transparent index", kGlobal, Control(1, 0, 3), 3, 1},
      {"full table", full, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Uncompressible pixels, so that a cut stream has decoded few of them.
    Bytes indices(40 * 30);
    std::mt19937 rng(5);
    for (auto& v : indices) v = static_cast<uint8_t>(rng() & 3);
    GifImage img{0, 0, 40, 30, indices, {}, false, nullptr};
    const Bytes head = Join({Header(40, 30, c.table), c.control});
    const Bytes image = Image(img);
    // Cut in the middle of the data: no terminator, no trailer.
    Bytes file = Join({head, Bytes(image.begin(), image.begin() + static_cast<long>(image.size() / 2))});
    Decoded d = DecodeBytes(file);
    ASSERT_EQ(d.open, pv::kStatusOk);
    ASSERT_EQ(d.decode, pv::kStatusOk);
    const Bytes got = Pixels(*d.buffer);
    size_t kept = 0;
    while (kept < got.size() && got[kept] == indices[kept]) ++kept;
    EXPECT_GT(kept, 100u);
    EXPECT_LT(kept, got.size());
    for (size_t i = kept; i < got.size(); ++i) ASSERT_EQ(got[i], c.missing) << i;
    EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha);
    if (c.missing == 253) {
      EXPECT_EQ(d.buffer->Palette()[253], 0u);
    }
  }
}

TEST(GifDamaged, HeaderFaultsGiveStatus) {
  GifImage img{0, 0, 2, 2, Ramp(4, 4), {}, false, nullptr};
  const Bytes bigCode = {12, 1, 0, 0};
  const Bytes zeroCode = {0, 1, 0, 0};
  GifImage badCode{0, 0, 2, 2, {}, {}, false, &bigCode};
  GifImage noCode{0, 0, 2, 2, {}, {}, false, &zeroCode};
  GifImage sized{0, 0, 0, 0, Ramp(6, 4), {}, false, nullptr};
  GifImage huge{0, 0, 0, 0, {}, {}, false, &zeroCode};
  Bytes cutGlobal = Header(2, 2, kLocal);
  cutGlobal.resize(20);
  Bytes cutLocal = Join({Header(2, 2, {}), Image(GifImage{0, 0, 2, 2, Ramp(4, 4), kLocal, false, nullptr})});
  cutLocal.resize(13 + 10 + 5);
  // The chain of frames is built in a loop and ends at the frame cap.
  std::vector<Bytes> pastTheCap = {Header(2, 2, kGlobal)};
  pastTheCap.insert(pastTheCap.end(), pv::kMaxFrameCount + 5, Image(img));
  // The frames kept: no image decoder is chained for a bad one.
  pvtest::CheckPixelCases(pv::CreateGifDecoder, L"gif", {
      {"not a GIF", Bytes{'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0}, pv::kStatusUnknownFormat},
      {"header cut", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0}, pv::kStatusDamaged},
      {"no image", Join({Header(2, 2, kGlobal), kTrailer}), pv::kStatusDamaged},
      {"unknown block first", Join({Header(2, 2, kGlobal), Bytes{0x99}, Image(img)}), pv::kStatusDamaged},
      {"unknown block after an image", Join({Header(2, 2, kGlobal), Image(img), Bytes{0x99}, Image(img)}), pv::kStatusOk},
      {"zero introducer ends", Join({Header(2, 2, kGlobal), Image(img), Bytes{0}, Image(img)}), pv::kStatusOk},
      {"no trailer", Join({Header(2, 2, kGlobal), Image(img), Image(img)}), pv::kStatusOk, 0, {}, -1, 2},
      {"code size 12", Join({Header(2, 2, kGlobal), Image(badCode), kTrailer}), pv::kStatusDamaged},
      {"code size 0", Join({Header(2, 2, kGlobal), Image(noCode), kTrailer}), pv::kStatusDamaged},
      {"bad second image ends the file", Join({Header(2, 2, kGlobal), Image(img), Image(badCode), Image(img)}), pv::kStatusOk},
      {"global table cut", cutGlobal, pv::kStatusDamaged}, {"local table cut", cutLocal, pv::kStatusDamaged},
      {"size 0 takes the screen's", Join({Header(3, 2, kGlobal), Image(sized), kTrailer}), pv::kStatusOk, 3},
      {"size 0 everywhere", Join({Header(0, 0, kGlobal), Image(sized), kTrailer}), pv::kStatusDamaged},
      {"oversized", Join({Header(65535, 65535, kGlobal), Image(huge), kTrailer}), pv::kStatusUnsupported},
      {"extension cut", Join({Header(2, 2, kGlobal), Image(img), Bytes{0x21, 0xFE, 9, 'a'}}), pv::kStatusOk},
      {"frames past the cap", Join(pastTheCap), pv::kStatusOk, 0, {}, -1, pv::kMaxFrameCount},
  });
}

TEST(GifDamaged, EveryPrefixDecodesOrFails) {
  GifImage first{0, 0, 7, 5, Ramp(35, 4), {}, true, nullptr};
  GifImage second{2, 1, 3, 3, Ramp(9, 8), kLocal, false, nullptr};
  const Bytes whole = Join({Header(7, 5, kGlobal, 1), Netscape(0), Extension(0xFE, {"note"}), Control(5, 10, 2),
                            Image(first), Control(9, 20, 0), Image(second), kTrailer});
  ASSERT_EQ(DecodeBytes(whole).Frames().size(), 2u);
  pvtest::CheckEveryPrefix(pv::CreateGifDecoder, L"gif", whole);
}

TEST(GifProbe, SignatureAndLength) {
  pvtest::CheckProbe(pv::ProbeGif, {{{'G', 'I', 'F', '0', '0', '0', 1, 0, 1, 0, 0, 0, 0, 0}, pv::kStatusOk},  // any version
                                    {{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, pv::kStatusUnknownFormat},
                                    {{'P', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0}, pv::kStatusUnknownFormat}});
}

// Frame counts as ImageMagick's identify reports them.
struct CorpusFrames { const char* file; size_t frames; };
constexpr CorpusFrames kCorpusFrames[] = {
    {"gen-anim-dispose.gif", 4},  {"gen-local-tables.gif", 3},      {"giflib-welcome2.gif", 6},
    {"igif-anim-gr.gif", 2},      {"igif-beacon.gif", 2},           {"igif-moon_impact.gif", 14},
    {"irs-any-disposal.gif", 5},  {"irs-border_touching_layers.gif", 2}, {"irs-mixed-disposal.gif", 5},
    {"irs-large-gif-anim-combine.gif", 2}, {"irs-large-gif-anim-full-frame-replace.gif", 2},
    {"gen-2colour.gif", 1},       {"giflib-treescap-interlaced.gif", 1},
};

TEST(GifCorpus, OutcomesReferencesAndFrameCounts) {
  pvtest::CheckCorpusPixels("gif", {}, 11);
  if (IsSkipped()) return;
  const std::string dir = pvtest::CorpusDir("gif");
  for (const CorpusFrames& f : kCorpusFrames) {
    SCOPED_TRACE(f.file);
    Decoded d = DecodeBytes(pvtest::ReadFileBytes(dir + "/" + f.file));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_EQ(d.Frames().size(), f.frames);
  }
}

}  // namespace
