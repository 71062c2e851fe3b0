#include "core/resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "core/cpu.h"
#include "core/pixel_convert.h"
#include "core/task_group.h"

namespace pv {

namespace {

// Bands of this many output pixels or more are worth a task (counted in the
// cubic stage, or the box's source, where the work is): each band filters
// up to three source rows again to fill its ring.
constexpr uint32_t kMinBandPixels = 16384;
// Box sums of 8-bit samples stay within 16 bits up to 16 × 16 blocks; larger
// reductions go through a whole intermediate image.
constexpr uint32_t kFusedBoxShift = 4;

// Keys' cubic convolution kernel with a = -0.5 (Catmull-Rom).
double Keys(double x) {
  x = std::fabs(x);
  if (x <= 1) return (1.5 * x - 2.5) * x * x + 1;
  if (x < 2) return ((-0.5 * x + 2.5) * x - 4) * x + 2;
  return 0;
}

// Positive weights are rounded to nearest; negative lobes stay strictly
// inside their exact value, so every phase sums to at least 16384 and a flat
// area keeps its value through the truncating shifts of the 8-bit passes.
int16_t FixedWeight(double w) {
  const double scaled = w * 16384;
  if (scaled >= 0) return static_cast<int16_t>(std::floor(scaled + 0.5));
  return static_cast<int16_t>(1 - std::ceil(-scaled));
}

struct AlignedFree {
  void operator()(void* p) const { ::operator delete[](p, std::align_val_t{16}); }
};
template <class T>
using Scratch = std::unique_ptr<T[], AlignedFree>;

// A 16-byte aligned block, or null.
template <class T>
Scratch<T> NewScratch(size_t count) {
  return Scratch<T>(static_cast<T*>(::operator new[](count * sizeof(T), std::align_val_t{16}, std::nothrow)));
}

// Grey8 column periods longer than this many groups are stored one by one.
constexpr uint32_t kMaxGreyPeriodGroups = 16;
// Columns at the right edge that may fall out of a period (their taps fold).
constexpr uint32_t kGreyRemainder = 64;

uint32_t BandCount(uint32_t width, uint32_t height) { return BandCountFor(width, height, kMinBandPixels); }

// The arithmetic of each kernel family. Intermediate rows of the 8-bit
// families hold samples × 128 in 16 bits; the 16-bit families keep the full
// weighted sum in 32 bits and round once in the vertical pass; float
// families use the weights / 16384.
struct Fixed8 {
  using Sample = uint8_t;
  using Inter = int16_t;
  using RowSum = int32_t;
  using ColumnSum = int32_t;
  using BoxSum = uint16_t;
  static int32_t Weight(int16_t w) { return w; }
  static Inter FromRow(int32_t sum) { return static_cast<Inter>(std::clamp(sum >> 7, -32768, 32767)); }
  static Inter Decimated(Sample s) { return static_cast<Inter>(s << 7); }
  static Sample FromColumn(int32_t sum) { return static_cast<Sample>(std::clamp(sum >> 21, 0, 255)); }
  static Sample Mean(uint32_t sum, uint32_t shift) { return static_cast<Sample>((sum + (1u << shift >> 1)) >> shift); }
};

struct Fixed16 {
  using Sample = uint16_t;
  using Inter = int32_t;
  using RowSum = int32_t;
  using ColumnSum = int64_t;
  using BoxSum = uint32_t;
  static int32_t Weight(int16_t w) { return w; }
  static Inter FromRow(int32_t sum) { return sum; }
  static Inter Decimated(Sample s) { return Inter{s} * 16384; }
  static Sample FromColumn(int64_t sum) {
    return static_cast<Sample>(std::clamp<int64_t>((sum + (int64_t{1} << 27)) >> 28, 0, 65535));
  }
  static Sample Mean(uint32_t sum, uint32_t shift) { return static_cast<Sample>((sum + (1u << shift >> 1)) >> shift); }
};

struct Real {
  using Sample = float;
  using Inter = float;
  using RowSum = float;
  using ColumnSum = float;
  using BoxSum = float;
  static float Weight(int16_t w) { return w / 16384.0f; }
  static Inter FromRow(float sum) { return sum; }
  static Inter Decimated(Sample s) { return s; }
  static Sample FromColumn(float sum) { return sum; }
  static Sample Mean(float sum, uint32_t shift) { return sum / static_cast<float>(1u << shift); }
};

// Scalar kernels of every family. `last` limits the tap index for rows
// narrower than four pixels (their folded taps have zero weight).
template <class F>
void CubicRow(typename F::Inter* out, const typename F::Sample* src, const CubicTap* taps, uint32_t count,
              uint32_t channels, uint32_t last) {
  for (uint32_t x = 0; x < count; ++x) {
    const CubicTap& t = taps[x];
    for (uint32_t c = 0; c < channels; ++c) {
      typename F::RowSum sum = 0;
      for (uint32_t j = 0; j < 4; ++j) {
        const uint32_t i = std::min(static_cast<uint32_t>(t.first) + j, last);
        sum += F::Weight(t.weight[j]) * src[size_t{i} * channels + c];
      }
      out[size_t{x} * channels + c] = F::FromRow(sum);
    }
  }
}

template <class F>
void DecimateRow(typename F::Inter* out, const typename F::Sample* src, uint32_t count, uint32_t channels,
                 uint32_t ratio) {
  for (uint32_t x = 0; x < count; ++x) {
    for (uint32_t c = 0; c < channels; ++c) out[size_t{x} * channels + c] = F::Decimated(src[size_t{x} * ratio * channels + c]);
  }
}

template <class F>
void CubicColumn(typename F::Sample* out, const typename F::Inter* const rows[4], const int16_t* weights,
                 uint32_t samples) {
  for (uint32_t i = 0; i < samples; ++i) {
    typename F::ColumnSum sum = 0;
    for (uint32_t j = 0; j < 4; ++j) sum += F::Weight(weights[j]) * static_cast<typename F::ColumnSum>(rows[j][i]);
    out[i] = F::FromColumn(sum);
  }
}

template <class F>
void BoxAccumulate(typename F::BoxSum* sums, const typename F::Sample* src, uint32_t samples) {
  for (uint32_t i = 0; i < samples; ++i) sums[i] = static_cast<typename F::BoxSum>(sums[i] + src[i]);
}

template <class F>
void BoxFinish(typename F::Sample* out, const typename F::BoxSum* sums, uint32_t count, uint32_t channels,
               uint32_t factor) {
  const uint32_t shift = 2 * static_cast<uint32_t>(std::countr_zero(factor));
  for (uint32_t x = 0; x < count; ++x) {
    for (uint32_t c = 0; c < channels; ++c) {
      std::conditional_t<std::is_same_v<F, Real>, float, uint32_t> sum = 0;
      const typename F::BoxSum* p = sums + size_t{x} * factor * channels + c;
      for (uint32_t k = 0; k < factor; ++k) sum += p[size_t{k} * channels];
      out[size_t{x} * channels + c] = F::Mean(sum, shift);
    }
  }
}

// The grouped Grey8 columns of one call.
struct GreyTaps {
  const GreyTapGroup* groups;
  GreyTapPlan plan;
};

// Which form runs: the 8-bit families have vector forms, the others are scalar.
template <class F>
struct Kernels {
  static void Row(typename F::Inter* out, const typename F::Sample* src, const CubicTap* taps, const GreyTaps*,
                  uint32_t count, uint32_t channels, uint32_t last) {
    CubicRow<F>(out, src, taps, count, channels, last);
  }
  static void Decimate(typename F::Inter* out, const typename F::Sample* src, uint32_t count, uint32_t channels,
                       uint32_t ratio) {
    DecimateRow<F>(out, src, count, channels, ratio);
  }
  static void Column(typename F::Sample* out, const typename F::Inter* const rows[4], const int16_t* weights,
                     uint32_t samples) {
    CubicColumn<F>(out, rows, weights, samples);
  }
  static void Accumulate(typename F::BoxSum* sums, const typename F::Sample* src, uint32_t samples, uint32_t,
                         uint32_t) {
    BoxAccumulate<F>(sums, src, samples);
  }
  // The vertical pass of a stage row, added into the box sums through `line`.
  static void ColumnSum(typename F::BoxSum* sums, typename F::Sample* line, const typename F::Inter* const rows[4],
                        const int16_t* weights, uint32_t samples, uint32_t, uint32_t) {
    CubicColumn<F>(line, rows, weights, samples);
    BoxAccumulate<F>(sums, line, samples);
  }
  static void Finish(typename F::Sample* out, const typename F::BoxSum* sums, uint32_t count, uint32_t channels,
                     uint32_t factor) {
    BoxFinish<F>(out, sums, count, channels, factor);
  }
};

template <>
struct Kernels<Fixed8> {
  static void Row(int16_t* out, const uint8_t* src, const CubicTap* taps, const GreyTaps* grey, uint32_t count,
                  uint32_t channels, uint32_t) {
    if (grey)
      ssse3::CubicRowGrey8(out, src, grey->groups, grey->plan, taps, count);
    else
      (CpuHasSsse3 ? ssse3::CubicRow8 : scalar::CubicRow8)(out, src, taps, count, channels);
  }
  static void Decimate(int16_t* out, const uint8_t* src, uint32_t count, uint32_t channels, uint32_t ratio) {
    (CpuHasSsse3 ? ssse3::DecimateRow8 : scalar::DecimateRow8)(out, src, count, channels, ratio);
  }
  static void Column(uint8_t* out, const int16_t* const rows[4], const int16_t* weights, uint32_t samples) {
    (CpuHasSsse3 ? ssse3::CubicColumn8 : scalar::CubicColumn8)(out, rows, weights, samples);
  }
  // Grey8 blocks of 8 × 8 and 16 × 16 keep one sum per eight samples.
  static bool ByEights(uint32_t channels, uint32_t factor) { return channels == 1 && factor >= 8; }
  static void Accumulate(uint16_t* sums, const uint8_t* src, uint32_t samples, uint32_t channels, uint32_t factor) {
    if (ByEights(channels, factor))
      (CpuHasSsse3 ? ssse3::BoxAccumulateGrey8 : scalar::BoxAccumulateGrey8)(sums, src, samples);
    else
      (CpuHasSsse3 ? ssse3::BoxAccumulate8 : scalar::BoxAccumulate8)(sums, src, samples);
  }
  static void ColumnSum(uint16_t* sums, uint8_t* line, const int16_t* const rows[4], const int16_t* weights,
                        uint32_t samples, uint32_t channels, uint32_t factor) {
    if (ByEights(channels, factor)) {
      (CpuHasSsse3 ? ssse3::CubicColumnSumsGrey8 : scalar::CubicColumnSumsGrey8)(sums, rows, weights, samples);
    } else {
      Column(line, rows, weights, samples);
      Accumulate(sums, line, samples, channels, factor);
    }
  }
  static void Finish(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t channels, uint32_t factor) {
    if (ByEights(channels, factor))
      scalar::BoxFinishGrey8(out, sums, count, factor);
    else
      (CpuHasSsse3 ? ssse3::BoxFinish8 : scalar::BoxFinish8)(out, sums, count, channels, factor);
  }
};

template <class F>
const typename F::Sample* SampleRow(const ImageBuffer& b, uint32_t y) {
  return reinterpret_cast<const typename F::Sample*>(b.Row(y));
}
template <class F>
typename F::Sample* SampleRow(ImageBuffer& b, uint32_t y) {
  return reinterpret_cast<typename F::Sample*>(b.Row(y));
}

// The column table. Positions are 16.16 fixed point held in 64 bits, so
// sources of 65536 pixels and more keep their integer part.
void BuildTaps(CubicTap* taps, uint32_t sourceWidth, uint32_t targetWidth) {
  const int16_t* table = CubicFilterTable();
  const uint64_t step = (uint64_t{sourceWidth} << 16) / targetWidth;
  const int64_t last = int64_t{sourceWidth} - 1;
  const int64_t lastStart = std::max<int64_t>(0, last - 3);
  for (uint32_t x = 0; x < targetWidth; ++x) {
    const uint64_t u = x * step;
    const int64_t first = static_cast<int64_t>(u >> 16) - 1;
    const int16_t* w = table + ((u >> 8) & 255) * 4;
    // Taps outside the row take the edge pixel's value, so their weight
    // moves onto the edge pixel and the four taps stay inside the row.
    const int64_t start = std::clamp<int64_t>(first, 0, lastStart);
    int32_t folded[4] = {0, 0, 0, 0};
    for (int64_t j = 0; j < 4; ++j) folded[std::clamp<int64_t>(first + j, 0, last) - start] += w[j];
    taps[x].first = static_cast<int32_t>(start);
    for (int j = 0; j < 4; ++j) taps[x].weight[j] = static_cast<int16_t>(folded[j]);
  }
}

// The cubic filter into a stage of (target × factor) pixels; with a factor
// above 1 each band box-reduces its stage rows as they come, so the stage
// never exists as a whole image (the same pixels, without its memory).
template <class F>
Status Cubic(ImageBuffer& target, const ImageBuffer& source, uint32_t channels, uint32_t factor,
             const CancelFlag* cancel) {
  using Inter = typename F::Inter;
  using Sample = typename F::Sample;
  const uint32_t sw = source.Width(), sh = source.Height(), tw = target.Width(), th = target.Height();
  const uint32_t iw = tw * factor, ih = th * factor;
  // The horizontal pass depends on the width ratio alone; at exactly 2:1 and
  // 4:1 every column falls on phase 0, which picks one source pixel.
  const uint32_t ratio = sw == 2 * uint64_t{iw} ? 2 : sw == 4 * uint64_t{iw} ? 4 : 0;
  Scratch<CubicTap> taps;
  if (ratio == 0) {
    taps = NewScratch<CubicTap>(iw);
    if (!taps) return kStatusOutOfMemory;
    BuildTaps(taps.get(), sw, iw);
  }
  // Grey8 columns go four to one vector load where their taps lie close enough.
  Scratch<GreyTapGroup> groups;
  GreyTaps grey{};
  if constexpr (std::is_same_v<F, Fixed8>) {
    if (ratio == 0 && channels == 1 && CpuHasSsse3) {
      groups = NewScratch<GreyTapGroup>(iw / 4 + 1);
      if (!groups) return kStatusOutOfMemory;
      grey.groups = groups.get();
      if (!PlanGreyTaps(groups.get(), &grey.plan, taps.get(), iw)) groups.reset();
    }
  }
  // The work is the stage's, so it sets the band count (at most one band per target row).
  const uint32_t bands = std::min(BandCount(iw, ih), th);
  const uint32_t samples = iw * channels;
  const size_t rowSamples = (size_t{samples} + 7) & ~size_t{7};
  Scratch<Inter> rings = NewScratch<Inter>(size_t{bands} * 4 * rowSamples);
  Scratch<Sample> lines;
  Scratch<typename F::BoxSum> sums;
  if (factor > 1) {
    lines = NewScratch<Sample>(size_t{bands} * rowSamples);
    sums = NewScratch<typename F::BoxSum>(size_t{bands} * rowSamples);
  }
  if (!rings || (factor > 1 && (!lines || !sums))) return kStatusOutOfMemory;
  const uint64_t vstep = (uint64_t{sh} << 16) / ih;
  const int16_t* table = CubicFilterTable();

  RunBands(bands, [&](uint32_t band) {
    Inter* ring = rings.get() + size_t{band} * 4 * rowSamples;
    Sample* line = factor > 1 ? lines.get() + size_t{band} * rowSamples : nullptr;
    typename F::BoxSum* sum = factor > 1 ? sums.get() + size_t{band} * rowSamples : nullptr;
    auto slot = [&](int64_t row) { return ring + (static_cast<uint64_t>(row) & 3) * rowSamples; };
    bool filled = false;
    int64_t ringBase = 0;
    const uint32_t y1 = static_cast<uint32_t>(uint64_t{band + 1} * th / bands);
    for (uint32_t y = static_cast<uint32_t>(uint64_t{band} * th / bands); y < y1; ++y) {
      if (IsCancelled(cancel)) return;
      if (factor > 1) std::fill(sum, sum + samples, typename F::BoxSum{});
      for (uint32_t iy = y * factor; iy < (y + 1) * factor; ++iy) {
        const uint64_t v = iy * vstep;
        const int64_t base = static_cast<int64_t>(v >> 16) - 1;
        // Rows already in the ring are kept when the window moves by less than four.
        const int64_t from = filled && base >= ringBase && base - ringBase < 4 ? ringBase + 4 : base;
        for (int64_t i = from; i < base + 4; ++i) {
          const uint32_t row = static_cast<uint32_t>(std::clamp<int64_t>(i, 0, sh - 1));
          if (ratio)
            Kernels<F>::Decimate(slot(i), SampleRow<F>(source, row), iw, channels, ratio);
          else
            Kernels<F>::Row(slot(i), SampleRow<F>(source, row), taps.get(), groups ? &grey : nullptr, iw, channels,
                            sw - 1);
        }
        filled = true;
        ringBase = base;
        const Inter* rows[4] = {slot(base), slot(base + 1), slot(base + 2), slot(base + 3)};
        const int16_t* weights = table + ((v >> 8) & 255) * 4;
        if (factor > 1)
          Kernels<F>::ColumnSum(sum, line, rows, weights, samples, channels, factor);
        else
          Kernels<F>::Column(SampleRow<F>(target, y), rows, weights, samples);
      }
      if (factor > 1) Kernels<F>::Finish(SampleRow<F>(target, y), sum, tw, channels, factor);
    }
  });
  return IsCancelled(cancel) ? kStatusCancelled : kStatusOk;
}

template <class F>
Status Box(ImageBuffer& target, const ImageBuffer& source, uint32_t factor, uint32_t channels,
           const CancelFlag* cancel) {
  const uint32_t tw = target.Width(), th = target.Height();
  const uint32_t samples = source.Width() * channels;
  const uint32_t bands = std::min(BandCount(source.Width(), source.Height()), th);
  const size_t rowSums = (size_t{samples} + 7) & ~size_t{7};
  Scratch<typename F::BoxSum> sums = NewScratch<typename F::BoxSum>(rowSums * bands);
  if (!sums) return kStatusOutOfMemory;
  RunBands(bands, [&](uint32_t band) {
    typename F::BoxSum* s = sums.get() + rowSums * band;
    const uint32_t y1 = static_cast<uint32_t>(uint64_t{band + 1} * th / bands);
    for (uint32_t y = static_cast<uint32_t>(uint64_t{band} * th / bands); y < y1; ++y) {
      if (IsCancelled(cancel)) return;
      std::fill(s, s + samples, typename F::BoxSum{});
      for (uint32_t k = 0; k < factor; ++k)
        Kernels<F>::Accumulate(s, SampleRow<F>(source, y * factor + k), samples, channels, factor);
      Kernels<F>::Finish(SampleRow<F>(target, y), s, tw, channels, factor);
    }
  });
  return IsCancelled(cancel) ? kStatusCancelled : kStatusOk;
}

uint32_t Channels(PixelFormat f) {
  return f == PixelFormat::Rgba8 || f == PixelFormat::Rgba16 || f == PixelFormat::RgbaF ? 4 : 1;
}

Status CubicFor(ImageBuffer& target, const ImageBuffer& source, uint32_t factor, const CancelFlag* cancel) {
  const uint32_t ch = Channels(source.Format());
  switch (source.Format()) {
    case PixelFormat::Rgba8:
    case PixelFormat::Grey8: return Cubic<Fixed8>(target, source, ch, factor, cancel);
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: return Cubic<Fixed16>(target, source, ch, factor, cancel);
    default: return Cubic<Real>(target, source, ch, factor, cancel);
  }
}

Status BoxFor(ImageBuffer& target, const ImageBuffer& source, uint32_t factor, const CancelFlag* cancel) {
  const uint32_t ch = Channels(source.Format());
  switch (source.Format()) {
    case PixelFormat::Rgba8:
    case PixelFormat::Grey8: return Box<Fixed8>(target, source, factor, ch, cancel);
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: return Box<Fixed16>(target, source, factor, ch, cancel);
    default: return Box<Real>(target, source, factor, ch, cancel);
  }
}

Status CheckFormats(const ImageBuffer& target, const ImageBuffer& source) {
  if (target.Format() != source.Format()) return kStatusFormatMismatch;
  if (source.Format() == PixelFormat::Indexed8 || !IsValidFormat(source.Format())) return kStatusColourFormat;
  return kStatusOk;
}

bool FillGreyGroup(GreyTapGroup& group, const CubicTap* t) {
  group.base = t[0].first;
  for (uint32_t k = 0; k < 4; ++k) {
    const int32_t offset = t[k].first - group.base;
    if (offset < 0 || offset > 12) return false;
    for (uint32_t j = 0; j < 4; ++j) {
      const uint32_t half = j / 2, lane = 2 * k + j % 2;
      group.pick[half][2 * lane] = static_cast<uint8_t>(offset + j);
      group.pick[half][2 * lane + 1] = 0x80;
      group.weight[half][lane] = t[k].weight[j];
    }
  }
  return true;
}

Ref<ImageBuffer> NewLike(PixelFormat format, uint64_t width, uint64_t height) {
  return Ref<ImageBuffer>(
      CreateImageBuffer(format, {static_cast<uint32_t>(width), static_cast<uint32_t>(height)}, false));
}

}  // namespace

bool PlanGreyTaps(GreyTapGroup* groups, GreyTapPlan* plan, const CubicTap* taps, uint32_t count) {
  *plan = {};
  // Period lengths are tried in whole 8-column steps of the vector pass. The
  // first period stays one by one: the left edge folds its taps.
  for (uint32_t columns = 8; columns <= 4 * kMaxGreyPeriodGroups && 3 * columns <= count; columns *= 2) {
    const int64_t advance = int64_t{taps[2 * columns].first} - taps[columns].first;
    if (advance < 0 || advance > INT32_MAX) continue;
    uint32_t until = 2 * columns;
    for (; until < count; ++until) {
      const CubicTap& t = taps[until];
      const CubicTap& before = taps[until - columns];
      if (t.first != before.first + advance || std::memcmp(t.weight, before.weight, sizeof t.weight) != 0) break;
    }
    // The right edge folds its taps too; a short remainder is left to the taps.
    if (count - until <= kGreyRemainder) {
      *plan = {columns / 4, columns / 4, static_cast<int32_t>(advance), columns + (until - columns) / 8 * 8};
      break;
    }
  }
  if (plan->period == 0) *plan = {count / 8 * 2, 0, 0, count / 8 * 8};
  for (uint32_t g = 0; g < plan->lead + plan->period; ++g) {
    if (!FillGreyGroup(groups[g], taps + 4 * g)) return false;
  }
  return true;
}

const int16_t* CubicFilterTable() {
  static const auto table = [] {
    struct {
      int16_t w[kFilterPhases * 4];
    } t;
    for (uint32_t p = 0; p < kFilterPhases; ++p) {
      const double f = p / 256.0;
      for (int j = 0; j < 4; ++j) t.w[p * 4 + j] = FixedWeight(Keys(f + 1 - j));
    }
    return t;
  }();
  return table.w;
}

Status BoxReduce(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel) {
  Status s = CheckFormats(target, source);
  if (Failed(s)) return s;
  const uint32_t tw = target.Width(), th = target.Height();
  const uint32_t factor = source.Width() / tw;
  if (factor < 2 || !std::has_single_bit(factor) || uint64_t{tw} * factor != source.Width() ||
      uint64_t{th} * factor != source.Height())
    return kStatusSizeMismatch;
  if (factor <= 16) return BoxFor(target, source, factor, cancel);
  Ref<ImageBuffer> step = NewLike(source.Format(), source.Width() / 16, source.Height() / 16);
  if (!step) return kStatusOutOfMemory;
  s = BoxFor(*step, source, 16, cancel);
  return Failed(s) ? s : BoxReduce(target, *step, cancel);
}

Status Resample(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel) {
  Status s = CheckFormats(target, source);
  if (Failed(s)) return s;
  const uint64_t sw = source.Width(), sh = source.Height(), tw = target.Width(), th = target.Height();
  if (tw * 2 > sw || th * 2 > sh) return CubicFor(target, source, 1, cancel);
  uint32_t k = 1;
  while ((tw << (k + 1)) <= sw && (th << (k + 1)) <= sh) ++k;
  if ((tw << k) == sw && (th << k) == sh) return BoxReduce(target, source, cancel);
  if (k <= kFusedBoxShift) return CubicFor(target, source, 1u << k, cancel);
  Ref<ImageBuffer> stage = NewLike(source.Format(), tw << k, th << k);
  if (!stage) return kStatusOutOfMemory;
  s = CubicFor(*stage, source, 1, cancel);
  return Failed(s) ? s : BoxReduce(target, *stage, cancel);
}

Status ResampleInto(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel) {
  if (target.Dimensions() == source.Dimensions()) return ConvertPixels(target, source);
  const PixelFormat work = target.Format() == PixelFormat::Indexed8 ? PixelFormat::Rgba8 : target.Format();
  Ref<ImageBuffer> from = Ref<ImageBuffer>::Retain(&source);
  if (source.Format() != work) {
    from = NewLike(work, source.Width(), source.Height());
    if (!from) return kStatusOutOfMemory;
    Status s = ConvertPixels(*from, source);
    if (Failed(s)) return s;
  }
  Ref<ImageBuffer> into = Ref<ImageBuffer>::Retain(&target);
  if (target.Format() != work) {
    into = NewLike(work, target.Width(), target.Height());
    if (!into) return kStatusOutOfMemory;
  }
  Status s = Resample(*into, *from, cancel);
  if (Succeeded(s) && into.get() != &target) s = ConvertPixels(target, *into);
  if (Failed(s)) return s;
  target.Properties().CopyFrom(source.Properties());
  target.SetUsesAlpha(source.UsesAlpha());
  return kStatusOk;
}

namespace scalar {

void CubicRow8(int16_t* out, const uint8_t* src, const CubicTap* taps, uint32_t count, uint32_t channels) {
  CubicRow<Fixed8>(out, src, taps, count, channels, UINT32_MAX);
}

void DecimateRow8(int16_t* out, const uint8_t* src, uint32_t count, uint32_t channels, uint32_t ratio) {
  DecimateRow<Fixed8>(out, src, count, channels, ratio);
}

void CubicColumn8(uint8_t* out, const int16_t* const rows[4], const int16_t* weights, uint32_t samples) {
  CubicColumn<Fixed8>(out, rows, weights, samples);
}

void BoxAccumulate8(uint16_t* sums, const uint8_t* src, uint32_t samples) {
  BoxAccumulate<Fixed8>(sums, src, samples);
}

void BoxFinish8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t channels, uint32_t factor) {
  BoxFinish<Fixed8>(out, sums, count, channels, factor);
}

void BoxAccumulateGrey8(uint16_t* sums, const uint8_t* src, uint32_t samples) {
  for (uint32_t k = 0; k < samples / 8; ++k) {
    uint32_t sum = sums[k];
    for (uint32_t i = 0; i < 8; ++i) sum += src[8 * k + i];
    sums[k] = static_cast<uint16_t>(sum);
  }
}

void CubicColumnSumsGrey8(uint16_t* sums, const int16_t* const rows[4], const int16_t* weights, uint32_t samples) {
  for (uint32_t k = 0; k < samples / 8; ++k) {
    uint8_t eight[8];
    const int16_t* from[4] = {rows[0] + 8 * k, rows[1] + 8 * k, rows[2] + 8 * k, rows[3] + 8 * k};
    CubicColumn<Fixed8>(eight, from, weights, 8);
    BoxAccumulateGrey8(sums + k, eight, 8);
  }
}

void BoxFinishGrey8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t factor) {
  const uint32_t shift = 2 * static_cast<uint32_t>(std::countr_zero(factor));
  for (uint32_t x = 0; x < count; ++x) {
    uint32_t sum = 0;
    for (uint32_t k = 0; k < factor / 8; ++k) sum += sums[x * factor / 8 + k];
    out[x] = Fixed8::Mean(sum, shift);
  }
}

}  // namespace scalar

}  // namespace pv
