#pragma once
#include <cstddef>
#include <cstdint>

#include "core/decoder.h"
#include "core/image_buffer.h"
#include "core/status.h"

namespace pv {

// Fills target with a scaled copy of source (same pixel format): an exact
// power-of-two box reduction for large reductions, a 4-tap Catmull-Rom
// filter for the rest, in row bands on the task pool. 0x80040200 when the
// formats differ, 0x8004020A for Indexed8, 0x8004020C when cancelled.
Status Resample(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel = nullptr);

// The rounded mean of f × f blocks, f = source width / target width a power
// of two from 2 up; the source height must be f × target height as well,
// else 0x80040201.
Status BoxReduce(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel = nullptr);

// Resamples a source of any format and size into target: the source is
// brought to the target's format first (Indexed8 targets are resampled as
// Rgba8 and reduced to a palette afterwards); equal sizes only convert.
Status ResampleInto(ImageBuffer& target, ImageBuffer& source, const CancelFlag* cancel = nullptr);

// The Catmull-Rom filter: 256 phases of 4 taps in 2.14 fixed point.
inline constexpr uint32_t kFilterPhases = 256;
const int16_t* CubicFilterTable();

// One column of the horizontal pass: four consecutive source pixels from
// `first` and their weights. Taps beyond the row edges are folded onto the
// edge pixel, so `first` + 3 stays inside rows of four or more pixels.
struct CubicTap {
  int32_t first;
  int16_t weight[4];
};

// Four consecutive Grey8 columns whose taps lie within the 16 source bytes
// from `base`, for a vector pass that needs one load per four columns. The
// first half holds taps 0 and 1 of each column, the second taps 2 and 3:
// `pick` gives the byte (from base) of each, widened to 16 bits (0x80 marks
// the zero high byte), and `weight` its weight.
struct alignas(16) GreyTapGroup {
  uint8_t pick[2][16];
  int16_t weight[2][8];
  int32_t base;
};

// How a row's groups are stored. Where the columns repeat with a period
// (the same weights every `period` groups, `advance` pixels further on),
// the first `lead` groups are stored one by one and one period follows
// them; otherwise `lead` covers every group and `period` is 0. Columns from
// `end` on are taken from the taps.
struct GreyTapPlan {
  uint32_t lead = 0;
  uint32_t period = 0;
  int32_t advance = 0;
  uint32_t end = 0;
};
// Fills `groups` (room for count / 4 groups) and `plan`; false when some
// group spreads wider than 16 bytes.
bool PlanGreyTaps(GreyTapGroup* groups, GreyTapPlan* plan, const CubicTap* taps, uint32_t count);

// The 8-bit kernels behind the dispatch, for tests that hold the vector
// forms against their scalar twins. Intermediate rows hold samples × 128 as
// int16; `channels` is 1 or 4; counts are target pixels.
namespace scalar {
void CubicRow8(int16_t* out, const uint8_t* src, const CubicTap* taps, uint32_t count, uint32_t channels);
void DecimateRow8(int16_t* out, const uint8_t* src, uint32_t count, uint32_t channels, uint32_t ratio);
void CubicColumn8(uint8_t* out, const int16_t* const rows[4], const int16_t* weights, uint32_t samples);
void BoxAccumulate8(uint16_t* sums, const uint8_t* src, uint32_t samples);
void BoxFinish8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t channels, uint32_t factor);
// Grey8 box sums by eight samples: sums[k] adds samples 8k to 8k + 7 (16
// rows of them stay within 16 bits); the mean of a block of `factor` (8 or
// 16) takes factor / 8 of them.
void BoxAccumulateGrey8(uint16_t* sums, const uint8_t* src, uint32_t samples);
void BoxFinishGrey8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t factor);
// CubicColumn8 into a row of eight samples at a time, added into sums by eights.
void CubicColumnSumsGrey8(uint16_t* sums, const int16_t* const rows[4], const int16_t* weights, uint32_t samples);
}  // namespace scalar
namespace ssse3 {
// Grey8 rows by groups of four columns as `plan` stores them.
void CubicRowGrey8(int16_t* out, const uint8_t* src, const GreyTapGroup* groups, const GreyTapPlan& plan,
                   const CubicTap* taps, uint32_t count);
void CubicRow8(int16_t* out, const uint8_t* src, const CubicTap* taps, uint32_t count, uint32_t channels);
void DecimateRow8(int16_t* out, const uint8_t* src, uint32_t count, uint32_t channels, uint32_t ratio);
void CubicColumn8(uint8_t* out, const int16_t* const rows[4], const int16_t* weights, uint32_t samples);
void BoxAccumulate8(uint16_t* sums, const uint8_t* src, uint32_t samples);
void BoxFinish8(uint8_t* out, const uint16_t* sums, uint32_t count, uint32_t channels, uint32_t factor);
void BoxAccumulateGrey8(uint16_t* sums, const uint8_t* src, uint32_t samples);
void CubicColumnSumsGrey8(uint16_t* sums, const int16_t* const rows[4], const int16_t* weights, uint32_t samples);
}  // namespace ssse3

}  // namespace pv
