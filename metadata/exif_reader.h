#pragma once
// EXIF and GPS metadata: the TIFF-structured block of a JPEG APP1 segment,
// and the EXIF and GPS directories that TIFF files point to. What a reader
// cannot use it skips; nothing here fails a decode.
#include <cstdint>

#include "core/byte_reader.h"
#include "core/property_set.h"
#include "metadata/tiff_structure.h"

namespace pv {

// A block that begins "Exif" (then two optional zero bytes) and a TIFF header.
void ReadExifBlock(ByteReader block, PropertySet& properties);
// An EXIF block as Photoshop and WebP keep it: usually the TIFF structure
// itself, from some writers with JPEG's "Exif" in front.
void ReadExifData(ByteReader block, PropertySet& properties);
// The JPEG thumbnail that an "Exif" block's second directory points to
// (JPEGInterchangeFormat and its length), when it lies wholly inside the
// block and begins as a JPEG file does; empty otherwise.
ByteReader ExifThumbnail(ByteReader block);
// The first directory of an EXIF block: text tags, the orientation, and the
// EXIF and GPS directories it points to.
void ReadExifIfd0(const TiffStructure& tiff, uint32_t directory, PropertySet& properties);
// Exposure data and the original date.
void ReadExifSubIfd(const TiffStructure& tiff, uint32_t directory, PropertySet& properties);
// The position as degrees, minutes and seconds, and the altitude.
void ReadGpsIfd(const TiffStructure& tiff, uint32_t directory, PropertySet& properties);

// "Rotated 270" and the other names of the TIFF orientation values 1-8;
// null for other values.
const wchar_t* OrientationName(uint32_t value);
// The viewer's transform code for an orientation name: 0-3 quarter turns,
// 4, 5 and 7 a vertical flip after 0, 1 and 3 turns, 8 the horizontal
// mirror; 0 for any other text.
uint8_t OrientationCode(const wchar_t* name);

}  // namespace pv
