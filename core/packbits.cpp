#include "core/packbits.h"

#include <algorithm>
#include <cstring>

namespace pv {

size_t ExpandPackBits(ByteReader& in, uint8_t* dst, size_t capacity) {
  size_t out = 0;
  uint8_t control = 0;
  while (out < capacity && in.U8(control)) {
    if (control < 128) {
      const uint64_t want = std::min<uint64_t>(uint64_t{control} + 1, capacity - out);
      const uint64_t n = std::min(want, in.Remaining());
      if (n) std::memcpy(dst + out, in.Take(n), static_cast<size_t>(n));
      out += static_cast<size_t>(n);
      // Literal bytes beyond dst are passed over, not taken as controls.
      if (!in.Skip(std::min<uint64_t>(uint64_t{control} + 1 - want, in.Remaining()))) break;
    } else if (control > 128) {
      uint8_t value = 0;
      if (!in.U8(value)) break;
      const size_t n = std::min<size_t>(257u - control, capacity - out);
      std::memset(dst + out, value, n);
      out += n;
    }
  }
  return out;
}

}  // namespace pv
