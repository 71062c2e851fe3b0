#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// GIF 87a and 89a, still and animated. Every image of the file is one
// decoder of its own, chained behind the first, which reads the whole block
// structure once; frames come out as Indexed8 at their own size with their
// place, timing, disposal and transparency in the frame fields. Composing
// them on the canvas is the viewer's business.
class GifDecoder final : public ImageDecoder {
 public:
  GifDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  struct ControlBlock;
  struct Screen;
  // Reads one image descriptor at `pos` into this decoder; moves pos past the image data.
  Status ReadImage(const ByteReader& r, const Screen& screen, const GifDecoder* previous, uint64_t* pos);
  void ApplyControl(const ControlBlock& control);
  void ReadComment(const ByteReader& r, uint64_t pos, uint64_t end);
  void FillPalette(const ByteReader& r, uint32_t* palette) const;

  uint64_t dataOffset_ = 0;  // the minimum code size byte
  uint64_t dataLength_ = 0;  // through the terminator, or to the end of the file
  uint64_t tableOffset_ = 0;
  uint32_t tableBits_ = 0;   // 0: no colour table
  uint8_t transparentIndex_ = 0;
  bool transparent_ = false;
  bool interlaced_ = false;
  bool haveComment_ = false;
};

// 0 when the source holds at least 14 bytes and starts with "GIF".
Status ProbeGif(ByteSource& source);
ImageDecoder* CreateGifDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterGifDecoder();

}  // namespace pv
