#pragma once
// XMP packets (JPEG APP1, PNG iTXt, TIFF tag 700, Photoshop resource 1060,
// GIF application extension): a few properties picked out of the RDF text
// without a general XML parser.
#include "core/byte_reader.h"
#include "core/property_set.h"

namespace pv {

// Reads UTF-8 packets and UTF-16 little-endian ones with their byte-order
// mark; other encodings and packets under 64 bytes are ignored.
void ReadXmpPacket(ByteReader packet, PropertySet& properties);

}  // namespace pv
