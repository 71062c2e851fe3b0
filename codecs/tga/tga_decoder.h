#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// TARGA (.tga): colour-mapped 8-bit (Indexed8), grey 8-bit (Grey8) and
// true-colour 15, 16, 24 and 32-bit (Rgba8), raw or run-length encoded,
// either vertical origin, with the version 2 footer's alpha attribute.
class TgaDecoder final : public ImageDecoder {
 public:
  TgaDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  void WriteColourMap(const ByteReader& r, uint32_t* palette) const;
  void ConvertRow(uint8_t* dst, const uint8_t* src) const;

  uint64_t mapOffset_ = 0;
  uint32_t mapEntryBits_ = 0, mapFirst_ = 0, mapLength_ = 0;
  uint64_t dataOffset_ = 0, dataBytes_ = 0;
  uint32_t pixelBytes_ = 0;
  bool bottomUp_ = false;
  bool runLength_ = false;
};

// The name must end in .tga or .targa (the format has no signature); then
// the 18-byte header must be plausible.
Status ProbeTga(ByteSource& source);
ImageDecoder* CreateTgaDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterTgaDecoder();

}  // namespace pv
