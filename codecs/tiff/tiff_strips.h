#pragma once
// The pieces a TIFF strip or tile goes through after it is read: PackBits
// and deflate, the horizontal predictor, and the conversion of its rows
// into buffer pixels.
#include <cstddef>
#include <cstdint>

#include "core/byte_reader.h"
#include "core/decoder.h"

namespace pv {

// PackBits runs into at most `size` bytes; returns how many were written.
size_t UnpackPackBits(ByteReader in, uint8_t* out, size_t size);
// A zlib stream into at most `size` bytes (*got of them written); stream
// errors give their status, a stream cut short does not.
Status InflateStrip(ByteReader in, uint8_t* out, size_t size, size_t* got);

// Undoes horizontal differencing on one row of `width` pixels of `samples`
// samples of `bytes` bytes each (1, 2 or 4), in the file's byte order.
void UndoPredictor(uint8_t* row, uint32_t width, uint32_t samples, uint32_t bytes, bool bigEndian);

// Half-precision (1-5-10) and 24-bit (1-7-16, bias 63) floats.
float HalfToFloat(uint16_t h);
float Float24ToFloat(uint32_t v);

// How file samples become buffer pixels.
struct SampleLayout {
  uint32_t samples = 1;       // per pixel in the row (1 for a plane of planar data)
  uint32_t planes = 1;        // planar data: planes of the image
  uint32_t bits = 8;          // per sample
  uint32_t sampleFormat = 1;  // 1 unsigned, 2 signed, 3 floating point
  bool bigEndian = false;
  bool rgbOrder = true;  // colour model "RGB": red, green, blue become the buffer's blue-first order
  PixelFormat target = PixelFormat::Rgba8;

  // Bytes of `width` pixels in a chunky row.
  uint64_t RowBytes(uint32_t width) const { return (uint64_t{width} * samples * bits + 7) / 8; }
};

// One chunky row of `width` pixels into buffer pixels at dst.
void ConvertRow(const SampleLayout& layout, uint8_t* dst, const uint8_t* src, uint32_t width);
// One row of plane `plane` (planar data) into its sample of each pixel.
void ConvertPlaneRow(const SampleLayout& layout, uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t plane);

}  // namespace pv
