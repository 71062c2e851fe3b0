#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Radiance RGBE and XYZE pictures (.hdr, .img, .pic) as linear RgbaF. The
// scan order of the resolution line is not applied to the pixels; it is
// reported as the orientation property.
class HdrDecoder final : public ImageDecoder {
 public:
  HdrDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress, const CancelFlag* cancel) override;

 private:
  Status ReadResolution(const ByteReader& line, ImageHeader& header);

  uint64_t dataOffset_ = 0;
};

// 0 when the source starts with a Radiance magic line.
Status ProbeHdr(ByteSource& source);
ImageDecoder* CreateHdrDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterHdrDecoder();

}  // namespace pv
