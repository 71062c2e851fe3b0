#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "core/colour_reduction.h"
#include "core/image_buffer.h"
#include "tests/test_support.h"

namespace pv {
namespace {

using pvtest::NewImage;
using pvtest::PixelAt;

// An Rgba8 image whose pixels cycle through `colours`, row by row.
Ref<ImageBuffer> Cycling(const std::vector<uint32_t>& colours, uint32_t w, uint32_t h) {
  Ref<ImageBuffer> b = NewImage(PixelFormat::Rgba8, w, h);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) PixelAt(*b, x, y) = colours[(size_t{y} * w + x) % colours.size()];
  }
  return b;
}

// The colour of each pixel, row by row: through the palette of an Indexed8
// image, whose used entries are noted.
std::vector<uint32_t> ColoursOf(const ImageBuffer& b, std::set<uint8_t>* used = nullptr) {
  std::vector<uint32_t> out;
  for (uint32_t y = 0; y < b.Height(); ++y) {
    for (uint32_t x = 0; x < b.Width(); ++x) {
      const bool indexed = b.Format() == PixelFormat::Indexed8;
      out.push_back(indexed ? b.Palette()[b.Row(y)[x]] : PixelAt(b, x, y));
      if (indexed && used) used->insert(b.Row(y)[x]);
    }
  }
  return out;
}

Ref<ImageBuffer> Reduced(ImageBuffer& source, const ReductionOptions& options = {}) {
  Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, source.Width(), source.Height());
  EXPECT_EQ(ReduceColours(*t, source, options), kStatusOk);
  return t;
}

TEST(ColourReduction, FewColoursAreKeptAndColoursSharingACellMergeIntoTheirMean) {
  // Ten colours in ten different cells of the 64-level histogram.
  const std::vector<uint32_t> colours = {0xFF000000u, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu,
                                         0xFF123456u, 0xFF808080u, 0xFFFEDCBAu, 0xFF7F0001u, 0xFF0305F9u};
  for (bool dither : {false, true}) {
    std::set<uint8_t> used;
    EXPECT_EQ(ColoursOf(*Reduced(*Cycling(colours, 23, 11), {.dither = dither}), &used),
              ColoursOf(*Cycling(colours, 23, 11)));
    EXPECT_EQ(used.size(), colours.size());
  }
  // Three pixels of (100, 100, 100) and one of (103, 101, 102): all in cell (25, 25, 25).
  // Rounded means: R (403 + 2) / 4 = 101, G (401 + 2) / 4 = 100, B (402 + 2) / 4 = 101.
  EXPECT_EQ(ColoursOf(*Reduced(*Cycling({0xFF646464u, 0xFF646464u, 0xFF646464u, 0xFF676566u}, 4, 1))),
            std::vector<uint32_t>(4, 0xFF656465u));
}

TEST(ColourReduction, TransparentPixelsTakeIndexZero) {
  const std::vector<uint32_t> colours = {0x00000000u, 0xFF102030u, 0x00FFFFFFu, 0xFFE0E0E0u,
                                         0xFF20F020u, 0xFF8000C0u, 0xFF404040u};
  Ref<ImageBuffer> s = Cycling(colours, 17, 9);
  s->SetUsesAlpha(1);
  for (uint32_t count : {4u, 8u, 256u}) {
    Ref<ImageBuffer> t = Reduced(*s, {.colours = count});
    EXPECT_EQ(t->Palette()[0] >> 24, 0u);
    EXPECT_EQ(t->UsesAlpha(), 1);
    for (uint32_t i = 0; i < 17 * 9; ++i) {
      const uint32_t colour = colours[i % colours.size()];
      const uint8_t index = t->Row(i / 17)[i % 17];
      if (colour >> 24 == 0) {
        ASSERT_EQ(index, 0) << i;
      } else {
        ASSERT_GE(index, 1) << i;
        ASSERT_LT(index, count) << "at most count - 1 colour entries";
        if (count >= 8) {
          ASSERT_EQ(t->Palette()[index], colour);
        }
      }
    }
  }
}

TEST(ColourReduction, RefusesBadRequests) {
  Ref<ImageBuffer> s = Cycling({0xFF000000u}, 4, 4);
  const uint32_t palette[2] = {0xFF000000u, 0xFFFFFFFFu};
  struct Case { const char* name; Ref<ImageBuffer> target; ReductionOptions options; };
  const Case cases[] = {
      {"one colour", NewImage(PixelFormat::Indexed8, 4, 4), {.colours = 1}},
      {"257 colours", NewImage(PixelFormat::Indexed8, 4, 4), {.colours = 257}},
      {"other size", NewImage(PixelFormat::Indexed8, 4, 3), {}},
      {"not indexed", NewImage(PixelFormat::Rgba8, 4, 4), {}},
      {"empty palette", NewImage(PixelFormat::Indexed8, 4, 4), {.palette = palette, .paletteCount = 0}},
      {"long palette", NewImage(PixelFormat::Indexed8, 4, 4), {.palette = palette, .paletteCount = 257}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReduceColours(*c.target, *s, c.options), kStatusSizeMismatch) << c.name;
  EXPECT_EQ(ReduceColours(*cases[0].target, *s, {.colours = 2}), kStatusOk);
}

TEST(ColourReduction, AGradientFitsTheAskedCountClosely) {
  Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba8, 64, 64);
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) PixelAt(*s, x, y) = 0xFF000000u | (x * 4) << 16 | (y * 4) << 8 | ((x + y) * 2);
  const std::vector<uint32_t> want = ColoursOf(*s);
  for (uint32_t count : {2u, 16u, 64u}) {
    std::set<uint8_t> used;
    const std::vector<uint32_t> got = ColoursOf(*Reduced(*s, {.colours = count}), &used);
    double error = 0;
    for (size_t i = 0; i < got.size(); ++i)
      for (int c = 0; c < 24; c += 8) error += std::abs(int((want[i] >> c) & 255) - int((got[i] >> c) & 255));
    EXPECT_LE(used.size(), count);
    EXPECT_GE(used.size(), count / 2);
    // Mean error per channel: halving the boxes of a 256-level ramp in three
    // channels, about 256 / (2 × count^(1/3)) at most.
    EXPECT_LT(error / (64 * 64 * 3), 128.0 / std::cbrt(double(count))) << count;
  }
}

TEST(ColourReduction, AGivenPaletteWithAndWithoutDithering) {
  const uint32_t palette[3] = {0xFF000000u, 0xFFFFFFFFu, 0x00000000u};
  Ref<ImageBuffer> s = Cycling({0xFF404040u}, 64, 64);
  PixelAt(*s, 5, 5) = 0x00123456u;
  for (bool dither : {false, true}) {
    Ref<ImageBuffer> t = Reduced(*s, {.palette = palette, .paletteCount = 3, .dither = dither});
    EXPECT_EQ(t->Row(5)[5], 2) << "the palette's transparent entry";
    uint32_t white = 0;
    for (uint32_t y = 0; y < 64; ++y) {
      for (uint32_t x = 0; x < 64; ++x) {
        if (x == 5 && y == 5) continue;
        ASSERT_LT(t->Row(y)[x], 2);
        white += t->Row(y)[x];
      }
    }
    // 0x40 is a quarter of the way to white: nearest is black, diffusion
    // keeps the mean.
    if (dither)
      EXPECT_NEAR(white / (64.0 * 64 - 1), 0x40 / 255.0, 0.01);
    else
      EXPECT_EQ(white, 0u);
  }
}

TEST(ColourReduction, PaletteSourcesThatFitPassThrough) {
  Ref<ImageBuffer> s =
      pvtest::ImageOf(PixelFormat::Indexed8, 6, 2, {200, 5, 9, 9, 5, 200, 5, 5, 5, 9, 200, 200});
  s->Palette()[5] = 0x80112233u;  // alpha is kept as it is
  s->Palette()[9] = 0xFF445566u;
  s->Palette()[200] = 0xFF778899u;
  Ref<ImageBuffer> t = Reduced(*s, {.colours = 3});
  EXPECT_EQ(std::vector<uint32_t>(t->Palette(), t->Palette() + 3),
            (std::vector<uint32_t>{0x80112233u, 0xFF445566u, 0xFF778899u}));
  EXPECT_EQ(pvtest::SamplesOf(*t), (std::vector<double>{2, 0, 1, 1, 0, 2, 0, 0, 0, 1, 2, 2}));

  // Too many colours for the count: reduced like any colour image.
  std::set<uint8_t> used;
  ColoursOf(*Reduced(*s, {.colours = 2}), &used);
  EXPECT_EQ(used.size(), 2u);
}

TEST(ColourReduction, DeepSourcesAreNarrowedFirst) {
  const std::vector<double> px = {0x1000, 0x2000, 0x3000, 0xFFFF, 0xF0F0, 0x8080,
                                  0x0101, 0xFFFF, 0x1000, 0x2000, 0x3000, 0xFFFF};
  EXPECT_EQ(ColoursOf(*Reduced(*pvtest::ImageOf(PixelFormat::Rgba16, 3, 1, px))),
            (std::vector<uint32_t>{0xFF302010u, 0xFF0180F0u, 0xFF302010u}));
  EXPECT_EQ(ColoursOf(*Reduced(*pvtest::ImageOf(PixelFormat::GreyF, 2, 1, {0.0, 1.0}))),
            (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));
}

TEST(ColourReduction, SumsOfLargeImagesDoNotOverflow) {
  // 17.2 million white pixels: their channel sums pass 2^32.
  const uint32_t w = 4200, h = 4100;
  Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba8, w, h);
  ASSERT_TRUE(s);
  for (uint32_t y = 0; y < h; ++y) std::memset(s->Row(y), 0xFF, size_t{w} * 4);
  PixelAt(*s, 7, 3) = 0xFF000000u;
  Ref<ImageBuffer> t = Reduced(*s);
  EXPECT_EQ(t->Palette()[t->Row(0)[0]], 0xFFFFFFFFu);
  EXPECT_EQ(t->Palette()[t->Row(h - 1)[w - 1]], 0xFFFFFFFFu);
  EXPECT_EQ(t->Palette()[t->Row(3)[7]], 0xFF000000u);
}

}  // namespace
}  // namespace pv
