#pragma once
// Resolution texts of the image properties, such as "72 x 72 ppi" or
// "2835 x 2835 ppm".
#include <cstdint>

namespace pv {

enum class ResolutionUnit : uint8_t { PerMetre = 0, PerInch = 1, AsWritten = 2 };

// Reads "X [x Y] ppi|ppm" (blanks allowed between the parts, the unit in
// any case; a missing or zero Y equals X) and converts the numbers to the
// wanted unit (rounded). False for any other text or an X of 0.
bool ParseResolution(const wchar_t* text, ResolutionUnit wanted, uint32_t* x, uint32_t* y);

}  // namespace pv
