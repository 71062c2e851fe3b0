#pragma once
// IPTC-NAA records (Photoshop resource 1028, TIFF tag 33723): the titles,
// keywords, dates and names of record 2.
#include "core/byte_reader.h"
#include "core/property_set.h"

namespace pv {

// Each record: 0x1C, record number, dataset number, 16-bit big-endian
// length, data. Keywords fill the free keyword slots, but only when the
// image had none before (EXIF or XMP keywords win); other properties keep an
// earlier value.
void ReadIptc(ByteReader records, PropertySet& properties);

}  // namespace pv
