#include "codecs/jpeg/huffman.h"

#include <cstring>

namespace pv::jpeg {

namespace {

// The typical luminance and chrominance tables, which streams without DHT
// segments (motion-JPEG frames) are coded with.
constexpr uint8_t kDcLuminanceBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChrominanceBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLuminanceBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
constexpr uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
    0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
    0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
constexpr uint8_t kAcChrominanceBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1,
    0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A,
    0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
    0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA,
    0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

}  // namespace

bool HuffmanTable::Define(const uint8_t* bits, const uint8_t* values) {
  uint32_t total = 0, code = 0;
  for (int l = 1; l <= 16; ++l) {
    total += bits[l - 1];
    code += bits[l - 1];
    // Canonical codes of length l must fit in l bits.
    if (code > (1u << l)) return false;
    code <<= 1;
  }
  if (total > 256) return false;
  bits_[0] = 0;
  std::memcpy(bits_ + 1, bits, 16);
  std::memset(values_, 0, sizeof values_);
  std::memcpy(values_, values, total);
  defined_ = true;
  derived_ = false;
  return true;
}

void HuffmanTable::Derive(bool dc) {
  if (derived_) return;
  std::memset(lookup_, 0, sizeof lookup_);
  int32_t code = 0;
  int32_t index = 0;
  for (int l = 1; l <= 16; ++l) {
    const int n = bits_[l];
    if (n == 0) {
      maxCode_[l] = -1;
      valOffset_[l] = 0;
    } else {
      valOffset_[l] = index - code;
      for (int i = 0; i < n; ++i, ++code, ++index) {
        if (l > kLookBits) continue;
        const int shift = kLookBits - l;
        const uint16_t entry = static_cast<uint16_t>(l << 8 | values_[index]);
        for (int fill = 0; fill < (1 << shift); ++fill) lookup_[(code << shift) | fill] = entry;
      }
      maxCode_[l] = code - 1;
    }
    code <<= 1;
  }
  maxCode_[17] = 0xFFFFF;
  for (uint32_t peek = 0; peek < (1u << kLookBits); ++peek) fast_[peek] = dc ? FastDc(peek) : FastAc(peek);
  derived_ = true;
}

HuffmanTable::Symbol HuffmanTable::ShortSymbol(uint32_t peek, int bits) const {
  const uint16_t e = lookup_[peek << (kLookBits - bits) & ((1u << kLookBits) - 1)];
  Symbol s;
  s.length = e >> 8;
  s.value = e & 0xFF;
  // A code longer than the bits left, or one that needs bits beyond them.
  if (s.length > bits) s.length = 0;
  return s;
}

uint32_t HuffmanTable::FastDc(uint32_t peek) const {
  const Symbol code = ShortSymbol(peek, kLookBits);
  // Sizes past 16 decode as 0, as on the slow road.
  const int size = code.value > 16 ? 0 : code.value;
  const int used = code.length + size;
  if (code.length == 0 || used > kLookBits) return 0;
  const uint32_t bits = (peek >> (kLookBits - used)) & ((1u << size) - 1);
  return static_cast<uint32_t>(Extend(bits, size)) << 8 | static_cast<uint32_t>(used);
}

uint32_t HuffmanTable::FastAc(uint32_t peek) const {
  // The first symbol: its value must fit 8 signed bits (sizes up to 7).
  const Symbol first = ShortSymbol(peek, kLookBits);
  const int run1 = first.value >> 4, size1 = first.value & 15;
  const int used1 = first.length + size1;
  if (first.length == 0 || used1 > kLookBits || size1 > 7) return 0;
  if (size1 == 0 && run1 != 15) return AcFast::Make(first.length, first.length, 0, 0, true, 0, 0);
  const int32_t value1 = Extend((peek >> (kLookBits - used1)) & ((1u << size1) - 1), size1);
  const uint32_t single = AcFast::Make(used1, used1, run1, 0, false, value1, 0);
  // The second symbol, from the bits that remain; its value must fit 6 signed bits.
  const int left = kLookBits - used1;
  if (left == 0) return single;
  const uint32_t rest = peek & ((1u << left) - 1);
  const Symbol second = ShortSymbol(rest, left);
  const int run2 = second.value >> 4, size2 = second.value & 15;
  const int used2 = second.length + size2;
  if (second.length == 0 || used2 > left) return single;
  const uint32_t both = static_cast<uint32_t>(used1 + used2);
  if (size2 == 0) {
    if (run2 != 15) return AcFast::Make(used1, both, run1, 0, true, value1, 0);
    return AcFast::Make(used1, both, run1, 16, false, value1, 0);
  }
  const int32_t value2 = Extend((rest >> (left - used2)) & ((1u << size2) - 1), size2);
  if (value2 < -32 || value2 > 31) return single;
  return AcFast::Make(used1, both, run1, static_cast<uint32_t>(run2 + 1), false, value1, value2);
}

int HuffmanTable::DecodeLong(BitReader& r) const {
  const uint32_t bits = r.Peek(16);
  for (int l = kLookBits + 1; l <= 16; ++l) {
    const int32_t code = static_cast<int32_t>(bits >> (16 - l));
    if (code <= maxCode_[l]) {
      if (l > r.Available()) return Exhausted(r);
      r.Skip(l);
      return values_[(code + valOffset_[l]) & 0xFF];
    }
  }
  // No code of 16 bits or fewer matches: damaged data.
  if (r.Available() < 16) return Exhausted(r);
  r.Skip(16);
  return 0;
}

void HuffmanTable::SetDefault(bool dc, int number) {
  if (dc) {
    Define(number == 0 ? kDcLuminanceBits : kDcChrominanceBits, kDcValues);
  } else {
    Define(number == 0 ? kAcLuminanceBits : kAcChrominanceBits,
           number == 0 ? kAcLuminanceValues : kAcChrominanceValues);
  }
}

}  // namespace pv::jpeg
