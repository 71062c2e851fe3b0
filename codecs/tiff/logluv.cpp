#include "codecs/tiff/logluv.h"

#include <algorithm>
#include <array>
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

// Linear RGB of a luminance and a chromaticity (u', v'), blue first, alpha 1.
void StoreRgb(float* dst, float y, float u, float v) {
  float x = 0, z = 0, yy = 0;
  const float d = 6 * u - 16 * v + 12;
  if (y > 0 && d != 0) {
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

// The 24-bit form codes (u', v') as the index of a 0.0035-wide square of
// the visible gamut, counted row by row from v' = 0.01694. Each group of
// rows: the u' where its squares start, squares per row, rows.
struct UvRows {
  float ustart;
  uint16_t squares, rows;
};
constexpr UvRows kUvRows[] = {
    {0.247663f, 4, 1}, {0.243779f, 6, 1}, {0.241684f, 7, 1}, {0.237874f, 9, 1}, {0.235906f, 10, 1},
    {0.232153f, 12, 1}, {0.228352f, 14, 1}, {0.226259f, 15, 1}, {0.222371f, 17, 1}, {0.220410f, 18, 1},
    {0.214710f, 21, 1}, {0.212714f, 22, 1}, {0.210721f, 23, 1}, {0.204976f, 26, 1}, {0.202986f, 27, 1},
    {0.199245f, 29, 1}, {0.195525f, 31, 1}, {0.193560f, 32, 1}, {0.189878f, 34, 1}, {0.186216f, 36, 2},
    {0.182592f, 38, 1}, {0.179003f, 40, 1}, {0.175466f, 42, 1}, {0.172001f, 44, 2}, {0.168612f, 46, 2},
    {0.163575f, 49, 1}, {0.158642f, 52, 3}, {0.153815f, 55, 2}, {0.149097f, 58, 2}, {0.142746f, 62, 3},
    {0.138270f, 65, 3}, {0.132166f, 69, 2}, {0.126204f, 73, 3}, {0.120381f, 77, 4}, {0.112962f, 82, 3},
    {0.107450f, 86, 4}, {0.100343f, 91, 3}, {0.095126f, 95, 4}, {0.088276f, 100, 4}, {0.081523f, 105, 4},
    {0.074861f, 110, 4}, {0.068290f, 115, 4}, {0.063573f, 119, 4}, {0.057219f, 124, 4}, {0.050985f, 129, 5},
    {0.044859f, 134, 4}, {0.040571f, 138, 4}, {0.036339f, 142, 4}, {0.032139f, 146, 4}, {0.027947f, 150, 3},
    {0.023739f, 154, 4}, {0.019504f, 158, 3}, {0.016976f, 161, 4}, {0.012639f, 165, 3}, {0.009991f, 168, 3},
    {0.009016f, 170, 3}, {0.006217f, 173, 2}, {0.005097f, 175, 3}, {0.003909f, 177, 2}, {0.002340f, 177, 1},
    {0.002389f, 170, 1}, {0.001068f, 164, 1}, {0.001653f, 157, 1}, {0.000717f, 150, 1}, {0.001614f, 143, 1},
    {0.000270f, 136, 1}, {0.000484f, 129, 1}, {0.001103f, 123, 1}, {0.001242f, 115, 1}, {0.001188f, 109, 1},
    {0.001011f, 103, 1}, {0.000709f, 97, 1}, {0.000301f, 89, 1}, {0.002416f, 82, 1}, {0.003251f, 76, 1},
    {0.003246f, 69, 1}, {0.004141f, 62, 1}, {0.005963f, 55, 1}, {0.008839f, 47, 1}, {0.010490f, 40, 1},
    {0.016994f, 31, 1}, {0.023659f, 21, 1},
};
constexpr float kUvSquare = 0.0035f, kUvStart = 0.01694f;
constexpr uint32_t kUvRowCount = 163, kUvSquareCount = 16289;

struct UvRow {
  float ustart;
  uint32_t first;  // index of the row's first square
};

const std::array<UvRow, kUvRowCount>& UvIndex() {
  static const std::array<UvRow, kUvRowCount> index = [] {
    std::array<UvRow, kUvRowCount> rows{};
    uint32_t i = 0, first = 0;
    for (const UvRows& g : kUvRows) {
      for (uint32_t r = 0; r < g.rows; ++r, first += g.squares) rows[i++] = {g.ustart, first};
    }
    return rows;
  }();
  return index;
}

// The chromaticity of a 14-bit index; false for indices past the gamut.
bool UvOf(uint32_t c, float* u, float* v) {
  const auto& rows = UvIndex();
  const auto next = std::upper_bound(rows.begin(), rows.end(), c, [](uint32_t x, const UvRow& r) { return x < r.first; });
  const auto row = next - 1;
  const uint32_t squares = next == rows.end() ? kUvSquareCount - row->first : next->first - row->first;
  if (c - row->first >= squares) return false;
  *u = row->ustart + (static_cast<float>(c - row->first) + 0.5f) * kUvSquare;
  *v = kUvStart + (static_cast<float>(row - rows.begin()) + 0.5f) * kUvSquare;
  return true;
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
  for (size_t i = 0; i < n; ++i, src += 4, dst += 4)
    StoreRgb(dst, Luminance(uint32_t{src[0]} << 8 | src[1]), src[2] / 410.0f, src[3] / 410.0f);
}

void LogLuv24ToRgb(float* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, src += 3, dst += 4) {
    const uint32_t v = uint32_t{src[0]} << 16 | uint32_t{src[1]} << 8 | src[2];
    // 10 bits of log luminance in 64ths of a stop, then the chromaticity index.
    const uint32_t le = v >> 14;
    const float y = le ? std::exp2((static_cast<float>(le) + 0.5f) / 64.0f - 12.0f) : 0.0f;
    float cu = 0, cv = 0;
    if (!UvOf(v & 0x3FFF, &cu, &cv)) cu = 4.0f / 19.0f, cv = 9.0f / 19.0f;  // outside: neutral
    StoreRgb(dst, y, cu, cv);
  }
}

}  // namespace pv
