#include "codecs/tga/tga_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/path_name.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

constexpr uint64_t kHeaderSize = 18;
constexpr uint64_t kFooterSize = 26;
constexpr char kFooterText[] = "TRUEVISION-XFILE.";  // with its NUL: 18 bytes
constexpr uint64_t kExtensionSize = 495;
constexpr uint64_t kAttributesOffset = 494;

struct TgaHeader {
  uint8_t idLength = 0, mapType = 0, type = 0, mapEntryBits = 0, depth = 0, descriptor = 0;
  uint16_t mapFirst = 0, mapLength = 0, width = 0, height = 0;
};

// The header's fields, or 0x80040207 when they cannot be a TARGA image.
Status ParseHeader(const ByteReader& r, TgaHeader* h) {
  const uint8_t* p = r.Span(0, kHeaderSize + 1);
  if (!p) return kStatusUnknownFormat;
  h->idLength = p[0];
  h->mapType = p[1];
  h->type = p[2];
  h->mapFirst = LoadU16LE(p + 3);
  h->mapLength = LoadU16LE(p + 5);
  h->mapEntryBits = p[7];
  h->width = LoadU16LE(p + 12);
  h->height = LoadU16LE(p + 14);
  h->depth = p[16];
  h->descriptor = p[17];
  const uint8_t d = h->depth;
  // Right-to-left rows are not read.
  if ((h->descriptor & 0x10) || h->mapEntryBits > 32 || (d != 8 && d != 15 && d != 16 && d != 24 && d != 32) ||
      (h->type & 7) > 3)
    return kStatusUnknownFormat;
  return kStatusOk;
}

// Run-length packets of one image; a packet may run on into the next row.
class RunReader {
 public:
  RunReader(ByteReader in, uint32_t pixelBytes) : in_(in), pixelBytes_(pixelBytes) {}

  // Fills up to `count` pixels; returns how many the data gave.
  uint32_t Expand(uint8_t* out, uint32_t count) {
    uint32_t x = 0;
    while (x < count) {
      if (left_ == 0) {
        uint8_t h = 0;
        if (!in_.U8(h)) break;
        left_ = (h & 0x7Fu) + 1;
        repeat_ = (h & 0x80) != 0;
        if (repeat_) {
          const uint8_t* v = in_.Take(pixelBytes_);
          if (!v) {
            left_ = 0;
            break;
          }
          std::memcpy(value_, v, pixelBytes_);
        }
      }
      uint32_t n = std::min(left_, count - x);
      uint8_t* dst = out + size_t{x} * pixelBytes_;
      if (repeat_) {
        if (pixelBytes_ == 1) {
          std::memset(dst, value_[0], n);
        } else {
          for (uint32_t i = 0; i < n; ++i) std::memcpy(dst + size_t{i} * pixelBytes_, value_, pixelBytes_);
        }
      } else {
        // Literal pixels the file cuts short: keep the whole ones.
        n = static_cast<uint32_t>(std::min<uint64_t>(n, in_.Remaining() / pixelBytes_));
        std::memcpy(dst, in_.Take(uint64_t{n} * pixelBytes_), size_t{n} * pixelBytes_);
        if (n < std::min(left_, count - x)) {
          x += n;
          left_ = 0;
          in_.Skip(in_.Remaining());
          break;
        }
      }
      x += n;
      left_ -= n;
    }
    return x;
  }

 private:
  ByteReader in_;
  uint32_t pixelBytes_;
  uint32_t left_ = 0;
  bool repeat_ = false;
  uint8_t value_[4] = {};
};

}  // namespace

Status TgaDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  TgaHeader f;
  Status s = ParseHeader(r, &f);
  if (Failed(s)) return s;
  bottomUp_ = (f.descriptor & 0x20) == 0;
  runLength_ = (f.type & 8) != 0;
  if (runLength_) SetStatic(kPropCompression, L"RLE");
  if ((f.descriptor & 0xC0) || f.mapType >= 2) return kStatusUnsupported;
  const uint32_t type = f.type & 7;

  // The colour map, then the image data, follow the ID field.
  mapOffset_ = kHeaderSize + f.idLength;
  mapEntryBits_ = mapFirst_ = mapLength_ = 0;
  uint64_t mapBytes = 0;
  if (f.mapLength) {
    if (type != 1) return kStatusUnsupported;
    const uint32_t e = f.mapEntryBits;
    if (e != 15 && e != 16 && e != 24 && e != 32) return kStatusUnsupported;
    mapEntryBits_ = e;
    mapFirst_ = f.mapFirst;
    mapLength_ = f.mapLength;
    mapBytes = uint64_t{f.mapLength} * ((e + 7) / 8);
  } else if (f.mapType == 1) {
    return kStatusUnsupported;
  }
  dataOffset_ = mapOffset_ + mapBytes;
  if (dataOffset_ > r.Size()) return kStatusDamaged;

  switch (type) {
    case 1:
      if (f.depth != 8 || f.mapType != 1) return kStatusDamaged;
      h.format = PixelFormat::Indexed8;
      h.usesAlpha = mapEntryBits_ == 32;
      h.paletteEntries = std::min<uint32_t>(mapFirst_ + mapLength_, 256);
      break;
    case 2:
      if (f.depth < 15) return kStatusDamaged;
      h.format = PixelFormat::Rgba8;
      h.usesAlpha = f.depth > 24 && (f.descriptor & 15);
      break;
    case 3:
      if (f.depth != 8) return kStatusDamaged;
      // Indices are the grey levels; every level is a given colour, so
      // pixels the data never reaches are black.
      h.format = PixelFormat::Indexed8;
      h.model = ColourModel::L;
      break;
    default:
      return kStatusUnsupported;
  }
  if (f.width == 0 || f.height == 0) return kStatusUnknownFormat;
  if (!IsSaneImageSize(f.width, f.height)) return kStatusUnsupported;
  h.size = {f.width, f.height};
  h.bitsPerPixel = f.depth;
  pixelBytes_ = (f.depth + 7u) / 8;
  h.minRowBytes = uint32_t{f.width} * (h.format == PixelFormat::Rgba8 ? 4 : 1);

  // Image data runs to the footer, or to an extension area placed after it.
  uint64_t dataEnd = r.Size();
  const uint8_t* footer = r.Size() >= kFooterSize ? r.Span(r.Size() - kFooterSize, kFooterSize) : nullptr;
  if (footer && std::memcmp(footer + 8, kFooterText, sizeof kFooterText) == 0) {
    dataEnd -= kFooterSize;
    const uint32_t extension = LoadU32LE(footer);
    uint8_t attributes = 0;
    if (extension && extension + kExtensionSize <= dataEnd &&
        r.U8At(extension + kAttributesOffset, attributes)) {
      h.usesAlpha = attributes == 3 ? 1 : attributes == 4 ? 2 : 0;
      if (extension >= dataOffset_) dataEnd = extension;
    }
  }
  dataBytes_ = dataEnd >= dataOffset_ ? dataEnd - dataOffset_ : 0;

  // Without a signature, the data size must fit the pixels it claims.
  const uint64_t n = uint64_t{pixelBytes_} * f.width * f.height;
  if ((!runLength_ && dataBytes_ < n) || dataBytes_ > 2 * n + 1024) return kStatusUnsupported;
  return kStatusOk;
}

void TgaDecoder::WriteColourMap(const ByteReader& r, uint32_t* palette) const {
  const uint32_t entryBytes = (mapEntryBits_ + 7) / 8;
  const uint32_t end = std::min<uint32_t>(mapFirst_ + mapLength_, 256);
  ByteReader map;
  if (!r.Sub(mapOffset_, uint64_t{mapLength_} * entryBytes, &map)) return;
  for (uint32_t i = mapFirst_; i < end; ++i) {
    const uint8_t* e = map.Take(entryBytes);
    if (entryBytes == 2) {
      const uint32_t v = LoadU16LE(e);
      palette[i] = 0xFF000000u | ((v >> 10) & 31) << 19 | ((v >> 5) & 31) << 11 | (v & 31) << 3;
    } else {
      const uint32_t alpha = entryBytes == 4 ? e[3] : 0xFFu;
      palette[i] = alpha << 24 | uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0];
    }
  }
}

void TgaDecoder::ConvertRow(uint8_t* dst, const uint8_t* src) const {
  const uint32_t width = Width();
  const bool alpha = UsesAlpha() != 0;
  switch (pixelBytes_) {
    case 1:
      CopyBytes(dst, src, width);
      break;
    case 2:
      for (uint32_t x = 0; x < width; ++x, dst += 4) {
        const uint32_t v = LoadU16LE(src + 2 * x);
        dst[0] = static_cast<uint8_t>((v & 31) * 255 / 31);
        dst[1] = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
        dst[2] = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
        dst[3] = (v & 0x8000) || !alpha ? 255 : 0;
      }
      break;
    case 3:
      BgrToRgba8(dst, src, width);
      break;
    default:
      CopyBytes(dst, src, size_t{width} * 4);
      if (!alpha) {
        for (uint32_t x = 0; x < width; ++x) dst[4 * x + 3] = 255;
      }
  }
}

Status TgaDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const ByteReader r = Reader();
  if (PaletteView* palette = buffer.AsIndexed8(); palette && mapLength_) WriteColourMap(r, palette->Palette());
  const uint32_t width = Width(), height = Height();
  const size_t rowBytes = size_t{width} * pixelBytes_;
  ByteReader data;
  if (!r.Sub(dataOffset_, dataBytes_, &data)) return kStatusDamaged;
  std::unique_ptr<uint8_t[]> row(runLength_ ? new (std::nothrow) uint8_t[rowBytes]() : nullptr);
  if (runLength_ && !row) return kStatusOutOfMemory;
  RunReader runs(data, pixelBytes_);
  for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
    const uint32_t y = bottomUp_ ? height - 1 - fileRow : fileRow;
    uint8_t* dst = buffer.Row(y);
    // Raw data was checked to hold every row.
    const uint8_t* src = data.Span(fileRow * rowBytes, rowBytes);
    uint32_t complete = width;
    if (runLength_) {
      complete = runs.Expand(row.get(), width);
      src = row.get();
    }
    if (complete == 0) {
      // The data has ended: the rows still to come are missing.
      if (bottomUp_) {
        FillMissingRows(buffer, 0, y + 1);
      } else {
        FillMissingRows(buffer, y, height);
      }
      return kStatusOk;
    }
    ConvertRow(dst, src);
    FillMissing(buffer, dst + size_t{complete} * buffer.BytesPerPixel(), width - complete);
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, fileRow + 1, height);
  }
  return kStatusOk;
}

Status ProbeTga(ByteSource& source) {
  const wchar_t* path = source.Path();
  if (!path || !(PathEndsWithNoCase(path, L".tga") || PathEndsWithNoCase(path, L".targa"))) return kStatusUnknownFormat;
  TgaHeader h;
  return ParseHeader(ByteReader(source.Data(), source.Size()), &h);
}

ImageDecoder* CreateTgaDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) TgaDecoder(source, entry);
}

void RegisterTgaDecoder() { SetFormatFunctions(L"tga", ProbeTga, CreateTgaDecoder); }

}  // namespace pv
