#pragma once
#include <atomic>
#include <cstdint>

#include "core/byte_reader.h"
#include "core/byte_source.h"
#include "core/counted.h"
#include "core/format_registry.h"
#include "core/image_buffer.h"
#include "core/pixel_format.h"
#include "core/property_set.h"
#include "core/status.h"

namespace pv {

enum class ColourModel : uint8_t {
  Rgb = 0,
  L = 1,
  K = 2,
  YCbCr = 3,
  Cmyk = 4,
  Cmyl = 5,
  Ycck = 6,
  Xyz = 7,
  Lab = 8,
  Undetermined = 9,
};
const wchar_t* ColourModelName(ColourModel model);

// Receives progress of decoders and image operations.
class ProgressSink : public CountedObject {
 public:
  virtual void Progress(int32_t done, int32_t total) = 0;
};

// A byte another thread may set to ask for cancellation.
using CancelFlag = std::atomic<uint8_t>;
inline bool IsCancelled(const CancelFlag* cancel) {
  return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

// The palette entry a new Indexed8 buffer presets to transparent black
// (0); pixels the data never reached take it when the file's palette
// leaves it free.
inline constexpr uint8_t kMissingEntry = 253;

// What a decoder learns from the file's header, as one value: the base
// chooses, allocates and describes the buffer from it alone. ReadHeader
// fills one for the decoder itself, AppendNext takes one for each further
// frame or page.
struct ImageHeader {
  ImageSize size;
  PixelFormat format = PixelFormat::Undetermined;
  ColourModel model = ColourModel::Undetermined;  // Undetermined becomes Rgb
  uint8_t usesAlpha = 0;      // 0 opaque, 1 alpha or transparent entries, 2 premultiplied
  uint32_t bitsPerPixel = 0;  // as stored, all components
  // The padded size the decoder writes in (whole MCUs, whole source rows):
  // the least row pitch in bytes and number of rows of its target.
  uint32_t minRowBytes = 0, minRows = 0;
  ImageSize preview;  // a smaller rendition decoded cheaply; 0 x 0 when none
  // The preview skips most of the data (a progressive file's first scans),
  // so it costs a small part of the full decode, not most of it.
  bool quickPreview = false;
  // A whole smaller image file inside this one (a camera's thumbnail), by
  // its place in the source: something to show while the image decodes.
  // 0 bytes when there is none.
  uint64_t embeddedOffset = 0;
  uint32_t embeddedBytes = 0;
  // Palette images: how many entries the file's palette gives (the others
  // are free), and an entry the file itself marks transparent (-1: none).
  uint32_t paletteEntries = 256;
  int32_t transparentIndex = -1;
  // Timing and placement; canvas, background and loop belong to the whole
  // file and are the first frame's in every frame.
  FrameFields frame;
};

// Base of every format's decoder. A decoder reads its header in Open and
// fills a buffer in Decode; the base does what is the same for all formats:
// the standard properties, choosing the buffer, filling what the data never
// reached, the colour-model conversion, fitting into a caller's buffer and
// chaining frames and pages.
class ImageDecoder : public CountedObject, public PropertySet {
 public:
  const ImageHeader& Header() const { return header_; }
  uint32_t Width() const { return header_.size.width; }
  uint32_t Height() const { return header_.size.height; }
  uint32_t BitsPerPixel() const { return header_.bitsPerPixel; }
  PixelFormat OutputFormat() const { return header_.format; }
  uint8_t UsesAlpha() const { return header_.usesAlpha; }
  ColourModel Model() const { return header_.model; }
  uint32_t MinRowBytes() const { return header_.minRowBytes; }
  uint32_t MinRows() const { return header_.minRows; }
  bool HasPreview() const {
    const ImageSize& p = header_.preview;
    return p.width && p.height && p.width < Width() && p.height < Height();
  }
  uint32_t PreviewWidth() const { return header_.preview.width; }
  uint32_t PreviewHeight() const { return header_.preview.height; }
  const FormatEntry& Entry() const { return entry_; }
  // The header's embedded image as a source of its own, which this
  // decoder must outlive; null when there is none.
  Ref<ByteSource> EmbeddedImage() const;

  virtual Status Open(uint32_t options);
  // Decodes into target (any format and size: the base converts or rescales);
  // with decodeRest the following frames or pages are chained behind it.
  virtual Status Decode(ImageBuffer& target, bool decodeRest, ProgressSink* progress, const CancelFlag* cancel);

  const FrameFields& Frame() const { return header_.frame; }
  ImageDecoder* Next() const { return next_.get(); }

 protected:
  ImageDecoder(ByteSource& source, const FormatEntry& entry);
  ~ImageDecoder() override;

  // Fills `header` from the file; the base keeps it only on success.
  virtual Status ReadHeader(uint32_t options, ImageHeader& header) = 0;
  // Writes the pixels of the header's size (the preview's with usePreview)
  // into buffer, which has the header's format and padded size.
  virtual Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                              const CancelFlag* cancel) = 0;

  // The source's bytes through the bounds-checked reader.
  ByteReader Reader() const { return ByteReader(source_->Data(), source_->Size()); }
  // Calls Progress(row, total) about every 32 rows (row is 1-based).
  static void ReportRow(ProgressSink* progress, uint32_t row, uint32_t total) {
    if (progress && (row & 31) == 31) progress->Progress(static_cast<int32_t>(row), static_cast<int32_t>(total));
  }
  // Chains the decoder of the following frame or page, with its header,
  // behind the last one (during ReadHeader of the chain's first decoder).
  void AppendNext(Ref<ImageDecoder> next, const ImageHeader& header);

  // For DecodePixels: fills `count` pixels at `pixels` (laid out as in
  // buffer) that the data never reached. They become transparent black
  // where the buffer can show it: 0 in colour buffers; in palette buffers
  // the header's transparent index, else kMissingEntry when the file's
  // palette leaves it free, else the opaque entry 0. Grey buffers get black.
  void FillMissing(ImageBuffer& buffer, uint8_t* pixels, size_t count);
  void FillMissingRows(ImageBuffer& buffer, uint32_t firstRow, uint32_t endRow);
  // For DecodePixels: the pixels carry alpha the header could not promise.
  void FoundAlpha() { decoded_.alpha = true; }
  // For DecodePixels: the samples were written in another colour model
  // than the header's.
  void SetDecodedModel(ColourModel model) { decoded_.model = model; }

  const FormatEntry& entry_;
  Ref<ByteSource> source_;

 private:
  // What one DecodePixels call found beyond the header.
  struct Decoded {
    ColourModel model = ColourModel::Undetermined;
    bool alpha = false;
  };
  Status DecodeOne(ImageBuffer& target, ProgressSink* progress, const CancelFlag* cancel);

  ImageHeader header_;
  Ref<ImageDecoder> next_;
  ImageDecoder* last_ = this;  // the chain's last decoder, where AppendNext links
  Decoded decoded_;
};

// Colour-model step of Decode, in place on a freshly decoded buffer.
Status ConvertColourModel(ImageBuffer& buffer, ColourModel model, uint32_t bitsPerPixel);

// A buffer for the decoder's output (screen formats where asked), at the
// preview size when usePreview is set and a preview exists.
Status CreateBufferFor(const ImageDecoder& decoder, bool screenCompatible, bool usePreview, Ref<ImageBuffer>* out);

// Maps the file, identifies its format (extension first, then content when
// allowed), creates the decoder and opens it.
Status OpenImage(const FormatRegistry& registry, const wchar_t* path, bool allowContentProbe,
                 Ref<ImageDecoder>* out);
// The same for bytes already in a source; `path` only chooses the extension.
Status OpenImageSource(const FormatRegistry& registry, ByteSource& source, const wchar_t* path,
                       bool allowContentProbe, Ref<ImageDecoder>* out);
Status OpenImage(const wchar_t* path, bool allowContentProbe, Ref<ImageDecoder>* out);

// The road of one file: open, allocate, decode with every frame or page.
struct LoadOptions {
  bool allowContentProbe = true;
  bool screenCompatible = false;
  bool decodeRest = true;
  ImageSize size;  // 0 × 0: the image's own size
  ProgressSink* progress = nullptr;
  const CancelFlag* cancel = nullptr;
};
Status LoadImageFile(const wchar_t* path, const LoadOptions& options, Ref<ImageBuffer>* out);

}  // namespace pv
