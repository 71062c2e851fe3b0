#include "metadata/photoshop_resources.h"

#include "metadata/exif_reader.h"
#include "metadata/iptc_reader.h"
#include "metadata/xmp_reader.h"

namespace pv {

void ReadPhotoshopResources(ByteReader r, PropertySet& properties) {
  constexpr uint32_t kMaxResource = 100u << 20;
  ByteReader exif, iptc, xmp;
  uint16_t id = 0;
  uint8_t nameLength = 0;
  uint32_t size = 0;
  while (r.Remaining() >= 12) {
    const bool marked = r.StartsWith("8BIM", 4);
    ByteReader data;
    if (!r.Skip(4) || !r.U16BE(id) || !r.U8(nameLength) || !r.Skip(nameLength | 1u) || !r.U32BE(size) ||
        size > kMaxResource || !r.TakeSub(size, &data)) {
      break;
    }
    if (size & 1) r.Skip(1);
    if (!marked) continue;
    if (id == 1058) exif = data;
    if (id == 1028) iptc = data;
    if (id == 1060) xmp = data;
  }
  // EXIF first, then IPTC, whose keywords yield to those already found.
  // Photoshop stores the TIFF structure itself; some writers keep JPEG's "Exif" in front.
  TiffStructure tiff;
  uint32_t first = 0;
  if (exif.StartsWith("Exif", 4)) {
    ReadExifBlock(exif, properties);
  } else if (tiff.Open(exif, &first)) {
    ReadExifIfd0(tiff, first, properties);
  }
  if (iptc.Size()) ReadIptc(iptc, properties);
  if (xmp.Size()) ReadXmpPacket(xmp, properties);
}

}  // namespace pv
