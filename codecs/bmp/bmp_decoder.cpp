#include "codecs/bmp/bmp_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/row_helpers.h"
#include "core/text.h"

namespace pv {

namespace {

// An OS/2 bitmap array record ("BA", size, next, display size) comes before
// the first image's own file header.
constexpr uint64_t kArrayHeaderSize = 14;
constexpr uint64_t kFileHeaderSize = 14;
constexpr uint16_t kArraySignature = 0x4142;  // "BA"
constexpr uint16_t kFileSignature = 0x4D42;   // "BM"
constexpr uint64_t kMinProbeSize = 44;

constexpr uint32_t kRedMask = 0xFF0000, kGreenMask = 0xFF00, kBlueMask = 0xFF;
constexpr uint32_t kAlphaMask = 0xFF000000;

bool IsInfoHeaderSize(uint32_t n) { return n == 12 || n == 40 || n == 52 || n == 56 || n == 108 || n == 124; }

// Finds the "BM" file header and the size of the info header after it.
Status LocateHeader(const ByteReader& r, uint64_t* fileHeader, uint32_t* headerSize) {
  uint16_t signature = 0;
  const uint64_t base = r.U16LEAt(0, signature) && signature == kArraySignature ? kArrayHeaderSize : 0;
  if (!r.U16LEAt(base, signature) || signature != kFileSignature) return kStatusUnknownFormat;
  if (!r.U32LEAt(base + 14, *headerSize)) return kStatusUnknownFormat;
  if (!IsInfoHeaderSize(*headerSize)) return kStatusUnsupported;
  *fileHeader = base;
  return kStatusOk;
}

// Source rows are padded to whole 32-bit units.
uint64_t PaddedRowBytes(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// One colour field of a bit-field pixel, placed into its byte of 0xAARRGGBB.
// Fields wider than 8 bits keep their top 8; narrower ones are not replicated
// into the low bits.
struct BitField {
  uint32_t mask = 0;
  uint32_t start = 0;
  uint32_t left = 0;

  BitField() = default;
  BitField(uint32_t m, uint32_t channelShift) : mask(m) {
    if (!m) return;
    const uint32_t low = static_cast<uint32_t>(std::countr_zero(m));
    const uint32_t high = 31 - static_cast<uint32_t>(std::countl_zero(m));
    const uint32_t width = std::min(high - low + 1, 8u);
    start = high + 1 - width;
    left = 8 - width + channelShift;
  }
  uint32_t Place(uint32_t pixel) const { return ((pixel & mask) >> start) << left; }
};

// Turns one source row into buffer pixels.
class RowConverter {
 public:
  RowConverter(uint32_t width, uint32_t bits, bool bitFields, const uint32_t (&masks)[4])
      : width_(width), bits_(bits), bitFields_(bitFields), keepAlpha_(masks[3] == kAlphaMask) {
    for (uint32_t i = 0; i < 4; ++i) fields_[i] = BitField(masks[i], 8 * i);
    opaque_ = masks[3] ? 0 : kAlphaMask;
  }

  // Bytes of one source row that hold pixels (without the padding).
  uint64_t SourceBytes() const { return (uint64_t{width_} * bits_ + 7) / 8; }

  void Convert(uint8_t* dst, const uint8_t* src) const {
    if (bitFields_) return ConvertBitFields(dst, src);
    switch (bits_) {
      case 1:
        return UnpackBits1(dst, src, SourceBytes());
      case 4:
        return UnpackBits4(dst, src, SourceBytes());
      case 8:
        return CopyBytes(dst, src, width_);
      case 24:
        return BgrToRgba8(dst, src, width_);
      default:
        CopyBytes(dst, src, size_t{width_} * 4);
        if (!keepAlpha_) {
          for (uint32_t x = 0; x < width_; ++x) dst[4 * x + 3] = 0xFF;
        }
    }
  }

 private:
  void ConvertBitFields(uint8_t* dst, const uint8_t* src) const {
    for (uint32_t x = 0; x < width_; ++x) {
      const uint32_t pixel = bits_ == 16 ? LoadU16LE(src + 2 * x) : LoadU32LE(src + 4 * x);
      StoreU32LE(dst + 4 * x, fields_[0].Place(pixel) | fields_[1].Place(pixel) | fields_[2].Place(pixel) |
                                  fields_[3].Place(pixel) | opaque_);
    }
  }

  uint32_t width_, bits_;
  bool bitFields_, keepAlpha_;
  BitField fields_[4];  // blue, green, red, alpha
  uint32_t opaque_;
};

}  // namespace

Status BmpDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  uint64_t file = 0;
  uint32_t headerSize = 0;
  Status s = LocateHeader(r, &file, &headerSize);
  if (Failed(s)) return s;
  const uint64_t info = file + kFileHeaderSize;
  uint32_t dataOffset = 0;
  ByteReader header;
  if (!r.Sub(info, headerSize, &header) || !r.U32LEAt(file + 10, dataOffset)) return kStatusDamaged;
  paletteOffset_ = info + headerSize;
  // The pixel-data offset counts from the start of the file, also inside an array.
  pixelOffset_ = dataOffset;

  uint16_t planes = 0, bits = 0;
  int64_t width = 0, height = 0;
  uint32_t compression = 0;
  if (headerSize == 12) {
    // OS/2 core header: 16-bit sizes, always bottom-up, 3-byte palette entries.
    uint16_t w = 0, h = 0;
    if (!header.U16LEAt(4, w) || !header.U16LEAt(6, h) || !header.U16LEAt(8, planes) || !header.U16LEAt(10, bits))
      return kStatusDamaged;
    width = w;
    height = h;
    paletteEntrySize_ = 3;
  } else {
    uint32_t w = 0, h = 0, hres = 0, vres = 0;
    if (!header.U32LEAt(4, w) || !header.U32LEAt(8, h) || !header.U16LEAt(12, planes) ||
        !header.U16LEAt(14, bits) || !header.U32LEAt(16, compression) || !header.U32LEAt(24, hres) ||
        !header.U32LEAt(28, vres))
      return kStatusDamaged;
    width = static_cast<int32_t>(w);
    // A negative height stores the rows top-down.
    height = static_cast<int32_t>(h);
    topDown_ = height < 0;
    if (topDown_) height = -height;
    paletteEntrySize_ = 4;
    if (hres && vres) {
      wchar_t text[48];
      if (FormatText(text, 48, L"%d x %d ppm", static_cast<int32_t>(hres), static_cast<int32_t>(vres)) > 0)
        SetText(kPropDensity, text);
    }
  }

  if (planes != 1) return kStatusUnsupported;
  masks_[3] = 0;
  inspectAlpha_ = false;
  switch (compression) {
    case 0:
      s = SetUncompressed(bits, headerSize);
      break;
    case 1:
    case 2:
      if (bits != 4 && bits != 8) return kStatusUnsupported;
      coding_ = compression == 1 ? Coding::Rle8 : Coding::Rle4;
      SetStatic(kPropCompression, L"RLE");
      break;
    case 3:
      s = SetBitFields(r, info, headerSize, bits, h);
      break;
    default:
      return kStatusUnsupported;
  }
  if (Failed(s)) return s;

  if (width < 0) return kStatusDamaged;
  if (width == 0 || height == 0) return kStatusUnknownFormat;
  if (!IsSaneImageSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return kStatusUnsupported;
  h.size = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  h.bitsPerPixel = bits;
  uint64_t rowBytes = 0;
  if (bits <= 8) {
    // Whole padded source rows, so the unpacking helpers may write every pixel of their last byte.
    h.format = PixelFormat::Indexed8;
    h.paletteEntries = PaletteEntries(r, bits);
    rowBytes = PaddedRowBytes(h.size.width, bits) * 8 / bits;
  } else {
    h.format = PixelFormat::Rgba8;
    if (!CheckedMul(h.size.width, 4, UINT32_MAX, &rowBytes)) return kStatusUnsupported;
  }
  if (rowBytes > UINT32_MAX) return kStatusUnsupported;
  h.minRowBytes = static_cast<uint32_t>(rowBytes);
  return kStatusOk;
}

Status BmpDecoder::SetUncompressed(uint32_t bits, uint32_t headerSize) {
  coding_ = Coding::Plain;
  switch (bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      return kStatusOk;
    case 16:
      // Plain 16-bit pixels are 5-5-5 with the top bit unused.
      coding_ = Coding::BitFields;
      masks_[0] = 0x1F;
      masks_[1] = 0x3E0;
      masks_[2] = 0x7C00;
      masks_[3] = 0;
      return kStatusOk;
    case 32:
      // Headers without an alpha mask leave the fourth byte undefined: many
      // writers put 0 there, others real alpha, so the pixels decide.
      inspectAlpha_ = headerSize < 53;
      return kStatusOk;
    default:
      return kStatusUnsupported;
  }
}

Status BmpDecoder::SetBitFields(const ByteReader& r, uint64_t info, uint32_t headerSize, uint32_t bits,
                                ImageHeader& h) {
  if (bits != 16 && bits != 32) return kStatusUnsupported;
  uint32_t red = kRedMask, green = kGreenMask, blue = kBlueMask, alpha = 0;
  // The masks lie at header offset 40 in the longer headers; a 40-byte header
  // is followed by them when the pixel data leaves room.
  if (headerSize >= 52 || (headerSize == 40 && pixelOffset_ >= info + 52)) {
    if (!r.U32LEAt(info + 40, red) || !r.U32LEAt(info + 44, green) || !r.U32LEAt(info + 48, blue))
      return kStatusDamaged;
  }
  if (headerSize >= 56 && !r.U32LEAt(info + 52, alpha)) return kStatusDamaged;
  if (red == kRedMask && green == kGreenMask && blue == kBlueMask && (alpha == 0 || alpha == kAlphaMask)) {
    // The standard layout is what the uncompressed decoder does.
    if (bits == 16) return SetUncompressed(bits, headerSize);
    coding_ = Coding::Plain;
  } else {
    coding_ = Coding::BitFields;
  }
  masks_[0] = blue;
  masks_[1] = green;
  masks_[2] = red;
  masks_[3] = alpha;
  h.usesAlpha = alpha != 0;
  return kStatusOk;
}

uint32_t BmpDecoder::PaletteEntries(const ByteReader& r, uint32_t bits) const {
  if (pixelOffset_ <= paletteOffset_ || paletteOffset_ >= r.Size()) return 0;
  return static_cast<uint32_t>(std::min({(pixelOffset_ - paletteOffset_) / paletteEntrySize_,
                                         (r.Size() - paletteOffset_) / paletteEntrySize_, uint64_t{1} << bits}));
}

void BmpDecoder::WritePalette(const ByteReader& r, uint32_t* palette) const {
  const uint32_t count = Header().paletteEntries;
  ByteReader entries;
  if (!r.Sub(paletteOffset_, uint64_t{count} * paletteEntrySize_, &entries)) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = entries.Take(paletteEntrySize_);
    palette[i] = 0xFF000000u | (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
  }
}

const uint8_t* BmpDecoder::SourceRow(const ByteReader& r, uint32_t fileRow, uint64_t want, uint64_t* got) const {
  *got = 0;
  uint64_t offset = 0;
  if (!CheckedMul(fileRow, PaddedRowBytes(Width(), BitsPerPixel()), UINT64_MAX, &offset) ||
      !CheckedAdd(offset, pixelOffset_, UINT64_MAX, &offset) || offset >= r.Size())
    return nullptr;
  *got = std::min(want, r.Size() - offset);
  return r.Span(offset, *got);
}

bool BmpDecoder::HasAlpha(const ByteReader& r) const {
  for (uint32_t y = 0; y < Height(); ++y) {
    uint64_t got = 0;
    const uint8_t* src = SourceRow(r, y, uint64_t{Width()} * 4, &got);
    for (uint64_t i = 3; i < got; i += 4) {
      if (src[i]) return true;
    }
  }
  return false;
}

uint8_t* BmpDecoder::BufferRow(ImageBuffer& buffer, uint32_t fileRow) const {
  return buffer.Row(topDown_ ? fileRow : Height() - 1 - fileRow);
}

Status BmpDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const ByteReader r = Reader();
  if (PaletteView* palette = buffer.AsIndexed8()) WritePalette(r, palette->Palette());
  if (coding_ == Coding::Rle8 || coding_ == Coding::Rle4) return DecodeRle(r, buffer, progress, cancel);
  uint32_t alphaMask = masks_[3];
  if (inspectAlpha_ && HasAlpha(r)) {
    alphaMask = kAlphaMask;
    FoundAlpha();
  }
  return DecodeRows(r, buffer, alphaMask, progress, cancel);
}

Status BmpDecoder::DecodeRows(const ByteReader& r, ImageBuffer& buffer, uint32_t alphaMask, ProgressSink* progress,
                              const CancelFlag* cancel) {
  const uint32_t width = Width(), height = Height(), bits = BitsPerPixel();
  const uint32_t masks[4] = {masks_[0], masks_[1], masks_[2], alphaMask};
  const RowConverter converter(width, bits, coding_ == Coding::BitFields, masks);
  const uint64_t need = converter.SourceBytes();
  const uint32_t outPixel = buffer.BytesPerPixel();
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = BufferRow(buffer, y);
    uint64_t got = 0;
    const uint8_t* src = SourceRow(r, y, need, &got);
    uint32_t complete = width;
    if (got < need) {
      complete = 0;
      // The row cut by the end of the file: convert what it holds.
      std::unique_ptr<uint8_t[]> partial(got ? new (std::nothrow) uint8_t[need]() : nullptr);
      if (partial) {
        std::memcpy(partial.get(), src, got);
        converter.Convert(dst, partial.get());
        complete = static_cast<uint32_t>(got * 8 / bits);
      }
    } else {
      converter.Convert(dst, src);
    }
    FillMissing(buffer, dst + size_t{complete} * outPixel, width - complete);
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, y + 1, height);
  }
  return kStatusOk;
}

Status BmpDecoder::DecodeRle(const ByteReader& r, ImageBuffer& buffer, ProgressSink* progress,
                             const CancelFlag* cancel) {
  const uint32_t width = Width(), height = Height();
  const bool nibbles = coding_ == Coding::Rle4;
  // The stream paints rows in order and never goes back, so the pixels it
  // skips (by a delta, an early end of line or of the data) are filled as
  // missing when the position passes them.
  uint32_t x = 0, line = 0;
  uint8_t* row = BufferRow(buffer, 0);
  auto skipTo = [&](uint32_t toLine, uint32_t toX) {
    for (; line < toLine; ++line, x = 0) {
      FillMissing(buffer, row + x, width - x);
      ReportRow(progress, line + 1, height);
      if (line + 1 < height) row = BufferRow(buffer, line + 1);
    }
    if (line < height && toX > x) FillMissing(buffer, row + x, toX - x);
    x = std::max(x, toX);
  };
  ByteReader in = r.From(pixelOffset_);
  while (line < height) {
    uint8_t count = 0, value = 0;
    if (!in.U8(count) || !in.U8(value)) break;
    if (count) {
      // A run; RLE4 alternates the value's high and low nibble. Runs past the row end are cut.
      const uint32_t n = std::min<uint32_t>(count, width - x);
      if (nibbles) {
        for (uint32_t i = 0; i < n; ++i) row[x + i] = (i & 1) ? value & 15 : value >> 4;
      } else {
        std::memset(row + x, value, n);
      }
      x += n;
    } else if (value == 0) {  // end of line
      skipTo(line + 1, 0);
      if (IsCancelled(cancel)) return kStatusOk;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta: right dx, dy rows on
      uint8_t dx = 0, dy = 0;
      if (!in.U8(dx) || !in.U8(dy) || dy >= height - line) break;
      skipTo(line + dy, std::min(x + dx, width));
      if (IsCancelled(cancel)) return kStatusOk;
    } else {
      // `value` literal pixels, their bytes padded to a 16-bit boundary of the stream.
      const uint64_t bytes = nibbles ? (uint64_t{value} + 1) / 2 : value;
      const uint64_t avail = std::min(bytes, in.Remaining());
      const uint8_t* src = in.Take(avail);
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>({value, nibbles ? avail * 2 : avail, width - x}));
      for (uint32_t i = 0; i < n; ++i) row[x + i] = nibbles ? (src[i / 2] >> ((i & 1) ? 0 : 4)) & 15 : src[i];
      x += n;
      if (avail < bytes || ((in.Offset() & 1) && !in.Skip(1))) break;
    }
  }
  skipTo(height, 0);
  return kStatusOk;
}

Status ProbeBmp(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  if (r.Size() < kMinProbeSize) return kStatusUnknownFormat;
  uint64_t file = 0;
  uint32_t headerSize = 0;
  return LocateHeader(r, &file, &headerSize);
}

ImageDecoder* CreateBmpDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) BmpDecoder(source, entry);
}

void RegisterBmpDecoder() {
  SetFormatFunctions(L"bmp", ProbeBmp, CreateBmpDecoder);
  SetFormatFunctions(L"dib", ProbeBmp, CreateBmpDecoder);
  SetFormatFunctions(L"rle", ProbeBmp, CreateBmpDecoder);
}

}  // namespace pv
