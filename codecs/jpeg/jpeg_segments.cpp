#include "codecs/jpeg/jpeg_segments.h"

namespace pv {

void ReadJpegExif(PropertySet&, const uint8_t*, size_t) {}
void ReadJpegXmp(PropertySet&, const uint8_t*, size_t) {}
void ReadJpegPhotoshop(PropertySet&, const uint8_t*, size_t) {}

}  // namespace pv
