#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// PNG and animated PNG: every colour type and depth, Adam7, tRNS, bKGD,
// pHYs and the text chunks. An animation is a chain of decoders, one per
// frame, each decoding its own IDAT or fdAT data from the same source; the
// viewer composes them. Chunk CRCs are not checked.
class PngDecoder final : public ImageDecoder {
 public:
  PngDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  class RowWriter;

  Status ReadImageHeader(const uint8_t* data, uint32_t length);
  void ReadTransparency(const uint8_t* data, uint32_t length, uint64_t offset);
  void ReadBackground(const ByteReader& r, const uint8_t* data, uint32_t length);
  void ReadDensity(const uint8_t* data, uint32_t length);
  void ReadText(const uint8_t* data, uint32_t length, bool international);
  Status ChooseFormat();
  // Reads an fcTL into a frame decoder: this one or a new one behind `last`.
  Status AddFrame(const uint8_t* data, uint32_t length, bool beforeImageData, uint64_t next, PngDecoder** last,
                  uint32_t* frames);
  void WritePalette(const ByteReader& r, uint32_t* palette) const;
  void CopyFormat(const PngDecoder& from);
  Status Inflate(const ByteReader& r, RowWriter& writer, const CancelFlag* cancel) const;

  // IHDR
  uint32_t imageWidth_ = 0, imageHeight_ = 0;
  uint8_t depth_ = 0, colourType_ = 0, interlace_ = 0;
  // Views into the source.
  uint64_t paletteOffset_ = 0;
  uint32_t paletteCount_ = 0;
  uint64_t transparencyOffset_ = 0;
  uint32_t transparencyLength_ = 0;
  // Where this frame's data begins, and whether it is in fdAT chunks (else IDAT).
  uint64_t dataStart_ = 0;
  bool frameData_ = false;
};

// 0 when the source holds at least 22 bytes and starts with the PNG signature.
Status ProbePng(ByteSource& source);
ImageDecoder* CreatePngDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterPngDecoder();

}  // namespace pv
