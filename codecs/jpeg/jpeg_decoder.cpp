#include "codecs/jpeg/jpeg_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jpeg/jpeg_segments.h"
#include "core/checked_math.h"
#include "core/text.h"

namespace pv {

namespace {

// Some files carry a 692-byte header of another program before the stream.
constexpr uint64_t kLateSoi = 692;

bool HasSoiAt(const ByteReader& r, uint64_t offset) {
  uint16_t v = 0;
  return r.U16BEAt(offset, v) && v == 0xFFD8;
}

bool StartsWith(const uint8_t* p, uint64_t size, const char* text, size_t n) {
  return size >= n && std::memcmp(p, text, n) == 0;
}

}  // namespace

Status ProbeJpeg(ByteSource& source) {
  ByteReader r(source.Data(), source.Size());
  if (HasSoiAt(r, 0)) return kStatusOk;
  if (r.Size() >= kLateSoi + 2 && HasSoiAt(r, kLateSoi)) return kStatusOk;
  return kStatusUnknownFormat;
}

Status JpegDecoder::ReadFrameHeader(ByteReader& p, uint8_t marker) {
  switch (marker) {
    case 0xC0:
    case 0xC1:
    case 0xC2:
      SetStatic(kPropCompression, L"HuffDCT");
      break;
    case 0xC9:
    case 0xCA:
      SetStatic(kPropCompression, L"ArithDCT");
      break;
    default:
      return kStatusUnsupported;
  }
  uint8_t precision = 0, count = 0;
  uint16_t height = 0, width = 0;
  if (!p.U8(precision) || !p.U16BE(height) || !p.U16BE(width) || !p.U8(count)) return kStatusDamaged;
  if (precision != 8 || width == 0 || height == 0) return kStatusDamaged;
  if (count != 1 && count != 3 && count != 4) return kStatusUnsupported;
  uint32_t hmax = 1, vmax = 1;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t id = 0, hv = 0, tq = 0;
    if (!p.U8(id) || !p.U8(hv) || !p.U8(tq)) return kStatusDamaged;
    const uint32_t h = count == 1 ? 1 : hv >> 4, v = count == 1 ? 1 : hv & 15;
    // H and V of 0 would divide by zero below; JPEG allows 1 to 4.
    if (h < 1 || h > 4 || v < 1 || v > 4) return kStatusDamaged;
    hmax = std::max(hmax, h);
    vmax = std::max(vmax, v);
  }
  if (!IsSaneImageSize(width, height)) return kStatusUnsupported;
  width_ = width;
  height_ = height;
  components_ = count;
  bitsPerPixel_ = 8 * count;
  paddedWidth_ = (width + 8 * hmax - 1) / (8 * hmax) * (8 * hmax);
  paddedHeight_ = (height + 8 * vmax - 1) / (8 * vmax) * (8 * vmax);
  pixelFormat_ = count == 1 ? PixelFormat::Grey8 : PixelFormat::Rgba8;
  colourModel_ = count == 1 ? ColourModel::L : count == 3 ? ColourModel::YCbCr : ColourModel::Cmyk;
  minRowBytes_ = paddedWidth_ * BytesPerPixel(pixelFormat_);
  minRows_ = paddedHeight_;
  previewWidth_ = (width + 7) / 8;
  previewHeight_ = (height + 7) / 8;
  return kStatusOk;
}

void JpegDecoder::ReadApplicationSegment(uint8_t marker, const uint8_t* p, uint64_t n) {
  if (marker == 0xE0) {
    // JFIF: units at 7 (1 per inch, 2 per centimetre), densities at 8 and 10.
    if (n < 14 || !StartsWith(p, n, "JFIF", 5) || p[7] == 0 || Has(kPropDensity)) return;
    const uint32_t x = uint32_t{p[8]} << 8 | p[9], y = uint32_t{p[10]} << 8 | p[11];
    wchar_t text[48];
    if (p[7] == 1 && FormatText(text, 48, L"%u x %u ppi", x, y) > 0) SetText(kPropDensity, text);
    if (p[7] == 2 && FormatText(text, 48, L"%u x %u ppm", x * 100, y * 100) > 0) SetText(kPropDensity, text);
  } else if (marker == 0xE1) {
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // 29 bytes with its zero
    if (n >= 7 && StartsWith(p, n, "Exif", 5)) {
      ReadJpegExif(*this, p + 6, static_cast<size_t>(n - 6));
    } else if (n > sizeof kXmp && StartsWith(p, n, kXmp, sizeof kXmp)) {
      ReadJpegXmp(*this, p + sizeof kXmp, static_cast<size_t>(n - sizeof kXmp));
    }
  } else if (marker == 0xED) {
    if (n >= 15 && StartsWith(p, n, "Photoshop 3.0", 14)) ReadJpegPhotoshop(*this, p + 14, static_cast<size_t>(n - 14));
  } else if (marker == 0xFE) {
    if (n == 0 || StartsWith(p, n, "<?", 2) || Has(kPropComment)) return;
    SetBorrowed(kPropComment, p, static_cast<uint32_t>(std::min<uint64_t>(n, 65535)), TextEncoding::Cp1252);
  }
}

Status JpegDecoder::ReadHeader(uint32_t) {
  ByteReader r = Reader();
  if (HasSoiAt(r, 0)) {
    start_ = 0;
  } else if (HasSoiAt(r, kLateSoi)) {
    start_ = kLateSoi;
  } else {
    return kStatusUnknownFormat;
  }
  if (!r.Seek(start_ + 2) || r.Remaining() < 4) return kStatusDamaged;
  bool frame = false;
  for (;;) {
    uint8_t m = 0;
    do {
      if (!r.U8(m)) return frame ? kStatusOk : kStatusDamaged;
    } while (m != 0xFF);
    do {
      if (!r.U8(m)) return frame ? kStatusOk : kStatusDamaged;
    } while (m == 0xFF);
    if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;
    // Pixel data follows the frame header; metadata comes before it.
    if (m == 0xDA || m == 0xD9) return frame ? kStatusOk : kStatusDamaged;
    uint16_t length = 0;
    if (!r.U16BE(length) || length < 2) return kStatusDamaged;
    // Payloads are clipped to the file; the codec finds a cut segment later.
    const uint64_t n = std::min<uint64_t>(length - 2u, r.Remaining());
    const uint8_t* payload = r.Take(n);
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xCC) {
      if (frame) continue;
      ByteReader p(payload, n);
      const Status s = ReadFrameHeader(p, m);
      if (Failed(s)) return s;
      frame = true;
    } else if (m == 0xE0 || m == 0xE1 || m == 0xED || m == 0xFE) {
      ReadApplicationSegment(m, payload, n);
    }
    if (r.Remaining() < 4) return frame ? kStatusOk : kStatusDamaged;
  }
}

Status JpegDecoder::DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                                 const CancelFlag* cancel) {
  ByteReader r = Reader();
  std::unique_ptr<JpegCodec> codec(new (std::nothrow) JpegCodec());
  if (!codec) return kStatusOutOfMemory;
  codec->SetInput(r.Data() + start_, static_cast<size_t>(r.Size() - start_));
  Status s = codec->ReadHeader();
  if (Failed(s)) return s;
  // The buffer was sized from our own header scan; the codec must agree.
  if (codec->Width() != width_ || codec->Height() != height_ || codec->ComponentCount() != components_ ||
      codec->PaddedWidth() != paddedWidth_ || codec->PaddedHeight() != paddedHeight_) {
    return kStatusDamaged;
  }
  if (IsCancelled(cancel)) return kStatusCancelled;
  const uint32_t scale = usePreview ? 8 : 1;
  const uint32_t bpp = buffer.BytesPerPixel();
  const uint32_t needWidth = paddedWidth_ / scale, needRows = paddedHeight_ / scale;
  // Whole MCUs are written: a buffer without room for them (a preview of
  // the exact preview size) gets them through a padded one.
  Ref<ImageBuffer> padded;
  ImageBuffer* target = &buffer;
  if (buffer.RowBytes() < size_t{needWidth} * bpp || buffer.RowCount() < needRows) {
    padded = Ref<ImageBuffer>(CreateImageBuffer(buffer.Format(), {needWidth, needRows}, false));
    if (!padded) return kStatusOutOfMemory;
    target = padded.get();
  }
  JpegOutput out;
  out.pixels = target->Pixels();
  out.bytesPerPixel = bpp;
  out.stride = target->RowBytes();
  out.rows = target->RowCount();
  out.eighthScale = usePreview;
  out.progress = progress;
  out.cancel = cancel;
  s = codec->Decode(out);
  colourModel_ = codec->Model();
  if (Failed(s) || target == &buffer) return s;
  const size_t rowBytes = std::min(buffer.RowBytes(), target->RowBytes());
  for (uint32_t y = 0; y < buffer.Height(); ++y) std::memcpy(buffer.Row(y), target->Row(y), rowBytes);
  return s;
}

ImageDecoder* CreateJpegDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) JpegDecoder(source, entry);
}

void RegisterJpegDecoder() {
  for (const wchar_t* ext : {L"jpeg", L"jfif", L"jpe", L"jpg", L"jif"}) SetFormatFunctions(ext, ProbeJpeg, CreateJpegDecoder);
}

}  // namespace pv
