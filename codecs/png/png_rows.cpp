#include "codecs/png/png_rows.h"

#include <cstdlib>

#include "core/cpu.h"

namespace pv::png {

namespace {

// Runs shorter than these take the scalar form: the vector loop would not
// complete one step.
constexpr size_t kMinVectorBytes = 16;
constexpr size_t kMinVectorPixels = 8;

uint8_t PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

}  // namespace

namespace scalar {

void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp) {
  const size_t first = bpp < bytes ? bpp : bytes;
  switch (filter) {
    case kSub:
      for (size_t i = bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case kUp:
      for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
      break;
    case kAverage:
      for (size_t i = 0; i < first; ++i) row[i] = static_cast<uint8_t>(row[i] + (previous[i] >> 1));
      for (size_t i = bpp; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + previous[i]) >> 1));
      break;
    case kPaeth:
      // With no pixel to the left the predictor is the byte above.
      for (size_t i = 0; i < first; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
      for (size_t i = bpp; i < bytes; ++i)
        row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(row[i - bpp], previous[i], previous[i - bpp]));
      break;
    default:
      break;
  }
}

void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, dst += 4, src += 4) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
    dst[3] = src[3];
  }
}

void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, dst += 4, src += 2) {
    dst[0] = dst[1] = dst[2] = src[0];
    dst[3] = src[1];
  }
}

}  // namespace scalar

void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp) {
  if (CpuHasSsse3 && bytes >= kMinVectorBytes) {
    ssse3::Unfilter(filter, row, previous, bytes, bpp);
  } else {
    scalar::Unfilter(filter, row, previous, bytes, bpp);
  }
}

void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  if (CpuHasSsse3 && n >= kMinVectorPixels) {
    ssse3::RgbaToBgra8(dst, src, n);
  } else {
    scalar::RgbaToBgra8(dst, src, n);
  }
}

void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  if (CpuHasSsse3 && n >= kMinVectorPixels) {
    ssse3::GreyAlphaToBgra8(dst, src, n);
  } else {
    scalar::GreyAlphaToBgra8(dst, src, n);
  }
}

}  // namespace pv::png
