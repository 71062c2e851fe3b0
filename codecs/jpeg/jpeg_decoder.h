#pragma once
#include <cstdint>
#include <memory>

#include "codecs/jpeg/jpeg_codec.h"
#include "core/decoder.h"

namespace pv {

// JPEG files (.jpeg, .jfif, .jpe, .jpg, .jif) through JpegCodec. Grey frames
// come out as Grey8, all others as Rgba8; the preview is the eighth scale,
// one pixel per 8x8 block, decoded from the DC levels alone. A camera's
// EXIF thumbnail is the embedded image.
class JpegDecoder final : public ImageDecoder {
 public:
  JpegDecoder(ByteSource& source, const FormatEntry& entry);
  ~JpegDecoder() override;

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  void ReadSegment(uint8_t marker, ByteReader payload);

  // The stream read up to its first scan; every decode works on a copy.
  std::unique_ptr<JpegCodec> parsed_;
  // The first EXIF block's thumbnail, inside the source.
  ByteReader thumbnail_;
};

// 0 when the source starts with an SOI, or holds one 692 bytes in.
Status ProbeJpeg(ByteSource& source);
ImageDecoder* CreateJpegDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the jpeg, jfif, jpe, jpg and jif entries.
void RegisterJpegDecoder();

}  // namespace pv
