#pragma once
#include <cstdint>
#include <cstring>

#include "core/endian.h"

namespace pv {

// The one bounds-checked reader over (pointer, size) that decoders read
// through. Every read fails cleanly at the end of the data and then leaves
// the position where it was.
class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }
  uint64_t Offset() const { return pos_; }
  uint64_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ >= size_; }

  bool Seek(uint64_t offset) {
    if (offset > size_) return false;
    pos_ = offset;
    return true;
  }
  bool Skip(uint64_t n) {
    if (n > size_ - pos_) return false;
    pos_ += n;
    return true;
  }

  // Address of n bytes at offset, or null when they do not all lie inside.
  const uint8_t* Span(uint64_t offset, uint64_t n) const {
    if (offset > size_ || n > size_ - offset) return nullptr;
    return data_ + offset;
  }
  // The next n bytes in place; advances past them.
  const uint8_t* Take(uint64_t n) {
    const uint8_t* p = Span(pos_, n);
    if (p) pos_ += n;
    return p;
  }
  // A reader over exactly the n bytes at offset, or false when they do not
  // all lie inside. Chunks, segments and records are read through one, so
  // that no read of theirs can reach past their own end.
  bool Sub(uint64_t offset, uint64_t n, ByteReader* out) const {
    const uint8_t* p = Span(offset, n);
    if (!p) return false;
    *out = ByteReader(p, n);
    return true;
  }
  // The bytes from offset to the end as a reader of their own (none when
  // offset lies past the end).
  ByteReader From(uint64_t offset) const {
    return offset < size_ ? ByteReader(data_ + offset, size_ - offset) : ByteReader();
  }
  // The next n bytes as a reader of their own; advances past them.
  bool TakeSub(uint64_t n, ByteReader* out) {
    if (!Sub(pos_, n, out)) return false;
    pos_ += n;
    return true;
  }
  // The bytes up to the next `end` byte as a reader of their own; advances
  // past that byte. False when no `end` byte follows.
  bool TakeUntil(uint8_t end, ByteReader* out) {
    for (uint64_t i = pos_; i < size_; ++i) {
      if (data_[i] == end) {
        *out = ByteReader(data_ + pos_, i - pos_);
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }
  // True when the data begins with these n bytes.
  bool StartsWith(const void* bytes, uint64_t n) const {
    return n <= size_ && (n == 0 || std::memcmp(data_, bytes, static_cast<size_t>(n)) == 0);
  }

  bool U8(uint8_t& v) { return Read(v, 1, [](const uint8_t* p) { return *p; }); }
  bool U16LE(uint16_t& v) { return Read(v, 2, LoadU16LE); }
  bool U16BE(uint16_t& v) { return Read(v, 2, LoadU16BE); }
  bool U32BE(uint32_t& v) { return Read(v, 4, LoadU32BE); }

  // Random access without moving the position.
  bool U8At(uint64_t off, uint8_t& v) const { return At(off, v, 1, [](const uint8_t* p) { return *p; }); }
  bool U16LEAt(uint64_t off, uint16_t& v) const { return At(off, v, 2, LoadU16LE); }
  bool U16BEAt(uint64_t off, uint16_t& v) const { return At(off, v, 2, LoadU16BE); }
  bool U32LEAt(uint64_t off, uint32_t& v) const { return At(off, v, 4, LoadU32LE); }
  bool U32BEAt(uint64_t off, uint32_t& v) const { return At(off, v, 4, LoadU32BE); }

 private:
  template <class T, class F>
  bool At(uint64_t off, T& v, uint64_t n, F load) const {
    const uint8_t* p = Span(off, n);
    if (!p) return false;
    v = static_cast<T>(load(p));
    return true;
  }
  template <class T, class F>
  bool Read(T& v, uint64_t n, F load) {
    if (!At(pos_, v, n, load)) return false;
    pos_ += n;
    return true;
  }

  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
};

}  // namespace pv
