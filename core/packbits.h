#pragma once
#include <cstddef>
#include <cstdint>

#include "core/byte_reader.h"

namespace pv {

// Expands PackBits (ByteRun1) data into dst: a control byte n of 0-127 is
// followed by n + 1 literal bytes, one of 129-255 by a byte repeated
// 257 - n times, and 128 does nothing. Runs are cut at the end of dst and
// of the input. Returns the bytes written; the reader stays after the last
// byte used.
size_t ExpandPackBits(ByteReader& in, uint8_t* dst, size_t capacity);

}  // namespace pv
