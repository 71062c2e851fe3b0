#pragma once
#include <cstdint>
#include <cstring>

namespace pv::jpeg {

// Entropy-coded bytes of a scan, read most significant bit first with the
// stuffed zero after every FF removed. The reader stops in front of a marker
// (FF followed by anything but 00) or at the end of the data; from then on
// it supplies zero bits, and Available() tells how many real bits remain.
class BitReader {
 public:
  void Reset(const uint8_t* pos, const uint8_t* end) {
    pos_ = pos;
    end_ = end;
    bits_ = 0;
    count_ = 0;
    stopped_ = false;
  }

  // Address of the first byte not yet taken into the bit buffer.
  const uint8_t* Position() const { return pos_; }
  const uint8_t* End() const { return end_; }
  int Available() const { return count_; }
  // True once a marker or the end of the data has been met and every real
  // bit before it has been used.
  bool Exhausted() const { return stopped_ && count_ <= 0; }

  void Fill() {
    // Eight bytes at a time while none of them is FF.
    if (count_ <= 56 && end_ - pos_ >= 8) {
      uint64_t word;
      std::memcpy(&word, pos_, 8);
      word = __builtin_bswap64(word);
      if (!HasFfByte(word)) {
        const int take = (64 - count_) >> 3;
        bits_ |= (word >> (64 - 8 * take)) << (64 - count_ - 8 * take);
        pos_ += take;
        count_ += 8 * take;
        return;
      }
    }
    while (count_ <= 56 && !stopped_) {
      if (pos_ >= end_) {
        stopped_ = true;
        break;
      }
      const uint8_t b = *pos_;
      if (b == 0xFF) {
        if (end_ - pos_ < 2 || pos_[1] != 0) {
          stopped_ = true;
          break;
        }
        pos_ += 2;
      } else {
        ++pos_;
      }
      bits_ |= uint64_t{b} << (56 - count_);
      count_ += 8;
    }
  }

  // The next n bits (1..32) without consuming them; zeros past the real data.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
  void Skip(int n) {
    bits_ <<= n;
    count_ -= n;
    if (count_ < 0) count_ = 0;
  }
  // Skip for n bits known to be there (n <= Available()).
  void Consume(int n) {
    bits_ <<= n;
    count_ -= n;
  }
  // n bits (0..16) as an unsigned value.
  uint32_t Bits(int n) {
    if (n == 0) return 0;
    if (count_ < n) Fill();
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  uint32_t Bit() { return Bits(1); }

  // Drops the buffered bits and moves past the next marker, whatever its
  // number; used at a restart interval's end.
  void SkipToNextMarker() {
    bits_ = 0;
    count_ = 0;
    stopped_ = false;
    while (pos_ < end_) {
      if (*pos_ == 0xFF && end_ - pos_ >= 2 && pos_[1] != 0 && pos_[1] != 0xFF) {
        pos_ += 2;
        return;
      }
      ++pos_;
    }
  }

 private:
  static bool HasFfByte(uint64_t v) {
    const uint64_t x = ~v;  // FF bytes become zero bytes
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
  }

  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t bits_ = 0;  // left-aligned; bits past count_ are zero
  int count_ = 0;
  bool stopped_ = false;
};

// RECEIVE and EXTEND: s bits as a signed value of magnitude category s.
inline int32_t Extend(uint32_t v, int s) {
  return s == 0 ? 0 : (v < (1u << (s - 1)) ? static_cast<int32_t>(v) - (1 << s) + 1 : static_cast<int32_t>(v));
}

}  // namespace pv::jpeg
