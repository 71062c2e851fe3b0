#include "metadata/tiff_structure.h"

#include <cstring>

namespace pv {

bool TiffStructure::Open(ByteReader bytes, uint32_t* firstDirectory) {
  uint16_t magic = 0;
  if (bytes.StartsWith("II", 2)) {
    bigEndian_ = false;
  } else if (bytes.StartsWith("MM", 2)) {
    bigEndian_ = true;
  } else {
    return false;
  }
  bytes_ = bytes;
  return U16At(2, &magic) && magic == 42 && U32At(4, firstDirectory);
}

bool TiffStructure::U16At(uint64_t offset, uint16_t* v) const {
  return bigEndian_ ? bytes_.U16BEAt(offset, *v) : bytes_.U16LEAt(offset, *v);
}

bool TiffStructure::U32At(uint64_t offset, uint32_t* v) const {
  return bigEndian_ ? bytes_.U32BEAt(offset, *v) : bytes_.U32LEAt(offset, *v);
}

bool TiffStructure::EntryCount(uint32_t directory, uint16_t* count) const { return U16At(directory, count); }

bool TiffStructure::Entry(uint32_t directory, uint32_t i, TiffEntry* e) const {
  const uint64_t at = uint64_t{directory} + 2 + uint64_t{i} * 12;
  if (!bytes_.Span(at, 12) || !U16At(at, &e->tag) || !U16At(at + 2, &e->type) || !U32At(at + 4, &e->count) ||
      !U32At(at + 8, &e->value)) {
    return false;
  }
  const uint64_t size = uint64_t{TypeSize(e->type)} * e->count;
  e->valueAt = size <= 4 ? at + 8 : e->value;
  return true;
}

bool TiffStructure::NextDirectory(uint32_t directory, uint16_t count, uint32_t* next) const {
  return U32At(uint64_t{directory} + 2 + uint64_t{count} * 12, next);
}

bool TiffStructure::ValuesInside(const TiffEntry& e) const {
  const uint32_t size = TypeSize(e.type);
  return size != 0 && bytes_.Span(e.valueAt, uint64_t{size} * e.count) != nullptr;
}

bool TiffStructure::Value(const TiffEntry& e, uint32_t i, uint32_t* v) const {
  if (i >= e.count) return false;
  switch (e.type) {
    case kTiffByte: {
      uint8_t b = 0;
      if (!bytes_.U8At(e.valueAt + i, b)) return false;
      *v = b;
      return true;
    }
    case kTiffShort: {
      uint16_t s = 0;
      if (!U16At(e.valueAt + uint64_t{i} * 2, &s)) return false;
      *v = s;
      return true;
    }
    case kTiffLong:
      return U32At(e.valueAt + uint64_t{i} * 4, v);
    default:
      return false;
  }
}

bool TiffStructure::Rational(const TiffEntry& e, uint32_t i, double* v) const {
  if (i >= e.count || (e.type != kTiffRational && e.type != kTiffSRational)) return false;
  uint32_t numerator = 0, denominator = 0;
  const uint64_t at = e.valueAt + uint64_t{i} * 8;
  if (!U32At(at, &numerator) || !U32At(at + 4, &denominator)) return false;
  // A zero denominator gives what the division gives (infinity or NaN).
  if (e.type == kTiffSRational) {
    *v = static_cast<double>(static_cast<int32_t>(numerator)) / static_cast<int32_t>(denominator);
  } else {
    *v = static_cast<double>(numerator) / denominator;
  }
  return true;
}

uint32_t TiffStructure::TypeSize(uint16_t type) {
  switch (type) {
    case kTiffByte:
    case kTiffAscii:
    case kTiffSByte:
    case kTiffUndefined:
      return 1;
    case kTiffShort:
    case kTiffSShort:
      return 2;
    case kTiffLong:
    case kTiffSLong:
    case kTiffFloat:
      return 4;
    case kTiffRational:
    case kTiffSRational:
    case kTiffDouble:
      return 8;
    default:
      return 0;
  }
}

bool ReadTiffTextTag(const TiffStructure& tiff, const TiffEntry& entry, PropertySet& properties) {
  uint32_t id;
  switch (entry.tag) {
    case 269:
      id = kPropTitle;
      break;
    case 270:
      id = kPropComment;
      break;
    case 271:
      id = kPropCameraMaker;
      break;
    case 272:
      id = kPropCameraModel;
      break;
    case 306:
      id = kPropCreationDate;
      break;
    case 315:
      id = kPropAuthor;
      break;
    case 33432:
      id = kPropCopyright;
      break;
    default:
      return false;
  }
  if (entry.type != kTiffAscii || entry.count == 0 || properties.Has(id)) return true;
  const auto* text = reinterpret_cast<const char*>(tiff.Bytes().Span(entry.valueAt, entry.count));
  if (!text) return true;  // outside the file: ignored
  const size_t length = strnlen(text, entry.count);
  if (length > 0) properties.SetBorrowed(id, text, static_cast<uint32_t>(length), TextEncoding::Cp1252);
  return true;
}

}  // namespace pv
