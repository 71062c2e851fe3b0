#include "codecs/jpeg/idct.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pv::jpeg {

namespace {

// Row tables: each row is prescaled for the column pass by cos(k·pi/16) /
// cos(pi/4), so rows 0 and 4 share a table, as do 1 and 7, 2 and 6, 3 and 5.
// Four groups of eight, in the order the pairwise multiply-adds take them:
// (x0,x2) and (x4,x6) give the even sums a0..a3, (x1,x3) and (x5,x7) the odd
// sums b0..b3.
alignas(16) constexpr int16_t kRowA[32] = {
    16384, 21407, 16384, 8867,  16384, -8867,  16384, -21407, 16384, 8867,  -16384, -21407, -16384, 21407, 16384, -8867,
    22725, 19266, 19266, -4520, 12873, -22725, 4520,  -12873, 12873, 4520,  -22725, -12873, 4520,   19266, 19266, -22725};
alignas(16) constexpr int16_t kRowB[32] = {
    22725, 29692, 22725, 12299,  22725, -12299, 22725, -29692, 22725, 12299, -22725, -29692, -22725, 29692, 22725, -12299,
    31521, 26722, 26722, -6270, 17855, -31521, 6270,  -17855, 17855, 6270,  -31521, -17855, 6270,   26722, 26722, -31521};
alignas(16) constexpr int16_t kRowC[32] = {
    21407, 27969, 21407, 11585,  21407, -11585, 21407, -27969, 21407, 11585, -21407, -27969, -21407, 27969, 21407, -11585,
    29692, 25172, 25172, -5906, 16819, -29692, 5906,  -16819, 16819, 5906,  -29692, -16819, 5906,   25172, 25172, -29692};
alignas(16) constexpr int16_t kRowD[32] = {
    19266, 25172, 19266, 10426,  19266, -10426, 19266, -25172, 19266, 10426, -19266, -25172, -19266, 25172, 19266, -10426,
    26722, 22654, 22654, -5315, 15137, -26722, 5315,  -15137, 15137, 5315,  -26722, -15137, 5315,   22654, 22654, -26722};
const int16_t* const kRowTables[8] = {kRowA, kRowB, kRowC, kRowD, kRowA, kRowD, kRowC, kRowB};

constexpr int32_t kRowRound = 2048;
constexpr int kRowShift = 12;
// Column constants as 16-bit fractions: tan(pi/16), tan(2pi/16), and
// tan(3pi/16) - 1 and cos(pi/4) - 1, whose operand is added back.
constexpr int16_t kTan1 = 13036, kTan2 = 27146, kTan3m1 = -21746, kCos4m1 = -19195;
constexpr int16_t kColRound = 16;
constexpr int kColShift = 5;

int16_t Sat16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
int16_t AddS(int16_t a, int16_t b) { return Sat16(int32_t{a} + b); }
int16_t SubS(int16_t a, int16_t b) { return Sat16(int32_t{a} - b); }
int16_t MulHi(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} * b) >> 16); }
uint8_t ToSample(int16_t v) {
  return static_cast<uint8_t>(std::clamp<int32_t>(AddS(static_cast<int16_t>(v >> kColShift), 128), 0, 255));
}

// The full transform of a block whose AC terms are all zero, step by step
// as the general path computes it, so both forms can take this shortcut.
uint8_t FlatSample(int16_t dc) {
  const int16_t row = Sat16((int32_t{dc} * 16384 + kRowRound) >> kRowShift);
  return ToSample(AddS(row, kColRound));
}

}  // namespace

uint8_t DcOnlySample(int16_t dc, uint16_t quant) {
  const int32_t v = (int32_t{dc} * quant + 4) >> 3;
  if (v <= -128) return 0;
  if (v >= 127) return 255;
  return static_cast<uint8_t>(v + 128);
}

namespace scalar {

void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out) {
  int16_t x[64];
  bool acZero = true;
  for (int i = 0; i < 64; ++i) {
    x[i] = static_cast<int16_t>(uint32_t{static_cast<uint16_t>(coefs[i])} * quant[i]);
    if (i && x[i]) acZero = false;
  }
  if (acZero) {
    std::memset(out, FlatSample(x[0]), 64);
    return;
  }
  int16_t rows[64];
  for (int r = 0; r < 8; ++r) {
    const int16_t* t = kRowTables[r];
    const int16_t* v = x + 8 * r;
    // 32-bit sums wrap as the vector form's do.
    auto pair = [](int16_t p, int16_t q, const int16_t* w) {
      return static_cast<uint32_t>(int32_t{p} * w[0] + int32_t{q} * w[1]);
    };
    for (int i = 0; i < 4; ++i) {
      const uint32_t a = pair(v[0], v[2], t + 2 * i) + pair(v[4], v[6], t + 8 + 2 * i);
      const uint32_t b = pair(v[1], v[3], t + 16 + 2 * i) + pair(v[5], v[7], t + 24 + 2 * i);
      rows[8 * r + i] = Sat16(static_cast<int32_t>(a + b + kRowRound) >> kRowShift);
      rows[8 * r + 7 - i] = Sat16(static_cast<int32_t>(a - b + kRowRound) >> kRowShift);
    }
  }
  uint8_t result[64];
  for (int c = 0; c < 8; ++c) {
    const int16_t* v = rows + c;
    const int16_t x0 = v[0], x1 = v[8], x2 = v[16], x3 = v[24], x4 = v[32], x5 = v[40], x6 = v[48], x7 = v[56];
    const int16_t u17 = AddS(x1, MulHi(x7, kTan1));
    const int16_t v17 = SubS(MulHi(x1, kTan1), x7);
    const int16_t x3t = AddS(MulHi(x3, kTan3m1), x3);
    const int16_t x5t = AddS(MulHi(x5, kTan3m1), x5);
    const int16_t u35 = AddS(x3, x5t);
    const int16_t v35 = SubS(x3t, x5);
    const int16_t b0 = AddS(u17, u35);
    const int16_t b3 = SubS(v17, v35);
    const int16_t u12 = SubS(u17, u35);
    const int16_t v12 = AddS(v17, v35);
    const int16_t s = AddS(u12, v12);
    const int16_t d = SubS(u12, v12);
    const int16_t b1 = AddS(MulHi(s, kCos4m1), s);
    const int16_t b2 = AddS(MulHi(d, kCos4m1), d);
    const int16_t x0r = AddS(x0, kColRound);
    const int16_t tp04 = AddS(x0r, x4), tm04 = SubS(x0r, x4);
    const int16_t tp26 = AddS(x2, MulHi(x6, kTan2)), tm26 = SubS(MulHi(x2, kTan2), x6);
    const int16_t a0 = AddS(tp04, tp26), a3 = SubS(tp04, tp26);
    const int16_t a1 = AddS(tm04, tm26), a2 = SubS(tm04, tm26);
    result[c] = ToSample(AddS(a0, b0));
    result[8 + c] = ToSample(AddS(a1, b1));
    result[16 + c] = ToSample(AddS(a2, b2));
    result[24 + c] = ToSample(AddS(a3, b3));
    result[32 + c] = ToSample(SubS(a3, b3));
    result[40 + c] = ToSample(SubS(a2, b2));
    result[48 + c] = ToSample(SubS(a1, b1));
    result[56 + c] = ToSample(SubS(a0, b0));
  }
  std::memcpy(out, result, 64);
}

}  // namespace scalar

#if defined(__SSE2__)
namespace sse2 {

namespace {

inline __m128i RowPass(__m128i row, const int16_t* table) {
  // Lanes as 32-bit pairs: (x0,x2) (x1,x3) (x4,x6) (x5,x7).
  __m128i t = _mm_shufflelo_epi16(row, _MM_SHUFFLE(3, 1, 2, 0));
  t = _mm_shufflehi_epi16(t, _MM_SHUFFLE(3, 1, 2, 0));
  const __m128i* w = reinterpret_cast<const __m128i*>(table);
  const __m128i a = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi32(t, 0x00), _mm_load_si128(w)),
                                  _mm_madd_epi16(_mm_shuffle_epi32(t, 0xAA), _mm_load_si128(w + 1)));
  const __m128i b = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi32(t, 0x55), _mm_load_si128(w + 2)),
                                  _mm_madd_epi16(_mm_shuffle_epi32(t, 0xFF), _mm_load_si128(w + 3)));
  const __m128i round = _mm_set1_epi32(kRowRound);
  const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a, b), round), kRowShift);
  __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(a, b), round), kRowShift);
  hi = _mm_shuffle_epi32(hi, _MM_SHUFFLE(0, 1, 2, 3));
  return _mm_packs_epi32(lo, hi);
}

inline __m128i MulHi(__m128i a, int16_t k) { return _mm_mulhi_epi16(a, _mm_set1_epi16(k)); }

}  // namespace

void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out) {
  __m128i x[8];
  const __m128i* c = reinterpret_cast<const __m128i*>(coefs);
  const __m128i* q = reinterpret_cast<const __m128i*>(quant);
  for (int r = 0; r < 8; ++r) x[r] = _mm_mullo_epi16(_mm_loadu_si128(c + r), _mm_loadu_si128(q + r));
  __m128i any = _mm_andnot_si128(_mm_cvtsi32_si128(0xFFFF), x[0]);
  for (int r = 1; r < 8; ++r) any = _mm_or_si128(any, x[r]);
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
    std::memset(out, FlatSample(static_cast<int16_t>(_mm_cvtsi128_si32(x[0]))), 64);
    return;
  }
  for (int r = 0; r < 8; ++r) x[r] = RowPass(x[r], kRowTables[r]);

  const __m128i u17 = _mm_adds_epi16(x[1], MulHi(x[7], kTan1));
  const __m128i v17 = _mm_subs_epi16(MulHi(x[1], kTan1), x[7]);
  const __m128i x3t = _mm_adds_epi16(MulHi(x[3], kTan3m1), x[3]);
  const __m128i x5t = _mm_adds_epi16(MulHi(x[5], kTan3m1), x[5]);
  const __m128i u35 = _mm_adds_epi16(x[3], x5t);
  const __m128i v35 = _mm_subs_epi16(x3t, x[5]);
  const __m128i b0 = _mm_adds_epi16(u17, u35);
  const __m128i b3 = _mm_subs_epi16(v17, v35);
  const __m128i u12 = _mm_subs_epi16(u17, u35);
  const __m128i v12 = _mm_adds_epi16(v17, v35);
  const __m128i s = _mm_adds_epi16(u12, v12);
  const __m128i d = _mm_subs_epi16(u12, v12);
  const __m128i b1 = _mm_adds_epi16(MulHi(s, kCos4m1), s);
  const __m128i b2 = _mm_adds_epi16(MulHi(d, kCos4m1), d);
  const __m128i x0r = _mm_adds_epi16(x[0], _mm_set1_epi16(kColRound));
  const __m128i tp04 = _mm_adds_epi16(x0r, x[4]), tm04 = _mm_subs_epi16(x0r, x[4]);
  const __m128i tp26 = _mm_adds_epi16(x[2], MulHi(x[6], kTan2));
  const __m128i tm26 = _mm_subs_epi16(MulHi(x[2], kTan2), x[6]);
  const __m128i a0 = _mm_adds_epi16(tp04, tp26), a3 = _mm_subs_epi16(tp04, tp26);
  const __m128i a1 = _mm_adds_epi16(tm04, tm26), a2 = _mm_subs_epi16(tm04, tm26);
  const __m128i bias = _mm_set1_epi16(128);
  auto finish = [&](__m128i v) { return _mm_adds_epi16(_mm_srai_epi16(v, kColShift), bias); };
  __m128i* o = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(o, _mm_packus_epi16(finish(_mm_adds_epi16(a0, b0)), finish(_mm_adds_epi16(a1, b1))));
  _mm_storeu_si128(o + 1, _mm_packus_epi16(finish(_mm_adds_epi16(a2, b2)), finish(_mm_adds_epi16(a3, b3))));
  _mm_storeu_si128(o + 2, _mm_packus_epi16(finish(_mm_subs_epi16(a3, b3)), finish(_mm_subs_epi16(a2, b2))));
  _mm_storeu_si128(o + 3, _mm_packus_epi16(finish(_mm_subs_epi16(a1, b1)), finish(_mm_subs_epi16(a0, b0))));
}

}  // namespace sse2
#endif

void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out) {
#if defined(__SSE2__)
  // Every x86-64 processor has SSE2; other targets take the scalar form.
  sse2::IdctBlock(coefs, quant, out);
#else
  scalar::IdctBlock(coefs, quant, out);
#endif
}

}  // namespace pv::jpeg
