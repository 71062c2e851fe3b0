#include <tmmintrin.h>

#include "core/row_helpers.h"

// Only SSSE3 instructions are used: the callers check for nothing more.
// Every form loads 16 bytes only while 16 input bytes remain, stores whole
// units only within its output, and leaves the remainder to its scalar twin.

namespace pv::ssse3 {

namespace {

__m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// The high and low nibbles of each byte, as bytes.
__m128i HighNibbles(__m128i v) { return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(15)); }
__m128i LowNibbles(__m128i v) { return _mm_and_si128(v, _mm_set1_epi8(15)); }

// A sum of 7-bit fixed-point products, rounded and shifted arithmetically.
__m128i Scaled(__m128i sum) { return _mm_srai_epi16(_mm_add_epi16(sum, _mm_set1_epi16(64)), 7); }

}  // namespace

void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  // Byte k of each half tests bit 7 - k.
  const __m128i bitMask = _mm_set1_epi64x(0x0102040810204080);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i firstPair = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
  size_t i = 0;
  for (; i + 16 <= nBytes; i += 16) {
    const __m128i v = Load(src + i);
    for (int k = 0; k < 8; ++k) {
      const __m128i pair = _mm_shuffle_epi8(v, _mm_add_epi8(firstPair, _mm_set1_epi8(static_cast<char>(2 * k))));
      Store(dst + 8 * i + 16 * k, _mm_min_epu8(_mm_and_si128(pair, bitMask), one));
    }
  }
  scalar::UnpackBits1(dst + 8 * i, src + i, nBytes - i);
}

void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  const __m128i quarter = _mm_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  const __m128i three = _mm_set1_epi8(3);
  size_t i = 0;
  for (; i + 16 <= nBytes; i += 16) {
    const __m128i v = Load(src + i);
    const __m128i high = HighNibbles(v);
    const __m128i low = LowNibbles(v);
    // The four pairs of every byte, most significant first, in four vectors.
    const __m128i p0 = _mm_shuffle_epi8(quarter, high);
    const __m128i p1 = _mm_and_si128(high, three);
    const __m128i p2 = _mm_shuffle_epi8(quarter, low);
    const __m128i p3 = _mm_and_si128(low, three);
    const __m128i first01 = _mm_unpacklo_epi8(p0, p1);
    const __m128i first23 = _mm_unpacklo_epi8(p2, p3);
    const __m128i last01 = _mm_unpackhi_epi8(p0, p1);
    const __m128i last23 = _mm_unpackhi_epi8(p2, p3);
    uint8_t* out = dst + 4 * i;
    Store(out, _mm_unpacklo_epi16(first01, first23));
    Store(out + 16, _mm_unpackhi_epi16(first01, first23));
    Store(out + 32, _mm_unpacklo_epi16(last01, last23));
    Store(out + 48, _mm_unpackhi_epi16(last01, last23));
  }
  scalar::UnpackBits2(dst + 4 * i, src + i, nBytes - i);
}

void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  size_t i = 0;
  for (; i + 16 <= nBytes; i += 16) {
    const __m128i v = Load(src + i);
    const __m128i high = HighNibbles(v);
    const __m128i low = LowNibbles(v);
    Store(dst + 2 * i, _mm_unpacklo_epi8(high, low));
    Store(dst + 2 * i + 16, _mm_unpackhi_epi8(high, low));
  }
  scalar::UnpackBits4(dst + 2 * i, src + i, nBytes - i);
}

namespace {

// Four triples of each 16-byte load become four 4-byte entries, opaque.
template <class Out>
size_t TriplesToEntries(Out* dst, const uint8_t* src, size_t n, __m128i order) {
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  size_t i = 0;
  for (; 3 * i + 16 <= 3 * n; i += 4)
    Store(reinterpret_cast<uint8_t*>(dst) + 4 * i, _mm_or_si128(_mm_shuffle_epi8(Load(src + 3 * i), order), opaque));
  return i;
}

}  // namespace

void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const size_t done = TriplesToEntries(dst, src, n, order);
  scalar::BgrToRgba8(dst + 4 * done, src + 3 * done, n - done);
}

void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const size_t done = TriplesToEntries(dst, src, n, order);
  scalar::RgbToRgba8(dst + done, src + 3 * done, n - done);
}

void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap) {
  const size_t srcBytes = 2 * n;
  if (channels != 3 && channels != 4) {
    const __m128i order = swap ? _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14)
                               : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    size_t i = 0;
    for (; 2 * i + 16 <= srcBytes; i += 8) Store(dst + i, _mm_shuffle_epi8(Load(src + 2 * i), order));
    scalar::Copy16(dst + i, src + 2 * i, n - i, channels, swap);
    return;
  }
  // Two pixels per step, R, G, B(, A) samples to B, G, R, A; a missing alpha
  // is left zero by the shuffle and set by the OR.
  __m128i order, alpha;
  if (channels == 3) {
    order = swap ? _mm_setr_epi8(5, 4, 3, 2, 1, 0, -1, -1, 11, 10, 9, 8, 7, 6, -1, -1)
                 : _mm_setr_epi8(4, 5, 2, 3, 0, 1, -1, -1, 10, 11, 8, 9, 6, 7, -1, -1);
    alpha = _mm_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000u));
  } else {
    order = swap ? _mm_setr_epi8(5, 4, 3, 2, 1, 0, 7, 6, 13, 12, 11, 10, 9, 8, 15, 14)
                 : _mm_setr_epi8(4, 5, 2, 3, 0, 1, 6, 7, 12, 13, 10, 11, 8, 9, 14, 15);
    alpha = _mm_setzero_si128();
  }
  const size_t pixels = n / channels;
  const size_t pixelBytes = 2 * channels;
  size_t p = 0;
  for (; p + 2 <= pixels && p * pixelBytes + 16 <= srcBytes; p += 2)
    Store(dst + 4 * p, _mm_or_si128(_mm_shuffle_epi8(Load(src + p * pixelBytes), order), alpha));
  scalar::Copy16(dst + 4 * p, src + p * pixelBytes, n - p * channels, channels, swap);
}

void YccToRgb(uint8_t* entries, size_t n) {
  // Gathers byte c of four entries into 16-bit lanes 0-3 (first load) or
  // 4-7 (second load).
  const auto lower = [](char c) {
    return _mm_setr_epi8(c, -1, c + 4, -1, c + 8, -1, c + 12, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  };
  const auto upper = [](char c) {
    return _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, c, -1, c + 4, -1, c + 8, -1, c + 12, -1);
  };
  const __m128i yLo = lower(0), yHi = upper(0);
  const __m128i cbLo = lower(1), cbHi = upper(1);
  const __m128i crLo = lower(2), crHi = upper(2);
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i opaque = _mm_set1_epi16(255);
  // Every product and sum stays within 16 bits: |227 * 128| + 64 < 32768.
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t* p = entries + 4 * i;
    const __m128i a = Load(p);
    const __m128i b = Load(p + 16);
    const __m128i y = _mm_or_si128(_mm_shuffle_epi8(a, yLo), _mm_shuffle_epi8(b, yHi));
    const __m128i cb = _mm_sub_epi16(_mm_or_si128(_mm_shuffle_epi8(a, cbLo), _mm_shuffle_epi8(b, cbHi)), bias);
    const __m128i cr = _mm_sub_epi16(_mm_or_si128(_mm_shuffle_epi8(a, crLo), _mm_shuffle_epi8(b, crHi)), bias);
    const __m128i red = _mm_add_epi16(y, Scaled(_mm_mullo_epi16(cr, _mm_set1_epi16(179))));
    const __m128i green = _mm_add_epi16(
        y, Scaled(_mm_add_epi16(_mm_mullo_epi16(cb, _mm_set1_epi16(-44)), _mm_mullo_epi16(cr, _mm_set1_epi16(-91)))));
    const __m128i blue = _mm_add_epi16(y, Scaled(_mm_mullo_epi16(cb, _mm_set1_epi16(227))));
    // The saturating packs clamp to 0-255; then interleave to B, G, R, A.
    const __m128i blueGreen = _mm_packus_epi16(blue, green);
    const __m128i redAlpha = _mm_packus_epi16(red, opaque);
    const __m128i bg = _mm_unpacklo_epi8(blueGreen, _mm_srli_si128(blueGreen, 8));
    const __m128i ra = _mm_unpacklo_epi8(redAlpha, _mm_srli_si128(redAlpha, 8));
    Store(p, _mm_unpacklo_epi16(bg, ra));
    Store(p + 16, _mm_unpackhi_epi16(bg, ra));
  }
  scalar::YccToRgb(entries + 4 * i, n - i);
}

}  // namespace pv::ssse3
