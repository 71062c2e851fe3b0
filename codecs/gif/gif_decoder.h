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
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  struct ControlBlock;
  struct Screen;
  // Where one image's colour table and data lie in the file.
  struct Image {
    uint64_t tableOffset = 0;
    uint32_t tableBits = 0;    // 0: no colour table
    uint64_t dataOffset = 0;   // the minimum code size byte
    uint64_t dataLength = 0;   // through the terminator, or to the end of the file
    bool interlaced = false;
  };
  // One extension's sub-blocks, the first of which says what it is.
  void ReadExtension(uint8_t label, ByteReader blocks, ControlBlock* control, Screen* screen);
  void ReadComment(ByteReader blocks);
  // The image descriptor, table and data after an image introducer;
  // `previous` is the header and image before, or null for the first.
  static Status ReadImage(ByteReader& r, const Screen& screen, const ImageHeader* previousHeader,
                          const Image* previous, ImageHeader* header, Image* image);
  void FillPalette(const ByteReader& r, uint32_t* palette) const;

  Image image_;
  bool haveComment_ = false;
};

// 0 when the source holds at least 14 bytes and starts with "GIF".
Status ProbeGif(ByteSource& source);
ImageDecoder* CreateGifDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterGifDecoder();

}  // namespace pv
