// The metadata readers on their own: EXIF (and its thumbnail), XMP, IPTC and Photoshop resources,
// each over the same bytes, every property read back.
#include "core/property_set.h"
#include "metadata/exif_reader.h"
#include "metadata/iptc_reader.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pv::ByteReader bytes(data, size);
  pv::PropertySet properties;
  pv::ReadExifBlock(bytes, properties);
  // The thumbnail's last byte is read, so a range past the input shows.
  const pv::ByteReader thumbnail = pv::ExifThumbnail(bytes);
  if (thumbnail.Size()) static_cast<void>(*static_cast<const volatile uint8_t*>(thumbnail.Data() + thumbnail.Size() - 1));
  pv::TiffStructure tiff;
  uint32_t first = 0;
  if (tiff.Open(bytes, &first)) pv::ReadExifIfd0(tiff, first, properties);
  pv::ReadXmpPacket(bytes, properties);
  pv::ReadIptc(bytes, properties);
  pv::ReadPhotoshopResources(bytes, properties);
  for (uint32_t id = 0; id < pv::kPropertyCount; ++id) {
    if (properties.Has(id)) static_cast<void>(properties.GetText(id));
  }
  return 0;
}
