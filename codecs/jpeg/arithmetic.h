#pragma once
#include <cstdint>

namespace pv::jpeg {

// What the arithmetic decoder needs to know about the scan it decodes.
struct ArithmeticScan {
  uint32_t components = 0;             // Ns
  uint32_t dcTable[4] = {}, acTable[4] = {};  // per scan component, each below 16
  uint32_t ss = 0, se = 63, al = 0;
  bool resetDc = true, resetAc = true;  // which statistics a restart clears
  const uint8_t* dcLower = nullptr;     // conditioning L, U and Kx per table
  const uint8_t* dcUpper = nullptr;
  const uint8_t* acKx = nullptr;
};

// The adaptive binary arithmetic decoder of JPEG with the coefficient
// procedures of sequential and progressive scans.
// At a marker it feeds zero bytes and stays in front of it. A magnitude
// that overflows or a run past the band sets the error state: every block
// is then left alone until the next restart.
class ArithmeticDecoder {
 public:
  void StartScan(const uint8_t* pos, const uint8_t* end, const ArithmeticScan& scan);
  // End of a restart interval: past the next marker, statistics and
  // registers as at the scan start.
  void Restart();
  const uint8_t* Position() const { return pos_; }

  // Block decoders; `component` is the index within the scan.
  void DecodeSequential(int16_t* block, uint32_t component);
  void DecodeDcFirst(int16_t* block, uint32_t component);
  void DecodeDcRefine(int16_t* block);
  void DecodeAcFirst(int16_t* block, uint32_t component);
  void DecodeAcRefine(int16_t* block, uint32_t component);

 private:
  int Decode(uint8_t* state);
  void ResetCoder();
  // The DC difference of one block, or false in the error state.
  bool DecodeDcDifference(uint32_t component, int32_t* diff);
  // One non-zero AC value at position k of table t; false on overflow.
  bool DecodeAcValue(uint8_t* st, uint32_t table, uint32_t k, int32_t* value);

  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  int64_t c_ = 0, a_ = 0;
  int ct_ = 0;  // -1: error state until the next restart
  ArithmeticScan scan_;
  uint8_t dcStats_[16][64] = {};
  uint8_t acStats_[16][256] = {};
  uint8_t fixedBin_ = 113;  // probability 0.5 for signs and refinement bits
  uint32_t dcContext_[4] = {};
  int16_t lastDc_[4] = {};
};

}  // namespace pv::jpeg
