#pragma once
#include <cstdint>

namespace pv {

enum class PixelFormat : uint8_t {
  Rgba8 = 0,     // B, G, R, A bytes
  Rgba16 = 1,    // four 16-bit samples, same order
  RgbaF = 2,     // four floats, same order; 1.0 is full intensity
  Grey8 = 3,
  Grey16 = 4,
  GreyF = 5,
  Indexed8 = 6,  // index into the 256-entry palette
  Undetermined = 7,
};

inline constexpr uint32_t kPixelFormatCount = 7;

inline uint32_t BytesPerPixel(PixelFormat f) {
  static constexpr uint8_t kBytes[8] = {4, 8, 16, 1, 2, 4, 1, 0};
  return kBytes[static_cast<uint8_t>(f) & 7];
}

inline bool IsValidFormat(PixelFormat f) { return static_cast<uint8_t>(f) < kPixelFormatCount; }

}  // namespace pv
