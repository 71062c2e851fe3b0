#pragma once
#include <cstdint>

#include "core/image_buffer.h"
#include "core/status.h"

namespace pv {

struct ReductionOptions {
  uint32_t colours = 256;             // 2-256 palette entries at most
  const uint32_t* palette = nullptr;  // a palette to map onto (0xAARRGGBB), or null
  uint32_t paletteCount = 0;          // 1-256 entries when a palette is given
  bool dither = false;                // error diffusion instead of the nearest box
};

// Fills an Indexed8 target of the source's size from a source of any other
// format. Without a given palette one is built by splitting boxes of a
// 64 × 64 × 64 colour histogram; transparent pixels (alpha 0) get index 0,
// which is then transparent black. A Grey8 or Indexed8 source whose used
// colours fit is passed through with its used entries only. Properties and
// the uses-alpha flag are copied. 0x80040201 for a wrong target or count.
Status ReduceColours(ImageBuffer& target, ImageBuffer& source, const ReductionOptions& options);

}  // namespace pv
