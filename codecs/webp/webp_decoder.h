#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// WebP files, still and animated, lossy and lossless, with alpha. The RIFF
// container, the animation and the metadata chunks are read here; libwebp
// decodes the VP8 and VP8L bitstreams straight into the Rgba8 buffer.
class WebpDecoder final : public ImageDecoder {
 public:
  WebpDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  // One image's bitstream, as file offsets.
  struct Stream {
    uint64_t offset = 0, length = 0;         // the VP8 or VP8L data
    uint64_t alphaChunk = 0, alphaSize = 0;  // the whole ALPH chunk, header included
    ImageSize size;                          // as the bitstream says
    ImageSize shown;                         // what stays inside the canvas
    bool found = false, lossless = false, alpha = false;
  };
  struct Parse;

  Status ReadChunks(ByteReader chunks, Parse& p, Stream& stream, bool topLevel);
  Status ReadBitstream(const uint8_t tag[4], const ByteReader& data, Stream& stream) const;
  Status ReadFrame(const ByteReader& data, Parse& p);
  static void Describe(const Stream& stream, ImageHeader& header);

  Stream stream_;
};

// 0 for a RIFF WebP file whose first chunk is VP8, VP8L or VP8X.
Status ProbeWebp(ByteSource& source);
ImageDecoder* CreateWebpDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the webp entry.
void RegisterWebpDecoder();

}  // namespace pv
