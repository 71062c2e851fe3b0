#include <tmmintrin.h>

#include <cstring>

#include "core/resample.h"

// Only SSSE3 instructions are used: the callers check for nothing more.
// Every form reads and writes whole units only within the pixels it is
// given and leaves the remainder to its scalar twin. The cubic rows are the
// exception on reading: they load from a column's `first` (four bytes, or
// sixteen for a group of Grey8 columns), which reaches up to 15 bytes into
// the row slack.

namespace pv::ssse3 {

namespace {

__m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

__m128i Load32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

__m128i LoadAligned(const void* p) { return _mm_load_si128(static_cast<const __m128i*>(p)); }

// Large sources come from memory faster when asked for this far ahead of
// the row being read (the stream runs on into the next row).
void Prefetch(const uint8_t* p) { _mm_prefetch(reinterpret_cast<const char*>(p) + 1024, _MM_HINT_T0); }

__m128i Weights(const CubicTap& t) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.weight)); }

// Weighted sums of the four taps of four Grey8 columns, as 32-bit lanes.
__m128i GreyColumns(const uint8_t* src, const CubicTap* t) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i px = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load32(src + t[0].first), Load32(src + t[1].first)),
                                        _mm_unpacklo_epi32(Load32(src + t[2].first), Load32(src + t[3].first)));
  const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi64(Weights(t[0]), Weights(t[1])));
  const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), _mm_unpacklo_epi64(Weights(t[2]), Weights(t[3])));
  return _mm_srai_epi32(_mm_hadd_epi32(lo, hi), 7);
}

// Weighted sums of the four columns of a group, as 32-bit lanes.
__m128i GreyGroup(const uint8_t* src, const GreyTapGroup& g) {
  const __m128i px = Load(src + g.base);
  const __m128i first = _mm_madd_epi16(_mm_shuffle_epi8(px, LoadAligned(g.pick[0])), LoadAligned(g.weight[0]));
  const __m128i second = _mm_madd_epi16(_mm_shuffle_epi8(px, LoadAligned(g.pick[1])), LoadAligned(g.weight[1]));
  return _mm_srai_epi32(_mm_add_epi32(first, second), 7);
}

// Weighted sums of the B, G, R, A channels of one Rgba8 column.
__m128i RgbaColumn(const uint8_t* src, const CubicTap& t) {
  // Samples of taps 0 and 1, then of taps 2 and 3, channel by channel.
  const __m128i pairs = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m128i zero = _mm_setzero_si128();
  const __m128i px = _mm_shuffle_epi8(Load(src + 4 * size_t(t.first)), pairs);
  const __m128i w = Weights(t);
  const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(px, zero), _mm_shuffle_epi32(w, 0x00)),
                                    _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), _mm_shuffle_epi32(w, 0x55)));
  return _mm_srai_epi32(sum, 7);
}

// The vertical pass over four intermediate rows, eight samples at a time as
// 16-bit lanes: With() hands the form that suits the weights to `use`.
class ColumnPass {
 public:
  ColumnPass(const int16_t* const rows[4], const int16_t* weights)
      : row0_(rows[0]), row1_(rows[1]), row2_(rows[2]), row3_(rows[3]),
        w01_(_mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(weights[1])) << 16) | uint16_t(weights[0])))),
        w23_(_mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(weights[3])) << 16) | uint16_t(weights[2])))),
        phase0_(weights[0] == 0 && weights[1] == 16384 && weights[2] == 0 && weights[3] == 0) {}

  template <class Use>
  uint32_t With(Use use) const {
    // Phase 0 takes the second row alone: (16384 × h) >> 21 is h >> 7.
    if (phase0_) return use([this](uint32_t at) { return _mm_srai_epi16(Load(row1_ + at), 7); });
    return use([this](uint32_t at) {
      const __m128i r0 = Load(row0_ + at), r1 = Load(row1_ + at), r2 = Load(row2_ + at), r3 = Load(row3_ + at);
      const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(r0, r1), w01_),
                                       _mm_madd_epi16(_mm_unpacklo_epi16(r2, r3), w23_));
      const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(r0, r1), w01_),
                                       _mm_madd_epi16(_mm_unpackhi_epi16(r2, r3), w23_));
      return _mm_packs_epi32(_mm_srai_epi32(lo, 21), _mm_srai_epi32(hi, 21));
    });
  }

 private:
  // Held apart from the caller's array, which stores to the output might otherwise change.
  const int16_t *row0_, *row1_, *row2_, *row3_;
  __m128i w01_, w23_;
  bool phase0_;
};

// Adds the sums of eight bytes that four psadbw against zero left in the low
// word of each 64-bit lane to sums[0..7]; two rounds of packing gather them.
void AddEights(uint16_t* sums, const __m128i sad[4]) {
  const __m128i packed = _mm_packs_epi32(_mm_packs_epi32(sad[0], sad[1]), _mm_packs_epi32(sad[2], sad[3]));
  Store(sums, _mm_add_epi16(Load(sums), packed));
}

// Stores the samples that `eight` gives as 16-bit lanes, eight at a time,
// saturated to bytes; returns how many it stored.
template <class Eight>
uint32_t ColumnBytes(uint8_t* out, uint32_t samples, Eight eight) {
  uint32_t i = 0;
  for (; i + 16 <= samples; i += 16) Store(out + i, _mm_packus_epi16(eight(i), eight(i + 8)));
  if (i + 8 <= samples) {
    const __m128i last = eight(i);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(last, last));
    i += 8;
  }
  return i;
}

}  // namespace

void CubicRow8(int16_t* out, const uint8_t* src, const CubicTap* taps, uint32_t count, uint32_t channels) {
  uint32_t x = 0;
  if (channels == 4) {
    for (; x + 2 <= count; x += 2) {
      Prefetch(src + 4 * size_t(taps[x].first));
      Store(out + 4 * size_t{x}, _mm_packs_epi32(RgbaColumn(src, taps[x]), RgbaColumn(src, taps[x + 1])));
    }
  } else {
    for (; x + 8 <= count; x += 8) {
      Prefetch(src + taps[x].first);
      Store(out + x, _mm_packs_epi32(GreyColumns(src, taps + x), GreyColumns(src, taps + x + 4)));
    }
  }
  scalar::CubicRow8(out + size_t{x} * channels, src, taps + x, count - x, channels);
}

void CubicRowGrey8(int16_t* out, const uint8_t* src, const GreyTapGroup* groups, const GreyTapPlan& plan,
                   const CubicTap* taps, uint32_t count) {
  uint32_t x = 0;
  for (; x < 4 * plan.lead; x += 8)
    Store(out + x, _mm_packs_epi32(GreyGroup(src, groups[x / 4]), GreyGroup(src, groups[x / 4 + 1])));
  const GreyTapGroup* period = groups + plan.lead;
  if (plan.period == 2) {
    // A period of two groups (ratios n : 8, as 5 : 4 or 1 : 2) stays in registers.
    const __m128i pick00 = LoadAligned(period[0].pick[0]), pick01 = LoadAligned(period[0].pick[1]);
    const __m128i pick10 = LoadAligned(period[1].pick[0]), pick11 = LoadAligned(period[1].pick[1]);
    const __m128i weight00 = LoadAligned(period[0].weight[0]), weight01 = LoadAligned(period[0].weight[1]);
    const __m128i weight10 = LoadAligned(period[1].weight[0]), weight11 = LoadAligned(period[1].weight[1]);
    const uint8_t* from0 = src + period[0].base;
    const uint8_t* from1 = src + period[1].base;
    const int32_t advance = plan.advance;
    const uint32_t end = plan.end;
    for (; x < end; x += 8, from0 += advance, from1 += advance) {
      Prefetch(from0);
      const __m128i a = Load(from0), b = Load(from1);
      const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(a, pick00), weight00),
                                       _mm_madd_epi16(_mm_shuffle_epi8(a, pick01), weight01));
      const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(b, pick10), weight10),
                                       _mm_madd_epi16(_mm_shuffle_epi8(b, pick11), weight11));
      Store(out + x, _mm_packs_epi32(_mm_srai_epi32(lo, 7), _mm_srai_epi32(hi, 7)));
    }
  } else if (plan.period) {
    for (const uint8_t* from = src; x < plan.end; from += plan.advance) {
      Prefetch(from + period[0].base);
      for (uint32_t g = 0; g < plan.period && x < plan.end; g += 2, x += 8)
        Store(out + x, _mm_packs_epi32(GreyGroup(from, period[g]), GreyGroup(from, period[g + 1])));
    }
  }
  CubicRow8(out + x, src, taps + x, count - x, 1);
}

void DecimateRow8(int16_t* out, const uint8_t* src, uint32_t count, uint32_t channels, uint32_t ratio) {
  const __m128i zero = _mm_setzero_si128();
  uint32_t x = 0;
  if (channels == 4) {
    // Four target pixels per step: lane 0 (and lane 2 at 2:1) of each load.
    for (; x + 4 <= count; x += 4) {
      const uint8_t* p = src + size_t{x} * ratio * 4;
      __m128i v;
      if (ratio == 2) {
        v = _mm_unpacklo_epi64(_mm_shuffle_epi32(Load(p), 0x08), _mm_shuffle_epi32(Load(p + 16), 0x08));
      } else {
        v = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load(p), Load(p + 16)),
                               _mm_unpacklo_epi32(Load(p + 32), Load(p + 48)));
      }
      Store(out + 4 * size_t{x}, _mm_slli_epi16(_mm_unpacklo_epi8(v, zero), 7));
      Store(out + 4 * size_t{x} + 8, _mm_slli_epi16(_mm_unpackhi_epi8(v, zero), 7));
    }
  } else {
    for (; x + 8 <= count; x += 8) {
      const uint8_t* p = src + size_t{x} * ratio;
      __m128i v;
      if (ratio == 2) {
        v = _mm_and_si128(Load(p), _mm_set1_epi16(0xFF));
      } else {
        const __m128i low = _mm_set1_epi32(0xFF);
        v = _mm_packs_epi32(_mm_and_si128(Load(p), low), _mm_and_si128(Load(p + 16), low));
      }
      Store(out + x, _mm_slli_epi16(v, 7));
    }
  }
  scalar::DecimateRow8(out + size_t{x} * channels, src + size_t{x} * ratio * channels, count - x, channels, ratio);
}

void CubicColumn8(uint8_t* out, const int16_t* const rows[4], const int16_t* weights, uint32_t samples) {
  const ColumnPass pass(rows, weights);
  const uint32_t i = pass.With([&](auto eight) { return ColumnBytes(out, samples, eight); });
  const int16_t* rest[4] = {rows[0] + i, rows[1] + i, rows[2] + i, rows[3] + i};
  scalar::CubicColumn8(out + i, rest, weights, samples - i);
}

void CubicColumnSumsGrey8(uint16_t* sums, const int16_t* const rows[4], const int16_t* weights, uint32_t samples) {
  const ColumnPass pass(rows, weights);
  const uint32_t i = pass.With([&](auto eight) {
    const __m128i zero = _mm_setzero_si128();
    uint32_t at = 0;
    for (; at + 64 <= samples; at += 64) {
      __m128i sad[4];
      for (uint32_t k = 0; k < 4; ++k)
        sad[k] = _mm_sad_epu8(_mm_packus_epi16(eight(at + 16 * k), eight(at + 16 * k + 8)), zero);
      AddEights(sums + at / 8, sad);
    }
    return at;
  });
  const int16_t* rest[4] = {rows[0] + i, rows[1] + i, rows[2] + i, rows[3] + i};
  scalar::CubicColumnSumsGrey8(sums + i / 8, rest, weights, samples - i);
}

void BoxAccumulate8(uint16_t* sums, const uint8_t* src, uint32_t samples) {
  const __m128i zero = _mm_setzero_si128();
  uint32_t i = 0;
  for (; i + 16 <= samples; i += 16) {
    const __m128i v = Load(src + i);
    Store(sums + i, _mm_add_epi16(Load(sums + i), _mm_unpacklo_epi8(v, zero)));
    Store(sums + i + 8, _mm_add_epi16(Load(sums + i + 8), _mm_unpackhi_epi8(v, zero)));
  }
  scalar::BoxAccumulate8(sums + i, src + i, samples - i);
}

void BoxAccumulateGrey8(uint16_t* sums, const uint8_t* src, uint32_t samples) {
  const __m128i zero = _mm_setzero_si128();
  uint32_t i = 0;
  for (; i + 64 <= samples; i += 64) {
    __m128i sad[4];
    for (uint32_t k = 0; k < 4; ++k) sad[k] = _mm_sad_epu8(Load(src + i + 16 * k), zero);
    AddEights(sums + i / 8, sad);
  }
  scalar::BoxAccumulateGrey8(sums + i / 8, src + i, samples - i);
}

void BoxFinish8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t channels, uint32_t factor) {
  const __m128i shift = _mm_cvtsi32_si128(2 * __builtin_ctz(factor));
  const __m128i round = _mm_set1_epi16(static_cast<int16_t>(factor * factor / 2));
  uint32_t x = 0;
  if (channels == 4) {
    // Four target pixels per step; each is the sum of `factor` pixels of sums,
    // two pixels to a vector, folded to one at the end.
    for (; x + 4 <= count; x += 4) {
      __m128i px[4];
      for (uint32_t k = 0; k < 4; ++k) {
        const uint16_t* p = sums + size_t{x + k} * factor * 4;
        __m128i acc = Load(p);
        for (uint32_t j = 8; j < factor * 4; j += 8) acc = _mm_add_epi16(acc, Load(p + j));
        px[k] = _mm_add_epi16(acc, _mm_srli_si128(acc, 8));
      }
      const __m128i a = _mm_srl_epi16(_mm_add_epi16(_mm_unpacklo_epi64(px[0], px[1]), round), shift);
      const __m128i b = _mm_srl_epi16(_mm_add_epi16(_mm_unpacklo_epi64(px[2], px[3]), round), shift);
      Store(out + 4 * size_t{x}, _mm_packus_epi16(a, b));
    }
  } else {
    // Eight target pixels per step: pairwise sums until one lane is left per pixel.
    for (; x + 8 <= count; x += 8) {
      __m128i v[16];
      for (uint32_t k = 0; k < factor; ++k) v[k] = Load(sums + size_t{x} * factor + 8 * k);
      for (uint32_t n = factor; n > 1; n /= 2) {
        for (uint32_t k = 0; k < n / 2; ++k) v[k] = _mm_hadd_epi16(v[2 * k], v[2 * k + 1]);
      }
      const __m128i r = _mm_srl_epi16(_mm_add_epi16(v[0], round), shift);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(r, r));
    }
  }
  scalar::BoxFinish8(out + size_t{x} * channels, sums + size_t{x} * factor * channels, count - x, channels, factor);
}

}  // namespace pv::ssse3
