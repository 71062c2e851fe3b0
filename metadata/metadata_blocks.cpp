#include "metadata/metadata_blocks.h"

namespace pv {

// The EXIF, XMP and IPTC readers fill these in.
void ReadExifBlock(ByteReader, PropertySet&) {}
void ReadXmpPacket(ByteReader, PropertySet&) {}
void ReadPhotoshopResources(ByteReader, PropertySet&) {}

}  // namespace pv
