#pragma once
// The structure that TIFF files and EXIF blocks share: a byte-order mark
// ("II" little-endian or "MM" big-endian), the magic 42, the offset of the
// first directory, and directories of 12-byte entries (tag, type, count,
// value or offset). Every offset counts from the byte-order mark.
#include <cstdint>

#include "core/byte_reader.h"
#include "core/property_set.h"

namespace pv {

enum TiffType : uint16_t {
  kTiffByte = 1,
  kTiffAscii = 2,
  kTiffShort = 3,
  kTiffLong = 4,
  kTiffRational = 5,
  kTiffSByte = 6,
  kTiffUndefined = 7,
  kTiffSShort = 8,
  kTiffSLong = 9,
  kTiffSRational = 10,
  kTiffFloat = 11,
  kTiffDouble = 12,
};

struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;    // the value field as one 32-bit number: the offset when the values do not fit in it
  uint64_t valueAt = 0;  // where the values lie: in the entry when they fit in 4 bytes, else at the offset
};

class TiffStructure {
 public:
  // Reads the header of `bytes`, which begin with the byte-order mark.
  // False without "II" or "MM" followed by 42.
  bool Open(ByteReader bytes, uint32_t* firstDirectory);

  const ByteReader& Bytes() const { return bytes_; }
  bool BigEndian() const { return bigEndian_; }
  bool U16At(uint64_t offset, uint16_t* v) const;
  bool U32At(uint64_t offset, uint32_t* v) const;

  // The entry count of the directory at `offset`; false when it lies outside.
  bool EntryCount(uint32_t directory, uint16_t* count) const;
  // Entry i of the directory; false when the entry lies outside the bytes.
  bool Entry(uint32_t directory, uint32_t i, TiffEntry* entry) const;
  // The 32-bit offset of the directory that follows one of `count` entries.
  bool NextDirectory(uint32_t directory, uint16_t count, uint32_t* next) const;
  // Element i of a BYTE, SHORT or LONG entry, widened; false outside the bytes or for other types.
  bool Value(const TiffEntry& entry, uint32_t i, uint32_t* v) const;
  // Element i of a RATIONAL or SRATIONAL entry as numerator / denominator;
  // false outside the bytes or for other types.
  bool Rational(const TiffEntry& entry, uint32_t i, double* v) const;
  // Whether all values of the entry lie inside the bytes.
  bool ValuesInside(const TiffEntry& entry) const;

  // Bytes of one value of a type; 0 for unknown types.
  static uint32_t TypeSize(uint16_t type);

 private:
  ByteReader bytes_;
  bool bigEndian_ = false;
};

// The text tags of TIFF directories and EXIF IFD0: DocumentName → title,
// ImageDescription → comment, Make, Model, DateTime → creation date, Artist
// → author, Copyright. An ASCII entry sets its property, borrowed from the
// file, unless the property already has a value; the text ends at its first
// zero byte or its count, trailing blanks dropped, blanks alone ignored.
// False for any other tag.
bool ReadTiffTextTag(const TiffStructure& tiff, const TiffEntry& entry, PropertySet& properties);

}  // namespace pv
