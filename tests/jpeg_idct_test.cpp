#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "codecs/jpeg/idct.h"

namespace {

// The inverse DCT in double precision, level-shifted, rounded and clamped.
void ReferenceIdct(const int16_t* coefs, const uint16_t* quant, uint8_t* out) {
  const double pi = std::acos(-1.0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
          const double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
          sum += cu * cv * coefs[v * 8 + u] * quant[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16) *
                 std::cos((2 * y + 1) * v * pi / 16);
        }
      }
      out[y * 8 + x] = static_cast<uint8_t>(std::clamp(std::lround(sum / 4 + 128), 0L, 255L));
    }
  }
}

// Coefficients as a JPEG encoder makes them: the DCT of a block of samples
// with some structure, divided by a quantiser.
void RealisticBlock(std::mt19937& rng, uint16_t q, int16_t* coefs, uint16_t* quant) {
  const double pi = std::acos(-1.0);
  std::uniform_int_distribution<int> level(0, 255), slope(-40, 40), noise(-30, 30);
  const int base = level(rng), sx = slope(rng), sy = slope(rng);
  double samples[64];
  for (int i = 0; i < 64; ++i) samples[i] = std::clamp(base + sx * (i % 8) / 2 + sy * (i / 8) / 2 + noise(rng), 0, 255);
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int i = 0; i < 64; ++i)
        sum += (samples[i] - 128) * std::cos((2 * (i % 8) + 1) * u * pi / 16) * std::cos((2 * (i / 8) + 1) * v * pi / 16);
      const double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
      const uint16_t qq = static_cast<uint16_t>(u + v == 0 ? q : q + (u + v) * q / 4);
      quant[v * 8 + u] = qq;
      coefs[v * 8 + u] = static_cast<int16_t>(std::lround(cu * cv * sum / 4 / qq));
    }
  }
}

TEST(JpegIdct, CloseToTheExactTransformOnEncoderOutputAndInPlace) {
  std::mt19937 rng(1234);
  long total = 0, samples = 0;
  int worst = 0;
  for (int n = 0; n < 3000; ++n) {
    alignas(16) int16_t coefs[64];
    alignas(16) uint16_t quant[64];
    RealisticBlock(rng, static_cast<uint16_t>(1 + n % 24), coefs, quant);
    uint8_t ours[64], exact[64];
    pv::jpeg::IdctBlock(coefs, quant, ours);
    ReferenceIdct(coefs, quant, exact);
    // Reconstruction works in place, over the block's own coefficients.
    pv::jpeg::IdctBlock(coefs, quant, reinterpret_cast<uint8_t*>(coefs));
    ASSERT_EQ(std::memcmp(coefs, ours, 64), 0);
    for (int i = 0; i < 64; ++i) {
      const int d = std::abs(ours[i] - exact[i]);
      worst = std::max(worst, d);
      total += d;
      ++samples;
    }
  }
  EXPECT_LE(worst, 2);
  EXPECT_LT(static_cast<double>(total) / samples, 0.15);
}

TEST(JpegIdct, VectorAndScalarFormsAgreeBitForBit) {
  std::mt19937 rng(99);
  // Sparse realistic blocks, dense random ones, and extremes that saturate
  // and wrap the 16-bit arithmetic.
  std::uniform_int_distribution<int> small(-64, 64), any(-32768, 32767), position(0, 63), quant(1, 255);
  for (int n = 0; n < 20000; ++n) {
    alignas(16) int16_t coefs[64] = {};
    alignas(16) uint16_t q[64];
    for (int i = 0; i < 64; ++i) q[i] = static_cast<uint16_t>(n % 3 == 2 ? quant(rng) * 257 : quant(rng));
    const int kind = n % 4;
    if (kind == 0) {
      for (int i = 0; i < 6; ++i) coefs[position(rng)] = static_cast<int16_t>(small(rng));
    } else if (kind == 1) {
      for (int16_t& c : coefs) c = static_cast<int16_t>(small(rng));
    } else if (kind == 2) {
      for (int16_t& c : coefs) c = static_cast<int16_t>(any(rng));
    } else {
      coefs[0] = static_cast<int16_t>(any(rng));  // DC alone: the shortcut
    }
    uint8_t vector[64], scalar[64];
    pv::jpeg::sse2::IdctBlock(coefs, q, vector);
    pv::jpeg::scalar::IdctBlock(coefs, q, scalar);
    ASSERT_EQ(std::memcmp(vector, scalar, 64), 0) << "block " << n;
  }
}

TEST(JpegIdct, DcOnlySampleIsTheBlockLevel) {
  struct Case { int16_t dc; uint16_t quant; uint8_t expected; };
  // Level = dc * quant / 8 + 128, rounded, clamped.
  const Case cases[] = {{0, 16, 128},   {8, 1, 129},     {-8, 1, 127},   {100, 8, 228},  {-100, 8, 28},
                        {127, 8, 255},  {-128, 8, 0},    {3, 5, 130},    {-3, 5, 126},   {1000, 99, 255},
                        {-1000, 99, 0}, {32767, 255, 255}};
  for (const Case& c : cases) EXPECT_EQ(pv::jpeg::DcOnlySample(c.dc, c.quant), c.expected) << c.dc << " x " << c.quant;
}

}  // namespace
