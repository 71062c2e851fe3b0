#include "metadata/exif_reader.h"

#include <cmath>
#include <cwchar>

#include "core/text.h"

namespace pv {

namespace {

struct Orientation {
  const wchar_t* name;
  uint8_t code;
};
// By TIFF orientation value, 1 first.
constexpr Orientation kOrientations[] = {
    {L"Unrotated", 0},   {L"Mirrored", 8},       {L"Rotated 180", 2},
    {L"Bottom-Up", 4},   {L"Rotated 90 & Bottom-Up", 5}, {L"Rotated 270", 3},
    {L"Rotated 270 & Bottom-Up", 7}, {L"Rotated 90", 1},
};

// Exposure tags of the EXIF directory: the type they must have, where they
// go and how they read.
struct ExposureTag {
  uint16_t tag;
  uint16_t type;
  uint32_t property;
  const wchar_t* suffix;
};
constexpr ExposureTag kExposureTags[] = {
    {33434, kTiffRational, kPropExposureTime, L" s"}, {33437, kTiffRational, kPropFNumber, L""},
    {34855, kTiffShort, kPropIsoSpeed, L""},          {37377, kTiffSRational, kPropShutterSpeed, L""},
    {37378, kTiffRational, kPropAperture, L""},       {37386, kTiffRational, kPropFocalLength, L" mm"},
    {37380, kTiffSRational, kPropExposureBias, L""},  {37385, kTiffShort, kPropFlash, L""},
    {41986, kTiffShort, kPropExposureMode, L""},      {41987, kTiffShort, kPropWhiteBalance, L""},
};

// Calls `visit` for each whole entry of the directory.
template <class Visit>
void ForEachEntry(const TiffStructure& tiff, uint32_t directory, Visit visit) {
  uint16_t count = 0;
  if (!tiff.EntryCount(directory, &count)) return;
  TiffEntry entry;
  for (uint32_t i = 0; i < count && tiff.Entry(directory, i, &entry); ++i) visit(entry);
}

void ReadExposure(const TiffStructure& tiff, const TiffEntry& e, const ExposureTag& t, PropertySet& properties) {
  wchar_t text[64];
  if (t.type == kTiffShort) {
    uint32_t v = 0;
    if (!tiff.Value(e, 0, &v) || FormatText(text, 64, L"%d%ls", static_cast<int>(v), t.suffix) <= 0) return;
  } else {
    double v = 0;
    if (!tiff.Rational(e, 0, &v) || FormatText(text, 64, L"%.3f%ls", v, t.suffix) <= 0) return;
  }
  properties.SetText(t.property, text);
}

// One coordinate of the GPS directory: degrees, minutes, seconds.
struct Coordinate {
  double part[3] = {};
  char reference = ' ';
};

void ReadCoordinate(const TiffStructure& tiff, const TiffEntry& e, Coordinate* c) {
  if (e.type != kTiffRational || e.count < 3) return;
  for (uint32_t i = 0; i < 3; ++i) {
    double v = 0;
    c->part[i] = tiff.Rational(e, i, &v) && std::isfinite(v) && std::fabs(v) < 1e9 ? v : 0;
  }
}

// Degrees, minutes, and seconds in hundredths: fractions of degrees and
// minutes move down, the seconds are rounded to hundredths and a rounding
// that reaches a whole minute or degree carries up (59.996" is 1' on, not
// 59.99" or 60.00").
struct Shown {
  int64_t degrees, minutes, hundredths;
};
Shown Normalise(const Coordinate& c) {
  const double total = c.part[0] * 360000 + c.part[1] * 6000 + c.part[2] * 100;
  const int64_t all = static_cast<int64_t>(std::llround(total));
  return {all / 360000, all / 6000 % 60, all % 6000};
}

}  // namespace

namespace {

// The TIFF structure of a block that begins "Exif", and its first directory.
bool OpenExifBlock(ByteReader block, TiffStructure* tiff, uint32_t* first) {
  if (block.Size() < 11 || !block.StartsWith("Exif", 4)) return false;
  uint64_t start = 4;
  uint8_t a = 1, b = 1;
  if (block.U8At(4, a) && block.U8At(5, b) && a == 0 && b == 0) start = 6;
  return tiff->Open(block.From(start), first);
}

}  // namespace

void ReadExifBlock(ByteReader block, PropertySet& properties) {
  TiffStructure tiff;
  uint32_t first = 0;
  if (OpenExifBlock(block, &tiff, &first)) ReadExifIfd0(tiff, first, properties);
}

ByteReader ExifThumbnail(ByteReader block) {
  TiffStructure tiff;
  uint32_t first = 0, second = 0;
  uint16_t count = 0;
  if (!OpenExifBlock(block, &tiff, &first) || !tiff.EntryCount(first, &count) ||
      !tiff.NextDirectory(first, count, &second) || second == 0 || second == first)
    return {};
  uint32_t offset = 0, length = 0;
  ForEachEntry(tiff, second, [&](const TiffEntry& e) {
    if ((e.tag == 513 || e.tag == 514) && e.count == 1) tiff.Value(e, 0, e.tag == 513 ? &offset : &length);
  });
  ByteReader thumbnail;
  uint16_t soi = 0;
  if (length < 4 || !tiff.Bytes().Sub(offset, length, &thumbnail) || !thumbnail.U16BEAt(0, soi) || soi != 0xFFD8)
    return {};
  return thumbnail;
}

void ReadExifData(ByteReader block, PropertySet& properties) {
  TiffStructure tiff;
  uint32_t first = 0;
  if (block.StartsWith("Exif", 4)) {
    ReadExifBlock(block, properties);
  } else if (tiff.Open(block, &first)) {
    ReadExifIfd0(tiff, first, properties);
  }
}

void ReadExifIfd0(const TiffStructure& tiff, uint32_t directory, PropertySet& properties) {
  ForEachEntry(tiff, directory, [&](const TiffEntry& e) {
    if (ReadTiffTextTag(tiff, e, properties)) return;
    uint32_t v = 0;
    if (e.tag == 274 && e.type == kTiffShort && e.count == 1 && !properties.Has(kPropOrientation) &&
        tiff.Value(e, 0, &v)) {
      if (const wchar_t* name = OrientationName(v)) properties.SetStatic(kPropOrientation, name);
    } else if (e.tag == 34665 && e.type == kTiffLong) {
      ReadExifSubIfd(tiff, e.value, properties);
    } else if (e.tag == 34853 && e.type == kTiffLong) {
      ReadGpsIfd(tiff, e.value, properties);
    }
  });
}

void ReadExifSubIfd(const TiffStructure& tiff, uint32_t directory, PropertySet& properties) {
  ForEachEntry(tiff, directory, [&](const TiffEntry& e) {
    for (const ExposureTag& t : kExposureTags) {
      if (t.tag == e.tag && t.type == e.type && e.count > 0) ReadExposure(tiff, e, t, properties);
    }
    // The original date: tag 36867 is where cameras put it; the older 34867
    // is honoured when it holds text.
    if ((e.tag == 36867 || e.tag == 34867) && e.type == kTiffAscii && e.count >= 5) {
      const auto* text = reinterpret_cast<const char*>(tiff.Bytes().Span(e.valueAt, e.count));
      const size_t length = text ? strnlen(text, e.count) : 0;
      if (length > 0) properties.SetBorrowed(kPropCreationDate, text, static_cast<uint32_t>(length), TextEncoding::Cp1252);
    }
  });
}

void ReadGpsIfd(const TiffStructure& tiff, uint32_t directory, PropertySet& properties) {
  Coordinate latitude, longitude;
  uint32_t altitudeBelow = 0;
  double altitude = 0;
  ForEachEntry(tiff, directory, [&](const TiffEntry& e) {
    uint32_t v = 0;
    switch (e.tag) {
      case 1:
      case 3:
        if (e.type == kTiffAscii && e.count > 0 && tiff.Bytes().U8At(e.valueAt, *reinterpret_cast<uint8_t*>(&v)))
          (e.tag == 1 ? latitude : longitude).reference = static_cast<char>(v & 0xFF);
        break;
      case 2:
        ReadCoordinate(tiff, e, &latitude);
        break;
      case 4:
        ReadCoordinate(tiff, e, &longitude);
        break;
      case 5:
        if (e.type == kTiffByte && tiff.Value(e, 0, &v)) altitudeBelow = v;
        break;
      case 6:
        if (e.type == kTiffRational && !tiff.Rational(e, 0, &altitude)) altitude = 0;
        break;
      default:
        break;
    }
  });
  if (!std::isfinite(altitude)) altitude = 0;
  bool any = altitude != 0;
  for (int i = 0; i < 3; ++i) any = any || latitude.part[i] != 0 || longitude.part[i] != 0;
  if (!any) return;
  const Shown a = Normalise(latitude), b = Normalise(longitude);
  const double height = std::fabs(altitude) < 1e9 ? altitude : 0;
  wchar_t text[160];
  if (FormatText(text, 160, L"%lld\u00B0%lld'%lld.%02lld\" %lc, %lld\u00B0%lld'%lld.%02lld\" %lc, %lc%lldm",
                 static_cast<long long>(a.degrees), static_cast<long long>(a.minutes),
                 static_cast<long long>(a.hundredths / 100), static_cast<long long>(a.hundredths % 100),
                 static_cast<wint_t>(static_cast<unsigned char>(latitude.reference)), static_cast<long long>(b.degrees),
                 static_cast<long long>(b.minutes), static_cast<long long>(b.hundredths / 100),
                 static_cast<long long>(b.hundredths % 100),
                 static_cast<wint_t>(static_cast<unsigned char>(longitude.reference)),
                 static_cast<wint_t>(altitudeBelow ? L'-' : L'+'), static_cast<long long>(height + 0.5)) > 0) {
    properties.SetText(kPropGps, text);
  }
}

const wchar_t* OrientationName(uint32_t value) {
  return value >= 1 && value <= 8 ? kOrientations[value - 1].name : nullptr;
}

uint8_t OrientationCode(const wchar_t* name) {
  if (!name) return 0;
  for (const Orientation& o : kOrientations) {
    if (std::wcscmp(o.name, name) == 0) return o.code;
  }
  return 0;
}

}  // namespace pv
