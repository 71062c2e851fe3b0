#include "codecs/tiff/tiff_lzw.h"

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
  // Each entry: the code of its string without the last byte, that byte,
  // the string's first byte and its length.
  struct Entry {
    uint16_t prefix;
    uint8_t last, first;
    uint32_t length;
  };
  Entry table[kTableSize];
  for (uint32_t i = 0; i < 256; ++i) table[i] = {0, static_cast<uint8_t>(i), static_cast<uint8_t>(i), 1};
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
    if (previous < 0) {
      if (code >= 256) break;
      out[done++] = static_cast<uint8_t>(code);
      previous = static_cast<int32_t>(code);
      continue;
    }
    // A code one past the table is the previous string plus its own first byte.
    if (code > next) break;
    const Entry& before = table[previous];
    if (next < kTableSize) {
      const uint8_t last = code < next ? table[code].first : before.first;
      table[next] = {static_cast<uint16_t>(previous), last, before.first, before.length + 1};
      ++next;
      width = next >= 2047 ? 12 : next >= 1023 ? 11 : next >= 511 ? 10 : 9;
    }
    // The string is written back to front along its prefixes, cut at the end of the output.
    const size_t end = done + table[code].length;
    uint32_t c = code;
    for (size_t p = end; p-- > done;) {
      if (p < size) out[p] = table[c].last;
      c = table[c].prefix;
    }
    done = end < size ? end : size;
    previous = static_cast<int32_t>(code);
  }
  return done;
}

}  // namespace pv
