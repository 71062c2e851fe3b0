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

uint32_t MappedColour(ImageBuffer& indexed, uint32_t x, uint32_t y) { return indexed.Palette()[indexed.Row(y)[x]]; }

TEST(ColourReduction, ColoursInTheirOwnCellsAreKeptExactly) {
  // Ten colours in ten different cells of the 64-level histogram.
  const std::vector<uint32_t> colours = {0xFF000000u, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu,
                                         0xFF123456u, 0xFF808080u, 0xFFFEDCBAu, 0xFF7F0001u, 0xFF0305F9u};
  for (bool dither : {false, true}) {
    Ref<ImageBuffer> s = Cycling(colours, 23, 11);
    Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 23, 11);
    ReductionOptions options;
    options.dither = dither;
    ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
    std::set<uint8_t> used;
    for (uint32_t y = 0; y < 11; ++y) {
      for (uint32_t x = 0; x < 23; ++x) {
        ASSERT_EQ(MappedColour(*t, x, y), colours[(size_t{y} * 23 + x) % colours.size()]) << x << "," << y;
        used.insert(t->Row(y)[x]);
      }
    }
    EXPECT_EQ(used.size(), colours.size());
  }
}

TEST(ColourReduction, ColoursSharingACellMergeIntoTheirMean) {
  // Three pixels of (100, 100, 100) and one of (103, 101, 102): all in cell (25, 25, 25).
  Ref<ImageBuffer> s = Cycling({0xFF646464u, 0xFF646464u, 0xFF646464u, 0xFF676566u}, 4, 1);
  Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 4, 1);
  ASSERT_EQ(ReduceColours(*t, *s, ReductionOptions{}), kStatusOk);
  // Rounded means: R (403 + 2) / 4 = 101, G (401 + 2) / 4 = 100, B (402 + 2) / 4 = 101.
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(MappedColour(*t, x, 0), 0xFF656465u);
}

TEST(ColourReduction, TransparentPixelsTakeIndexZero) {
  const std::vector<uint32_t> colours = {0x00000000u, 0xFF102030u, 0x00FFFFFFu, 0xFFE0E0E0u,
                                         0xFF20F020u, 0xFF8000C0u, 0xFF404040u};
  for (uint32_t count : {4u, 8u, 256u}) {
    Ref<ImageBuffer> s = Cycling(colours, 17, 9);
    s->SetUsesAlpha(1);
    Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 17, 9);
    ReductionOptions options;
    options.colours = count;
    ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
    EXPECT_EQ(t->Palette()[0] >> 24, 0u);
    EXPECT_EQ(t->UsesAlpha(), 1);
    for (uint32_t y = 0; y < 9; ++y) {
      for (uint32_t x = 0; x < 17; ++x) {
        const uint32_t colour = colours[(size_t{y} * 17 + x) % colours.size()];
        const uint8_t index = t->Row(y)[x];
        if (colour >> 24 == 0) {
          ASSERT_EQ(index, 0) << x << "," << y;
        } else {
          ASSERT_GE(index, 1) << x << "," << y;
          ASSERT_LT(index, count) << "at most count - 1 colour entries";
          if (count >= 8) {
            ASSERT_EQ(MappedColour(*t, x, y), colour);
          }
        }
      }
    }
  }
}

TEST(ColourReduction, RefusesBadRequests) {
  Ref<ImageBuffer> s = Cycling({0xFF000000u}, 4, 4);
  Ref<ImageBuffer> indexed = NewImage(PixelFormat::Indexed8, 4, 4);
  Ref<ImageBuffer> wrongSize = NewImage(PixelFormat::Indexed8, 4, 3);
  Ref<ImageBuffer> notIndexed = NewImage(PixelFormat::Rgba8, 4, 4);
  const uint32_t palette[2] = {0xFF000000u, 0xFFFFFFFFu};
  struct Case {
    const char* name;
    ImageBuffer* target;
    uint32_t colours;
    const uint32_t* palette;
    uint32_t paletteCount;
  };
  const Case cases[] = {
      {"one colour", indexed.get(), 1, nullptr, 0},       {"257 colours", indexed.get(), 257, nullptr, 0},
      {"other size", wrongSize.get(), 256, nullptr, 0},  {"not indexed", notIndexed.get(), 256, nullptr, 0},
      {"empty palette", indexed.get(), 256, palette, 0}, {"long palette", indexed.get(), 256, palette, 257},
  };
  for (const Case& c : cases) {
    ReductionOptions options;
    options.colours = c.colours;
    options.palette = c.palette;
    options.paletteCount = c.paletteCount;
    EXPECT_EQ(ReduceColours(*c.target, *s, options), kStatusSizeMismatch) << c.name;
  }
  ReductionOptions fine;
  fine.colours = 2;
  EXPECT_EQ(ReduceColours(*indexed, *s, fine), kStatusOk);
}

TEST(ColourReduction, AGradientFitsTheAskedCountClosely) {
  Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba8, 64, 64);
  for (uint32_t y = 0; y < 64; ++y) {
    for (uint32_t x = 0; x < 64; ++x) PixelAt(*s, x, y) = 0xFF000000u | (x * 4) << 16 | (y * 4) << 8 | ((x + y) * 2);
  }
  for (uint32_t count : {2u, 16u, 64u}) {
    Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 64, 64);
    ReductionOptions options;
    options.colours = count;
    ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
    std::set<uint8_t> used;
    double error = 0;
    for (uint32_t y = 0; y < 64; ++y) {
      for (uint32_t x = 0; x < 64; ++x) {
        used.insert(t->Row(y)[x]);
        uint32_t want, got = MappedColour(*t, x, y);
        std::memcpy(&want, s->Row(y) + 4 * x, 4);
        for (int c = 0; c < 24; c += 8) error += std::abs(int((want >> c) & 255) - int((got >> c) & 255));
      }
    }
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
    Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 64, 64);
    ReductionOptions options;
    options.palette = palette;
    options.paletteCount = 3;
    options.dither = dither;
    ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
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
  Ref<ImageBuffer> s = NewImage(PixelFormat::Indexed8, 6, 2);
  const uint8_t indices[2][6] = {{200, 5, 9, 9, 5, 200}, {5, 5, 5, 9, 200, 200}};
  for (uint32_t y = 0; y < 2; ++y) std::memcpy(s->Row(y), indices[y], 6);
  s->Palette()[5] = 0x80112233u;  // alpha is kept as it is
  s->Palette()[9] = 0xFF445566u;
  s->Palette()[200] = 0xFF778899u;
  Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 6, 2);
  ReductionOptions options;
  options.colours = 3;
  ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
  const uint32_t expected[3] = {0x80112233u, 0xFF445566u, 0xFF778899u};
  EXPECT_EQ(std::vector<uint32_t>(t->Palette(), t->Palette() + 3), std::vector<uint32_t>(expected, expected + 3));
  const uint8_t renumbered[2][6] = {{2, 0, 1, 1, 0, 2}, {0, 0, 0, 1, 2, 2}};
  for (uint32_t y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(t->Row(y), renumbered[y], 6), 0) << y;

  // Too many colours for the count: reduced like any colour image.
  options.colours = 2;
  ASSERT_EQ(ReduceColours(*t, *s, options), kStatusOk);
  std::set<uint8_t> used;
  for (uint32_t y = 0; y < 2; ++y) used.insert(t->Row(y), t->Row(y) + 6);
  EXPECT_EQ(used.size(), 2u);
}

TEST(ColourReduction, DeepSourcesAreNarrowedFirst) {
  Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba16, 3, 1);
  const uint16_t px[12] = {0x1000, 0x2000, 0x3000, 0xFFFF, 0xF0F0, 0x8080, 0x0101, 0xFFFF, 0x1000, 0x2000, 0x3000, 0xFFFF};
  std::memcpy(s->Row(0), px, sizeof px);
  Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, 3, 1);
  ASSERT_EQ(ReduceColours(*t, *s, ReductionOptions{}), kStatusOk);
  EXPECT_EQ(MappedColour(*t, 0, 0), 0xFF302010u);
  EXPECT_EQ(MappedColour(*t, 1, 0), 0xFF0180F0u);
  EXPECT_EQ(t->Row(0)[0], t->Row(0)[2]);

  Ref<ImageBuffer> g = NewImage(PixelFormat::GreyF, 2, 1);
  const float v[2] = {0.0f, 1.0f};
  std::memcpy(g->Row(0), v, sizeof v);
  Ref<ImageBuffer> gt = NewImage(PixelFormat::Indexed8, 2, 1);
  ASSERT_EQ(ReduceColours(*gt, *g, ReductionOptions{}), kStatusOk);
  EXPECT_EQ(MappedColour(*gt, 0, 0), 0xFF000000u);
  EXPECT_EQ(MappedColour(*gt, 1, 0), 0xFFFFFFFFu);
}

TEST(ColourReduction, SumsOfLargeImagesDoNotOverflow) {
  // 17.2 million white pixels: their channel sums pass 2^32.
  const uint32_t w = 4200, h = 4100;
  Ref<ImageBuffer> s = NewImage(PixelFormat::Rgba8, w, h);
  ASSERT_TRUE(s);
  for (uint32_t y = 0; y < h; ++y) std::memset(s->Row(y), 0xFF, size_t{w} * 4);
  PixelAt(*s, 7, 3) = 0xFF000000u;
  Ref<ImageBuffer> t = NewImage(PixelFormat::Indexed8, w, h);
  ASSERT_EQ(ReduceColours(*t, *s, ReductionOptions{}), kStatusOk);
  EXPECT_EQ(MappedColour(*t, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(MappedColour(*t, w - 1, h - 1), 0xFFFFFFFFu);
  EXPECT_EQ(MappedColour(*t, 7, 3), 0xFF000000u);
}

}  // namespace
}  // namespace pv
