#include "codecs/tiff/tiff_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/tiff/ccitt_fax.h"
#include "codecs/tiff/logluv.h"
#include "codecs/tiff/tiff_lzw.h"
#include "core/checked_math.h"
#include "core/text.h"
#include "metadata/exif_reader.h"
#include "metadata/iptc_reader.h"
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

// A later directory is taken for a page only with an entry count in this range.
constexpr uint16_t kMinPageEntries = 5, kMaxPageEntries = 1000;

enum Compression : uint32_t {
  kNone = 1,
  kHuffman = 2,
  kFax3 = 3,
  kFax4 = 4,
  kLzw = 5,
  kOldJpeg = 6,
  kJpeg = 7,
  kDeflate = 8,
  kHuffmanWords = 32771,
  kPackBits = 32773,
  kDeflateOld = 32946,
  kLogLuv = 34676,
  kLogLuv24 = 34677,
};

const wchar_t* CompressionName(uint32_t compression) {
  switch (compression) {
    case kNone:
      return L"None";
    case kHuffman:
    case kHuffmanWords:
      return L"Fax G3 RLE";
    case kFax3:
      return L"Fax G3";
    case kFax4:
      return L"Fax G4";
    case kLzw:
      return L"LZW";
    case kOldJpeg:
    case kJpeg:
      return L"JPEG";
    case kDeflate:
    case kDeflateOld:
      return L"ZIP";
    case kPackBits:
      return L"RLE";
    case kLogLuv:
      return L"SGI LogLuv RLE";
    case kLogLuv24:
      return L"SGI LogLuv";
    default:
      return nullptr;
  }
}

bool IsFax(uint32_t c) { return c == kHuffman || c == kHuffmanWords || c == kFax3 || c == kFax4; }
bool IsJpeg(uint32_t c) { return c == kOldJpeg || c == kJpeg; }
bool IsLogLuv(uint32_t c) { return c == kLogLuv || c == kLogLuv24; }

bool ModelOf(uint32_t photometric, ColourModel* model) {
  switch (photometric) {
    case 0:
      *model = ColourModel::K;
      return true;
    case 1:
    case 4:
    case 32844:
      *model = ColourModel::L;
      return true;
    case 2:
    case 3:
    case 32845:
      *model = ColourModel::Rgb;
      return true;
    case 5:
      *model = ColourModel::Cmyk;
      return true;
    case 6:
      *model = ColourModel::YCbCr;
      return true;
    case 8:
      *model = ColourModel::Lab;
      return true;
    default:
      return false;
  }
}

uint64_t RoundUp(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }

}  // namespace

Status ProbeTiff(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  uint16_t magic = 0;
  if (r.Size() < 6) return kStatusUnknownFormat;
  if (r.StartsWith("II", 2) && r.U16LEAt(2, magic) && magic == 42) return kStatusOk;
  if (r.StartsWith("MM", 2) && r.U16BEAt(2, magic) && magic == 42) return kStatusOk;
  return kStatusUnknownFormat;
}

Status TiffDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!r.StartsWith("II", 2) && !r.StartsWith("MM", 2)) return kStatusUnknownFormat;
  uint32_t first = 0, next = 0;
  if (!tiff_.Open(r, &first)) {
    // Another magic (BigTIFF's 43) is another format; a header cut short is damage.
    uint16_t magic = 0;
    const bool read = r.StartsWith("II", 2) ? r.U16LEAt(2, magic) : r.U16BEAt(2, magic);
    return read && magic != 42 ? kStatusUnsupported : kStatusDamaged;
  }
  Status s = ReadPage(tiff_, first, h, &next);
  if (Failed(s)) return s;

  // The later pages, read in turn; a chain that comes back to a directory ends there.
  struct Page {
    Ref<TiffDecoder> decoder;
    ImageHeader header;
  };
  std::vector<Page> pages;
  std::vector<uint32_t> seen = {first};
  uint16_t entries = 0;
  while (next && pages.size() + 1 < kMaxFrameCount && std::find(seen.begin(), seen.end(), next) == seen.end() &&
         tiff_.EntryCount(next, &entries) && entries >= kMinPageEntries && entries <= kMaxPageEntries) {
    seen.push_back(next);
    Ref<TiffDecoder> page(new (std::nothrow) TiffDecoder(*source_, entry_));
    if (!page) return kStatusOutOfMemory;
    ImageHeader ph;
    // A page that cannot be read ends the chain; the pages before it stay.
    if (Failed(page->ReadPage(tiff_, next, ph, &next))) break;
    pages.push_back({std::move(page), ph});
  }
  // A smaller second page of the same proportions is a preview of the first, not a page.
  if (pages.size() == 1) {
    const ImageSize a = h.size, b = pages[0].header.size;
    auto ratio = [](uint64_t x, uint64_t y) { return (x + y / 2) / y; };
    if (b.width < a.width && b.height < a.height && ratio(a.width, b.width) == ratio(a.height, b.height))
      pages.clear();
  }
  if (!pages.empty()) h.frame.delay = kDelayWaitForUser;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (i + 1 < pages.size()) pages[i].header.frame.delay = kDelayWaitForUser;
    AppendNext(std::move(pages[i].decoder), pages[i].header);
  }
  return kStatusOk;
}

Status TiffDecoder::ReadPage(const TiffStructure& tiff, uint32_t offset, ImageHeader& h, uint32_t* next) {
  tiff_ = tiff;
  *next = 0;
  uint16_t count = 0;
  if (!tiff.EntryCount(offset, &count)) return kStatusDamaged;
  SetStatic(kPropCompression, L"None");
  for (uint32_t i = 0; i < count; ++i) {
    TiffEntry e;
    if (!tiff.Entry(offset, i, &e)) return kStatusDamaged;
    const Status s = ReadEntry(tiff, e);
    if (Failed(s)) return s;
  }
  if (!tiff.NextDirectory(offset, count, next)) *next = 0;
  if (!hasOffsets_) return kStatusDamaged;
  if (width_ == 0 || height_ == 0) return kStatusDamaged;
  if (!IsSaneImageSize(width_, height_)) return kStatusUnsupported;
  if (rowsPerStrip_ == 0 || rowsPerStrip_ > height_) rowsPerStrip_ = height_;
  const Status s = ChooseFormat(h);
  if (Failed(s)) return s;
  SetResolution();
  return kStatusOk;
}

Status TiffDecoder::ReadEntry(const TiffStructure& tiff, const TiffEntry& e) {
  uint32_t v = 0;
  const bool single = e.count == 1 && tiff.Value(e, 0, &v);
  const bool shortOrLong = e.type == kTiffShort || e.type == kTiffLong;
  switch (e.tag) {
    case 256:
    case 257:
      if (!single || !shortOrLong) return kStatusDamaged;
      (e.tag == 256 ? width_ : height_) = v;
      return kStatusOk;
    case 258: {
      if (e.type != kTiffShort || !tiff.Value(e, 0, &bitsPerSample_)) return kStatusDamaged;
      if (e.count == 3 || e.count == 4) {
        uint32_t sum = 0;
        for (uint32_t i = 0; i < e.count; ++i) {
          if (!tiff.Value(e, i, &v)) return kStatusDamaged;
          sum += v;
        }
        if (sum != e.count * bitsPerSample_) return kStatusUnsupported;
      }
      return kStatusOk;
    }
    case 259:
      if (!single) return kStatusDamaged;
      compression_ = v;
      return kStatusOk;
    case 262:
      if (!single) return kStatusDamaged;
      photometric_ = v;
      return ModelOf(v, &model_) ? kStatusOk : kStatusUnsupported;
    case 266:
      if (single && (v == 1 || v == 2)) reversed_ = v == 2;
      return kStatusOk;
    case 273:
    case 324:
      if (e.tag == 324) tiled_ = true;
      if (hasOffsets_) return kStatusOk;
      // The whole array must lie in the file before any strip is looked for.
      if (!shortOrLong || !tiff.ValuesInside(e)) return kStatusDamaged;
      offsets_ = e;
      hasOffsets_ = true;
      return kStatusOk;
    case 279:
    case 325:
      if (hasCounts_) return kStatusOk;
      if (!shortOrLong || !tiff.ValuesInside(e)) return kStatusDamaged;
      counts_ = e;
      hasCounts_ = true;
      return kStatusOk;
    case 274:
      if (e.type != kTiffShort || !single) return kStatusDamaged;
      if (const wchar_t* name = OrientationName(v)) SetStatic(kPropOrientation, name);
      return kStatusOk;
    case 277:
      if (single) samples_ = v;
      return kStatusOk;
    case 278:
      if (single && shortOrLong) rowsPerStrip_ = v;
      return kStatusOk;
    case 282:
    case 283: {
      // Unsigned rationals only, rounded; zero and what lies outside the file are ignored.
      double f = 0;
      if (e.type == kTiffRational && tiff.Rational(e, 0, &f) && f >= 0.5 && f < 4.0e9)
        (e.tag == 282 ? xResolution_ : yResolution_) = static_cast<uint32_t>(f + 0.5);
      return kStatusOk;
    }
    case 284:
      if (single) planar_ = v;
      return kStatusOk;
    case 292:
    case 293:
      if (single) faxOptions_ |= v;
      return kStatusOk;
    case 296:
      if (single && e.type == kTiffShort) resolutionUnit_ = v;
      return kStatusOk;
    case 317:
      if (single) predictor_ = v;
      return kStatusOk;
    case 320:
      if (e.type != kTiffShort || !tiff.ValuesInside(e)) return kStatusDamaged;
      colorMap_ = e;
      hasColorMap_ = e.count >= 3;
      return kStatusOk;
    case 322:
      if (single) tileWidth_ = v;
      return kStatusOk;
    case 323:
      if (single) tileLength_ = v;
      tiled_ = true;
      return kStatusOk;
    case 338:
      if (e.type == kTiffShort && e.count >= 1) static_cast<void>(tiff.Value(e, 0, &extraSamples_));
      return kStatusOk;
    case 339:
      if (!tiff.Value(e, 0, &v)) return kStatusOk;
      if (v < 1 || v > 4) return kStatusUnsupported;
      sampleFormat_ = v == 4 ? 1 : v;  // 4: undefined, read as unsigned
      return kStatusOk;
    case 347:
      // Tables outside the file are ignored; the strips then carry their own or fail alone.
      if (tiff.ValuesInside(e)) {
        tablesAt_ = e.valueAt;
        tablesLength_ = uint64_t{e.count} * TiffStructure::TypeSize(e.type);
        hasTables_ = true;
      }
      return kStatusOk;
    case 512:
      return single && v != 1 ? kStatusUnsupported : kStatusOk;
    case 513:
      if (single) jpegStreamAt_ = v;
      return kStatusOk;
    case 514:
      if (single) jpegStreamLength_ = v;
      return kStatusOk;
    case 530: {
      uint32_t hs = 0, vs = 0;
      if (e.type != kTiffShort || e.count != 2 || !tiff.Value(e, 0, &hs) || !tiff.Value(e, 1, &vs))
        return kStatusDamaged;
      // Only 1, 2 and 4 are subsampling factors.
      if ((hs != 1 && hs != 2 && hs != 4) || (vs != 1 && vs != 2 && vs != 4)) return kStatusUnsupported;
      subsampleH_ = hs;
      subsampleV_ = vs;
      return kStatusOk;
    }
    default:
      ReadMetadata(tiff, e);
      return kStatusOk;
  }
}

void TiffDecoder::ReadMetadata(const TiffStructure& tiff, const TiffEntry& e) {
  if (ReadTiffTextTag(tiff, e, *this)) return;
  const ByteReader& bytes = tiff.Bytes();
  ByteReader block;
  uint32_t directory = 0;
  switch (e.tag) {
    case 700:
      if ((e.type == kTiffByte || e.type == kTiffUndefined) && bytes.Sub(e.valueAt, e.count, &block))
        ReadXmpPacket(block, *this);
      break;
    case 33723:
      if (tiff.ValuesInside(e) && bytes.Sub(e.valueAt, uint64_t{e.count} * TiffStructure::TypeSize(e.type), &block))
        ReadIptc(block, *this);
      break;
    case 34665:
      if (tiff.Value(e, 0, &directory)) ReadExifSubIfd(tiff, directory, *this);
      break;
    case 34853:
      if (tiff.Value(e, 0, &directory)) ReadGpsIfd(tiff, directory, *this);
      break;
    default:
      break;
  }
}

Status TiffDecoder::ChooseFormat(ImageHeader& h) {
  const wchar_t* name = CompressionName(compression_);
  if (!name) return kStatusUnsupported;
  SetStatic(kPropCompression, name);
  h.size = {width_, height_};
  const uint32_t bits = bitsPerSample_;
  const bool isFloat = sampleFormat_ == 3;
  if (planar_ != 1 && planar_ != 2) return kStatusUnsupported;
  if (samples_ == 1) planar_ = 1;  // one plane either way
  PixelFormat format = PixelFormat::Undetermined;
  if (IsLogLuv(compression_)) {
    // LogL has one sample, LogLuv three; the 24-bit form has no LogL.
    if (planar_ != 1 || (samples_ != 1 && samples_ != 3) || (compression_ == kLogLuv24 && samples_ != 3))
      return kStatusUnsupported;
    format = samples_ == 1 ? PixelFormat::GreyF : PixelFormat::RgbaF;
    model_ = samples_ == 1 ? ColourModel::L : ColourModel::Rgb;
    h.bitsPerPixel = samples_ == 1 ? 16 : compression_ == kLogLuv24 ? 24 : 32;
    reversed_ = false;
    sampleFormat_ = 1;
  } else if (samples_ != 1) {
    if (samples_ != 3 && samples_ != 4) return kStatusUnsupported;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return kStatusUnsupported;
    if (isFloat ? bits < 16 : bits > 16) return kStatusUnsupported;
    format = isFloat ? PixelFormat::RgbaF : bits == 8 ? PixelFormat::Rgba8 : PixelFormat::Rgba16;
  } else if (bits == 1 || bits == 2 || bits == 4) {
    if (isFloat) return kStatusUnsupported;
    format = PixelFormat::Indexed8;
  } else if (bits == 8 || bits == 16 || bits == 24 || bits == 32) {
    if (hasColorMap_ || isFloat) {
      if (hasColorMap_ ? bits != 8 : bits < 16) return kStatusUnsupported;
      format = hasColorMap_ ? PixelFormat::Indexed8 : PixelFormat::GreyF;
    } else {
      if (bits > 16) return kStatusUnsupported;
      format = bits == 8 ? PixelFormat::Grey8 : PixelFormat::Grey16;
    }
  } else {
    return kStatusUnsupported;
  }
  if (!IsLogLuv(compression_)) h.bitsPerPixel = samples_ * bits;
  if (model_ == ColourModel::YCbCr && (bits != 8 || samples_ != 3)) return kStatusUnsupported;
  const bool subsampled = model_ == ColourModel::YCbCr && !IsJpeg(compression_);
  if (subsampled && planar_ != 1 && (subsampleH_ != 1 || subsampleV_ != 1)) return kStatusUnsupported;
  if (IsFax(compression_)) {
    if (samples_ != 1 || bits != 1) return kStatusUnsupported;
    model_ = ColourModel::K;
  }
  // The predictor is undone on whole 8, 16 and 32-bit samples only.
  const bool predicts = compression_ == kNone || compression_ == kLzw || compression_ == kDeflate ||
                        compression_ == kDeflateOld || compression_ == kPackBits;
  if (predicts && predictor_ != 1 && (predictor_ != 2 || (bits != 8 && bits != 16 && bits != 32)))
    return kStatusUnsupported;

  // Tiles and strips: their sizes bound the working memory, so they are checked here.
  if (tiled_) {
    if (!tileWidth_ || !tileLength_) return kStatusDamaged;
    // Tiles are multiples of 16 pixels; tinier ones would only make a
    // crafted file loop over millions of them.
    if (tileWidth_ < 16 || tileLength_ < 16 || !IsSaneImageSize(tileWidth_, tileLength_)) return kStatusUnsupported;
  }
  uint64_t rowPixels = width_, rows = height_;
  if (compression_ == kJpeg) {
    if (samples_ != 1 && planar_ != 1) return kStatusUnsupported;
  } else if (compression_ == kOldJpeg) {
    if (!jpegStreamAt_ || jpegStreamAt_ >= tiff_.Bytes().Size()) return kStatusUnsupported;
    if (!jpegStreamLength_ || jpegStreamLength_ > tiff_.Bytes().Size() - jpegStreamAt_)
      jpegStreamLength_ = static_cast<uint32_t>(tiff_.Bytes().Size() - jpegStreamAt_);
  }
  if (IsJpeg(compression_)) {
    if (bits != 8) return kStatusUnsupported;
    // Whole MCUs are written in place: room for the padded tile grid.
    if (tiled_) {
      rowPixels = RoundUp(width_, tileWidth_);
      rows = RoundUp(height_, tileLength_);
    }
    rowPixels = RoundUp(rowPixels, 32);
    rows = RoundUp(rows, 32);
  } else if (format == PixelFormat::Indexed8) {
    // Whole source bytes are unpacked; a tile may start inside one.
    rowPixels = RoundUp(width_, 8 / std::min(bits, 8u)) + (tiled_ ? 8 : 0);
  }
  uint64_t rowBytes = 0;
  if (!CheckedMul(rowPixels, BytesPerPixel(format), UINT32_MAX, &rowBytes) || rows > UINT32_MAX)
    return kStatusUnsupported;
  h.minRowBytes = static_cast<uint32_t>(rowBytes);
  h.minRows = static_cast<uint32_t>(rows);
  h.format = format;
  h.model = model_;
  if (format == PixelFormat::Indexed8) {
    h.paletteEntries = hasColorMap_ ? std::min<uint32_t>(colorMap_.count / 3, 256) : 1u << std::min(bits, 8u);
  }
  if (samples_ == 4 && model_ == ColourModel::Rgb && planar_ == 1)
    h.usesAlpha = extraSamples_ == 1 ? 2 : extraSamples_ == 2 ? 1 : 0;

  const bool planar = planar_ == 2;
  layout_.samples = planar ? 1 : samples_;
  layout_.planes = planar ? samples_ : 1;
  layout_.bits = bits;
  layout_.sampleFormat = sampleFormat_;
  layout_.bigEndian = tiff_.BigEndian();
  layout_.rgbOrder = model_ == ColourModel::Rgb;
  layout_.target = format;
  return kStatusOk;
}

void TiffDecoder::SetResolution() {
  if (!xResolution_ || (resolutionUnit_ != 2 && resolutionUnit_ != 3)) return;
  unsigned long long x = xResolution_, y = yResolution_ ? yResolution_ : xResolution_;
  wchar_t text[64];
  const bool metric = resolutionUnit_ == 3;
  if (metric) x *= 100, y *= 100;
  if (FormatText(text, 64, metric ? L"%llu x %llu ppm" : L"%llu x %llu ppi", x, y) > 0) SetText(kPropDensity, text);
}

bool TiffDecoder::PieceData(const Piece& p, uint64_t unpacked, ByteReader* data) const {
  const ByteReader& file = tiff_.Bytes();
  uint32_t offset = 0, count = 0;
  uint64_t length = 0;
  if (compression_ == kOldJpeg) {
    offset = jpegStreamAt_;
    length = jpegStreamLength_;
  } else {
    if (!tiff_.Value(offsets_, p.index, &offset)) return false;
    // Fax rows end by their codes, so the data may run on where the counts
    // are missing or short: at least three times the unpacked size is read.
    if (hasCounts_ && tiff_.Value(counts_, p.index, &count)) {
      length = count;
    } else {
      length = file.Size();
    }
    if (IsFax(compression_)) length = std::max(length, 3 * unpacked);
  }
  // A piece that runs past the end of the file is cut there.
  if (offset >= file.Size()) return false;
  length = std::min<uint64_t>(length, file.Size() - offset);
  return length > 0 && file.Sub(offset, length, data);
}

void TiffDecoder::FillPiece(ImageBuffer& buffer, const Piece& p, uint32_t firstRow) {
  const size_t bpp = buffer.BytesPerPixel();
  for (uint32_t y = firstRow; y < p.rows; ++y) FillMissing(buffer, buffer.Row(p.y + y) + p.x * bpp, p.width);
}

void TiffDecoder::WriteRows(ImageBuffer& buffer, const Piece& p, const uint8_t* rows, uint32_t count,
                            uint64_t rowBytes) {
  const size_t bpp = buffer.BytesPerPixel();
  const bool subsampled = model_ == ColourModel::YCbCr && layout_.planes == 1;
  for (uint32_t r = 0; r < count; ++r) {
    const uint8_t* src = rows + r * rowBytes;
    if (subsampled) {
      // Units of h x v luma samples, then Cb and Cr, become [Y, Cb, Cr, 255] pixels.
      const uint32_t hs = subsampleH_, vs = subsampleV_, unit = hs * vs + 2;
      for (uint32_t u = 0; u * hs < p.width; ++u, src += unit) {
        for (uint32_t dy = 0; dy < vs && r * vs + dy < p.rows; ++dy) {
          uint8_t* dst = buffer.Row(p.y + r * vs + dy) + (p.x + u * hs) * bpp;
          for (uint32_t dx = 0; dx < hs && u * hs + dx < p.width; ++dx, dst += 4) {
            dst[0] = src[dy * hs + dx];
            dst[1] = src[unit - 2];
            dst[2] = src[unit - 1];
            dst[3] = 0xFF;
          }
        }
      }
      continue;
    }
    uint8_t* dst = buffer.Row(p.y + r) + p.x * bpp;
    if (compression_ == kLogLuv24) {
      LogLuv24ToRgb(reinterpret_cast<float*>(dst), src, p.width);
    } else if (compression_ == kLogLuv) {
      if (samples_ == 1) {
        LogLToGrey(reinterpret_cast<float*>(dst), src, p.width);
      } else {
        LogLuvToRgb(reinterpret_cast<float*>(dst), src, p.width);
      }
    } else if (layout_.planes > 1) {
      ConvertPlaneRow(layout_, dst, src, p.width, p.plane);
    } else {
      ConvertRow(layout_, dst, src, p.width);
    }
  }
}

Status TiffDecoder::DecodeJpegPiece(ImageBuffer& buffer, const Piece& p, const ByteReader& data,
                                    const JpegCodec& tables) {
  std::unique_ptr<JpegCodec> codec(new (std::nothrow) JpegCodec(tables));
  if (!codec) return kStatusOutOfMemory;
  codec->SetInput(data.Data(), static_cast<size_t>(data.Size()));
  const uint32_t bpp = buffer.BytesPerPixel();
  // A stream that cannot be read, that does not fit its piece or gives
  // another pixel size than the buffer's leaves the piece missing.
  if (Failed(codec->ReadHeader()) || (codec->ComponentCount() == 1 ? 1u : 4u) != bpp ||
      codec->Width() > p.stride || codec->Height() > p.storedRows) {
    FillPiece(buffer, p, 0);
    return kStatusOk;
  }
  // The photometric value says what three components hold.
  if (codec->ComponentCount() == 3 && (model_ == ColourModel::Rgb || model_ == ColourModel::YCbCr))
    codec->SetModel(model_);
  const uint64_t padW = codec->PaddedWidth(), padH = codec->PaddedHeight();
  JpegOutput out;
  out.bytesPerPixel = bpp;
  std::unique_ptr<uint8_t[]> temp;
  if ((p.x + padW) * bpp <= buffer.RowBytes() && p.y + padH <= buffer.RowCount()) {
    out.pixels = buffer.Row(p.y) + size_t{p.x} * bpp;
    out.stride = buffer.RowBytes();
    out.rows = buffer.RowCount() - p.y;
  } else {
    temp.reset(new (std::nothrow) uint8_t[padW * padH * bpp]);
    if (!temp) return kStatusOutOfMemory;
    out.pixels = temp.get();
    out.stride = padW * bpp;
    out.rows = static_cast<uint32_t>(padH);
  }
  if (Failed(codec->Decode(out))) {
    FillPiece(buffer, p, 0);
    return kStatusOk;
  }
  SetDecodedModel(codec->Model());
  const uint32_t rows = std::min(p.rows, codec->Height()), columns = std::min(p.width, codec->Width());
  for (uint32_t y = 0; y < rows; ++y) {
    uint8_t* dst = buffer.Row(p.y + y) + size_t{p.x} * bpp;
    if (temp) std::memcpy(dst, temp.get() + y * out.stride, size_t{columns} * bpp);
    FillMissing(buffer, dst + size_t{columns} * bpp, p.width - columns);
  }
  FillPiece(buffer, p, rows);
  return kStatusOk;
}

Status TiffDecoder::DecodePiece(ImageBuffer& buffer, const Piece& p, uint8_t* work, FaxDecoder* fax,
                                const JpegCodec* tables) {
  // Bytes of one stored row (for subsampled YCbCr: of one row of units).
  const bool subsampled = model_ == ColourModel::YCbCr && layout_.planes == 1 && !IsJpeg(compression_);
  const uint32_t unitRows = subsampled ? subsampleV_ : 1;
  uint64_t rowBytes = layout_.RowBytes(p.stride);
  if (subsampled) rowBytes = (uint64_t{p.stride} + subsampleH_ - 1) / subsampleH_ * (subsampleH_ * subsampleV_ + 2);
  if (IsLogLuv(compression_)) rowBytes = uint64_t{p.stride} * (samples_ == 1 ? 2 : compression_ == kLogLuv24 ? 3 : 4);
  const uint32_t storedRows = (p.storedRows + unitRows - 1) / unitRows;
  const uint64_t unpacked = rowBytes * storedRows;
  ByteReader data;
  if (!PieceData(p, unpacked, &data)) {
    FillPiece(buffer, p, 0);
    return kStatusOk;
  }
  if (IsJpeg(compression_)) return DecodeJpegPiece(buffer, p, data, *tables);
  const uint8_t* rows = work;
  size_t got = 0;
  switch (compression_) {
    case kNone:
    case kLogLuv24:
      got = static_cast<size_t>(std::min<uint64_t>(data.Size(), unpacked));
      if (predictor_ == 2) {
        std::memcpy(work, data.Data(), got);
      } else {
        rows = data.Data();
      }
      break;
    case kLzw:
      got = DecodeTiffLzw(data, work, unpacked);
      break;
    case kPackBits:
      got = UnpackPackBits(data, work, unpacked);
      break;
    case kDeflate:
    case kDeflateOld: {
      const Status s = InflateStrip(data, work, unpacked, &got);
      if (Failed(s)) return s;
      break;
    }
    case kLogLuv:
      got = DecodeLogLuvRows(data, work, p.stride, storedRows, samples_ == 1 ? 2 : 4) * rowBytes;
      break;
    default: {  // fax
      fax->Begin(data);
      uint32_t n = 0;
      while (n < storedRows && fax->DecodeRow(work + n * rowBytes)) ++n;
      got = n * rowBytes;
    }
  }
  // Whole rows only; the rest of the piece is missing.
  const uint32_t complete = static_cast<uint32_t>(std::min<uint64_t>(got / rowBytes, storedRows));
  if (predictor_ == 2 && !IsLogLuv(compression_) && !IsFax(compression_)) {
    for (uint32_t y = 0; y < complete; ++y)
      UndoPredictor(work + y * rowBytes, p.stride, layout_.samples, layout_.bits / 8, layout_.bigEndian);
  }
  const uint32_t pixelRows = std::min(p.rows, complete * unitRows);
  WriteRows(buffer, p, rows, (pixelRows + unitRows - 1) / unitRows, rowBytes);
  FillPiece(buffer, p, pixelRows);
  return kStatusOk;
}

Status TiffDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  if (buffer.RowBytes() == 0) return kStatusColourFormat;
  if (PaletteView* view = buffer.AsIndexed8(); view && hasColorMap_) {
    // All reds, then all greens, then all blues, 16 bits each: the high bytes are used.
    uint32_t* palette = view->Palette();
    const uint32_t entries = colorMap_.count / 3, used = std::min<uint32_t>(entries, 256);
    for (uint32_t i = 0; i < used; ++i) {
      uint32_t r = 0, g = 0, b = 0;
      static_cast<void>(tiff_.Value(colorMap_, i, &r) && tiff_.Value(colorMap_, entries + i, &g) &&
                        tiff_.Value(colorMap_, 2 * entries + i, &b));
      palette[i] = 0xFF000000u | (r >> 8) << 16 | (g >> 8) << 8 | b >> 8;
    }
  }
  std::unique_ptr<JpegCodec> tables;
  std::unique_ptr<FaxDecoder> fax;
  std::unique_ptr<uint8_t[]> work;
  uint32_t pieceWidth = tiled_ ? tileWidth_ : width_, pieceRows = tiled_ ? tileLength_ : rowsPerStrip_;
  if (IsJpeg(compression_)) {
    tables.reset(new (std::nothrow) JpegCodec());
    if (!tables) return kStatusOutOfMemory;
    if (compression_ == kJpeg && hasTables_) {
      tables->SetInput(tiff_.Bytes().Data() + tablesAt_, static_cast<size_t>(tablesLength_));
      const Status s = tables->ReadTables();
      if (Failed(s) && s != kStatusUnsupported) return s;
    }
    if (compression_ == kOldJpeg) pieceWidth = width_, pieceRows = height_;
  } else {
    if (IsFax(compression_)) {
      fax = FaxDecoder::Create(compression_, faxOptions_, pieceWidth, reversed_);
      if (!fax) return kStatusOutOfMemory;
    }
    // The largest piece, decompressed.
    uint64_t rowBytes = layout_.RowBytes(pieceWidth);
    if (model_ == ColourModel::YCbCr && layout_.planes == 1)
      rowBytes = (uint64_t{pieceWidth} + subsampleH_ - 1) / subsampleH_ * (subsampleH_ * subsampleV_ + 2);
    if (IsLogLuv(compression_)) rowBytes = uint64_t{pieceWidth} * (samples_ == 1 ? 2 : compression_ == kLogLuv24 ? 3 : 4);
    uint64_t bytes = 0;
    if (!CheckedMul(rowBytes, pieceRows, SIZE_MAX / 2, &bytes)) return kStatusOutOfMemory;
    if ((compression_ != kNone && compression_ != kLogLuv24) || predictor_ == 2) {
      work.reset(new (std::nothrow) uint8_t[bytes]);
      if (!work) return kStatusOutOfMemory;
    }
  }
  const uint32_t planes = layout_.planes;
  const uint32_t across = (width_ + pieceWidth - 1) / pieceWidth, down = (height_ + pieceRows - 1) / pieceRows;
  const uint64_t total = uint64_t{across} * down * planes;
  uint64_t index = 0;
  for (uint32_t plane = 0; plane < planes; ++plane) {
    for (uint32_t ty = 0; ty < down; ++ty) {
      for (uint32_t tx = 0; tx < across; ++tx, ++index) {
        if (IsCancelled(cancel)) return kStatusOk;
        Piece p;
        p.index = static_cast<uint32_t>(std::min<uint64_t>(index, UINT32_MAX));
        p.plane = plane;
        p.x = tx * pieceWidth;
        p.y = ty * pieceRows;
        p.width = std::min(pieceWidth, width_ - p.x);
        p.rows = std::min(pieceRows, height_ - p.y);
        p.stride = pieceWidth;
        // Tiles keep their whole size at the edges; the last strip is shorter.
        p.storedRows = tiled_ ? pieceRows : p.rows;
        const Status s = DecodePiece(buffer, p, work.get(), fax.get(), tables.get());
        if (Failed(s)) return s;
        if (progress) progress->Progress(static_cast<int32_t>(std::min<uint64_t>(index + 1, INT32_MAX)),
                                         static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX)));
      }
    }
  }
  return kStatusOk;
}

ImageDecoder* CreateTiffDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) TiffDecoder(source, entry);
}

void RegisterTiffDecoder() {
  SetFormatFunctions(L"tif", ProbeTiff, CreateTiffDecoder);
  SetFormatFunctions(L"tiff", ProbeTiff, CreateTiffDecoder);
}

}  // namespace pv
