#include <tmmintrin.h>

#include <cstring>

#include "codecs/png/png_rows.h"

// Only SSSE3 instructions are used: the callers check for nothing more.
// Sub, Average and Paeth carry a dependency from pixel to pixel, so they work
// one pixel per step in the low lanes; Up and the layouts take 16 bytes a step.

namespace pv::png::ssse3 {

namespace {

__m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// One pixel of 3 or 4 bytes in the low lane; a 3-byte pixel takes the next
// byte along, which the callers allow to be read.
__m128i LoadPixel(const uint8_t* p) {
  int v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
// Stores only the pixel's own bytes, so the next filtered pixel stays intact.
template <uint32_t kBpp>
void StorePixel(uint8_t* p, __m128i v) {
  const int x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, kBpp);
}

template <uint32_t kBpp>
void Sub(uint8_t* row, size_t bytes) {
  __m128i left = _mm_setzero_si128();
  for (size_t i = 0; i < bytes; i += kBpp) {
    left = _mm_add_epi8(LoadPixel(row + i), left);
    StorePixel<kBpp>(row + i, left);
  }
}

template <uint32_t kBpp>
void Average(uint8_t* row, const uint8_t* previous, size_t bytes) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i left = _mm_setzero_si128();
  for (size_t i = 0; i < bytes; i += kBpp) {
    const __m128i above = LoadPixel(previous + i);
    // avg_epu8 rounds up; the filter rounds down.
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, above), _mm_and_si128(_mm_xor_si128(left, above), one));
    left = _mm_add_epi8(LoadPixel(row + i), mean);
    StorePixel<kBpp>(row + i, left);
  }
}

template <uint32_t kBpp>
void Paeth(uint8_t* row, const uint8_t* previous, size_t bytes) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;  // left and upper left, 16-bit lanes
  for (size_t i = 0; i < bytes; i += kBpp) {
    const __m128i b = _mm_unpacklo_epi8(LoadPixel(previous + i), zero);
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pa = _mm_abs_epi16(bc);
    const __m128i pb = _mm_abs_epi16(ac);
    const __m128i pc = _mm_abs_epi16(_mm_add_epi16(ac, bc));
    // b unless pb > pc, then c; a when pa is no larger than both.
    const __m128i takeC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(takeC, c), _mm_andnot_si128(takeC, b));
    const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
    const __m128i predictor = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
    const __m128i x = _mm_add_epi8(LoadPixel(row + i), _mm_packus_epi16(predictor, predictor));
    StorePixel<kBpp>(row + i, x);
    a = _mm_unpacklo_epi8(x, zero);
    c = b;
  }
}

void Up(uint8_t* row, const uint8_t* previous, size_t bytes) {
  size_t i = 0;
  for (; i + 16 <= bytes; i += 16) Store(row + i, _mm_add_epi8(Load(row + i), Load(previous + i)));
  for (; i < bytes; ++i) row[i] = static_cast<uint8_t>(row[i] + previous[i]);
}

template <uint32_t kBpp>
void UnfilterPixels(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes) {
  switch (filter) {
    case kSub:
      return Sub<kBpp>(row, bytes);
    case kAverage:
      return Average<kBpp>(row, previous, bytes);
    case kPaeth:
      return Paeth<kBpp>(row, previous, bytes);
    default:
      return scalar::Unfilter(filter, row, previous, bytes, kBpp);
  }
}

}  // namespace

void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp) {
  if (filter == kUp) return Up(row, previous, bytes);
  if (bpp == 4) return UnfilterPixels<4>(filter, row, previous, bytes);
  if (bpp == 3) return UnfilterPixels<3>(filter, row, previous, bytes);
  scalar::Unfilter(filter, row, previous, bytes, bpp);
}

void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) Store(dst + 4 * i, _mm_shuffle_epi8(Load(src + 4 * i), order));
  scalar::RgbaToBgra8(dst + 4 * i, src + 4 * i, n - i);
}

void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n) {
  const __m128i low = _mm_setr_epi8(0, 0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7);
  const __m128i high = _mm_setr_epi8(8, 8, 8, 9, 10, 10, 10, 11, 12, 12, 12, 13, 14, 14, 14, 15);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i v = Load(src + 2 * i);
    Store(dst + 4 * i, _mm_shuffle_epi8(v, low));
    Store(dst + 4 * i + 16, _mm_shuffle_epi8(v, high));
  }
  scalar::GreyAlphaToBgra8(dst + 4 * i, src + 2 * i, n - i);
}

}  // namespace pv::png::ssse3
