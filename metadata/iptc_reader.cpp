#include "metadata/iptc_reader.h"

namespace pv {

namespace {

struct Dataset {
  uint8_t number;
  uint32_t property;
};
constexpr Dataset kDatasets[] = {
    {5, kPropTitle},   {25, kPropKeywords}, {55, kPropCreationDate}, {80, kPropAuthor},
    {115, kPropSource}, {116, kPropCopyright}, {120, kPropComment},
};

}  // namespace

void ReadIptc(ByteReader r, PropertySet& properties) {
  const bool hadKeywords = properties.Has(kPropKeywords);
  uint8_t marker = 0, record = 0, dataset = 0;
  uint16_t length = 0;
  while (r.Remaining() >= 5 && r.U8(marker) && r.U8(record) && r.U8(dataset) && r.U16BE(length)) {
    ByteReader data;
    // An extended length (bit 15) counts the bytes of a longer length field
    // this reader does not follow: the walk ends there, as at any record
    // that leaves the block.
    if ((length & 0x8000) || !r.TakeSub(length, &data)) return;
    uint8_t first = 0;
    if (marker != 0x1C || record != 2 || length == 0 || !data.U8At(0, first) || first >= 128) continue;
    for (const Dataset& d : kDatasets) {
      if (d.number != dataset) continue;
      uint32_t id = d.property;
      if (id == kPropKeywords) {
        if (hadKeywords) break;
        while (id < kPropKeywords + kKeywordSlotCount && properties.Has(id)) ++id;
        if (id == kPropKeywords + kKeywordSlotCount) break;
      } else if (properties.Has(id)) {
        break;
      }
      properties.SetBorrowed(id, data.Data(), length, TextEncoding::Cp1252);
    }
  }
}

}  // namespace pv
