#pragma once
#include <cstddef>
#include <cstdint>

namespace pv::png {

// The row work of the PNG decoder: undoing the five filters, and the
// sample layouts that the shared row helpers do not cover. The vector forms
// give exactly the scalar result; the dispatching forms choose them from the
// processor flags.

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// Undoes the filter of one row in place. `row` holds `bytes` filtered bytes
// (after the filter byte), `previous` the unfiltered row above (zeros for
// the first row of a pass); `bpp` is the bytes of one whole pixel, 1 to 8.
// Unknown filter types leave the row as it is. Both rows must be readable
// for 8 bytes past their end.
void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp);

// R, G, B, A bytes to B, G, R, A.
void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);
// Grey, alpha byte pairs to B, G, R, A.
void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);

namespace scalar {
void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp);
void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);
void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);
}  // namespace scalar

namespace ssse3 {
// Sub, Average and Paeth for 3 and 4 bytes per pixel, Up for any; other
// combinations go to the scalar form.
void Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t bytes, uint32_t bpp);
void RgbaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);
void GreyAlphaToBgra8(uint8_t* dst, const uint8_t* src, size_t n);
}  // namespace ssse3

}  // namespace pv::png
