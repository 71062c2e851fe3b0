#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// JPEG files (.jpeg, .jfif, .jpe, .jpg, .jif) through JpegCodec. Grey frames
// come out as Grey8, all others as Rgba8; the preview is the eighth scale,
// one pixel per 8x8 block, decoded from the DC levels alone.
class JpegDecoder final : public ImageDecoder {
 public:
  JpegDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  Status ReadFrameHeader(ByteReader& payload, uint8_t marker);
  void ReadApplicationSegment(uint8_t marker, const uint8_t* payload, uint64_t size);

  uint64_t start_ = 0;  // offset of the SOI
  uint32_t components_ = 0;
  uint32_t paddedWidth_ = 0, paddedHeight_ = 0;
};

// 0 when the source starts with an SOI, or holds one 692 bytes in.
Status ProbeJpeg(ByteSource& source);
ImageDecoder* CreateJpegDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the jpeg, jfif, jpe, jpg and jif entries.
void RegisterJpegDecoder();

}  // namespace pv
