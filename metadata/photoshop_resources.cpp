#include "metadata/photoshop_resources.h"

#include "core/text.h"
#include "metadata/exif_reader.h"
#include "metadata/iptc_reader.h"
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

// ResolutionInfo: 16.16 fixed-point pixels per inch across at 0 and down at
// 8, whatever unit the document shows them in. An earlier density stays.
void ReadResolution(const ByteReader& info, PropertySet& properties) {
  uint32_t across = 0, down = 0;
  if (properties.Has(kPropDensity) || !info.U32BEAt(0, across) || !info.U32BEAt(8, down)) return;
  const uint32_t x = static_cast<uint32_t>((uint64_t{across} + 0x8000) >> 16);
  const uint32_t y = static_cast<uint32_t>((uint64_t{down} + 0x8000) >> 16);
  wchar_t text[48];
  if (x && y && FormatText(text, 48, L"%u x %u ppi", x, y) > 0) properties.SetText(kPropDensity, text);
}

}  // namespace

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
    if (id == 1005) ReadResolution(data, properties);
  }
  // EXIF first, then IPTC, whose keywords yield to those already found.
  ReadExifData(exif, properties);
  if (iptc.Size()) ReadIptc(iptc, properties);
  if (xmp.Size()) ReadXmpPacket(xmp, properties);
}

}  // namespace pv
