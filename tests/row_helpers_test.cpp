#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/png/png_rows.h"
#include "core/counted.h"
#include "core/cpu.h"
#include "core/image_buffer.h"
#include "core/row_helpers.h"
#include "core/task_group.h"
#include "tests/test_support.h"

namespace pv {
namespace {

using Bytes = std::vector<uint8_t>;
using pvtest::RandomBytes;
using pvtest::ScopedValue;
using pvtest::VectorSettings;

template <class T>
std::vector<T> Repeat(const std::vector<T>& unit, size_t times) {
  std::vector<T> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(RowHelpers, PlanesToIndicesMatchesPerPixelSum) {
  for (uint32_t planes = 1; planes <= 8; ++planes) {
    for (uint32_t width = 0; width <= 41; ++width) {
      const size_t planeBytes = (width + 7) / 8;
      const Bytes in = RandomBytes(planes * 64 + width, planeBytes * planes);
      Bytes expected(width, 0);
      for (uint32_t x = 0; x < width; ++x)
        for (uint32_t p = 0; p < planes; ++p)
          expected[x] |= static_cast<uint8_t>(((in[p * planeBytes + x / 8] >> (7 - x % 8)) & 1) << p);
      Bytes out(width);
      PlanesToIndices(out.data(), in.data(), width, planes);
      ASSERT_EQ(out, expected) << width << " pixels, " << planes << " planes";
    }
  }
}

// A row routine seen as bytes in, bytes out, so that every form can be run
// through the same harness.
using Form = void (*)(uint8_t* dst, const uint8_t* src, size_t n);
struct Kernel {
  const char* name; size_t inBytesPerItem; size_t (*outBytes)(size_t n); size_t dstAlignment; Form scalarForm, vectorForm, dispatched;
};

template <uint32_t kChannels, bool kSwap>
Kernel Copy16Kernel(const char* name) {
  return {name, 2, [](size_t n) { return (kChannels == 1 ? n : n / kChannels * 4) * 2; }, 2,
          [](uint8_t* d, const uint8_t* s, size_t n) { scalar::Copy16(reinterpret_cast<uint16_t*>(d), s, n, kChannels, kSwap); },
          [](uint8_t* d, const uint8_t* s, size_t n) { ssse3::Copy16(reinterpret_cast<uint16_t*>(d), s, n, kChannels, kSwap); },
          [](uint8_t* d, const uint8_t* s, size_t n) { Copy16(reinterpret_cast<uint16_t*>(d), s, n, kChannels, kSwap); }};
}

// The entries are converted where they lie; the copy makes the same source
// serve all three forms.
template <void (*kConvert)(uint8_t*, size_t)>
void InPlace(uint8_t* d, const uint8_t* s, size_t n) {
  if (n) std::memcpy(d, s, 4 * n);
  kConvert(d, n);
}

// Any fault of a scalar form shows here as a mismatch with its vector twin;
// the corpus decodes hold both to the reference pixels (16-bit copies: the
// PNG sample test).
TEST(RowHelpers, VectorFormsMatchScalarTwins) {
  if (VectorSettings().size() < 2) GTEST_SKIP() << "no SSSE3 on this processor";
  const Kernel kernels[] = {
      {"UnpackBits1", 1, [](size_t n) { return 8 * n; }, 1, scalar::UnpackBits1, ssse3::UnpackBits1, UnpackBits1},
      {"UnpackBits2", 1, [](size_t n) { return 4 * n; }, 1, scalar::UnpackBits2, ssse3::UnpackBits2, UnpackBits2},
      {"UnpackBits4", 1, [](size_t n) { return 2 * n; }, 1, scalar::UnpackBits4, ssse3::UnpackBits4, UnpackBits4},
      {"BgrToRgba8", 3, [](size_t n) { return 4 * n; }, 1, scalar::BgrToRgba8, ssse3::BgrToRgba8, BgrToRgba8},
      {"RgbToRgba8", 3, [](size_t n) { return 4 * n; }, 4,
       [](uint8_t* d, const uint8_t* s, size_t n) { scalar::RgbToRgba8(reinterpret_cast<uint32_t*>(d), s, n); },
       [](uint8_t* d, const uint8_t* s, size_t n) { ssse3::RgbToRgba8(reinterpret_cast<uint32_t*>(d), s, n); },
       [](uint8_t* d, const uint8_t* s, size_t n) { RgbToRgba8(reinterpret_cast<uint32_t*>(d), s, n); }},
      Copy16Kernel<1, false>("Copy16 1 channel"),
      Copy16Kernel<1, true>("Copy16 1 channel swapped"),
      Copy16Kernel<3, false>("Copy16 3 channels"),
      Copy16Kernel<3, true>("Copy16 3 channels swapped"),
      Copy16Kernel<4, false>("Copy16 4 channels"),
      Copy16Kernel<4, true>("Copy16 4 channels swapped"),
      {"YccToRgb", 4, [](size_t n) { return 4 * n; }, 4, InPlace<scalar::YccToRgb>, InPlace<ssse3::YccToRgb>,
       InPlace<YccToRgb>},
      {"png::RgbaToBgra8", 4, [](size_t n) { return 4 * n; }, 1, png::scalar::RgbaToBgra8, png::ssse3::RgbaToBgra8,
       png::RgbaToBgra8},
      {"png::GreyAlphaToBgra8", 2, [](size_t n) { return 4 * n; }, 1, png::scalar::GreyAlphaToBgra8,
       png::ssse3::GreyAlphaToBgra8, png::GreyAlphaToBgra8},
  };
  ScopedValue<bool> flag(CpuHasSsse3, true);
  for (const Kernel& k : kernels) {
    for (size_t n = 0; n <= 300; ++n) {
      for (size_t srcOffset = 0; srcOffset < 16; ++srcOffset) {
        const size_t dstOffset = (srcOffset * 7 + n) % 16 / k.dstAlignment * k.dstAlignment;
        // Both blocks are sized exactly: the source ends at the end of its
        // allocation and the output may not pass its last byte.
        Bytes src = RandomBytes(static_cast<uint32_t>(n * 16 + srcOffset), srcOffset + n * k.inBytesPerItem);
        const size_t outBytes = k.outBytes(n);
        Bytes expected(dstOffset + outBytes, 0xCD), vector = expected, dispatched = expected;
        k.scalarForm(expected.data() + dstOffset, src.data() + srcOffset, n);
        k.vectorForm(vector.data() + dstOffset, src.data() + srcOffset, n);
        k.dispatched(dispatched.data() + dstOffset, src.data() + srcOffset, n);
        ASSERT_EQ(vector, expected) << k.name << " n=" << n << " src+" << srcOffset << " dst+" << dstOffset;
        ASSERT_EQ(dispatched, expected) << k.name << " n=" << n << " src+" << srcOffset << " dst+" << dstOffset;
      }
    }
  }
}

TEST(RowHelpers, RelayoutRows) {
  struct Case { const char* name; size_t dstPitch, srcPitch; uint32_t rows; bool inPlace; };
  const Case cases[] = {
      {"spread in place", 8, 5, 4, true}, {"spread in place, wide", 32, 3, 6, true}, {"pack in place", 5, 8, 4, true},
      {"same pitch in place", 6, 6, 3, true}, {"to a wider block", 6, 4, 3, false},
      {"to a narrower block", 3, 5, 3, false}, {"no rows", 8, 4, 0, false},
  };
  // Nothing to copy may come with no memory at all.
  CopyBytes(nullptr, nullptr, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes src(c.srcPitch * c.rows);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i / c.srcPitch * 16 + i % c.srcPitch);
    // Past the copied part of a row a block of its own keeps its bytes.
    Bytes block(c.inPlace ? std::max(src.size(), c.dstPitch * c.rows) : c.dstPitch * c.rows, 0xEE);
    if (c.inPlace) std::copy(src.begin(), src.end(), block.begin());
    RelayoutRows(block.data(), c.inPlace ? block.data() : src.data(), c.dstPitch, c.srcPitch, c.rows);
    for (uint32_t r = 0; r < c.rows; ++r) {
      for (size_t x = 0; x < (c.inPlace ? std::min(c.dstPitch, c.srcPitch) : c.dstPitch); ++x)
        ASSERT_EQ(block[r * c.dstPitch + x], x < c.srcPitch ? r * 16 + x : 0xEE) << "row " << r << " byte " << x;
    }
  }
}

TEST(RowHelpers, ColourConversions) {
  enum class Model { Ycc, Cmyk, Cmyl, Xyz };
  // out: B, G, R, A
  struct Case { Model model; Bytes in; Bytes out; };
  const Case cases[] = {
      {Model::Ycc, {128, 128, 128, 7}, {128, 128, 128, 255}},
      // Rounding shifts go toward minus infinity: (-22912 + 64) >> 7 is -179.
      {Model::Ycc, {0, 0, 0, 0}, {0, 135, 0, 255}}, {Model::Ycc, {255, 128, 255, 0}, {255, 165, 255, 255}},
      {Model::Ycc, {100, 200, 50, 0}, {228, 131, 0, 255}}, {Model::Cmyk, {0, 0, 0, 0}, {255, 255, 255, 255}},
      {Model::Cmyk, {255, 0, 0, 0}, {255, 255, 0, 255}}, {Model::Cmyk, {10, 0, 0, 100}, {155, 155, 148, 255}},
      {Model::Cmyl, {128, 64, 0, 255}, {0, 64, 128, 255}}, {Model::Cmyl, {255, 255, 255, 0}, {0, 0, 0, 255}},
      {Model::Xyz, {0, 255, 0, 0}, {0, 255, 0, 255}}, {Model::Xyz, {100, 0, 0, 0}, {41, 0, 255, 255}},
      // Blue stays on the linear part of the transfer curve.
      {Model::Xyz, {1, 0, 0, 0}, {1, 0, 30, 255}}, {Model::Xyz, {60, 60, 60, 0}, {127, 130, 145, 255}},
  };
  for (const Case& c : cases) {
    for (bool vector : VectorSettings()) {
      ScopedValue<bool> flag(CpuHasSsse3, vector);
      // Nineteen entries reach the vector loop and its tail.
      constexpr size_t kEntries = 19;
      Bytes entries = Repeat(c.in, kEntries);
      switch (c.model) {
        case Model::Ycc: YccToRgb(entries.data(), kEntries); break;
        case Model::Cmyk: CmykToRgb(entries.data(), kEntries, false); break;
        case Model::Cmyl: CmykToRgb(entries.data(), kEntries, true); break;
        case Model::Xyz: XyzToRgb(entries.data(), kEntries); break;
      }
      EXPECT_EQ(entries, Repeat(c.out, kEntries))
          << "model " << static_cast<int>(c.model) << " in " << +c.in[0] << "," << +c.in[1] << "," << +c.in[2] << ","
          << +c.in[3] << (vector ? " vector" : " scalar");
    }
  }
}

TEST(RowHelpers, YccToRgbInBandsMatchesScalar) {
  ScopedValue<uint32_t> processors(ProcessorCount, 2);
  ScopedValue<bool> flag(CpuHasSsse3, VectorSettings().back());
  // Two and three bands of uneven length, and one band again while another
  // parallel job is marked as running.
  struct Case { size_t entries; int nesting; };
  for (const Case c : {Case{2 * 131072 + 5, 0}, Case{3 * 131072 + 7, 0}, Case{2 * 131072 + 5, 1}}) {
    SCOPED_TRACE(std::to_string(c.entries) + " entries, nesting " + std::to_string(c.nesting));
    const Bytes in = RandomBytes(99, 4 * c.entries);
    Bytes expected = in, banded = in;
    scalar::YccToRgb(expected.data(), c.entries);
    ParallelNesting += c.nesting;
    YccToRgb(banded.data(), c.entries);
    ParallelNesting -= c.nesting;
    EXPECT_EQ(banded, expected);
    EXPECT_EQ(ParallelNesting.load(), 0);
  }
}

TEST(RowHelpers, ExpandGrey) {
  struct Case { PixelFormat format; uint32_t bits; bool invert; std::vector<double> in, out; Status status; };
  const Case cases[] = {
      // 1, 4 and 8 bits of L and K are in the decoder's colour model test.
      {PixelFormat::Grey8, 2, false, {0, 1, 2, 3}, {0, 85, 170, 255}, kStatusOk},
      {PixelFormat::Grey8, 4, true, {15, 1}, {0, 238}, kStatusOk},
      {PixelFormat::Grey8, 7, false, {127, 64}, {255, 128}, kStatusOk},
      {PixelFormat::Grey16, 16, true, {0, 0x1234}, {65535, 0xEDCB}, kStatusOk},
      {PixelFormat::Grey16, 16, false, {0x1234}, {0x1234}, kStatusOk},
      {PixelFormat::GreyF, 32, true, {0.25, 1.0, 0.0}, {0.75, 0.0, 1.0}, kStatusOk},
      {PixelFormat::GreyF, 32, false, {0.25}, {0.25}, kStatusOk},
      // A depth of no bits has no levels to stretch; colour has no grey.
      {PixelFormat::Grey8, 0, false, {7}, {7}, kStatusSizeMismatch},
      {PixelFormat::Indexed8, 8, true, {7}, {7}, kStatusColourFormat},
      {PixelFormat::RgbaF, 8, true, {1, 2, 3, 4}, {1, 2, 3, 4}, kStatusColourFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(static_cast<int>(c.format)) + ", " + std::to_string(c.bits) + " bits" +
                 (c.invert ? ", inverted" : ""));
    // Three rows of the same samples.
    const uint32_t width = static_cast<uint32_t>(c.in.size() / pvtest::ChannelsOf(c.format));
    Ref<ImageBuffer> buffer = pvtest::ImageOf(c.format, width, 3, Repeat(c.in, 3));
    EXPECT_EQ(ExpandGrey(*buffer, c.bits, c.invert), c.status);
    EXPECT_EQ(pvtest::SamplesOf(*buffer), Repeat(c.out, 3));
  }
}

}  // namespace
}  // namespace pv
