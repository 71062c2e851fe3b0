#include "codecs/png/png_decoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/inflate_status.h"
#include "codecs/png/png_rows.h"
#include "core/checked_math.h"
#include "core/row_helpers.h"
#include "core/text.h"
#include "metadata/exif_reader.h"
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint64_t kMinProbeSize = 22;
constexpr uint64_t kChunkOverhead = 12;  // length, type and CRC
constexpr uint32_t kMaxPngDimension = 0x7FFFFFFF;
// Bytes of filtered rows inflated at a time: enough to keep zlib in its
// fast loop, small enough to stay in the cache while the rows are unfiltered.
constexpr size_t kBatchBytes = 512 * 1024;
// A stream in several chunks goes through libdeflate as one copy up to this
// size; a larger one is inflated in batches by zlib instead.
constexpr uint64_t kMaxJoinedBytes = uint64_t{256} << 20;

constexpr uint32_t Tag(const char (&s)[5]) {
  return uint32_t{uint8_t(s[0])} << 24 | uint32_t{uint8_t(s[1])} << 16 | uint32_t{uint8_t(s[2])} << 8 | uint8_t(s[3]);
}
constexpr uint32_t kIHDR = Tag("IHDR"), kPLTE = Tag("PLTE"), kIDAT = Tag("IDAT"), kIEND = Tag("IEND");
constexpr uint32_t ktRNS = Tag("tRNS"), kbKGD = Tag("bKGD"), kpHYs = Tag("pHYs");
constexpr uint32_t ktEXt = Tag("tEXt"), kiTXt = Tag("iTXt"), keXIf = Tag("eXIf");
constexpr uint32_t kacTL = Tag("acTL"), kfcTL = Tag("fcTL"), kfdAT = Tag("fdAT");

enum ColourType : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

struct Chunk {
  uint32_t type = 0;
  ByteReader data;    // exactly the chunk's data
  uint64_t next = 0;  // offset of the following chunk
};

bool IsLetter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The chunk at offset; damaged when it runs past the end of the source or
// its type holds anything but letters.
Status ReadChunk(const ByteReader& r, uint64_t offset, Chunk* c) {
  uint32_t length = 0, type = 0;
  if (!r.U32BEAt(offset, length) || !r.U32BEAt(offset + 4, type)) return kStatusDamaged;
  // The data and the CRC after it must lie in the file.
  if (!r.Span(offset + 8, uint64_t{length} + 4) || !r.Sub(offset + 8, length, &c->data)) return kStatusDamaged;
  for (int shift = 0; shift < 32; shift += 8) {
    if (!IsLetter((type >> shift) & 0xFF)) return kStatusDamaged;
  }
  c->type = type;
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
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

bool IsKeyword(const ByteReader& key, const char* text) {
  const size_t n = std::strlen(text);
  return key.Size() == n && key.StartsWith(text, n);
}

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
  RowWriter(PngDecoder& d, ImageBuffer& buffer, ProgressSink* progress)
      : d_(d), f_(d.format_), buffer_(buffer), progress_(progress) {}

  Status Init() {
    const uint32_t bits = f_.depth * Channels(f_.colourType);
    bpp_ = (bits + 7) / 8;
    const bool interlaced = f_.interlace == 1;
    const uint32_t width = d_.Width(), height = d_.Height();
    size_t maxRowBytes = 0;
    for (uint32_t i = 0; i < (interlaced ? 7u : 1u); ++i) {
      const uint32_t x0 = interlaced ? kAdam7[i][0] : 0, y0 = interlaced ? kAdam7[i][1] : 0;
      const uint32_t dx = interlaced ? kAdam7[i][2] : 1, dy = interlaced ? kAdam7[i][3] : 1;
      if (width <= x0 || height <= y0) continue;
      Pass p{x0, y0, dx, dy, (width - x0 + dx - 1) / dx, (height - y0 + dy - 1) / dy, 0};
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
    const size_t unpacked = f_.depth < 8 ? maxRowBytes * 8 : 0;
    pixelRow_.reset(new (std::nothrow) uint8_t[(size_t{width} + 16) * 8 + unpacked + 64]);
    if (!staging_ || !previous_ || !pixelRow_) return kStatusOutOfMemory;
    batchRowsMax_ = batchRows;
    ChooseRows();
    StartPass();
    return kStatusOk;
  }

  bool Done() const { return pass_ >= passCount_; }
  uint32_t RowsDone() const { return rowsDone_; }
  // Where inflate writes next, and how much.
  uint8_t* Space(size_t* room) {
    *room = batchEnd_ - fill_;
    return rows_ + fill_;
  }

  // Where the filtered rows of the whole image can wait inside the pixel
  // buffer, behind the rows they become: every converted row must end
  // before the filtered row it comes from begins, and the last filtered row
  // must stay 16 bytes clear of the buffer's end for the vector filters.
  // Only one pass fits this way; null when it does not fit.
  uint8_t* WholeArea(size_t* bytes) const {
    if (passCount_ != 1) return nullptr;
    const Pass& p = passes_[0];
    const size_t rowPitch = buffer_.RowBytes();
    const size_t total = size_t{buffer_.RowCount()} * rowPitch;
    const size_t filtered = size_t{p.height} * stride_;
    size_t written = size_t{p.width} * buffer_.BytesPerPixel();
    if (kind_ == RowKind::Unpack) written = std::max(written, (stride_ - 1) * 8 / f_.depth);
    if (total < filtered + 32) return nullptr;
    const size_t start = total - 32 - filtered;
    // Linear in the row number: checking the first and the last row covers all.
    const size_t last = p.height - 1;
    if (written > start || last * rowPitch + written > start + last * stride_) return nullptr;
    *bytes = filtered;
    return buffer_.Pixels() + start;
  }

  // Inflate writes the whole image into `area` (from WholeArea) in one go.
  void UseWholeArea(uint8_t* area, size_t bytes) {
    rows_ = area;
    fill_ = processed_ = 0;
    batchEnd_ = bytes;
  }
  // Back to batches through the staging buffer, from the first row.
  void UseStaging() { StartBatch(); }

  // Takes n more inflated bytes; false when cancelled.
  bool Consume(size_t n, const CancelFlag* cancel) {
    fill_ += n;
    while (!Done() && fill_ - processed_ >= stride_) {
      if (IsCancelled(cancel)) return false;
      uint8_t* row = rows_ + processed_;
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

  // Fills the pixels the data never reached: the rest of the current pass
  // and the passes after it.
  void Finish() {
    for (uint32_t i = pass_; i < passCount_; ++i) {
      const Pass& p = passes_[i];
      if (f_.interlace != 1) return d_.FillMissingRows(buffer_, rowInPass_, p.height);
      d_.FillMissing(buffer_, pixelRow_.get(), p.width);
      for (uint32_t r = i == pass_ ? rowInPass_ : 0; r < p.height; ++r) Place(p, p.y0 + r * p.dy);
    }
  }

 private:
  void ChooseRows() {
    const bool wide = f_.depth == 16;
    // The key samples: grey, or red, green and blue.
    ByteReader trns = f_.transparency;
    uint16_t key[3] = {};
    const bool keyed = trns.U16BE(key[0]) && (f_.colourType == kGrey || (trns.U16BE(key[1]) && trns.U16BE(key[2])));
    switch (f_.colourType) {
      case kGrey:
        if (keyed) {
          kind_ = wide ? RowKind::GreyKeyed16 : RowKind::GreyKeyed8;
          key_[0] = key[0];
          if (!wide) {
            const uint32_t levels = 1u << f_.depth;
            for (uint32_t v = 0; v < levels; ++v) {
              const uint32_t grey = ScaleTo8(v, f_.depth) * 0x010101u;
              greyTable_[v] = v == key_[0] ? grey : 0xFF000000u | grey;
            }
          }
        } else {
          kind_ = wide ? RowKind::Grey16 : f_.depth == 8 ? RowKind::Copy8 : RowKind::Unpack;
        }
        break;
      case kPalette:
        kind_ = f_.depth == 8 ? RowKind::Copy8 : RowKind::Unpack;
        break;
      case kRgb:
        kind_ = wide ? RowKind::Rgb16 : RowKind::Rgb8;
        if (keyed) {
          keyed_ = true;
          for (int i = 0; i < 3; ++i) key_[i] = key[i];
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
    rows_ = staging_.get();
    const size_t rows = std::min<size_t>(batchRowsMax_, passes_[pass_].height - rowInPass_);
    fill_ = processed_ = 0;
    batchEnd_ = rows * stride_;
  }

  void Unpack(uint8_t* dst, const uint8_t* src, size_t bytes) const {
    if (f_.depth == 1) return UnpackBits1(dst, src, bytes);
    if (f_.depth == 2) return UnpackBits2(dst, src, bytes);
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
        if (f_.depth < 8) {
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
    if (f_.interlace != 1) return Convert(buffer_.Row(y), src, p.width);
    Convert(pixelRow_.get(), src, p.width);
    Place(p, y);
  }

  // The converted row of one Adam7 pass to its pixels of image row y.
  void Place(const Pass& p, uint32_t y) {
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

  PngDecoder& d_;
  const Format& f_;
  ImageBuffer& buffer_;
  ProgressSink* progress_;
  Pass passes_[7] = {};
  uint32_t passCount_ = 0, pass_ = 0, rowInPass_ = 0;
  uint32_t bpp_ = 1;
  uint32_t rowsDone_ = 0, totalRows_ = 0;
  std::unique_ptr<uint8_t[]> staging_, previous_, pixelRow_;
  uint8_t* rows_ = nullptr;  // the staging buffer, or the whole image's area
  size_t batchRowsMax_ = 1, stride_ = 1, fill_ = 0, processed_ = 0, batchEnd_ = 0;
  RowKind kind_ = RowKind::Copy8;
  bool keyed_ = false;
  uint32_t key_[3] = {};
  uint32_t greyTable_[256] = {};
};

// One frame of an animation as its fcTL gives it.
struct PngDecoder::Frame {
  ImageSize size;
  FrameFields fields;
  uint64_t dataStart = 0;
  bool frameData = false;
};

Status PngDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!r.StartsWith(kSignature, sizeof kSignature)) return kStatusUnknownFormat;
  bool header = false, imageData = false, animated = false, animationOver = false;
  uint64_t firstData = 0;
  uint32_t background = 0;
  uint8_t loop = 0;
  std::vector<Frame> frames;
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
          s = ReadImageHeader(c.data);
          if (Failed(s)) return s;
          header = true;
        }
        break;
      case kPLTE:
        if (format_.colourType == kPalette && !format_.paletteCount && c.data.Size() >= 3) {
          format_.palette = c.data;
          format_.paletteCount = static_cast<uint32_t>(std::min<uint64_t>(c.data.Size() / 3, 256));
        }
        break;
      case ktRNS:
        if (!imageData) ReadTransparency(c.data);
        break;
      case kbKGD:
        ReadBackground(c.data, &background);
        break;
      case kpHYs:
        ReadDensity(c.data);
        break;
      case ktEXt:
      case kiTXt:
        ReadText(c.data, c.type == kiTXt);
        break;
      case keXIf:
        // The camera's EXIF block as a bare TIFF structure (PNG 1.5).
        ReadExifData(c.data, *this);
        break;
      case kacTL: {
        uint32_t plays = 0;
        if (!imageData && c.data.Skip(4) && c.data.U32BE(plays)) {
          animated = true;
          loop = plays != 1;
        }
        break;
      }
      case kfcTL:
        if (animated && !animationOver && frames.size() < kMaxFrameCount) {
          Frame f;
          // A frame that does not fit the canvas ends the animation before it.
          animationOver = Failed(ReadFrameControl(c.data, !imageData, c.next, &f));
          if (!animationOver) frames.push_back(f);
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
  if (format_.colourType == kPalette && !format_.paletteCount) return kStatusDamaged;
  const Status s = ChooseFormat(&h);
  if (Failed(s)) return s;
  SetStatic(kPropCompression, L"Inflate");
  h.size = {format_.width, format_.height};
  h.frame.background = background;
  if (frames.empty()) {
    dataStart_ = firstData;
    frameData_ = false;
    return kStatusOk;
  }
  h.frame.canvasWidth = format_.width;
  h.frame.canvasHeight = format_.height;
  h.frame.loop = loop;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    ImageHeader frameHeader = h;
    frameHeader.size = f.size;
    frameHeader.frame.left = f.fields.left;
    frameHeader.frame.top = f.fields.top;
    frameHeader.frame.delay = f.fields.delay;
    frameHeader.frame.disposal = f.fields.disposal;
    frameHeader.frame.blend = f.fields.blend;
    PngDecoder* d = this;
    Ref<PngDecoder> next;
    if (i) {
      next = Ref<PngDecoder>(new (std::nothrow) PngDecoder(*source_, entry_));
      if (!next) return kStatusOutOfMemory;
      d = next.get();
      d->format_ = format_;
    }
    d->dataStart_ = f.dataStart;
    d->frameData_ = f.frameData;
    if (i) {
      AppendNext(std::move(next), frameHeader);
    } else {
      h = frameHeader;
    }
  }
  return kStatusOk;
}

Status PngDecoder::ReadImageHeader(ByteReader c) {
  uint8_t compression = 0, filter = 0;
  Format& f = format_;
  if (!c.U32BE(f.width) || !c.U32BE(f.height) || !c.U8(f.depth) || !c.U8(f.colourType) || !c.U8(compression) ||
      !c.U8(filter) || !c.U8(f.interlace))
    return kStatusDamaged;
  if (!f.width || !f.height || f.width > kMaxPngDimension || f.height > kMaxPngDimension) return kStatusDamaged;
  if (!ValidDepth(f.colourType, f.depth) || compression != 0 || filter != 0 || f.interlace > 1)
    return kStatusUnsupported;
  if (!IsSaneImageSize(f.width, f.height)) return kStatusUnsupported;
  return kStatusOk;
}

void PngDecoder::ReadTransparency(ByteReader c) {
  if (format_.transparency.Size()) return;
  // Too short for its colour type, or on a type that has alpha already: ignored.
  const uint8_t type = format_.colourType;
  const uint32_t need = type == kGrey ? 2 : type == kRgb ? 6 : type == kPalette ? 1 : 0;
  if (!need || c.Size() < need) return;
  format_.transparency = c;
}

void PngDecoder::ReadBackground(ByteReader c, uint32_t* background) const {
  const uint8_t depth = format_.depth;
  // A sample as 8 bits: the high byte at depth 16, the value itself at depth 8, stretched below.
  auto sample = [depth](uint32_t v) -> uint32_t {
    if (depth == 16) return v >> 8;
    if (depth == 8) return std::min<uint32_t>(v, 255);
    return ScaleTo8(v & ((1u << depth) - 1), depth);
  };
  uint32_t rgb = 0;
  if (format_.colourType == kPalette) {
    // The index must name an entry of the palette.
    uint8_t index = 0, e[3] = {};
    ByteReader entry;
    if (!c.U8(index) || index >= format_.paletteCount || !format_.palette.Sub(3u * index, 3, &entry) ||
        !entry.U8(e[0]) || !entry.U8(e[1]) || !entry.U8(e[2]))
      return;
    rgb = uint32_t{e[0]} << 16 | uint32_t{e[1]} << 8 | e[2];
  } else if (format_.colourType == kRgb || format_.colourType == kRgba) {
    uint16_t red = 0, green = 0, blue = 0;
    if (!c.U16BE(red) || !c.U16BE(green) || !c.U16BE(blue)) return;
    rgb = sample(red) << 16 | sample(green) << 8 | sample(blue);
  } else {
    uint16_t grey = 0;
    if (!c.U16BE(grey)) return;
    rgb = sample(grey) * 0x010101u;
  }
  *background = 0xFF000000u | rgb;
}

void PngDecoder::ReadDensity(ByteReader c) {
  uint32_t x = 0, y = 0;
  uint8_t unit = 0;
  // Only a unit of metres gives a density; unit 0 is an aspect ratio.
  if (!c.U32BE(x) || !c.U32BE(y) || !c.U8(unit) || unit != 1) return;
  wchar_t text[48];
  if (FormatText(text, 48, L"%u x %u ppm", x, y) > 0) SetText(kPropDensity, text);
}

void PngDecoder::ReadText(ByteReader c, bool international) {
  ByteReader key;
  if (!c.TakeUntil(0, &key) || !key.Size()) return;
  const Keyword* keyword = nullptr;
  for (const Keyword& k : kKeywords) {
    if (IsKeyword(key, k.text)) keyword = &k;
  }
  const bool xmp = IsKeyword(key, kXmpKeyword);
  // Other keywords are not shown.
  if (!keyword && !xmp) return;
  if (international) {
    // Compression flag and method, then the language tag and the translated keyword.
    uint8_t compressed = 0, method = 0;
    ByteReader language, translated;
    if (!c.U8(compressed) || compressed != 0 || !c.U8(method) || !c.TakeUntil(0, &language) ||
        !c.TakeUntil(0, &translated))
      return;
    // A text in another language does not replace one already there.
    if (keyword && language.Size() && Has(keyword->property) && !language.StartsWith("e", 1) &&
        !language.StartsWith("n", 1))
      return;
  }
  ByteReader text;
  if (!c.TakeSub(c.Remaining(), &text) || !text.Size()) return;
  if (xmp) return ReadXmpPacket(text, *this);
  SetBorrowed(keyword->property, text.Data(), static_cast<uint32_t>(std::min<uint64_t>(text.Size(), 65535)),
              international ? TextEncoding::Utf8 : TextEncoding::Cp1252);
}

Status PngDecoder::ChooseFormat(ImageHeader* header) const {
  ImageHeader& h = *header;
  const uint8_t depth = format_.depth, type = format_.colourType;
  const bool wide = depth == 16;
  const bool keyed = format_.transparency.Size() != 0;
  h.bitsPerPixel = depth * Channels(type);
  h.model = ColourModel::Rgb;
  h.usesAlpha = 1;
  switch (type) {
    case kGrey:
      if (keyed) {
        h.format = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
      } else {
        h.format = wide ? PixelFormat::Grey16 : PixelFormat::Grey8;
        h.model = ColourModel::L;
        h.usesAlpha = 0;
      }
      break;
    case kPalette:
      h.format = PixelFormat::Indexed8;
      h.usesAlpha = keyed;
      h.paletteEntries = format_.paletteCount;
      break;
    case kRgb:
      h.usesAlpha = keyed;
      h.format = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
      break;
    default:
      h.format = wide ? PixelFormat::Rgba16 : PixelFormat::Rgba8;
  }
  // Unpacked rows of 1, 2 and 4 bits fill whole bytes of the file row.
  if (depth < 8) {
    uint64_t bytes = 0;
    if (!CheckedMul((uint64_t{format_.width} * depth + 7) / 8, 8 / depth, UINT32_MAX, &bytes))
      return kStatusUnsupported;
    h.minRowBytes = static_cast<uint32_t>(bytes);
  }
  return kStatusOk;
}

Status PngDecoder::ReadFrameControl(ByteReader c, bool beforeImageData, uint64_t next, Frame* frame) const {
  uint32_t sequence = 0, w = 0, h = 0, x = 0, y = 0;
  uint16_t numerator = 0, denominator = 0;
  uint8_t dispose = 0, blend = 0;
  if (!c.U32BE(sequence) || !c.U32BE(w) || !c.U32BE(h) || !c.U32BE(x) || !c.U32BE(y) || !c.U16BE(numerator) ||
      !c.U16BE(denominator) || !c.U8(dispose) || !c.U8(blend))
    return kStatusDamaged;
  const uint32_t cw = format_.width, ch = format_.height;
  // The frame must lie inside the canvas; a frame shown from the IDAT data is the whole canvas.
  if (!w || !h || x > cw || w > cw - x || y > ch || h > ch - y) return kStatusDamaged;
  if (beforeImageData && (w != cw || h != ch || x || y)) return kStatusDamaged;
  frame->size = {w, h};
  frame->dataStart = next;
  frame->frameData = !beforeImageData;
  FrameFields& f = frame->fields;
  f.left = x;
  f.top = y;
  if (!denominator) denominator = 100;
  // A zero delay means "as fast as possible"; one frame of 60 Hz stands for it.
  f.delay = numerator ? (uint32_t{numerator} * 1000 + denominator / 2) / denominator : 17;
  f.disposal = dispose <= 2 ? dispose : 0;
  f.blend = blend == 1;
  return kStatusOk;
}

void PngDecoder::WritePalette(uint32_t* palette) const {
  const uint32_t count = format_.paletteCount;
  ByteReader entries, alpha = format_.transparency;
  if (!format_.palette.Sub(0, 3u * count, &entries)) return;
  RgbToRgba8(palette, entries.Data(), count);
  // tRNS of a palette image: the alpha of the first entries.
  uint8_t a = 0;
  for (uint32_t i = 0; i < count && alpha.U8(a); ++i) palette[i] = (palette[i] & 0xFFFFFFu) | uint32_t{a} << 24;
}

std::vector<ByteReader> PngDecoder::DataChunks(const ByteReader& r) const {
  std::vector<ByteReader> chunks;
  for (uint64_t pos = dataStart_; pos < r.Size();) {
    Chunk c;
    if (Failed(ReadChunk(r, pos, &c))) break;
    pos = c.next;
    // This frame's data ends where the next frame's control chunk begins.
    if (c.type == kIEND || (frameData_ && c.type == kfcTL)) break;
    if (c.type != (frameData_ ? kfdAT : kIDAT)) continue;
    // fdAT data follows its sequence number.
    chunks.push_back(frameData_ ? c.data.From(4) : c.data);
  }
  return chunks;
}

bool PngDecoder::InflateWhole(const std::vector<ByteReader>& chunks, RowWriter& writer,
                              const CancelFlag* cancel) const {
  size_t areaBytes = 0;
  uint8_t* area = writer.WholeArea(&areaBytes);
  if (!area || chunks.empty()) return false;
  // libdeflate takes the stream in one piece: a copy when it spans chunks,
  // up to a size worth holding twice.
  std::unique_ptr<uint8_t[]> joined;
  const uint8_t* stream = chunks[0].Data();
  uint64_t size = chunks[0].Size();
  if (chunks.size() > 1) {
    size = 0;
    for (const ByteReader& c : chunks) size += c.Size();
    if (size > kMaxJoinedBytes) return false;
    joined.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!joined) return false;
    size_t at = 0;
    for (const ByteReader& c : chunks) {
      std::memcpy(joined.get() + at, c.Data(), static_cast<size_t>(c.Size()));
      at += static_cast<size_t>(c.Size());
    }
    stream = joined.get();
    const uint8_t* first = chunks.front().Data();
    source_->DoneWith(static_cast<uint64_t>(first - source_->Data()),
                      static_cast<uint64_t>(chunks.back().Data() + chunks.back().Size() - first));
  }
  // The zlib header as zlib itself accepts it: deflate, a window of at most
  // 32 KB, no preset dictionary, a valid check. zlib judges anything else.
  if (size < 2 || (stream[0] & 0x0F) != 8 || (stream[0] >> 4) > 7 || (stream[1] & 0x20) ||
      (stream[0] * 256u + stream[1]) % 31)
    return false;
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return false;
  size_t produced = 0;
  const libdeflate_result result =
      libdeflate_deflate_decompress(d, stream + 2, static_cast<size_t>(size - 2), area, areaBytes, &produced);
  libdeflate_free_decompressor(d);
  if (result != LIBDEFLATE_SUCCESS) return false;
  // The copy goes before the rows are converted, which touch the rest of the buffer.
  joined.reset();
  writer.UseWholeArea(area, areaBytes);
  writer.Consume(produced, cancel);
  return true;
}

Status PngDecoder::Inflate(const ByteReader& r, RowWriter& writer, const CancelFlag* cancel) const {
  const std::vector<ByteReader> chunks = DataChunks(r);
  // A whole stream that ends where it should goes through libdeflate, about
  // twice as fast as zlib. A damaged stream, one with more data than the
  // image, or an interlaced image takes zlib's road in batches, which keeps
  // every row before the damage: such files keep their pixels.
  if (InflateWhole(chunks, writer, cancel)) return kStatusOk;
  writer.UseStaging();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return kStatusFormatMismatch;
  // Like the chunk CRCs, the stream's Adler-32 is not checked: damage shows in the pixels.
  inflateValidate(&z, 0);
  Status status = kStatusOk;
  bool ended = false;
  for (size_t i = 0; i < chunks.size() && !ended && !writer.Done() && !IsCancelled(cancel); ++i) {
    z.next_in = const_cast<Bytef*>(chunks[i].Data());
    z.avail_in = static_cast<uInt>(chunks[i].Size());
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
        status = InflateFailure(result);
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
  if (PaletteView* view = buffer.AsIndexed8()) WritePalette(view->Palette());
  RowWriter writer(*this, buffer, progress);
  Status s = writer.Init();
  if (Failed(s)) return s;
  s = Inflate(Reader(), writer, cancel);
  if (Failed(s) || IsCancelled(cancel)) return s;
  // Image data that yields not one row is damaged; an animation frame
  // without data is shown as missing, so the other frames stay.
  if (!writer.RowsDone() && !writer.Done() && !frameData_) return kStatusDamaged;
  writer.Finish();
  return kStatusOk;
}

Status ProbePng(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  return r.Size() >= kMinProbeSize && r.StartsWith(kSignature, sizeof kSignature) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreatePngDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) PngDecoder(source, entry);
}

void RegisterPngDecoder() { SetFormatFunctions(L"png", ProbePng, CreatePngDecoder); }

}  // namespace pv
