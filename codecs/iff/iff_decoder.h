#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Interchange File Format bitmaps (.iff, .lbm, .bbm): planar ILBM and chunky
// PBM forms with 1 to 8 planes (Indexed8), 24 planes, hold-and-modify or
// extra-half-brite (Rgba8 for the first two), optionally ByteRun1-packed.
class IffDecoder final : public ImageDecoder {
 public:
  IffDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress, const CancelFlag* cancel) override;

 private:
  // Fills `count` entries from the colour map (a grey ramp without one).
  void ReadPalette(uint32_t* palette, uint32_t count) const;
  void DecodeRow(const uint8_t* src, uint8_t* dst, uint8_t* scratch, const uint32_t* palette) const;

  bool pbm_ = false;
  bool ham_ = false;
  bool halfBrite_ = false;
  uint32_t planes_ = 0;
  uint32_t paddedWidth_ = 0;
  uint64_t rowBytes_ = 0;     // one image row of the body, mask plane included
  uint32_t paletteSize_ = 0;  // entries the palette holds (16 or 64 for hold-and-modify)
  int32_t transparent_ = -1;
  uint64_t mapOffset_ = 0, mapEntries_ = 0;
  bool hasMap_ = false;
  uint64_t bodyOffset_ = 0, bodySize_ = 0;
  bool packed_ = false;
};

// 0 when the source is a FORM of type ILBM or PBM.
Status ProbeIff(ByteSource& source);
ImageDecoder* CreateIffDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterIffDecoder();

}  // namespace pv
