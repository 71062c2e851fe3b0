#include "codecs/jpeg/mcu_writers.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pv::jpeg {

namespace {

const uint8_t* Block(const uint8_t* samples, uint32_t i) { return samples + i * kBlockBytes; }

void WriteGrey(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  for (int y = 0; y < 8; ++y) std::memcpy(out + y * l.stride, samples + 8 * y, 8);
}

// Three or four unsampled components into [c0, c1, c2, c2] or [c0..c3].
template <int kComponents>
void WriteInterleaved(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* c0 = Block(samples, 0);
  const uint8_t* c1 = Block(samples, 1);
  const uint8_t* c2 = Block(samples, 2);
  const uint8_t* c3 = Block(samples, kComponents == 4 ? 3 : 2);
  for (int y = 0; y < 8; ++y, out += l.stride) {
    uint8_t* p = out;
    for (int x = 0; x < 8; ++x, p += 4) {
      const int i = 8 * y + x;
      p[0] = c0[i], p[1] = c1[i], p[2] = c2[i], p[3] = c3[i];
    }
  }
}

// One chroma row of 8 samples doubled in width: weight 3 on the sample,
// 1 on the neighbour on the side of the output position.
void DoubleRow(const uint8_t* c, uint8_t* out) {
  for (int i = 0; i < 8; ++i) {
    const int left = c[i > 0 ? i - 1 : 0], right = c[i < 7 ? i + 1 : 7];
    out[2 * i] = static_cast<uint8_t>((3 * c[i] + left + 2) >> 2);
    out[2 * i + 1] = static_cast<uint8_t>((3 * c[i] + right + 2) >> 2);
  }
}

// Luma row of `width` samples with the chroma rows of the same width into
// [Y, Cb, Cr, Cr] pixels.
void PutYcc(uint8_t* p, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width) {
  for (int x = 0; x < width; ++x, p += 4) p[0] = y[x], p[1] = cb[x], p[2] = cr[x], p[3] = cr[x];
}

void WriteH2V1(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* cb = Block(samples, 2);
  const uint8_t* cr = Block(samples, 3);
  uint8_t luma[16], wideCb[16], wideCr[16];
  for (int y = 0; y < 8; ++y, out += l.stride) {
    std::memcpy(luma, Block(samples, 0) + 8 * y, 8);
    std::memcpy(luma + 8, Block(samples, 1) + 8 * y, 8);
    DoubleRow(cb + 8 * y, wideCb);
    DoubleRow(cr + 8 * y, wideCr);
    PutYcc(out, luma, wideCb, wideCr, 16);
  }
}

void WriteH1V2(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* cb = Block(samples, 2);
  const uint8_t* cr = Block(samples, 3);
  uint8_t tallCb[8], tallCr[8];
  for (int y = 0; y < 16; ++y, out += l.stride) {
    const int row = y >> 1;
    const int near = (y & 1) ? std::min(row + 1, 7) : std::max(row - 1, 0);
    for (int x = 0; x < 8; ++x) {
      tallCb[x] = static_cast<uint8_t>((3 * cb[8 * row + x] + cb[8 * near + x] + 2) >> 2);
      tallCr[x] = static_cast<uint8_t>((3 * cr[8 * row + x] + cr[8 * near + x] + 2) >> 2);
    }
    PutYcc(out, Block(samples, y >> 3) + 8 * (y & 7), tallCb, tallCr, 8);
  }
}

// Vertical sums 3·c + n, then horizontally (3·s + n_s + 8) >> 4.
void UpsampleH2V2Row(const uint8_t* c, int y, uint8_t* out) {
  const int row = y >> 1;
  const int near = (y & 1) ? std::min(row + 1, 7) : std::max(row - 1, 0);
  int s[8];
  for (int x = 0; x < 8; ++x) s[x] = 3 * c[8 * row + x] + c[8 * near + x];
  for (int i = 0; i < 8; ++i) {
    const int left = s[i > 0 ? i - 1 : 0], right = s[i < 7 ? i + 1 : 7];
    out[2 * i] = static_cast<uint8_t>((3 * s[i] + left + 8) >> 4);
    out[2 * i + 1] = static_cast<uint8_t>((3 * s[i] + right + 8) >> 4);
  }
}

void WriteH2V2(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* cb = Block(samples, 4);
  const uint8_t* cr = Block(samples, 5);
  uint8_t luma[16], wideCb[16], wideCr[16];
  for (int y = 0; y < 16; ++y, out += l.stride) {
    const uint32_t top = (y >> 3) * 2;
    std::memcpy(luma, Block(samples, top) + 8 * (y & 7), 8);
    std::memcpy(luma + 8, Block(samples, top + 1) + 8 * (y & 7), 8);
    UpsampleH2V2Row(cb, y, wideCb);
    UpsampleH2V2Row(cr, y, wideCr);
    PutYcc(out, luma, wideCb, wideCr, 16);
  }
}


#if defined(__SSE2__)
namespace sse2 {

// B, G, R, 255 of 8 pixels from 16-bit Y, Cb, Cr, with the fixed-point
// coefficients of YccToRgb: every intermediate fits in 16 bits.
inline void StoreBgra8(uint8_t* out, __m128i y, __m128i cb, __m128i cr) {
  const __m128i bias = _mm_set1_epi16(128), round = _mm_set1_epi16(64);
  cb = _mm_sub_epi16(cb, bias);
  cr = _mm_sub_epi16(cr, bias);
  const __m128i r = _mm_add_epi16(y, _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(cr, _mm_set1_epi16(179)), round), 7));
  const __m128i g = _mm_add_epi16(
      y, _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(cb, _mm_set1_epi16(-44)),
                                                    _mm_mullo_epi16(cr, _mm_set1_epi16(-91))),
                                      round),
                        7));
  const __m128i b = _mm_add_epi16(y, _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(cb, _mm_set1_epi16(227)), round), 7));
  const __m128i b8 = _mm_packus_epi16(b, b), g8 = _mm_packus_epi16(g, g), r8 = _mm_packus_epi16(r, r);
  const __m128i bg = _mm_unpacklo_epi8(b8, g8), ra = _mm_unpacklo_epi8(r8, _mm_set1_epi8(-1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, ra));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, ra));
}

inline __m128i Load8(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

// The lanes moved one place towards higher (Left) or lower (Right) lanes,
// the edge lane repeated: each lane's left or right neighbour.
inline __m128i LeftNeighbours(__m128i v) { return _mm_insert_epi16(_mm_slli_si128(v, 2), _mm_extract_epi16(v, 0), 0); }
inline __m128i RightNeighbours(__m128i v) { return _mm_insert_epi16(_mm_srli_si128(v, 2), _mm_extract_epi16(v, 7), 7); }

// 8 values doubled in width: (3·v + neighbour + round) >> shift for the
// even (left neighbour) and odd (right neighbour) outputs.
template <int kRound, int kShift>
inline void Widen(__m128i v, __m128i* lo, __m128i* hi) {
  const __m128i v3 = _mm_add_epi16(_mm_add_epi16(v, v), v), round = _mm_set1_epi16(kRound);
  const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v3, LeftNeighbours(v)), round), kShift);
  const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v3, RightNeighbours(v)), round), kShift);
  *lo = _mm_unpacklo_epi16(even, odd);
  *hi = _mm_unpackhi_epi16(even, odd);
}

void WriteH1V1(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  for (int y = 0; y < 8; ++y, out += l.stride) {
    StoreBgra8(out, Load8(Block(samples, 0) + 8 * y), Load8(Block(samples, 1) + 8 * y), Load8(Block(samples, 2) + 8 * y));
  }
}

void WriteH2V1(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  for (int y = 0; y < 8; ++y, out += l.stride) {
    __m128i cbLo, cbHi, crLo, crHi;
    Widen<2, 2>(Load8(Block(samples, 2) + 8 * y), &cbLo, &cbHi);
    Widen<2, 2>(Load8(Block(samples, 3) + 8 * y), &crLo, &crHi);
    StoreBgra8(out, Load8(Block(samples, 0) + 8 * y), cbLo, crLo);
    StoreBgra8(out + 32, Load8(Block(samples, 1) + 8 * y), cbHi, crHi);
  }
}

void WriteH1V2(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* cb = Block(samples, 2);
  const uint8_t* cr = Block(samples, 3);
  const __m128i two = _mm_set1_epi16(2);
  for (int y = 0; y < 16; ++y, out += l.stride) {
    const int row = y >> 1;
    const int near = (y & 1) ? std::min(row + 1, 7) : std::max(row - 1, 0);
    const __m128i b = Load8(cb + 8 * row), r = Load8(cr + 8 * row);
    const __m128i tallCb = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(b, b), b), _mm_add_epi16(Load8(cb + 8 * near), two)), 2);
    const __m128i tallCr = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(r, r), r), _mm_add_epi16(Load8(cr + 8 * near), two)), 2);
    StoreBgra8(out, Load8(Block(samples, y >> 3) + 8 * (y & 7)), tallCb, tallCr);
  }
}

void WriteH2V2(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint8_t* cb = Block(samples, 4);
  const uint8_t* cr = Block(samples, 5);
  for (int y = 0; y < 16; ++y, out += l.stride) {
    const int row = y >> 1;
    const int near = (y & 1) ? std::min(row + 1, 7) : std::max(row - 1, 0);
    const __m128i b = Load8(cb + 8 * row), r = Load8(cr + 8 * row);
    const __m128i sumCb = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(b, b), b), Load8(cb + 8 * near));
    const __m128i sumCr = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(r, r), r), Load8(cr + 8 * near));
    __m128i cbLo, cbHi, crLo, crHi;
    Widen<8, 4>(sumCb, &cbLo, &cbHi);
    Widen<8, 4>(sumCr, &crLo, &crHi);
    const uint32_t top = (y >> 3) * 2;
    StoreBgra8(out, Load8(Block(samples, top) + 8 * (y & 7)), cbLo, crLo);
    StoreBgra8(out + 32, Load8(Block(samples, top + 1) + 8 * (y & 7)), cbHi, crHi);
  }
}

}  // namespace sse2
#endif

}  // namespace

void WriteMcuGeneric(const McuLayout& l, const uint8_t* samples, uint8_t* out) {
  const uint32_t bpp = l.bytesPerPixel;
  const uint32_t components = bpp == 1 ? 1 : l.components;
  const uint32_t side = l.eighthScale ? 1 : 8;
  for (uint32_t k = 0; k < components; ++k) {
    const uint32_t sx = l.hmax / l.h[k], sy = l.vmax / l.v[k];
    for (uint32_t r = 0; r < l.v[k]; ++r) {
      for (uint32_t c = 0; c < l.h[k]; ++c) {
        const uint8_t* block = Block(samples, l.offset[k] + r * l.h[k] + c);
        for (uint32_t y = 0; y < side; ++y) {
          for (uint32_t x = 0; x < side; ++x) {
            const uint8_t value = block[y * 8 + x];
            for (uint32_t dy = 0; dy < sy; ++dy) {
              uint8_t* p = out + ((r * side + y) * sy + dy) * l.stride + ((c * side + x) * sx) * bpp + k;
              for (uint32_t dx = 0; dx < sx; ++dx, p += bpp) *p = value;
            }
          }
        }
      }
    }
  }
}

WriterChoice ChooseMcuWriter(const McuLayout& l) {
  if (l.eighthScale) return {WriteMcuGeneric};
  if (l.components == 1 && l.bytesPerPixel == 1) return {WriteGrey};
  if (l.bytesPerPixel != 4) return {WriteMcuGeneric};
  for (uint32_t k = 1; k < l.components; ++k) {
    if (l.h[k] != 1 || l.v[k] != 1) return {WriteMcuGeneric};
  }
  const uint32_t h = l.h[0], v = l.v[0];
  if (l.components == 4) return {h == 1 && v == 1 ? WriteInterleaved<4> : WriteMcuGeneric};
  if (l.components != 3) return {WriteMcuGeneric};
#if defined(__SSE2__)
  // Every x86-64 processor has SSE2.
  if (l.ycc) {
    if (h == 1 && v == 1) return {sse2::WriteH1V1, true};
    if (h == 2 && v == 1) return {sse2::WriteH2V1, true};
    if (h == 1 && v == 2) return {sse2::WriteH1V2, true};
    if (h == 2 && v == 2) return {sse2::WriteH2V2, true};
  }
#endif
  if (h == 1 && v == 1) return {WriteInterleaved<3>};
  if (h == 2 && v == 1) return {WriteH2V1};
  if (h == 1 && v == 2) return {WriteH1V2};
  if (h == 2 && v == 2) return {WriteH2V2};
  return {WriteMcuGeneric};
}

}  // namespace pv::jpeg
