#pragma once
#include <cstdint>

#include "codecs/jpeg/jpeg_bit_reader.h"

namespace pv::jpeg {

// A Fast entry of a DC table: the difference and the bits it takes.
struct DcFast {
  static uint32_t Used(uint32_t e) { return e & 0xFF; }
  static int32_t Difference(uint32_t e) { return static_cast<int32_t>(e) >> 8; }
};

// A Fast entry of an AC table: a first symbol (a coefficient, a run of 16
// zeros, or the end of the block), and where they fit a second one, with
// their value bits. A coefficient after `run` zeros is stored at k + run;
// the second one, Advance2 further on. An entry of one symbol has Advance2
// and Value2 0, so storing Value2 before Value1 leaves the right value.
// A run of 16 zeros stores a zero, which sequential blocks already hold.
struct AcFast {
  static constexpr uint32_t kEnds = 1u << 17;
  static uint32_t Used1(uint32_t e) { return e & 15; }      // bits of the first symbol
  static uint32_t UsedBoth(uint32_t e) { return (e >> 4) & 15; }  // bits of all of them
  static uint32_t Run1(uint32_t e) { return (e >> 8) & 15; }
  static uint32_t Advance2(uint32_t e) { return (e >> 12) & 31; }
  static bool Ends(uint32_t e) { return (e & kEnds) != 0; }  // the block ends after these
  static int32_t Value1(uint32_t e) { return static_cast<int32_t>(e) >> 24; }
  static int32_t Value2(uint32_t e) { return static_cast<int32_t>(e << 8) >> 26; }
  static uint32_t Make(uint32_t used1, uint32_t usedBoth, uint32_t run1, uint32_t advance2, bool ends,
                       int32_t value1, int32_t value2) {
    return used1 | usedBoth << 4 | run1 << 8 | advance2 << 12 | (ends ? kEnds : 0) |
           (static_cast<uint32_t>(value2) & 63) << 18 | static_cast<uint32_t>(value1) << 24;
  }
};

// One Huffman table of a JPEG stream: BITS and HUFFVAL as a DHT segment gives
// them, and the decoding tables derived from them.
class HuffmanTable {
 public:
  static constexpr int kLookBits = 11;

  // Takes the 16 code counts and their symbols; false when the counts add up
  // to more than 256 or give more codes of a length than that length holds.
  bool Define(const uint8_t* bits, const uint8_t* values);
  bool Defined() const { return defined_; }
  // Builds MAXCODE, VALOFFSET and the lookahead tables once after each
  // Define; `dc` chooses the meaning of the Fast entries.
  void Derive(bool dc);
  // Installs the typical luminance (number 0) or chrominance (1) table.
  void SetDefault(bool dc, int number);

  // The next kLookBits bits decoded at once, where the codes and their value
  // bits fit: for DC tables the difference << 8 | bits used (see DcFast);
  // for AC tables up to two symbols (see AcFast). 0: take the slow road.
  uint32_t Fast(uint32_t peek) const { return fast_[peek]; }

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
  struct Symbol {
    int length = 0;  // 0: no code of at most `bits` bits
    int value = 0;
  };
  // The symbol whose code begins the `bits` low bits of peek.
  Symbol ShortSymbol(uint32_t peek, int bits) const;
  uint32_t FastDc(uint32_t peek) const;
  uint32_t FastAc(uint32_t peek) const;
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
  uint32_t fast_[1 << kLookBits] = {};
  bool defined_ = false;
  bool derived_ = false;
};

}  // namespace pv::jpeg
