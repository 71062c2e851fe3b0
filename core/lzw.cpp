#include "core/lzw.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/endian.h"

namespace pv {

namespace {

constexpr uint32_t kTableSize = 4096;  // codes of up to 12 bits
constexpr uint32_t kMaxWidth = 12;
constexpr uint32_t kMaxMinimumSize = 11;
constexpr size_t kBlockBytes = 255;

// Codes from the concatenated sub-blocks, least significant bit first.
class CodeReader {
 public:
  CodeReader(const uint8_t* data, size_t length) : p_(data), end_(data + length) {}

  // False when the data ends before `width` more bits.
  bool Read(uint32_t width, uint32_t* code) {
    if (count_ < width) {
      Refill();
      if (count_ < width) return false;
    }
    *code = static_cast<uint32_t>(bits_) & ((1u << width) - 1);
    bits_ >>= width;
    count_ -= width;
    return true;
  }

 private:
  void Refill() {
    while (count_ <= 56) {
      if (blockLeft_ == 0 && !NextBlock()) return;
      if (blockLeft_ >= 8) {
        // Whole bytes of one 8-byte load; the block lies inside the data.
        const uint32_t take = (64 - count_) / 8;
        uint64_t v = LoadU64LE(p_);
        if (take < 8) v &= (uint64_t{1} << (8 * take)) - 1;
        bits_ |= v << count_;
        count_ += 8 * take;
        p_ += take;
        blockLeft_ -= take;
      } else {
        bits_ |= uint64_t{*p_++} << count_;
        count_ += 8;
        --blockLeft_;
      }
    }
  }

  // A zero-length block ends the data; a block cut by the end of the bytes
  // holds what is there.
  bool NextBlock() {
    if (ended_ || p_ >= end_ || *p_ == 0) {
      ended_ = true;
      return false;
    }
    const size_t declared = *p_++;
    blockLeft_ = std::min(declared, static_cast<size_t>(end_ - p_));
    ended_ = blockLeft_ == 0;
    return !ended_;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  size_t blockLeft_ = 0;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
  bool ended_ = false;
};

// Copies an earlier string of the output to its end. The string ends at or
// before dst, so with room for whole 16-byte units the copy may run in them:
// the bytes a unit takes beyond the string only land beyond dst + n, where
// later output overwrites them. A unit may overlap the one it is copied
// from, hence the move (one load, one store).
inline void CopyEarlier(uint8_t* out, size_t dst, size_t src, size_t n, size_t capacity) {
  if (dst + n + 16 <= capacity) {
    for (size_t k = 0; k < n; k += 16) std::memmove(out + dst + k, out + src + k, 16);
  } else {
    std::memcpy(out + dst, out + src, n);
  }
}

// LSB-first codes into GIF sub-blocks of up to 255 bytes.
class BlockWriter {
 public:
  explicit BlockWriter(uint8_t* dst) : out_(dst) {}

  void Put(uint32_t code, uint32_t width) {
    bits_ |= uint64_t{code} << count_;
    count_ += width;
    while (count_ >= 8) {
      Byte(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  // Flushes the last bits and closes the blocks; returns the bytes written.
  size_t Finish() {
    if (count_) Byte(static_cast<uint8_t>(bits_));
    if (fill_) out_[lengthAt_] = static_cast<uint8_t>(fill_);
    else pos_ = lengthAt_;  // no open block: its length byte becomes the terminator
    out_[pos_++] = 0;
    return pos_;
  }
  void Raw(uint8_t b) { out_[pos_++] = b, lengthAt_ = pos_++; }

 private:
  void Byte(uint8_t b) {
    out_[pos_++] = b;
    if (++fill_ == kBlockBytes) {
      out_[lengthAt_] = kBlockBytes;
      fill_ = 0;
      lengthAt_ = pos_++;
    }
  }

  uint8_t* out_;
  size_t pos_ = 0;
  size_t lengthAt_ = 0;  // the open block's length byte
  size_t fill_ = 0;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
};

// Strings of the encoder: (prefix code, next byte) -> code, open addressing.
class StringTable {
 public:
  static constexpr uint32_t kSlots = 8192;
  void Clear() { std::memset(keys_, 0, sizeof keys_); }
  // The code of key, or the slot where it belongs (*code = 0).
  uint32_t Find(uint32_t key, uint32_t* code) const {
    uint32_t slot = (key * 2654435761u) >> 19;
    while (keys_[slot] && keys_[slot] != key + 1) slot = (slot + 1) & (kSlots - 1);
    *code = keys_[slot] ? codes_[slot] : 0;
    return slot;
  }
  void Add(uint32_t slot, uint32_t key, uint32_t code) {
    keys_[slot] = key + 1;
    codes_[slot] = static_cast<uint16_t>(code);
  }

 private:
  uint32_t keys_[kSlots];  // key + 1; 0 marks an empty slot
  uint16_t codes_[kSlots];
};

}  // namespace

LzwResult LzwDecode(uint8_t* out, size_t capacity, const uint8_t* data, size_t length) {
  LzwResult result;
  if (length == 0) return result;
  const uint32_t minimum = data[0];
  if (minimum < 1 || minimum > kMaxMinimumSize) {
    result.end = LzwEnd::Damaged;
    return result;
  }
  const uint32_t clear = 1u << minimum, endCode = clear + 1;
  CodeReader codes(data + 1, length - 1);
  // A code above the roots names a string already in the output: where it
  // starts and how long it is.
  uint32_t offset[kTableSize];
  uint16_t size[kTableSize];
  uint32_t width = minimum + 1, next = clear + 2;
  bool havePrevious = false;
  size_t previousPos = 0, previousSize = 0, pos = 0;
  for (;;) {
    uint32_t code;
    if (!codes.Read(width, &code)) break;
    if (code == clear) {
      width = minimum + 1;
      next = clear + 2;
      havePrevious = false;
      continue;
    }
    if (code == endCode) {
      result.end = LzwEnd::EndCode;
      break;
    }
    // Above the next free code the table is undefined: the data is damaged.
    if (code > next || (code == next && !havePrevious)) {
      result.end = LzwEnd::Damaged;
      break;
    }
    size_t n;
    if (code < clear) {
      n = 1;
      if (pos >= capacity) {
        result.end = LzwEnd::OutputFull;
        break;
      }
      out[pos] = static_cast<uint8_t>(code);
    } else {
      // The next free code is the previous string and its own first byte.
      const bool pending = code == next;
      n = pending ? previousSize + 1 : size[code];
      const size_t from = pending ? previousPos : offset[code];
      if (pos + n > capacity) {
        std::memcpy(out + pos, out + from, capacity - pos);
        pos = capacity;
        result.end = LzwEnd::OutputFull;
        break;
      }
      CopyEarlier(out, pos, from, pending ? previousSize : n, capacity);
      if (pending) out[pos + previousSize] = out[previousPos];
    }
    if (havePrevious && next < kTableSize) {
      offset[next] = static_cast<uint32_t>(previousPos);
      size[next] = static_cast<uint16_t>(previousSize + 1);
      if (++next > (1u << width) - 1 && width < kMaxWidth) ++width;
    }
    havePrevious = true;
    previousPos = pos;
    previousSize = n;
    pos += n;
  }
  result.written = pos;
  return result;
}

size_t LzwEncodeBound(size_t n) {
  // At most one 12-bit code per byte, a clear code per table fill, the first
  // clear and the end code; one length byte per 255; the size byte and the terminator.
  const size_t codes = n + n / 1024 + 3;
  const size_t bytes = (codes * kMaxWidth + 7) / 8;
  return bytes + bytes / kBlockBytes + 3;
}

size_t LzwEncode(uint8_t* dst, const uint8_t* src, size_t n) {
  constexpr uint32_t kMinimum = 8, kClear = 1u << kMinimum, kEnd = kClear + 1;
  BlockWriter writer(dst);
  writer.Raw(kMinimum);
  // The decoder enters a code one step after the encoder, so the encoder
  // widens its codes only once the next free code passes 2^width.
  uint32_t width = kMinimum + 1, next = kClear + 2;
  auto put = [&](uint32_t code) {
    while (next > (1u << width) && width < kMaxWidth) ++width;
    writer.Put(code, width);
  };
  StringTable* table = new (std::nothrow) StringTable;
  if (!table) return 0;
  table->Clear();
  put(kClear);
  if (n) {
    uint32_t prefix = src[0];
    for (size_t i = 1; i < n; ++i) {
      const uint32_t key = (prefix << 8) | src[i];
      uint32_t code;
      const uint32_t slot = table->Find(key, &code);
      if (code) {
        prefix = code;
        continue;
      }
      put(prefix);
      table->Add(slot, key, next++);
      if (next == kTableSize) {
        // A full table starts again rather than freezing.
        put(kClear);
        table->Clear();
        width = kMinimum + 1;
        next = kClear + 2;
      }
      prefix = src[i];
    }
    put(prefix);
  }
  put(kEnd);
  delete table;
  return writer.Finish();
}

}  // namespace pv
