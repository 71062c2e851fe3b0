#include "core/decoder.h"

#include <cstring>
#include <new>

#include "core/checked_math.h"
#include "core/path_name.h"
#include "core/pixel_convert.h"
#include "core/resample.h"
#include "core/text.h"

namespace pv {

namespace {

uint64_t g_pixelLimit = kMaxImagePixels;

// Fits a decoded buffer into the caller's target: a conversion at equal
// sizes, a resampling otherwise.
Status FitInto(ImageBuffer& target, ImageBuffer& decoded, const CancelFlag* cancel) {
  if (target.Dimensions() == decoded.Dimensions()) return ConvertInto(target, decoded, true);
  if (ImageBuffer* old = target.DetachNext()) old->Release();
  Status s = ResampleInto(target, decoded, cancel);
  if (Succeeded(s)) static_cast<FrameFields&>(target.Frame()) = decoded.Frame();
  return s;
}

}  // namespace

uint64_t ImagePixelLimit() { return g_pixelLimit; }
void SetImagePixelLimit(uint64_t pixels) { g_pixelLimit = pixels < kMaxImagePixels ? pixels : kMaxImagePixels; }

const wchar_t* ColourModelName(ColourModel model) {
  static const wchar_t* const kNames[9] = {L"RGB", L"L", L"K", L"YCbCr", L"CMYK", L"CMYL", L"YCCK", L"XYZ", L"Lab"};
  uint8_t m = static_cast<uint8_t>(model);
  return m < 9 ? kNames[m] : L"";
}

ImageDecoder::ImageDecoder(ByteSource& source, const FormatEntry& entry)
    : entry_(entry), source_(Ref<ByteSource>::Retain(&source)) {
  SetStatic(kPropFileFormat, entry.description);
}

ImageDecoder::~ImageDecoder() {
  // Release the decoders of later frames in a loop, not by recursion.
  ImageDecoder* next = next_.Detach();
  while (next) {
    ImageDecoder* after = next->RefCount() == 1 ? next->next_.Detach() : nullptr;
    next->Release();
    next = after;
  }
}

void ImageDecoder::AppendNext(Ref<ImageDecoder> next, const ImageHeader& header) {
  next->header_ = header;
  ImageDecoder* tail = last_;
  tail->next_ = std::move(next);
  last_ = tail->next_.get();
}

void ImageDecoder::FillMissing(ImageBuffer& buffer, uint8_t* pixels, size_t count) {
  if (!count) return;
  uint8_t value = 0;
  bool transparent = false;
  switch (buffer.Format()) {
    case PixelFormat::Indexed8:
      if (header_.transparentIndex >= 0) {
        value = static_cast<uint8_t>(header_.transparentIndex);
        transparent = true;
      } else if (header_.paletteEntries <= kMissingEntry) {
        value = kMissingEntry;
        buffer.Palette()[kMissingEntry] = 0;
        transparent = true;
      }
      break;
    case PixelFormat::Rgba8:
    case PixelFormat::Rgba16:
    case PixelFormat::RgbaF:
      transparent = true;
      break;
    default:
      break;
  }
  std::memset(pixels, value, count * buffer.BytesPerPixel());
  if (transparent) decoded_.alpha = true;
}

void ImageDecoder::FillMissingRows(ImageBuffer& buffer, uint32_t firstRow, uint32_t endRow) {
  for (uint32_t y = firstRow; y < endRow; ++y) FillMissing(buffer, buffer.Row(y), buffer.Width());
}

Status ImageDecoder::Open(uint32_t options) {
  if (!source_->Data() || source_->Size() == 0) return kStatusDamaged;
  SetStatic(kPropCompression, L"None");
  SetStatic(kPropPath, source_->Path());
  wchar_t text[64];
  uint64_t fileTime;
  if (source_->LastWriteTime(&fileTime) && FormatFileTime(text, 64, fileTime)) SetText(kPropFileTime, text);
  if (FormatText(text, 64, L"%llu", static_cast<unsigned long long>(source_->Size())) > 0) SetText(kPropFileSize, text);
  ImageHeader header;
  Status s = ReadHeader(options, header);
  if (Failed(s)) return s;
  if (header.model == ColourModel::Undetermined) header.model = ColourModel::Rgb;
  // Every frame and page counts, many small frames costing as much as one
  // large one, and so does the canvas that animations are drawn on.
  uint64_t pixels = uint64_t{header.size.width} * header.size.height +
                    uint64_t{header.frame.canvasWidth} * header.frame.canvasHeight;
  for (ImageDecoder* d = next_.get(); d; d = d->next_.get()) {
    pixels += uint64_t{d->header_.size.width} * d->header_.size.height;
  }
  // Bilevel codings (fax) tell a blank line in a bit or two: a blank page
  // scanned at 600 dpi makes 34,000 pixels of each file byte.
  const uint64_t perByte = header.bitsPerPixel == 1 ? kMostPixelsPerFileByte << 6 : kMostPixelsPerFileByte;
  if (pixels > kAlwaysAllowedPixels && pixels > uint64_t{source_->Size()} * perByte) {
    return kStatusDamaged;
  }
  header_ = header;
  // The fields of the whole file are the first frame's in every frame.
  const FrameFields& first = header_.frame;
  for (ImageDecoder* d = next_.get(); d; d = d->next_.get()) {
    FrameFields& f = d->header_.frame;
    f.canvasWidth = first.canvasWidth;
    f.canvasHeight = first.canvasHeight;
    f.background = first.background;
    f.loop = first.loop;
  }
  if (FormatText(text, 64, L"%u", header_.bitsPerPixel) > 0) SetText(kPropBitsPerPixel, text);
  SetStatic(kPropColourModel, ColourModelName(header_.model));
  if (!Has(kPropTitle)) {
    std::wstring title(FileNamePart(source_->Path()));
    size_t dot = title.rfind(L'.');
    if (dot != std::wstring::npos && dot != 0) title.resize(dot);
    SetText(kPropTitle, title.c_str());
  }
  return kStatusOk;
}

Status ImageDecoder::DecodeOne(ImageBuffer& target, ProgressSink* progress, const CancelFlag* cancel) {
  const ImageHeader& h = header_;
  const bool usePreview = HasPreview() && target.Width() <= h.preview.width && target.Height() <= h.preview.height;
  const ImageSize size = usePreview ? h.preview : h.size;
  const bool acceptable = usePreview || (target.RowBytes() >= h.minRowBytes && target.RowCount() >= h.minRows);
  Ref<ImageBuffer> own;
  ImageBuffer* buffer = &target;
  if (target.Format() != h.format || !acceptable || target.Dimensions() != size) {
    own = Ref<ImageBuffer>(
        CreateImageBuffer(h.format, size, false, usePreview ? 0 : h.minRowBytes, usePreview ? 0 : h.minRows));
    if (!own) return kStatusOutOfMemory;
    buffer = own.get();
  }
  decoded_ = Decoded{h.model, false};
  Status s = DecodePixels(*buffer, usePreview, progress, cancel);
  if (Succeeded(s) && IsCancelled(cancel)) s = kStatusCancelled;
  if (Failed(s)) return s;
  s = ConvertColourModel(*buffer, decoded_.model, h.bitsPerPixel);
  if (Failed(s)) return s;
  if (buffer->Format() == PixelFormat::Indexed8) buffer->PaletteChanged();
  const uint8_t usesAlpha = h.usesAlpha ? h.usesAlpha : decoded_.alpha ? 1 : 0;
  buffer->SetUsesAlpha(usesAlpha);
  if (ImageBuffer* old = buffer->DetachNext()) old->Release();
  static_cast<FrameFields&>(buffer->Frame()) = h.frame;
  buffer->Frame().previous = nullptr;
  if (buffer != &target) {
    s = FitInto(target, *buffer, cancel);
    if (Succeeded(s) && IsCancelled(cancel)) s = kStatusCancelled;
    if (Failed(s)) return s;
  }
  target.SetUsesAlpha(usesAlpha);
  target.Properties().CopyFrom(*this);
  if (progress) progress->Progress(100, 100);
  return kStatusOk;
}

Status ImageDecoder::Decode(ImageBuffer& target, bool decodeRest, ProgressSink* progress, const CancelFlag* cancel) {
  Ref<ProgressSink> hold = Ref<ProgressSink>::Retain(progress);
  Status s = DecodeOne(target, progress, cancel);
  if (Failed(s)) return s;
  // Later frames and pages, decoded in a loop behind the target.
  uint32_t count = 1;
  ImageBuffer* tail = &target;
  for (ImageDecoder* d = decodeRest ? next_.get() : nullptr; d; d = d->next_.get()) {
    if (IsCancelled(cancel)) return kStatusCancelled;
    if (++count > kMaxFrameCount) break;
    Ref<ImageBuffer> frame;
    s = CreateBufferFor(*d, target.IsScreenCompatible(), false, &frame);
    if (Succeeded(s)) s = d->DecodeOne(*frame, nullptr, nullptr);
    if (Failed(s)) return s;
    tail->SetNext(frame.Detach());
    tail = tail->Frame().next;
  }
  // Pages: a frame that waits for the user ends a page.
  uint32_t pages = 1;
  for (ImageDecoder* d = this; d && d->next_; d = d->next_.get()) {
    if (d->header_.frame.delay == kDelayWaitForUser) ++pages;
  }
  if (pages >= 2 && decodeRest) {
    uint32_t page = 1;
    for (ImageBuffer* b = &target; b; b = b->Frame().next) {
      wchar_t text[32];
      if (FormatText(text, 32, L"%u:%u", page, pages) > 0) b->Properties().SetText(kPropPage, text);
      if (b->Frame().delay == kDelayWaitForUser) ++page;
    }
  }
  return kStatusOk;
}

Ref<ByteSource> ImageDecoder::EmbeddedImage() const {
  const ImageHeader& h = header_;
  if (!h.embeddedBytes || h.embeddedOffset > source_->Size() || h.embeddedBytes > source_->Size() - h.embeddedOffset)
    return Ref<ByteSource>();
  return Ref<ByteSource>(new (std::nothrow) MemorySource(source_->Data() + h.embeddedOffset, h.embeddedBytes));
}

Status CreateBufferFor(const ImageDecoder& decoder, bool screenCompatible, bool usePreview, Ref<ImageBuffer>* out) {
  if (uint64_t{decoder.Width()} * decoder.Height() == 0) return kStatusUnknownFormat;
  PixelFormat format = decoder.OutputFormat();
  if (screenCompatible) {
    if (format == PixelFormat::Rgba16 || format == PixelFormat::RgbaF) format = PixelFormat::Rgba8;
    if (format == PixelFormat::Grey16 || format == PixelFormat::GreyF) format = PixelFormat::Grey8;
  }
  ImageBuffer* b;
  if (usePreview && decoder.HasPreview()) {
    b = CreateImageBuffer(format, {decoder.PreviewWidth(), decoder.PreviewHeight()}, screenCompatible,
                          decoder.PreviewWidth() * BytesPerPixel(format), decoder.PreviewHeight());
  } else {
    b = CreateImageBuffer(format, {decoder.Width(), decoder.Height()}, screenCompatible, decoder.MinRowBytes(),
                          decoder.MinRows());
  }
  if (!b) return kStatusOutOfMemory;
  *out = Ref<ImageBuffer>(b);
  return kStatusOk;
}

Status OpenImageSource(const FormatRegistry& registry, ByteSource& source, const wchar_t* path,
                       bool allowContentProbe, Ref<ImageDecoder>* out) {
  if (!source.Data() || source.Size() == 0) return kStatusUnknownFormat;
  FormatEntry* entry = nullptr;
  int index = registry.FindFormatByExtension(path);
  if (index >= 0) {
    FormatEntry* byExtension = registry.Entry(static_cast<uint32_t>(index));
    if (byExtension->probe && Succeeded(byExtension->probe(source))) entry = byExtension;
  }
  if (!entry && allowContentProbe) {
    for (uint32_t i = 0; i < registry.Count() && !entry; ++i) {
      FormatEntry* e = registry.Entry(i);
      if (static_cast<int>(i) != index && e->create && e->probe && Succeeded(e->probe(source))) entry = e;
    }
  }
  if (!entry) return kStatusUnknownFormat;
  Ref<ImageDecoder> decoder(entry->create(source, *entry));
  if (!decoder) return kStatusOutOfMemory;
  Status s = decoder->Open(0);
  if (Failed(s)) return s;
  *out = std::move(decoder);
  return kStatusOk;
}

Status OpenImage(const FormatRegistry& registry, const wchar_t* path, bool allowContentProbe,
                 Ref<ImageDecoder>* out) {
  Ref<MappedFileSource> source(new (std::nothrow) MappedFileSource());
  if (!source) return kStatusOutOfMemory;
  if (!source->Open(path)) return kStatusCannotOpen;
  return OpenImageSource(registry, *source, path, allowContentProbe, out);
}

Status OpenImage(const wchar_t* path, bool allowContentProbe, Ref<ImageDecoder>* out) {
  return OpenImage(Formats(), path, allowContentProbe, out);
}

Status LoadImageFile(const wchar_t* path, const LoadOptions& options, Ref<ImageBuffer>* out) {
  Ref<ImageDecoder> decoder;
  Status s = OpenImage(path, options.allowContentProbe, &decoder);
  if (Failed(s)) return s;
  Ref<ImageBuffer> buffer;
  if (options.size.width && options.size.height) {
    Ref<ImageBuffer> natural;
    s = CreateBufferFor(*decoder, options.screenCompatible, false, &natural);
    if (Failed(s)) return s;
    buffer = Ref<ImageBuffer>(
        CreateImageBuffer(natural->Format(), options.size, options.screenCompatible));
    if (!buffer) return kStatusOutOfMemory;
  } else {
    s = CreateBufferFor(*decoder, options.screenCompatible, false, &buffer);
    if (Failed(s)) return s;
  }
  s = decoder->Decode(*buffer, options.decodeRest, options.progress, options.cancel);
  if (Failed(s)) return s;
  *out = std::move(buffer);
  return kStatusOk;
}

}  // namespace pv
