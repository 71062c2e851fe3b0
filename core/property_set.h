#pragma once
#include <cstdint>

namespace pv {

// Identifiers of the 38 text properties of an image.
enum PropertyId : uint8_t {
  kPropPath = 0,
  kPropBitsPerPixel = 1,
  kPropColourModel = 2,
  kPropCompression = 3,
  kPropFileFormat = 4,
  kPropFileTime = 5,
  kPropFileSize = 6,
  kPropTitle = 7,
  kPropComment = 8,
  kPropAuthor = 9,
  kPropCopyright = 10,
  kPropCreationDate = 11,
  kPropPage = 12,
  kPropSource = 13,
  kPropDensity = 14,
  kPropOrientation = 15,
  kPropGps = 16,
  kPropKeywords = 17,  // 17-25 are nine keyword slots
  kPropCameraMaker = 26,
  kPropCameraModel = 27,
  kPropExposureTime = 28,
  kPropFNumber = 29,
  kPropIsoSpeed = 30,
  kPropShutterSpeed = 31,
  kPropAperture = 32,
  kPropFocalLength = 33,
  kPropExposureBias = 34,
  kPropFlash = 35,
  kPropExposureMode = 36,
  kPropWhiteBalance = 37,
};
inline constexpr uint32_t kPropertyCount = 38;
inline constexpr uint32_t kKeywordSlotCount = 9;

// How a slot's text is stored.
// The English name of a property, as the information window and the decode
// tool show it ("Keyword 1" to "Keyword 9" for the keyword slots); null for an
// id out of range.
const wchar_t* PropertyName(uint32_t id);

// How a slot's text is stored.
enum class TextKind : uint8_t {
  OwnedWide = 0,
  Cp1252 = 1,        // NUL-terminated, borrowed
  Cp1252Length = 2,  // length given, borrowed
  Utf8 = 3,
  Utf8Length = 4,
  Wide = 5,
  WideLength = 6,
};

enum class TextEncoding : uint8_t { Cp1252 = 0, Utf8 = 1, Wide = 2 };

// 38 text slots. Borrowed texts point into the mapped file or static text and
// live only as long as that memory; GetText converts a borrowed text into an
// owned wide copy once.
class PropertySet {
 public:
  PropertySet() = default;
  PropertySet(const PropertySet&) = delete;
  PropertySet& operator=(const PropertySet&) = delete;
  virtual ~PropertySet();

  virtual bool Has(uint32_t id) const;
  virtual const wchar_t* GetText(uint32_t id);
  virtual void SetText(uint32_t id, const wchar_t* text);
  virtual void Clear();

  // length 0: the text is NUL-terminated. A non-zero length first drops
  // trailing blanks; a text of blanks only is not stored. Lengths are kept
  // in 16 bits and clamped at 65535 units.
  void SetBorrowed(uint32_t id, const void* text, uint32_t length, TextEncoding encoding);
  // Borrowed static wide text.
  void SetStatic(uint32_t id, const wchar_t* text);

  // Every text of `other` as an owned wide copy; slots `other` lacks are kept.
  void CopyFrom(PropertySet& other);

 private:
  struct Slot {
    const void* text = nullptr;
    TextKind kind = TextKind::OwnedWide;
    uint16_t length = 0;
  };
  void Free(Slot& s);
  void Adopt(uint32_t id, wchar_t* owned);
  void Borrow(uint32_t id, const void* text, TextKind kind);

  Slot slots_[kPropertyCount];
};

}  // namespace pv
