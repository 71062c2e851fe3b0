#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Flexible Image Transport System files (.fits, .fit): the primary image as
// grey. 8-bit integers become Grey8, 16- and 32-bit integers Grey16, 32- and
// 64-bit floating point GreyF.
class FitsDecoder final : public ImageDecoder {
 public:
  FitsDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress, const CancelFlag* cancel) override;

 private:
  void TakeText(uint32_t id, const ByteReader& card, bool quoted);

  int32_t bitpix_ = 0;
  uint64_t dataOffset_ = 0;
};

// 0 when the source's first card is SIMPLE.
Status ProbeFits(ByteSource& source);
ImageDecoder* CreateFitsDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterFitsDecoder();

}  // namespace pv
