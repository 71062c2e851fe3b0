#pragma once
#include <cstddef>
#include <cstdint>

#include "core/status.h"

namespace pv {

class ImageBuffer;

// Routines that turn one row of file data into buffer pixels, or convert
// pixels in place from a colour model to RGB. Destination first; counts in
// pixels unless said otherwise. Vector forms are chosen at run time
// (CpuHasSsse3) and give exactly the scalar result; they load 16 bytes only
// while 16 input bytes remain (the input may end on a page boundary) and
// write only the output asked for.

void CopyBytes(void* dst, const void* src, size_t n);

// 8, 4 and 2 output bytes per input byte, most significant bits first.
void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes);
// `planes` bit-plane rows of ceil(width/8) bytes, plane 0 first.
void PlanesToIndices(uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t planes);
void PlanarRgbToRgba8(uint8_t* dst, const uint8_t* src, size_t n, size_t planeBytes);
// B, G, R triples to B, G, R, 255.
void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n);
// R, G, B triples to 0xFFRRGGBB (colour tables to palettes).
void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n);
// n samples; byte-swapped when swap is set. With channels 3 or 4 the samples
// are regrouped into the buffer's 4-sample B, G, R, A pixels (alpha full
// when the source has 3 channels).
void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap);
// Rows of srcPitch bytes to rows of dstPitch bytes (min of both copied);
// in place (dst == src) the rows move last row first.
void RelayoutRows(uint8_t* dst, const uint8_t* src, size_t dstPitch, size_t srcPitch, uint32_t rows);

// In place on 4-byte entries (pixels or palette entries); result B, G, R, A.
void YccToRgb(uint8_t* entries, size_t n);
void CmykToRgb(uint8_t* entries, size_t n, bool inverted);
void XyzToRgb(uint8_t* entries, size_t n);

// Stretches grey samples of fewer than 8 bits to the full range and inverts
// them for "K"; 0x8004020A for non-grey buffers.
Status ExpandGrey(ImageBuffer& buffer, uint32_t bits, bool invert);

// The forms behind the dispatch, for tests that hold the two against each other.
namespace scalar {
void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes);
void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n);
void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n);
void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap);
void YccToRgb(uint8_t* entries, size_t n);
}  // namespace scalar
namespace ssse3 {
void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes);
void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes);
void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n);
void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n);
void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap);
void YccToRgb(uint8_t* entries, size_t n);
}  // namespace ssse3

}  // namespace pv
