#pragma once
#include <cstddef>
#include <cstdint>

namespace pv {

class PropertySet;

// Entry points for the metadata a JPEG file carries in its APP segments;
// each receives the payload after the segment's identifier, clipped to the
// file. The metadata readers come later; until then they take nothing.
void ReadJpegExif(PropertySet& properties, const uint8_t* data, size_t size);
void ReadJpegXmp(PropertySet& properties, const uint8_t* data, size_t size);
void ReadJpegPhotoshop(PropertySet& properties, const uint8_t* data, size_t size);

}  // namespace pv
