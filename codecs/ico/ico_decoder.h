#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Windows icons and cursors (.ico, .cur). The largest and deepest rendition
// is the image; every other rendition follows it as a page of its own, in
// directory order. PNG renditions go through the PNG decoder; bitmap
// renditions (1, 4, 8 bits as Indexed8, 24 and 32 as Rgba8) take their
// transparency from the AND mask.
class IcoDecoder final : public ImageDecoder {
 public:
  IcoDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  // Where one rendition lies and what it holds.
  struct Rendition {
    ImageHeader header;
    Ref<ImageDecoder> png;     // a PNG rendition's opened decoder
    uint64_t info = 0;         // a bitmap's info header, from the start of the file
    uint64_t end = 0;          // where the rendition's bytes end
    uint32_t headerSize = 0;
  };

  Status ReadRendition(const ByteReader& r, uint64_t offset, uint64_t end, Rendition* out) const;
  Status DecodeBitmap(ImageBuffer& buffer, ProgressSink* progress, const CancelFlag* cancel);
  void ApplyMask(ImageBuffer& buffer, const ByteReader& data, uint64_t maskOffset);

  Rendition rendition_;
};

// 0 when the name ends in .ico or .cur and the directory header is plausible:
// icons are never recognised by their content alone.
Status ProbeIco(ByteSource& source);
ImageDecoder* CreateIcoDecoder(ByteSource& source, const FormatEntry& entry);
void RegisterIcoDecoder();

}  // namespace pv
