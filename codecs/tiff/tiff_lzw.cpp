#include "codecs/tiff/tiff_lzw.h"

#include <algorithm>
#include <cstring>

namespace pv {

namespace {

constexpr uint32_t kClear = 256, kEnd = 257, kFirstFree = 258, kTableSize = 4096;

// Codes taken most significant bit first from the front of the data.
class CodeReader {
 public:
  explicit CodeReader(ByteReader in) : data_(in.Data()), size_(in.Size()) {}

  // False at the end of the input.
  bool Next(uint32_t width, uint32_t* code) {
    while (count_ < width) {
      if (pos_ >= size_) return false;
      bits_ = (bits_ << 8) | data_[pos_++];
      count_ += 8;
    }
    count_ -= width;
    *code = static_cast<uint32_t>(bits_ >> count_) & ((1u << width) - 1);
    return true;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uint64_t pos_ = 0;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
};

}  // namespace

size_t DecodeTiffLzw(ByteReader in, uint8_t* out, size_t size) {
  // Every string of the table was written out whole once, so an entry is
  // where that happened and its length; entries below 258 are single bytes.
  struct Entry {
    size_t start;
    uint32_t length;
  };
  Entry table[kTableSize];
  CodeReader codes(in);
  uint32_t width = 9, next = kFirstFree, code = 0;
  int32_t previous = -1;  // none right after a Clear
  size_t done = 0;
  while (done < size && codes.Next(width, &code)) {
    if (code == kEnd) break;
    if (code == kClear) {
      width = 9;
      next = kFirstFree;
      previous = -1;
      continue;
    }
    uint32_t length = 1;
    if (code < 256) {
      out[done] = static_cast<uint8_t>(code);
    } else if (previous < 0 || code > next) {
      break;
    } else if (code < next) {
      const Entry e = table[code];
      length = e.length;
      if (done - e.start >= 8 && size - done >= size_t{length} + 8) {
        // In whole 8-byte steps while there is room; each step reads bytes
        // already written, and what it writes past the string is written
        // again by the codes that follow.
        for (uint32_t i = 0; i < length; i += 8) std::memcpy(out + done + i, out + e.start + i, 8);
      } else {
        std::memcpy(out + done, out + e.start, std::min<size_t>(length, size - done));  // cut at the end
      }
    } else {
      // Not yet in the table: the previous string plus its own first byte,
      // copied forward from the previous string's start (the copy overlaps).
      const Entry& e = table[previous];
      length = e.length + 1;
      for (size_t i = 0, n = std::min<size_t>(length, size - done); i < n; ++i) out[done + i] = out[e.start + i];
    }
    if (previous >= 0 && next < kTableSize) {
      // The previous string and this one's first byte follow each other in the output.
      table[next++] = {table[previous].start, table[previous].length + 1};
      width = next >= 2047 ? 12 : next >= 1023 ? 11 : next >= 511 ? 10 : 9;
    }
    table[code] = {done, length};
    done += std::min<size_t>(length, size - done);
    previous = static_cast<int32_t>(code);
  }
  return done;
}

}  // namespace pv
