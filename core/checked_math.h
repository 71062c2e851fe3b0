#pragma once
#include <cstdint>

namespace pv {

// Upper bounds on what any file may make us allocate. Sizes computed from
// file fields are checked against these before memory is requested.
inline constexpr uint32_t kMaxImageDimension = 1u << 18;
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 29;
inline constexpr uint32_t kMaxFrameCount = 10000;

// No coding this program reads makes more pixels than this of one file byte,
// short of images of a single colour: a header that claims more than its
// file could fill is damaged or hostile, and is refused before its buffers
// are allocated. Images up to kAlwaysAllowedPixels are exempt, so that a
// small truncated file still shows what it holds.
inline constexpr uint64_t kMostPixelsPerFileByte = 1u << 14;
inline constexpr uint64_t kAlwaysAllowedPixels = uint64_t{1} << 24;

// Process-wide pixel limit; the fuzz targets lower it to keep allocations small.
uint64_t ImagePixelLimit();
void SetImagePixelLimit(uint64_t pixels);

// a * b into *out unless the product exceeds limit.
inline bool CheckedMul(uint64_t a, uint64_t b, uint64_t limit, uint64_t* out) {
  if (a != 0 && b > limit / a) return false;
  *out = a * b;
  return true;
}

inline bool CheckedAdd(uint64_t a, uint64_t b, uint64_t limit, uint64_t* out) {
  if (a > limit || b > limit - a) return false;
  *out = a + b;
  return true;
}

// True when width × height is a size an image may have.
inline bool IsSaneImageSize(uint64_t width, uint64_t height) {
  return width != 0 && height != 0 && width <= kMaxImageDimension && height <= kMaxImageDimension &&
         width * height <= ImagePixelLimit();
}

}  // namespace pv
