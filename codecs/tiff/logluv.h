#pragma once
#include <cstddef>
#include <cstdint>

#include "core/byte_reader.h"

namespace pv {

// SGI LogL (2 bytes a pixel) and LogLuv (4 bytes) run-length data: each row
// holds its byte planes one after the other, most significant first, each
// as runs (a control byte b >= 128 repeats the next byte b - 126 times,
// b < 128 copies b bytes). Writes the values in that byte order, `bytes` a
// pixel; returns the number of whole rows written.
uint32_t DecodeLogLuvRows(ByteReader in, uint8_t* out, uint32_t width, uint32_t rows, uint32_t bytes);

// Values as written above to linear floats: LogL to Y, LogLuv to blue,
// green, red and alpha 1.
void LogLToGrey(float* dst, const uint8_t* src, size_t n);
void LogLuvToRgb(float* dst, const uint8_t* src, size_t n);
// The 24-bit form (stored uncompressed, 3 bytes a pixel, most significant
// first): 10 bits of log luminance and a 14-bit chromaticity index.
void LogLuv24ToRgb(float* dst, const uint8_t* src, size_t n);

}  // namespace pv
