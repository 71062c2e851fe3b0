#pragma once
#include <cstdint>

#include "codecs/jpeg/jpeg_bit_reader.h"

namespace pv::jpeg {

// One Huffman table of a JPEG stream: BITS and HUFFVAL as a DHT segment gives
// them, and the decoding tables derived from them.
class HuffmanTable {
 public:
  static constexpr int kLookBits = 11;

  // Takes the 16 code counts and their symbols; false when the counts add up
  // to more than 256 or give more codes of a length than that length holds.
  bool Define(const uint8_t* bits, const uint8_t* values);
  bool Defined() const { return defined_; }
  // Builds MAXCODE, VALOFFSET and the lookahead table once after each Define.
  void Derive();
  // Installs the typical luminance (number 0) or chrominance (1) table.
  void SetDefault(bool dc, int number);

  // For AC tables: a code whose symbol has a non-zero size, together with
  // its value bits, found within the next kLookBits bits. Gives the value
  // << 16 | run << 8 | bits used, or 0 when the slow road must be taken.
  int32_t FastAc(uint32_t peek) const { return fastAc_[peek]; }

  // The next symbol; 0 (a zero DC difference, or end of block) for an
  // invalid code and once the real bits have run out.
  int Decode(BitReader& r) const {
    if (r.Available() < 16) r.Fill();
    const uint16_t e = lookup_[r.Peek(kLookBits)];
    if (e >> 8) {
      const int length = e >> 8;
      if (length > r.Available()) return Exhausted(r);
      r.Skip(length);
      return e & 0xFF;
    }
    return DecodeLong(r);
  }

 private:
  int DecodeLong(BitReader& r) const;
  static int Exhausted(BitReader& r) {
    r.Skip(r.Available());
    return 0;
  }

  uint8_t bits_[17] = {};  // bits_[l]: codes of length l
  uint8_t values_[256] = {};
  int32_t maxCode_[18] = {};
  int32_t valOffset_[17] = {};
  uint16_t lookup_[1 << kLookBits] = {};  // length << 8 | symbol; length 0: longer code
  int32_t fastAc_[1 << kLookBits] = {};
  bool defined_ = false;
  bool derived_ = false;
};

}  // namespace pv::jpeg
