#pragma once
// Where the decoders hand the metadata blocks their files carry: each
// function takes exactly the block's bytes (after the identifier that
// marked it) and puts what it reads into the image's properties.
#include "core/byte_reader.h"
#include "core/property_set.h"

namespace pv {

// A TIFF-structured EXIF block ("Exif\0\0" in JPEG APP1).
void ReadExifBlock(ByteReader block, PropertySet& properties);
// An XMP packet (JPEG APP1, PNG iTXt "XML:com.adobe.xmp").
void ReadXmpPacket(ByteReader packet, PropertySet& properties);
// Photoshop image resources ("Photoshop 3.0\0" in JPEG APP13), with IPTC inside.
void ReadPhotoshopResources(ByteReader resources, PropertySet& properties);

}  // namespace pv
