#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// PC Paintbrush (.pcx), raw or run-length encoded: 1 to 8 planes of 1 bit
// and one plane of 4 or 8 bits come out as Indexed8, three or four planes
// of 8 bits (RGB, RGBA) as Rgba8.
class PcxDecoder final : public ImageDecoder {
 public:
  PcxDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  enum class PaletteSource : uint8_t { None, Default, Vga, BlackWhite, Header };

  void WritePalette(const ByteReader& r, uint32_t* palette) const;
  void ConvertRow(uint8_t* dst, const uint8_t* src, uint8_t* compact) const;

  uint32_t planes_ = 0, bitsPerPlane_ = 0;
  uint32_t lineBytes_ = 0;  // bytes of one plane's line in the file
  uint64_t dataEnd_ = 0;    // the image data runs from 128 to here
  bool runLength_ = false;
  PaletteSource palette_ = PaletteSource::None;
};

// 0 when the 128-byte header is plausible (the manufacturer byte is not checked).
Status ProbePcx(ByteSource& source);
ImageDecoder* CreatePcxDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterPcxDecoder();

}  // namespace pv
