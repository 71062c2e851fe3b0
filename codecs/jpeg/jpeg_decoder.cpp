#include "codecs/jpeg/jpeg_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/jpeg/jpeg_markers.h"
#include "core/text.h"
#include "metadata/exif_reader.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

// Some files carry a 692-byte header of another program before the stream.
constexpr uint64_t kLateSoi = 692;

bool HasSoiAt(const ByteReader& r, uint64_t offset) {
  uint16_t v = 0;
  return r.U16BEAt(offset, v) && v == (0xFF00 | jpeg::kSoi);
}

// Identifiers that open application segments, with their terminating zeros.
constexpr char kJfif[] = "JFIF";
constexpr char kExif[] = "Exif";
constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kPhotoshop[] = "Photoshop 3.0";

}  // namespace

JpegDecoder::JpegDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}
JpegDecoder::~JpegDecoder() = default;

Status ProbeJpeg(ByteSource& source) {
  ByteReader r(source.Data(), source.Size());
  if (HasSoiAt(r, 0)) return kStatusOk;
  if (r.Size() >= kLateSoi + 2 && HasSoiAt(r, kLateSoi)) return kStatusOk;
  return kStatusUnknownFormat;
}

void JpegDecoder::ReadSegment(uint8_t marker, ByteReader p) {
  if (marker == jpeg::kApp0) {
    // JFIF: units at 7 (1 per inch, 2 per centimetre), densities at 8 and 10.
    uint8_t units = 0;
    uint16_t x = 0, y = 0;
    if (p.Size() < 14 || !p.StartsWith(kJfif, sizeof kJfif) || Has(kPropDensity) || !p.U8At(7, units) ||
        !p.U16BEAt(8, x) || !p.U16BEAt(10, y))
      return;
    wchar_t text[48];
    if (units == 1 && FormatText(text, 48, L"%u x %u ppi", x, y) > 0) SetText(kPropDensity, text);
    if (units == 2 && FormatText(text, 48, L"%u x %u ppm", x * 100u, y * 100u) > 0) SetText(kPropDensity, text);
  } else if (marker == jpeg::kApp1) {
    if (p.Size() >= 7 && p.StartsWith(kExif, sizeof kExif)) {
      ReadExifBlock(p, *this);
      if (!thumbnail_.Size()) thumbnail_ = ExifThumbnail(p);
    } else if (p.Size() > sizeof kXmp && p.StartsWith(kXmp, sizeof kXmp)) {
      ReadXmpPacket(p.From(sizeof kXmp), *this);
    }
  } else if (marker == jpeg::kApp13) {
    if (p.Size() > sizeof kPhotoshop && p.StartsWith(kPhotoshop, sizeof kPhotoshop))
      ReadPhotoshopResources(p.From(sizeof kPhotoshop), *this);
  } else if (marker == jpeg::kCom) {
    if (!p.Size() || p.StartsWith("<?", 2) || Has(kPropComment)) return;
    SetBorrowed(kPropComment, p.Data(), static_cast<uint32_t>(std::min<uint64_t>(p.Size(), 65535)),
                TextEncoding::Cp1252);
  }
}

Status JpegDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  uint64_t start = 0;
  if (HasSoiAt(r, 0)) {
    start = 0;
  } else if (HasSoiAt(r, kLateSoi)) {
    start = kLateSoi;
  } else {
    return kStatusUnknownFormat;
  }
  std::unique_ptr<JpegCodec> codec(new (std::nothrow) JpegCodec());
  if (!codec) return kStatusOutOfMemory;
  const ByteReader stream = r.From(start);
  codec->SetInput(stream.Data(), static_cast<size_t>(stream.Size()));
  const Status s = codec->ReadHeader([this](uint8_t marker, ByteReader payload) { ReadSegment(marker, payload); });
  if (Failed(s)) return s;
  // The engine also takes two components (for TIFF); a JPEG file has 1, 3 or 4.
  const uint32_t components = codec->ComponentCount();
  if (components != 1 && components != 3 && components != 4) return kStatusUnsupported;
  SetStatic(kPropCompression, codec->Arithmetic() ? L"ArithDCT" : L"HuffDCT");
  h.size = {codec->Width(), codec->Height()};
  h.bitsPerPixel = 8 * components;
  h.format = components == 1 ? PixelFormat::Grey8 : PixelFormat::Rgba8;
  h.model = components == 1 ? ColourModel::L : components == 3 ? ColourModel::YCbCr : ColourModel::Cmyk;
  // Whole MCUs are written.
  h.minRowBytes = codec->PaddedWidth() * BytesPerPixel(h.format);
  h.minRows = codec->PaddedHeight();
  h.preview = {(h.size.width + 7) / 8, (h.size.height + 7) / 8};
  // One pixel per block needs only the DC scans, which come first; a
  // sequential file must still be entropy-decoded whole.
  h.quickPreview = codec->Progressive();
  if (thumbnail_.Size()) {
    h.embeddedOffset = static_cast<uint64_t>(thumbnail_.Data() - r.Data());
    h.embeddedBytes = static_cast<uint32_t>(thumbnail_.Size());
  }
  parsed_ = std::move(codec);
  return kStatusOk;
}

Status JpegDecoder::DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                                 const CancelFlag* cancel) {
  if (IsCancelled(cancel)) return kStatusCancelled;
  std::unique_ptr<JpegCodec> codec(new (std::nothrow) JpegCodec(*parsed_));
  if (!codec) return kStatusOutOfMemory;
  const uint32_t scale = usePreview ? 8 : 1;
  const uint32_t bpp = buffer.BytesPerPixel();
  const uint32_t needWidth = codec->PaddedWidth() / scale, needRows = codec->PaddedHeight() / scale;
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
  const Status s = codec->Decode(out);
  // The engine turns three components into RGB itself.
  SetDecodedModel(codec->Model());
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
