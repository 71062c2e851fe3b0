#pragma once
#include <cstddef>
#include <cstdint>

namespace pv::jpeg {

// Where the samples of one MCU go. Samples arrive in place of their
// coefficient blocks: block i of the MCU starts at samples + i * kBlockBytes
// and holds 8 rows of 8 bytes (in eighth-scale mode only its first byte).
struct McuLayout {
  uint32_t components = 0;  // frame components, 1..4
  uint32_t h[4] = {}, v[4] = {};
  uint32_t offset[4] = {};  // first block of each component inside the MCU
  uint32_t hmax = 1, vmax = 1;
  uint32_t bytesPerPixel = 1;  // 1 (one component) or 4 (component i in byte i)
  size_t stride = 0;           // bytes from one output row to the next
  bool eighthScale = false;
  bool ycc = false;  // three components Y, Cb, Cr that are to become B, G, R, 255
};

inline constexpr size_t kBlockBytes = 128;

using McuWriter = void (*)(const McuLayout& layout, const uint8_t* samples, uint8_t* out);

struct WriterChoice {
  McuWriter write = nullptr;
  bool convertsColour = false;  // writes B, G, R, 255 itself (only with layout.ycc)
};

// The writer for the layout: a dedicated one for grey, 4:4:4, 4:2:2, 4:4:0,
// 4:2:0 and four unsampled components; the generic one for anything else.
// Chroma of the subsampled layouts is upsampled with the 3:1 triangle
// filter inside the MCU, the edge sample standing in beyond its edges.
// Y, Cb, Cr MCUs of the four three-component layouts are converted as they
// are written by a vector form, giving what YccToRgb gives on the plain
// writer's [Y, Cb, Cr, Cr] pixels.
WriterChoice ChooseMcuWriter(const McuLayout& layout);
// Replicates every sample over the pixels it covers (nearest neighbour).
void WriteMcuGeneric(const McuLayout& layout, const uint8_t* samples, uint8_t* out);

}  // namespace pv::jpeg
