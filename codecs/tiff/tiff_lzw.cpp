#include "codecs/tiff/tiff_lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pv {

namespace {

constexpr uint32_t kClear = 256, kEnd = 257, kFirstFree = 258, kTableSize = 4096;
// Strings are copied in 16-byte steps; a step may run up to 15 bytes past
// the string, into output that the following codes write again.
constexpr size_t kStep = 16;

// The single-byte strings, with room for one whole step past the last.
constexpr std::array<uint8_t, 256 + kStep> kLiterals = [] {
  std::array<uint8_t, 256 + kStep> bytes{};
  for (size_t i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}();

// One step, read whole before it is written: a string that ended less than
// a step before dst overlaps it.
void CopyStep(uint8_t* dst, const uint8_t* src) {
  uint8_t step[kStep];
  std::memcpy(step, src, kStep);
  std::memcpy(dst, step, kStep);
}

// Codes taken most significant bit first; the next code is in the top bits
// of `bits_`, of which `count_` are valid.
class CodeReader {
 public:
  explicit CodeReader(ByteReader in) : data_(in.Data()), size_(static_cast<size_t>(in.Size())) {}

  // False at the end of the input.
  bool Next(uint32_t width, uint32_t* code) {
    if (size_ - pos_ >= 8) {
      // Topped up on every code, without a branch: eight bytes at once, of
      // which the whole bytes that fit are counted as taken. The bits below
      // count_ that this sets again are the same bits.
      uint64_t word = 0;
      std::memcpy(&word, data_ + pos_, 8);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      bits_ |= word >> count_;
      pos_ += (63 - count_) >> 3;
      count_ |= 56;
    } else if (count_ < width) {
      while (count_ <= 56 && pos_ < size_) {
        bits_ |= uint64_t{data_[pos_++]} << (56 - count_);
        count_ += 8;
      }
      if (count_ < width) return false;
    }
    *code = static_cast<uint32_t>(bits_ >> (64 - width));
    bits_ <<= width;
    count_ -= width;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
};

}  // namespace

size_t DecodeTiffLzw(ByteReader in, uint8_t* out, size_t size) {
  // Each string of the table was written out whole once (or is one of the
  // literals), so an entry is where it lies and its length; a string is
  // copied from there instead of being walked along its prefixes. The
  // lengths lie apart, in 8 KB that stay in the first-level cache: where the
  // next string goes waits on them.
  const uint8_t* starts[kTableSize];
  uint16_t lengths[kTableSize];
  for (uint32_t c = 0; c < 256; ++c) starts[c] = kLiterals.data() + c, lengths[c] = 1;
  CodeReader codes(in);
  uint32_t width = 9, next = kFirstFree, code = 0;
  const uint8_t* previous = nullptr;  // the previous string's output; none right after a Clear
  size_t previousLength = 0, done = 0;
  while (done < size && codes.Next(width, &code)) {
    uint8_t* dst = out + done;
    const size_t room = size - done;
    size_t length = 0;
    if (code < next) {
      if (code == kClear || code == kEnd) {
        if (code == kEnd) break;
        width = 9;
        next = kFirstFree;
        previous = nullptr;
        continue;
      }
      const uint8_t* start = starts[code];
      length = lengths[code];
      if (length + kStep <= room) {
        // The string ends before dst, so each step reads bytes of the string
        // or ones it does not need. Most strings take one step.
        CopyStep(dst, start);
        for (size_t i = kStep; i < length; i += kStep) CopyStep(dst + i, start + i);
      } else {
        std::memcpy(dst, start, std::min(length, room));  // cut at the end
      }
    } else if (code == next && previous) {
      // Not yet in the table: the previous string, which ends at dst, then
      // its own first byte.
      length = previousLength + 1;
      if (length + kStep <= room) {
        for (size_t i = 0; i < previousLength; i += kStep) CopyStep(dst + i, previous + i);
      } else {
        std::memcpy(dst, previous, std::min(previousLength, room));
      }
      if (previousLength < room) dst[previousLength] = previous[0];
    } else {
      break;
    }
    if (previous && next < kTableSize) {
      // The previous string and this one's first byte follow each other in the output.
      starts[next] = previous;
      lengths[next++] = static_cast<uint16_t>(previousLength + 1);
      if (next == (1u << width) - 1 && width < 12) ++width;  // one code early
    }
    previous = dst;
    previousLength = length;
    done += std::min(length, room);
  }
  return done;
}

}  // namespace pv
