#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// DirectDraw surfaces (.dds): the top-level surface of uncompressed RGB(A)
// data with any bit masks of 9 to 32 bits per pixel, or of DXT1 to DXT5
// blocks. Always Rgba8.
class DdsDecoder final : public ImageDecoder {
 public:
  DdsDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress, const CancelFlag* cancel) override;

 private:
  enum class Coding : uint8_t { Masks, Dxt1, Dxt3, Dxt5 };

  Status DecodeMasks(const ByteReader& data, ImageBuffer& buffer, ProgressSink* progress, const CancelFlag* cancel);
  Status DecodeBlocks(const ByteReader& data, ImageBuffer& buffer, ProgressSink* progress, const CancelFlag* cancel);

  Coding coding_ = Coding::Masks;
  uint64_t dataOffset_ = 0;
  uint64_t pitch_ = 0;
  uint32_t masks_[4] = {};  // red, green, blue, alpha
};

// 0 when the source starts like a DirectDraw surface.
Status ProbeDds(ByteSource& source);
ImageDecoder* CreateDdsDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterDdsDecoder();

}  // namespace pv
