#pragma once
#include <cstdint>
#include <vector>

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
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  class RowWriter;
  struct Frame;

  // What every frame of a file shares: the IHDR fields and the PLTE and
  // tRNS data (views into the source).
  struct Format {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colourType = 0, interlace = 0;
    ByteReader palette;
    uint32_t paletteCount = 0;
    ByteReader transparency;
  };

  Status ReadImageHeader(ByteReader chunk);
  void ReadTransparency(ByteReader chunk);
  void ReadBackground(ByteReader chunk, uint32_t* background) const;
  void ReadDensity(ByteReader chunk);
  void ReadText(ByteReader chunk, bool international);
  Status ChooseFormat(ImageHeader* header) const;
  // Reads an fcTL: the frame's place, timing and where its data begins.
  Status ReadFrameControl(ByteReader chunk, bool beforeImageData, uint64_t next, Frame* frame) const;
  void WritePalette(uint32_t* palette) const;
  // The data chunks of this image or frame, in order, up to its end.
  std::vector<ByteReader> DataChunks(const ByteReader& r) const;
  // The whole stream at once into the pixel buffer, where the rows allow it
  // and the stream is whole; false leaves the work to Inflate's zlib road.
  bool InflateWhole(const std::vector<ByteReader>& chunks, RowWriter& writer, const CancelFlag* cancel) const;
  Status Inflate(const ByteReader& r, RowWriter& writer, const CancelFlag* cancel) const;

  Format format_;
  // Where this frame's data begins, and whether it is in fdAT chunks (else IDAT).
  uint64_t dataStart_ = 0;
  bool frameData_ = false;
};

// 0 when the source holds at least 22 bytes and starts with the PNG signature.
Status ProbePng(ByteSource& source);
ImageDecoder* CreatePngDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterPngDecoder();

}  // namespace pv
