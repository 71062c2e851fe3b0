#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/byte_reader.h"

namespace pv {

// Decodes CCITT fax data one row at a time: modified Huffman (TIFF
// compression 2 with rows on byte boundaries, 32771 on 16-bit boundaries),
// T.4 one- or two-dimensional (compression 3, bit 0 of the options) and T.6
// (compression 4). Rows come out as 1-bit pixels, first pixel in bit 7, 1
// for black; runs are fitted to the row width, so a row never reaches past
// its own bytes.
class FaxDecoder {
 public:
  // Null when the compression is not a fax one or memory is short.
  static std::unique_ptr<FaxDecoder> Create(uint32_t compression, uint32_t options, uint32_t width, bool reversed);

  // Starts a strip: a fresh white reference row and the bits of `in`.
  void Begin(ByteReader in);
  // Writes the next row ((width + 7) / 8 bytes). False at an invalid code
  // or the end of the input; the row is then not written.
  bool DecodeRow(uint8_t* row);

 private:
  enum class Coding : uint8_t { Huffman, T4, T6 };
  FaxDecoder(Coding coding, uint32_t alignBits, bool twoDimensional, uint32_t width, bool reversed);

  uint32_t Peek(uint32_t n) const;
  bool Take(uint32_t n);
  bool ReadRun(bool black, uint32_t* run);
  void SkipEol();
  bool OneDimensionalRow();
  bool TwoDimensionalRow();
  void Append(uint32_t position) { current_[count_++] = position < width_ ? position : width_; }

  Coding coding_;
  uint32_t alignBits_;  // 8 or 16 for the Huffman codings, else 0
  bool twoDimensional_;
  uint32_t width_;
  bool reversed_;
  const uint8_t* data_ = nullptr;
  uint64_t bitSize_ = 0;
  uint64_t pos_ = 0;  // in bits from the strip's start
  // Changing elements of the reference and the current row, each list
  // ended by two entries at the width.
  std::unique_ptr<uint32_t[]> reference_, current_;
  uint32_t count_ = 0;
  uint32_t capacity_;
};

}  // namespace pv
