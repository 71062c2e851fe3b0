#pragma once
#include <cstddef>
#include <cstdint>

namespace pv {

// GIF's variable-length-code LZW, in both directions. The stream is what a
// GIF image holds after its descriptor: the minimum code size byte, then
// data sub-blocks (a length byte and that many bytes) ended by a zero-length
// block. Codes are packed least significant bit first; widths grow from
// minimum + 1 to 12 bits. Besides the GIF reader, the settings store and the
// thumbnail index pack their data with it.

enum class LzwEnd : uint8_t {
  EndCode,     // the stream's end code
  DataEnd,     // a zero-length sub-block or the end of the bytes
  OutputFull,  // `capacity` bytes written
  Damaged,     // a minimum code size outside 1-11, or a code beyond the next free one
};

struct LzwResult {
  size_t written = 0;
  LzwEnd end = LzwEnd::DataEnd;
};

// Decodes at most `capacity` bytes into out. Everything written before a
// damaged code is kept.
LzwResult LzwDecode(uint8_t* out, size_t capacity, const uint8_t* data, size_t length);

// Bytes LzwEncode may write for n input bytes.
size_t LzwEncodeBound(size_t n);
// Encodes n bytes with minimum code size 8 into dst (LzwEncodeBound(n)
// bytes), with the terminating zero-length block; returns the bytes written,
// or 0 when the encoder's table cannot be allocated.
size_t LzwEncode(uint8_t* dst, const uint8_t* src, size_t n);

}  // namespace pv
