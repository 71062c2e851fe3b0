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

// Base of every format's decoder. A decoder reads its header in Open and
// fills a buffer in Decode; the base does what is the same for all formats:
// the standard properties, choosing the buffer, the colour-model conversion,
// fitting into a caller's buffer and chaining frames and pages.
class ImageDecoder : public CountedObject, public PropertySet {
 public:
  const wchar_t* SourcePath() const { return source_->Path(); }
  uint64_t SourceSize() const { return source_->Size(); }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t BitsPerPixel() const { return bitsPerPixel_; }
  PixelFormat OutputFormat() const { return pixelFormat_; }
  uint8_t UsesAlpha() const { return usesAlpha_; }
  ColourModel Model() const { return colourModel_; }
  uint32_t MinRowBytes() const { return minRowBytes_; }
  uint32_t MinRows() const { return minRows_; }
  bool HasPreview() const {
    return previewWidth_ && previewHeight_ && previewWidth_ < width_ && previewHeight_ < height_;
  }
  uint32_t PreviewWidth() const { return previewWidth_; }
  uint32_t PreviewHeight() const { return previewHeight_; }
  const FormatEntry& Entry() const { return entry_; }

  virtual Status Open(uint32_t options);
  // Decodes into target (any format and size: the base converts or rescales);
  // with decodeRest the following frames or pages are chained behind it.
  virtual Status Decode(ImageBuffer& target, bool decodeRest, ProgressSink* progress, const CancelFlag* cancel);

  const FrameFields& Frame() const { return frame_; }
  ImageDecoder* Next() const { return next_.get(); }

 protected:
  ImageDecoder(ByteSource& source, const FormatEntry& entry);
  ~ImageDecoder() override;

  virtual Status ReadHeader(uint32_t options) = 0;
  virtual Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                              const CancelFlag* cancel) = 0;

  // The source's bytes through the bounds-checked reader.
  ByteReader Reader() const { return ByteReader(source_->Data(), source_->Size()); }
  // Calls Progress(row, total) about every 32 rows (row is 1-based).
  static void ReportRow(ProgressSink* progress, uint32_t row, uint32_t total) {
    if (progress && (row & 31) == 31) progress->Progress(static_cast<int32_t>(row), static_cast<int32_t>(total));
  }
  // Appends a decoder for the following frame or page (adopting the reference).
  void AppendNext(ImageDecoder* next);

  const FormatEntry& entry_;
  Ref<ByteSource> source_;
  uint32_t width_ = 0, height_ = 0;
  uint32_t bitsPerPixel_ = 0;
  uint32_t previewWidth_ = 0, previewHeight_ = 0;
  uint32_t minRowBytes_ = 0, minRows_ = 0;
  PixelFormat pixelFormat_ = PixelFormat::Undetermined;
  ColourModel colourModel_ = ColourModel::Undetermined;
  uint8_t usesAlpha_ = 0;
  Ref<ImageDecoder> next_;
  FrameFields frame_;

 private:
  Status DecodeOne(ImageBuffer& target, ProgressSink* progress, const CancelFlag* cancel);
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
