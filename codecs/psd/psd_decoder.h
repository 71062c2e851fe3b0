#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Photoshop documents (.psd, and the large-document .psb): the merged image
// of bitmap, greyscale, duotone, multichannel, indexed, RGB, CMYK and Lab
// documents at 1, 8, 16 or 32 bits per channel, raw or PackBits. Layers are
// skipped; the EXIF, IPTC, XMP and resolution resources become properties.
class PsdDecoder final : public ImageDecoder {
 public:
  PsdDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  struct Placement;
  void WritePalette(ImageBuffer& buffer) const;
  Status ReadChannels(ImageBuffer& buffer, const Placement& place, ProgressSink* progress,
                      const CancelFlag* cancel) const;

  uint16_t mode_ = 0;
  uint16_t depth_ = 0;
  uint16_t channels_ = 0;
  bool large_ = false;  // version 2: 4-byte row counts
  bool packBits_ = false;
  uint64_t paletteOffset_ = 0;
  uint32_t paletteEntries_ = 0;
  uint64_t dataOffset_ = 0;  // after the compression word
};

// 0 when the source starts like a Photoshop document (version 1 or 2).
Status ProbePsd(ByteSource& source);
ImageDecoder* CreatePsdDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the psd entry.
void RegisterPsdDecoder();

}  // namespace pv
