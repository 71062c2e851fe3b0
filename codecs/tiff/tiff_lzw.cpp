#include "codecs/tiff/tiff_lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace pv {

namespace {

constexpr uint32_t kClear = 256, kFirstFree = 258, kTableSize = 4096;
// Strings are copied in 16-byte steps; a step may run up to 15 bytes past
// the string, into output that the following codes write again.
constexpr size_t kStep = 16;
// The length of a code that has no string: Clear, End of Information and
// the codes past the last entry. It sends them down the slow road with the
// long strings, so the common case asks one question of a code.
constexpr uint16_t kNoString = 0xFFFF;

// The single-byte strings, each at the start of a step of its own: the
// step read for a literal never straddles two cache lines.
alignas(64) constexpr std::array<uint8_t, 256 * kStep> kLiterals = [] {
  std::array<uint8_t, 256 * kStep> bytes{};
  for (size_t i = 0; i < 256; ++i) bytes[i * kStep] = static_cast<uint8_t>(i);
  return bytes;
}();

// One step, read whole before it is written: a string that ended less than
// a step before dst overlaps it.
void CopyStep(uint8_t* dst, const uint8_t* src) {
  uint8_t step[kStep];
  std::memcpy(step, src, kStep);
  std::memcpy(dst, step, kStep);
}

// Codes taken most significant bit first, each from one 8-byte big-endian
// load at its first byte while eight bytes remain there; only the bit
// position carries from one code to the next.
class CodeReader {
 public:
  explicit CodeReader(ByteReader in)
      : data_(in.Data()), bits_(in.Size() * 8), fastEnd_(in.Size() >= 8 ? (in.Size() - 7) * 8 : 0) {}

  // False at the end of the input.
  bool Next(uint32_t width, uint32_t* code) {
    if (pos_ < fastEnd_) [[likely]] {
      uint64_t word = 0;
      std::memcpy(&word, data_ + (pos_ >> 3), 8);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      *code = static_cast<uint32_t>((word << (pos_ & 7)) >> (64 - width));
      pos_ += width;
      return true;
    }
    if (bits_ - pos_ < width) return false;
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i, ++pos_) value = value << 1 | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1);
    *code = value;
    return true;
  }

 private:
  const uint8_t* data_;
  uint64_t bits_, fastEnd_, pos_ = 0;
};

}  // namespace

size_t DecodeTiffLzw(ByteReader in, uint8_t* out, size_t size) {
  // Each string of the table was written out whole once (or is one of the
  // literals), so an entry is where it lies and its length; a string is
  // copied from there instead of being walked along its prefixes. The
  // lengths lie apart, in 8 KB that stay in the first-level cache: where the
  // next string goes waits on them. A spare entry past the last code takes
  // the writes of a full table, which are never read.
  const uint8_t* starts[kTableSize + 1];
  uint16_t lengths[kTableSize + 1];
  for (uint32_t c = 0; c < 256; ++c) starts[c] = kLiterals.data() + c * kStep, lengths[c] = 1;
  std::fill(lengths + 256, lengths + kTableSize, kNoString);
  // While done is below this, a string of up to one step is one step.
  const size_t stepEnd = size >= kStep ? size - kStep + 1 : 0;
  CodeReader codes(in);
  uint32_t next = kFirstFree, code = 0;
  size_t done = 0;
  // The first code and every code after a Clear is a literal, which adds no entry.
  while (done < size && codes.Next(9, &code)) {
    if (code == kClear) continue;
    if (code > 255) break;  // End of Information, or a code that cannot come first
    std::fill(lengths + kFirstFree, lengths + next, kNoString);
    next = kFirstFree;
    uint32_t width = 9, widen = (1u << width) - 1;
    out[done] = static_cast<uint8_t>(code);
    const uint8_t* previous = out + done++;  // the previous string's output
    size_t previousLength = 1;
    for (;;) {
      if (!codes.Next(width, &code)) return done;
      uint8_t* dst = out + done;
      size_t length = lengths[code];
      if (length <= kStep && done < stepEnd) [[likely]] {
        CopyStep(dst, starts[code]);
      } else {
        const size_t room = size - done;
        if (length == kNoString) {
          if (code == kClear) break;  // the next segment starts
          if (code != next) return done;  // End of Information, or a code that cannot occur
          // Not yet in the table: the previous string, which ends at dst,
          // then its own first byte.
          length = previousLength + 1;
          if (length + kStep <= room) {
            for (size_t i = 0; i < previousLength; i += kStep) CopyStep(dst + i, previous + i);
          } else {
            std::memcpy(dst, previous, std::min(previousLength, room));
          }
          if (previousLength < room) dst[previousLength] = previous[0];
        } else if (length + kStep <= room) {
          for (size_t i = 0; i < length; i += kStep) CopyStep(dst + i, starts[code] + i);
        } else {
          std::memcpy(dst, starts[code], std::min(length, room));  // cut at the end
        }
        if (length >= room) return size;
      }
      starts[next] = previous;
      lengths[next] = static_cast<uint16_t>(previousLength + 1);
      if (++next == widen) {
        if (next > kTableSize) {
          next = kTableSize;  // full: the spare entry takes the writes until the next Clear
        } else {
          ++width;  // one code early
          widen = width < 12 ? (1u << width) - 1 : kTableSize + 1;
        }
      }
      previous = dst;
      previousLength = length;
      done += length;
    }
  }
  return done;
}

}  // namespace pv
