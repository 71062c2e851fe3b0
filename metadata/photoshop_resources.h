#pragma once
// Photoshop image resources (a PSD file's resource section, JPEG APP13 after
// "Photoshop 3.0"): the EXIF, IPTC and XMP blocks among them go to their readers.
#include "core/byte_reader.h"
#include "core/property_set.h"

namespace pv {

// Each resource: "8BIM", 16-bit identifier, a Pascal name padded to an even
// length, 32-bit size, the data padded to an even size (all big-endian). The
// walk ends at the first resource that does not fit or claims over 100 MiB.
void ReadPhotoshopResources(ByteReader resources, PropertySet& properties);

}  // namespace pv
