#pragma once
#include <cstddef>
#include <cstdint>

#include "core/byte_reader.h"

namespace pv {

// TIFF's LZW: codes most significant bit first, 9 to 12 bits, the width
// growing one code early (at 511, 1023 and 2047 entries), Clear 256 and End
// of Information 257. Writes at most `size` bytes (a string that would run
// past them is cut) and returns how many it wrote; it stops at End of
// Information, at the end of the input or at a code that cannot occur.
size_t DecodeTiffLzw(ByteReader in, uint8_t* out, size_t size);

}  // namespace pv
