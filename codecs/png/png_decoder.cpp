#include "codecs/png/png_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/png/png_rows.h"
#include "core/checked_math.h"
#include "core/row_helpers.h"
#include "core/text.h"

namespace pv {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint64_t kMinProbeSize = 22;
constexpr uint64_t kChunkOverhead = 12;  // length, type and CRC
constexpr uint32_t kHeaderLength = 13;
constexpr uint32_t kFrameControlLength = 26;
constexpr uint32_t kMaxPngDimension = 0x7FFFFFFF;
// The palette entry a new buffer presets to transparent black.
constexpr uint8_t kTransparentEntry = 253;
// Bytes of filtered rows inflated at a time: enough to keep zlib in its
// fast loop, small enough to stay in the cache while the rows are unfiltered.
constexpr size_t kBatchBytes = 512 * 1024;

constexpr uint32_t Tag(const char (&s)[5]) {
  return uint32_t{uint8_t(s[0])} << 24 | uint32_t{uint8_t(s[1])} << 16 | uint32_t{uint8_t(s[2])} << 8 | uint8_t(s[3]);
}
constexpr uint32_t kIHDR = Tag("IHDR"), kPLTE = Tag("PLTE"), kIDAT = Tag("IDAT"), kIEND = Tag("IEND");
constexpr uint32_t ktRNS = Tag("tRNS"), kbKGD = Tag("bKGD"), kpHYs = Tag("pHYs");
constexpr uint32_t ktEXt = Tag("tEXt"), kiTXt = Tag("iTXt");
constexpr uint32_t kacTL = Tag("acTL"), kfcTL = Tag("fcTL"), kfdAT = Tag("fdAT");

enum ColourType : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

struct Chunk {
  uint32_t type = 0;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  uint64_t next = 0;  // offset of the following chunk
};

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The chunk at offset; damaged when it runs past the end of the source or
// its type holds anything but letters.
Status ReadChunk(const ByteReader& r, uint64_t offset, Chunk* c) {
  uint32_t length = 0;
  const uint8_t* type = r.Span(offset + 4, 4);
  if (!r.U32BEAt(offset, length) || !type) return kStatusDamaged;
  if (!r.Span(offset + 8, uint64_t{length} + 4)) return kStatusDamaged;
  for (int i = 0; i < 4; ++i) {
    if (!IsLetter(type[i])) return kStatusDamaged;
  }
  c->type = LoadU32BE(type);
  c->data = r.Span(offset + 8, length);
  c->length = length;
  c->next = offset + kChunkOverhead + length;
  return kStatusOk;
}

bool ValidDepth(uint8_t type, uint8_t depth) {
  switch (type) {
    case kGrey:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPalette:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGreyAlpha:  // grey + alpha below 8 bits is no valid PNG
    case kRgba:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

uint32_t Channels(uint8_t type) {
  static constexpr uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  return type < 7 ? kChannels[type] : 0;
}

// A sample of `depth` bits stretched to 8 bits, rounded.
uint8_t ScaleTo8(uint32_t v, uint32_t depth) {
  const uint64_t max = (uint64_t{1} << depth) - 1;
  return static_cast<uint8_t>((v * uint64_t{0x3FC00000} / max + 0x200000) >> 22);
}

struct Keyword {
  const char* text;
  uint32_t property;
};
constexpr Keyword kKeywords[] = {
    {"Title", kPropTitle},         {"Author", kPropAuthor},     {"Description", kPropComment},
    {"Comment", kPropComment},     {"Copyright", kPropCopyright}, {"Creation Time", kPropCreationDate},
    {"Source", kPropSource},
};

// One Adam7 pass, or the whole image when not interlaced.
struct Pass {
  uint32_t x0, y0, dx, dy;
  uint32_t width, height;
  size_t rowBytes;
};
constexpr uint8_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

enum class RowKind : uint8_t {
  Unpack,        // 1, 2, 4 bits to indices or grey
  Copy8,         // 8-bit indices or grey
  Grey16,
  GreyKeyed8,    // grey up to 8 bits with a tRNS grey, to Rgba8
  GreyKeyed16,
  Rgb8,
  Rgb16,
  GreyAlpha8,
  GreyAlpha16,
  Rgba8,
  Rgba16,
};

}  // namespace

// Takes inflated bytes, undoes the filters row by row and converts each row
// into the buffer, at its Adam7 position when interlaced.
class PngDecoder::RowWriter {
 public:
  RowWriter(const PngDecoder& d, ImageBuffer& buffer, ProgressSink* progress)
      : d_(d), buffer_(buffer), progress_(progress) {}

  Status Init(const ByteReader& r) {
    const uint32_t bits = d_.depth_ * Channels(d_.colourType_);
    bpp_ = (bits + 7) / 8;
    const bool interlaced = d_.interlace_ == 1;
    size_t maxRowBytes = 0;
    for (uint32_t i = 0; i < (interlaced ? 7u : 1u); ++i) {
      const uint32_t x0 = interlaced ? kAdam7[i][0] : 0, y0 = interlaced ? kAdam7[i][1] : 0;
      const uint32_t dx = interlaced ? kAdam7[i][2] : 1, dy = interlaced ? kAdam7[i][3] : 1;
      if (d_.width_ <= x0 || d_.height_ <= y0) continue;
      Pass p{x0, y0, dx, dy, (d_.width_ - x0 + dx - 1) / dx, (d_.height_ - y0 + dy - 1) / dy, 0};
      p.rowBytes = (size_t{p.width} * bits + 7) / 8;
      maxRowBytes = std::max(maxRowBytes, p.rowBytes);
      totalRows_ += p.height;
      passes_[passCount_++] = p;
    }
    // Rows are read 8 bytes past their end by the vector filters.
    const size_t stride = maxRowBytes + 1;
    const size_t batchRows = std::max<size_t>(1, kBatchBytes / stride);
    staging_.reset(new (std::nothrow) uint8_t[batchRows * stride + 16]);
    previous_.reset(new (std::nothrow) uint8_t[maxRowBytes + 16]);
    // One row of converted pixels before they are placed, then room for
    // samples of 1, 2 or 4 bits unpacked to bytes.
    const size_t unpacked = d_.depth_ < 8 ? maxRowBytes * 8 : 0;
    pixelRow_.reset(new (std::nothrow) uint8_t[(size_t{d_.width_} + 16) * 8 + unpacked + 64]);
    if (!staging_ || !previous_ || !pixelRow_) return kStatusOutOfMemory;
    batchRowsMax_ = batchRows;
    ChooseRows(r);
    missing_ = 0;
    if (buffer_.Format() == PixelFormat::Indexed8 && d_.paletteCount_ <= kTransparentEntry)
      missing_ = kTransparentEntry;
    // Every pass leaves gaps until the last, so an interlaced image starts out missing.
    if (interlaced) {
      for (uint32_t y = 0; y < d_.height_; ++y) std::memset(buffer_.Row(y), missing_, RowPixelBytes());
    }
    StartPass();
    return kStatusOk;
  }

  bool Done() const { return pass_ >= passCount_; }
  uint32_t RowsDone() const { return rowsDone_; }
  // Where inflate writes next, and how much.
  uint8_t* Space(size_t* room) {
    *room = batchEnd_ - fill_;
    return staging_.get() + fill_;
  }

  // Takes n more inflated bytes; false when cancelled.
  bool Consume(size_t n, const CancelFlag* cancel) {
    fill_ += n;
    while (!Done() && fill_ - processed_ >= stride_) {
      if (IsCancelled(cancel)) return false;
      uint8_t* row = staging_.get() + processed_;
      const uint8_t* above = processed_ ? row - stride_ + 1 : previous_.get();
      png::Unfilter(row[0], row + 1, above, stride_ - 1, bpp_);
      Emit(row + 1);
      processed_ += stride_;
      if (++rowInPass_ == passes_[pass_].height) {
        ++pass_;
        StartPass();
      } else if (processed_ == batchEnd_) {
        std::memcpy(previous_.get(), row + 1, stride_ - 1);
        StartBatch();
      }
    }
    return true;
  }

  // Fills what the data never reached; true when pixels were left missing.
  bool Finish() {
    if (Done()) return false;
    if (d_.interlace_ != 1) {
      for (uint32_t y = rowInPass_; y < d_.height_; ++y) std::memset(buffer_.Row(y), missing_, RowPixelBytes());
    }
    return true;
  }
  // Whether a missing pixel shows as transparent.
  bool MissingIsTransparent() const {
    return buffer_.Format() == PixelFormat::Rgba8 || buffer_.Format() == PixelFormat::Rgba16 ||
           (buffer_.Format() == PixelFormat::Indexed8 && missing_ == kTransparentEntry);
  }

 private:
  size_t RowPixelBytes() const { return size_t{d_.width_} * buffer_.BytesPerPixel(); }

  void ChooseRows(const ByteReader& r) {
    const bool wide = d_.depth_ == 16;
    const uint8_t* trns = d_.transparencyLength_ ? r.Span(d_.transparencyOffset_, d_.transparencyLength_) : nullptr;
    switch (d_.colourType_) {
      case kGrey:
        if (trns) {
          kind_ = wide ? RowKind::GreyKeyed16 : RowKind::GreyKeyed8;
          key_[0] = LoadU16BE(trns);
          if (!wide) {
            const uint32_t levels = 1u << d_.depth_;
            for (uint32_t v = 0; v < levels; ++v) {
              const uint32_t grey = ScaleTo8(v, d_.depth_) * 0x010101u;
              greyTable_[v] = v == key_[0] ? grey : 0xFF000000u | grey;
            }
          }
        } else {
          kind_ = wide ? RowKind::Grey16 : d_.depth_ == 8 ? RowKind::Copy8 : RowKind::Unpack;
        }
        break;
      case kPalette:
        kind_ = d_.depth_ == 8 ? RowKind::Copy8 : RowKind::Unpack;
        break;
      case kRgb:
        kind_ = wide ? RowKind::Rgb16 : RowKind::Rgb8;
        if (trns) {
          keyed_ = true;
          for (int i = 0; i < 3; ++i) key_[i] = LoadU16BE(trns + 2 * i);
        }
        break;
      case kGreyAlpha:
        kind_ = wide ? RowKind::GreyAlpha16 : RowKind::GreyAlpha8;
        break;
      default:
        kind_ = wide ? RowKind::Rgba16 : RowKind::Rgba8;
    }
  }

  void StartPass() {
    rowInPass_ = 0;
    if (Done()) return;
    stride_ = passes_[pass_].rowBytes + 1;
    // The first row of every pass is filtered against zeros.
    std::memset(previous_.get(), 0, stride_ - 1 + 8);
    StartBatch();
  }

  void StartBatch() {
    const size_t rows = std::min<size_t>(batchRowsMax_, passes_[pass_].height - rowInPass_);
    fill_ = processed_ = 0;
    batchEnd_ = rows * stride_;
  }

  void Unpack(uint8_t* dst, const uint8_t* src, size_t bytes) const {
    if (d_.depth_ == 1) return UnpackBits1(dst, src, bytes);
    if (d_.depth_ == 2) return UnpackBits2(dst, src, bytes);
    UnpackBits4(dst, src, bytes);
  }

  void Convert(uint8_t* dst, const uint8_t* src, uint32_t width) {
    const size_t rowBytes = stride_ - 1;
    auto* dst16 = reinterpret_cast<uint16_t*>(dst);
    auto* dst32 = reinterpret_cast<uint32_t*>(dst);
    switch (kind_) {
      case RowKind::Unpack:
        return Unpack(dst, src, rowBytes);
      case RowKind::Copy8:
        return CopyBytes(dst, src, width);
      case RowKind::Grey16:
        return Copy16(dst16, src, width, 1, true);
      case RowKind::GreyKeyed8: {
        const uint8_t* samples = src;
        if (d_.depth_ < 8) {
          uint8_t* unpacked = pixelRow_.get() + (size_t{width} + 16) * 4;
          Unpack(unpacked, src, rowBytes);
          samples = unpacked;
        }
        for (uint32_t x = 0; x < width; ++x) dst32[x] = greyTable_[samples[x]];
        return;
      }
      case RowKind::GreyKeyed16:
        for (uint32_t x = 0; x < width; ++x, dst16 += 4) {
          const uint16_t v = LoadU16BE(src + 2 * x);
          dst16[0] = dst16[1] = dst16[2] = v;
          dst16[3] = v == key_[0] ? 0 : 0xFFFF;
        }
        return;
      case RowKind::Rgb8:
        RgbToRgba8(dst32, src, width);
        if (keyed_) {
          const uint32_t key = key_[0] << 16 | key_[1] << 8 | key_[2];
          // A key sample above 255 matches no 8-bit pixel.
          if ((key_[0] | key_[1] | key_[2]) > 255) return;
          for (uint32_t x = 0; x < width; ++x) {
            if ((dst32[x] & 0xFFFFFFu) == key) dst32[x] = key;
          }
        }
        return;
      case RowKind::Rgb16:
        Copy16(dst16, src, size_t{width} * 3, 3, true);
        if (keyed_) {
          for (uint32_t x = 0; x < width; ++x) {
            uint16_t* p = dst16 + 4 * x;
            if (p[2] == key_[0] && p[1] == key_[1] && p[0] == key_[2]) p[3] = 0;
          }
        }
        return;
      case RowKind::GreyAlpha8:
        return png::GreyAlphaToBgra8(dst, src, width);
      case RowKind::GreyAlpha16:
        for (uint32_t x = 0; x < width; ++x, dst16 += 4) {
          dst16[0] = dst16[1] = dst16[2] = LoadU16BE(src + 4 * x);
          dst16[3] = LoadU16BE(src + 4 * x + 2);
        }
        return;
      case RowKind::Rgba8:
        return png::RgbaToBgra8(dst, src, width);
      case RowKind::Rgba16:
        return Copy16(dst16, src, size_t{width} * 4, 4, true);
    }
  }

  template <size_t kBytes>
  static void Scatter(uint8_t* dst, const uint8_t* src, uint32_t width, size_t step) {
    for (uint32_t x = 0; x < width; ++x, dst += step, src += kBytes) std::memcpy(dst, src, kBytes);
  }

  void Emit(const uint8_t* src) {
    const Pass& p = passes_[pass_];
    const uint32_t y = p.y0 + rowInPass_ * p.dy;
    ReportRow(progress_, ++rowsDone_, totalRows_);
    if (d_.interlace_ != 1) return Convert(buffer_.Row(y), src, p.width);
    Convert(pixelRow_.get(), src, p.width);
    const size_t bytes = buffer_.BytesPerPixel();
    uint8_t* dst = buffer_.Row(y) + p.x0 * bytes;
    const uint8_t* from = pixelRow_.get();
    switch (bytes) {
      case 1:
        return Scatter<1>(dst, from, p.width, p.dx);
      case 2:
        return Scatter<2>(dst, from, p.width, 2 * p.dx);
      case 4:
        return Scatter<4>(dst, from, p.width, 4 * p.dx);
      default:
        return Scatter<8>(dst, from, p.width, 8 * p.dx);
    }
  }

  const PngDecoder& d_;
  ImageBuffer& buffer_;
  ProgressSink* progress_;
  Pass passes_[7] = {};
  uint32_t passCount_ = 0, pass_ = 0, rowInPass_ = 0;
  uint32_t bpp_ = 1;
  uint32_t rowsDone_ = 0, totalRows_ = 0;
  std::unique_ptr<uint8_t[]> staging_, previous_, pixelRow_;
  size_t batchRowsMax_ = 1, stride_ = 1, fill_ = 0, processed_ = 0, batchEnd_ = 0;
  RowKind kind_ = RowKind::Copy8;
  bool keyed_ = false;
  uint32_t key_[3] = {};
  uint32_t greyTable_[256] = {};
  uint8_t missing_ = 0;
};

Status PngDecoder::ReadHeader(uint32_t) {
  const ByteReader r = Reader();
  const uint8_t* signature = r.Span(0, sizeof kSignature);
  if (!signature || std::memcmp(signature, kSignature, sizeof kSignature) != 0) return kStatusUnknownFormat;
  bool header = false, imageData = false, animated = false, animationOver = false;
  uint64_t firstData = 0;
  uint32_t frames = 0;
  PngDecoder* last = nullptr;
  uint8_t loop = 0;
  for (uint64_t pos = sizeof kSignature; pos < r.Size();) {
    Chunk c;
    Status s = ReadChunk(r, pos, &c);
    if (Failed(s)) return s;
    // Everything else depends on the header, which must come first.
    if (!header && c.type != kIHDR) return kStatusDamaged;
    if (c.type == kIEND) break;
    switch (c.type) {
      case kIHDR:
        if (!header) {
          s = ReadImageHeader(c.data, c.length);
          if (Failed(s)) return s;
          header = true;
        }
        break;
      case kPLTE:
        if (colourType_ == kPalette && !paletteCount_ && c.length >= 3) {
          paletteOffset_ = pos + 8;
          paletteCount_ = std::min<uint32_t>(c.length / 3, 256);
        }
        break;
      case ktRNS:
        if (!imageData) ReadTransparency(c.data, c.length, pos + 8);
        break;
      case kbKGD:
        ReadBackground(r, c.data, c.length);
        break;
      case kpHYs:
        ReadDensity(c.data, c.length);
        break;
      case ktEXt:
      case kiTXt:
        ReadText(c.data, c.length, c.type == kiTXt);
        break;
      case kacTL:
        if (!imageData && c.length >= 8) {
          animated = true;
          loop = LoadU32BE(c.data + 4) != 1;
        }
        break;
      case kfcTL:
        if (animated && !animationOver && frames < kMaxFrameCount) {
          s = AddFrame(c.data, c.length, !imageData, c.next, &last, &frames);
          if (s == kStatusOutOfMemory) return s;
          // A frame that does not fit the canvas ends the animation before it.
          animationOver = Failed(s);
        }
        break;
      case kIDAT:
        if (!imageData) firstData = pos;
        imageData = true;
        break;
      default:
        break;
    }
    pos = c.next;
  }
  if (!header || !imageData) return kStatusDamaged;
  if (colourType_ == kPalette && !paletteCount_) return kStatusDamaged;
  const Status s = ChooseFormat();
  if (Failed(s)) return s;
  SetStatic(kPropCompression, L"Inflate");
  if (!frames) {
    dataStart_ = firstData;
    frameData_ = false;
    return kStatusOk;
  }
  for (PngDecoder* d = this; d; d = static_cast<PngDecoder*>(d->next_.get())) {
    if (d != this) d->CopyFormat(*this);
    d->frame_.loop = loop;
  }
  return kStatusOk;
}

Status PngDecoder::ReadImageHeader(const uint8_t* data, uint32_t length) {
  if (length < kHeaderLength) return kStatusDamaged;
  imageWidth_ = LoadU32BE(data);
  imageHeight_ = LoadU32BE(data + 4);
  depth_ = data[8];
  colourType_ = data[9];
  interlace_ = data[12];
  if (!imageWidth_ || !imageHeight_ || imageWidth_ > kMaxPngDimension || imageHeight_ > kMaxPngDimension)
    return kStatusDamaged;
  if (!ValidDepth(colourType_, depth_) || data[10] != 0 || data[11] != 0 || interlace_ > 1) return kStatusUnsupported;
  if (!IsSaneImageSize(imageWidth_, imageHeight_)) return kStatusUnsupported;
  width_ = imageWidth_;
  height_ = imageHeight_;
  return kStatusOk;
}

void PngDecoder::ReadTransparency(const uint8_t* data, uint32_t length, uint64_t offset) {
  if (transparencyLength_) return;
  // Too short for its colour type, or on a type that has alpha already: ignored.
  const uint32_t need = colourType_ == kGrey ? 2 : colourType_ == kRgb ? 6 : colourType_ == kPalette ? 1 : 0;
  if (!need || length < need || !data) return;
  transparencyOffset_ = offset;
  transparencyLength_ = length;
}

void PngDecoder::ReadBackground(const ByteReader& r, const uint8_t* data, uint32_t length) {
  // A sample as 8 bits: the high byte at depth 16, the value itself at depth 8, stretched below.
  auto sample = [this](const uint8_t* p) -> uint32_t {
    const uint32_t v = LoadU16BE(p);
    if (depth_ == 16) return v >> 8;
    if (depth_ == 8) return std::min<uint32_t>(v, 255);
    return ScaleTo8(v & ((1u << depth_) - 1), depth_);
  };
  uint32_t rgb = 0;
  if (colourType_ == kPalette) {
    // The index must name an entry of the palette.
    const uint8_t* entry = paletteCount_ && length >= 1 && data[0] < paletteCount_
                               ? r.Span(paletteOffset_ + 3u * data[0], 3)
                               : nullptr;
    if (!entry) return;
    rgb = uint32_t{entry[0]} << 16 | uint32_t{entry[1]} << 8 | entry[2];
  } else if (colourType_ == kRgb || colourType_ == kRgba) {
    if (length < 6) return;
    rgb = sample(data) << 16 | sample(data + 2) << 8 | sample(data + 4);
  } else {
    if (length < 2) return;
    rgb = sample(data) * 0x010101u;
  }
  frame_.background = 0xFF000000u | rgb;
}

void PngDecoder::ReadDensity(const uint8_t* data, uint32_t length) {
  // Only a unit of metres gives a density; unit 0 is an aspect ratio.
  if (length < 9 || data[8] != 1) return;
  wchar_t text[48];
  if (FormatText(text, 48, L"%u x %u ppm", LoadU32BE(data), LoadU32BE(data + 4)) > 0) SetText(kPropDensity, text);
}

void PngDecoder::ReadText(const uint8_t* data, uint32_t length, bool international) {
  const uint8_t* end = data + length;
  const uint8_t* keyEnd = static_cast<const uint8_t*>(std::memchr(data, 0, length));
  if (!keyEnd || keyEnd == data) return;
  const size_t keyLength = static_cast<size_t>(keyEnd - data);
  const Keyword* keyword = nullptr;
  for (const Keyword& k : kKeywords) {
    if (std::strlen(k.text) == keyLength && std::memcmp(k.text, data, keyLength) == 0) keyword = &k;
  }
  // The XMP packet ("XML:com.adobe.xmp") waits for the XMP reader; other keywords are not shown.
  if (!keyword) return;
  const uint8_t* text = keyEnd + 1;
  if (international) {
    // Compression flag and method, then the language tag and the translated keyword.
    if (end - text < 2 || text[0] != 0) return;
    const uint8_t* language = text + 2;
    const uint8_t* languageEnd = static_cast<const uint8_t*>(std::memchr(language, 0, end - language));
    if (!languageEnd) return;
    const uint8_t* translated = languageEnd + 1;
    const uint8_t* translatedEnd = static_cast<const uint8_t*>(std::memchr(translated, 0, end - translated));
    if (!translatedEnd) return;
    // A text in another language does not replace one already there.
    if (languageEnd != language && Has(keyword->property) && language[0] != 'e' && language[0] != 'n') return;
    text = translatedEnd + 1;
  }
  if (text >= end) return;
  SetBorrowed(keyword->property, text, static_cast<uint32_t>(std::min<ptrdiff_t>(end - text, 65535)),
              international ? TextEncoding::Utf8 : TextEncoding::Cp1252);
}

Status PngDecoder::ChooseFormat() {
  const bool wide = depth_ == 16;
  const bool keyed = transparencyLength_ != 0;
  bitsPerPixel_ = depth_ * Channels(colourType_);
  colourModel_ = ColourModel::Rgb;
  usesAlpha_ = 1;
  switch (colourType_) {
    case kGrey:
      if (keyed) {
        pixelFormat_ = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
      } else {
        pixelFormat_ = wide ? PixelFormat::Grey16 : PixelFormat::Grey8;
        colourModel_ = ColourModel::L;
        usesAlpha_ = 0;
      }
      break;
    case kPalette:
      pixelFormat_ = PixelFormat::Indexed8;
      usesAlpha_ = keyed;
      break;
    case kRgb:
      usesAlpha_ = keyed;
      pixelFormat_ = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
      break;
    default:
      pixelFormat_ = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
  }
  // Unpacked rows of 1, 2 and 4 bits fill whole bytes of the file row.
  if (depth_ < 8) {
    uint64_t bytes = 0;
    if (!CheckedMul((uint64_t{imageWidth_} * depth_ + 7) / 8, 8 / depth_, UINT32_MAX, &bytes))
      return kStatusUnsupported;
    minRowBytes_ = static_cast<uint32_t>(bytes);
  }
  return kStatusOk;
}

Status PngDecoder::AddFrame(const uint8_t* data, uint32_t length, bool beforeImageData, uint64_t next,
                            PngDecoder** last, uint32_t* frames) {
  if (length < kFrameControlLength) return kStatusDamaged;
  const uint32_t w = LoadU32BE(data + 4), h = LoadU32BE(data + 8);
  const uint32_t x = LoadU32BE(data + 12), y = LoadU32BE(data + 16);
  // The frame must lie inside the canvas; a frame shown from the IDAT data is the whole canvas.
  if (!w || !h || x > imageWidth_ || w > imageWidth_ - x || y > imageHeight_ || h > imageHeight_ - y)
    return kStatusDamaged;
  if (beforeImageData && (w != imageWidth_ || h != imageHeight_ || x || y)) return kStatusDamaged;
  PngDecoder* d = this;
  if (*frames) {
    d = new (std::nothrow) PngDecoder(*source_, entry_);
    if (!d) return kStatusOutOfMemory;
    (*last)->next_ = Ref<ImageDecoder>(d);
  }
  d->width_ = w;
  d->height_ = h;
  d->dataStart_ = next;
  d->frameData_ = !beforeImageData;
  FrameFields& f = d->frame_;
  f.canvasWidth = imageWidth_;
  f.canvasHeight = imageHeight_;
  f.left = x;
  f.top = y;
  const uint32_t numerator = LoadU16BE(data + 20);
  uint32_t denominator = LoadU16BE(data + 22);
  if (!denominator) denominator = 100;
  // A zero delay means "as fast as possible"; one frame of 60 Hz stands for it.
  f.delay = numerator ? (numerator * 1000 + denominator / 2) / denominator : 17;
  f.disposal = data[24] <= 2 ? data[24] : 0;
  f.blend = data[25] == 1;
  *last = d;
  ++*frames;
  return kStatusOk;
}

void PngDecoder::CopyFormat(const PngDecoder& from) {
  imageWidth_ = from.imageWidth_;
  imageHeight_ = from.imageHeight_;
  depth_ = from.depth_;
  colourType_ = from.colourType_;
  interlace_ = from.interlace_;
  paletteOffset_ = from.paletteOffset_;
  paletteCount_ = from.paletteCount_;
  transparencyOffset_ = from.transparencyOffset_;
  transparencyLength_ = from.transparencyLength_;
  bitsPerPixel_ = from.bitsPerPixel_;
  pixelFormat_ = from.pixelFormat_;
  colourModel_ = from.colourModel_;
  usesAlpha_ = from.usesAlpha_;
  minRowBytes_ = from.minRowBytes_;
  frame_.background = from.frame_.background;
}

void PngDecoder::WritePalette(const ByteReader& r, uint32_t* palette) const {
  const uint8_t* entries = r.Span(paletteOffset_, 3u * paletteCount_);
  if (!entries) return;
  RgbToRgba8(palette, entries, paletteCount_);
  const uint8_t* alpha = transparencyLength_ ? r.Span(transparencyOffset_, transparencyLength_) : nullptr;
  if (!alpha) return;
  const uint32_t n = std::min(transparencyLength_, paletteCount_);
  for (uint32_t i = 0; i < n; ++i) palette[i] = (palette[i] & 0xFFFFFFu) | uint32_t{alpha[i]} << 24;
}

Status PngDecoder::Inflate(const ByteReader& r, RowWriter& writer, const CancelFlag* cancel) const {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return kStatusFormatMismatch;
  // Like the chunk CRCs, the stream's Adler-32 is not checked: damage shows in the pixels.
  inflateValidate(&z, 0);
  Status status = kStatusOk;
  bool ended = false;
  for (uint64_t pos = dataStart_; pos < r.Size() && !ended && !writer.Done() && !IsCancelled(cancel);) {
    Chunk c;
    if (Failed(ReadChunk(r, pos, &c))) break;
    pos = c.next;
    // This frame's data ends where the next frame's control chunk begins.
    if (c.type == kIEND || (frameData_ && c.type == kfcTL)) break;
    const uint8_t* data = c.data;
    uint32_t length = c.length;
    if (frameData_) {
      // fdAT data follows its sequence number.
      if (c.type != kfdAT || length < 4) continue;
      data += 4;
      length -= 4;
    } else if (c.type != kIDAT) {
      continue;
    }
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = length;
    while (z.avail_in && !writer.Done()) {
      size_t room = 0;
      z.next_out = writer.Space(&room);
      z.avail_out = static_cast<uInt>(room);
      const int result = inflate(&z, Z_NO_FLUSH);
      if (!writer.Consume(room - z.avail_out, cancel)) {
        ended = true;
        break;
      }
      if (result == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (result != Z_OK) {
        status = result == Z_MEM_ERROR                                                        ? kStatusOutOfMemory
                 : result == Z_DATA_ERROR || result == Z_STREAM_ERROR || result == Z_NEED_DICT ? kStatusDamaged
                                                                                              : kStatusFormatMismatch;
        ended = true;
        break;
      }
    }
  }
  inflateEnd(&z);
  return status;
}

Status PngDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  if (buffer.RowBytes() == 0) return kStatusColourFormat;
  const ByteReader r = Reader();
  if (PaletteView* view = buffer.AsIndexed8()) WritePalette(r, view->Palette());
  RowWriter writer(*this, buffer, progress);
  Status s = writer.Init(r);
  if (Failed(s)) return s;
  s = Inflate(r, writer, cancel);
  if (Failed(s) || IsCancelled(cancel)) return s;
  // Image data that yields not one row is damaged; an animation frame
  // without data is shown as missing, so the other frames stay.
  if (!writer.RowsDone() && !writer.Done() && !frameData_) return kStatusDamaged;
  // Pixels the data never reached are transparent black where the format can show it.
  if (writer.Finish() && writer.MissingIsTransparent()) usesAlpha_ = 1;
  return kStatusOk;
}

Status ProbePng(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  const uint8_t* signature = r.Size() >= kMinProbeSize ? r.Span(0, sizeof kSignature) : nullptr;
  return signature && std::memcmp(signature, kSignature, sizeof kSignature) == 0 ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreatePngDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) PngDecoder(source, entry);
}

void RegisterPngDecoder() { SetFormatFunctions(L"png", ProbePng, CreatePngDecoder); }

}  // namespace pv
