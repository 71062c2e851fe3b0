#include "codecs/tiff/logluv.h"

#include <cmath>

namespace pv {

namespace {

// Luminance of a 16-bit log value: sign in bit 15, 15 bits of 256ths of a stop.
float Luminance(uint32_t v) {
  const uint32_t le = v & 0x7FFF;
  if (!le) return 0;
  const float y = std::exp2(static_cast<float>(le) / 256.0f - 63.998047f);
  return (v & 0x8000) ? -y : y;
}

}  // namespace

uint32_t DecodeLogLuvRows(ByteReader in, uint8_t* out, uint32_t width, uint32_t rows, uint32_t bytes) {
  for (uint32_t y = 0; y < rows; ++y) {
    uint8_t* row = out + size_t{y} * width * bytes;
    for (uint32_t plane = 0; plane < bytes; ++plane) {
      for (uint32_t x = 0; x < width;) {
        uint8_t control = 0, value = 0;
        if (!in.U8(control)) return y;
        if (control >= 128) {
          if (!in.U8(value)) return y;
          for (uint32_t n = control - 126u; n && x < width; --n, ++x) row[size_t{x} * bytes + plane] = value;
        } else {
          for (uint32_t n = control; n; --n) {
            if (!in.U8(value)) return y;
            if (x < width) row[size_t{x++} * bytes + plane] = value;
          }
        }
      }
    }
  }
  return rows;
}

void LogLToGrey(float* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = Luminance(uint32_t{src[2 * i]} << 8 | src[2 * i + 1]);
}

void LogLuvToRgb(float* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, src += 4, dst += 4) {
    const float y = Luminance(uint32_t{src[0]} << 8 | src[1]);
    float x = 0, z = 0, yy = 0;
    if (y > 0) {
      const float u = src[2] / 410.0f, v = src[3] / 410.0f;
      const float d = 6 * u - 16 * v + 12;
      const float cx = 9 * u / d, cy = 4 * v / d;
      if (cy > 0) {
        x = cx / cy * y;
        yy = y;
        z = (1 - cx - cy) / cy * y;
      }
    }
    dst[2] = 2.69f * x - 1.276f * yy - 0.414f * z;
    dst[1] = -1.022f * x + 1.978f * yy + 0.044f * z;
    dst[0] = 0.061f * x - 0.224f * yy + 1.163f * z;
    dst[3] = 1.0f;
  }
}

}  // namespace pv
