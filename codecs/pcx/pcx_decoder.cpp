#include "codecs/pcx/pcx_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

constexpr uint64_t kHeaderSize = 128;
constexpr uint64_t kVgaPaletteBytes = 768;
constexpr uint8_t kVgaMarker = 12;

// The 16 colours that versions 0 and 1 imply; entry 1 is white so that
// two-colour files show black on white.
constexpr uint32_t kDefaultPalette[16] = {
    0xFF000000, 0xFFFFFFFF, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA, 0xFFAAAA00, 0xFFAAAAAA,
    0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF, 0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF,
};

struct PcxHeader {
  uint8_t version = 0, encoding = 0;
  uint32_t planes = 0, bitsPerPlane = 0;
  uint32_t width = 0, height = 0;
  uint32_t lineBytes = 0;
};

// The header's fields, or 0x80040207 when they cannot describe an image.
Status ParseHeader(const ByteReader& r, PcxHeader* h) {
  const uint8_t* p = r.Span(0, kHeaderSize);
  if (!p) return kStatusUnknownFormat;
  h->version = p[1];
  h->encoding = p[2];
  // Version 0 stores the plane count where the others store bits per plane.
  h->planes = h->version == 0 ? p[3] : p[65];
  h->bitsPerPlane = h->version == 0 ? 1 : p[3];
  const uint32_t bits = h->planes * h->bitsPerPlane;
  const uint16_t xMin = LoadU16LE(p + 4), yMin = LoadU16LE(p + 6), xMax = LoadU16LE(p + 8), yMax = LoadU16LE(p + 10);
  // Equal bounds are one pixel wide or high.
  if (bits < 1 || bits > 32 || h->encoding > 1 || xMin > xMax || yMin > yMax) return kStatusUnknownFormat;
  h->width = uint32_t{xMax} - xMin + 1;
  h->height = uint32_t{yMax} - yMin + 1;
  h->lineBytes = LoadU16LE(p + 66);
  return kStatusOk;
}

}  // namespace

Status PcxDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  PcxHeader f;
  Status s = ParseHeader(r, &f);
  if (Failed(s)) return s;
  planes_ = f.planes;
  bitsPerPlane_ = f.bitsPerPlane;
  runLength_ = f.encoding == 1;
  if (runLength_) SetStatic(kPropCompression, L"RLE");
  if (!IsSaneImageSize(f.width, f.height)) return kStatusUnsupported;
  h.size = {f.width, f.height};
  h.bitsPerPixel = planes_ * bitsPerPlane_;
  h.model = ColourModel::Rgb;

  uint64_t rowBytes = 0;
  if (bitsPerPlane_ == 1 && planes_ <= 8) {
    rowBytes = (uint64_t{f.width} + 15) / 16 * 16;
  } else if ((bitsPerPlane_ == 4 || bitsPerPlane_ == 8) && planes_ == 1) {
    rowBytes = (uint64_t{f.width} + 1) / 2 * 2;
  } else if (bitsPerPlane_ == 8 && (planes_ == 3 || planes_ == 4)) {
    rowBytes = uint64_t{f.width} * 4;
    h.usesAlpha = planes_ == 4;
  } else {
    return kStatusUnsupported;
  }
  h.minRowBytes = static_cast<uint32_t>(rowBytes);

  // A line must hold the width's pixels; writers that leave the field 0
  // mean the shortest line.
  const uint64_t needed = (uint64_t{f.width} * bitsPerPlane_ + 7) / 8;
  if (f.lineBytes != 0 && f.lineBytes < needed) return kStatusDamaged;
  lineBytes_ = f.lineBytes ? f.lineBytes : static_cast<uint32_t>(needed);

  dataEnd_ = r.Size();
  palette_ = PaletteSource::None;
  h.format = PixelFormat::Rgba8;
  if (h.bitsPerPixel <= 8) {
    h.format = PixelFormat::Indexed8;
    uint8_t marker = 0;
    // The VGA palette's marker must lie after the header, not inside it.
    const bool vga = f.version >= 5 && r.Size() >= kHeaderSize + kVgaPaletteBytes + 1 &&
                     r.U8At(r.Size() - kVgaPaletteBytes - 1, marker) && marker == kVgaMarker;
    if (f.version <= 1) {
      palette_ = PaletteSource::Default;
      h.paletteEntries = 16;
    } else if (vga) {
      palette_ = PaletteSource::Vga;
      h.paletteEntries = 256;
      dataEnd_ = r.Size() - kVgaPaletteBytes - 1;
    } else if (planes_ == 1 && bitsPerPlane_ == 1) {
      palette_ = PaletteSource::BlackWhite;
      h.paletteEntries = 2;
    } else {
      palette_ = PaletteSource::Header;
      h.paletteEntries = 16;
    }
  }
  return kStatusOk;
}

void PcxDecoder::WritePalette(const ByteReader& r, uint32_t* palette) const {
  switch (palette_) {
    case PaletteSource::Default:
      std::memcpy(palette, kDefaultPalette, sizeof kDefaultPalette);
      break;
    case PaletteSource::Vga:
      RgbToRgba8(palette, r.Span(dataEnd_ + 1, kVgaPaletteBytes), 256);
      break;
    case PaletteSource::BlackWhite:
      palette[0] = 0xFF000000;
      palette[1] = 0xFFFFFFFF;
      break;
    case PaletteSource::Header:
      RgbToRgba8(palette, r.Span(16, 48), 16);
      break;
    case PaletteSource::None:
      break;
  }
}

// One file row (every plane's line) into one buffer row of the width.
void PcxDecoder::ConvertRow(uint8_t* dst, const uint8_t* src, uint8_t* compact) const {
  const uint32_t width = Width();
  if (bitsPerPlane_ == 1) {
    // The helper wants planes exactly as long as the width needs.
    const uint32_t planeBytes = (width + 7) / 8;
    if (planeBytes != lineBytes_) {
      for (uint32_t p = 0; p < planes_; ++p) std::memcpy(compact + p * planeBytes, src + p * lineBytes_, planeBytes);
      src = compact;
    }
    PlanesToIndices(dst, src, width, planes_);
  } else if (planes_ == 1) {
    if (bitsPerPlane_ == 4) {
      UnpackBits4(dst, src, (width + 1) / 2);
    } else {
      CopyBytes(dst, src, width);
    }
  } else if (planes_ == 3) {
    PlanarRgbToRgba8(dst, src, width, lineBytes_);
  } else {
    const uint8_t* red = src;
    const uint8_t* green = src + lineBytes_;
    const uint8_t* blue = src + 2 * size_t{lineBytes_};
    const uint8_t* alpha = src + 3 * size_t{lineBytes_};
    for (uint32_t x = 0; x < width; ++x, dst += 4) {
      dst[0] = blue[x];
      dst[1] = green[x];
      dst[2] = red[x];
      dst[3] = alpha[x];
    }
  }
}

Status PcxDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const ByteReader r = Reader();
  if (PaletteView* palette = buffer.AsIndexed8()) WritePalette(r, palette->Palette());
  const uint32_t width = Width(), height = Height();
  const size_t rowSize = size_t{lineBytes_} * planes_;
  std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[2 * rowSize]());
  if (!row) return kStatusOutOfMemory;
  uint8_t* compact = row.get() + rowSize;

  ByteReader in;
  if (!r.Sub(kHeaderSize, dataEnd_ - kHeaderSize, &in)) return kStatusDamaged;
  // A run may go on into the next row: its state outlives the row.
  uint32_t run = 0;
  uint8_t value = 0;
  for (uint32_t y = 0; y < height; ++y) {
    size_t got = 0;
    if (!runLength_) {
      got = static_cast<size_t>(std::min<uint64_t>(rowSize, in.Remaining()));
      std::memcpy(row.get(), in.Take(got), got);
    } else {
      got = std::min<size_t>(run, rowSize);
      std::memset(row.get(), value, got);
      run -= static_cast<uint32_t>(got);
      const uint8_t* p = in.Data() + in.Offset();
      const uint8_t* const end = in.Data() + in.Size();
      while (got < rowSize && p < end) {
        const uint8_t b = *p++;
        if ((b & 0xC0) != 0xC0) {
          row[got++] = b;
          continue;
        }
        if (p == end) break;
        value = *p++;
        // A count of 0 writes nothing.
        const size_t n = std::min<size_t>(b & 0x3Fu, rowSize - got);
        for (size_t i = 0; i < n; ++i) row[got + i] = value;
        got += n;
        run = static_cast<uint32_t>((b & 0x3Fu) - n);
      }
      in.Seek(static_cast<uint64_t>(p - in.Data()));
    }
    if (got == 0) {
      FillMissingRows(buffer, y, height);
      return kStatusOk;
    }
    uint8_t* dst = buffer.Row(y);
    ConvertRow(dst, row.get(), compact);
    // Of a cut row, single-plane pixels whose bits are there are kept.
    uint32_t complete = width;
    if (got < rowSize) complete = planes_ == 1 ? std::min<uint32_t>(width, static_cast<uint32_t>(got * 8 / bitsPerPlane_)) : 0;
    FillMissing(buffer, dst + size_t{complete} * buffer.BytesPerPixel(), width - complete);
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, y + 1, height);
  }
  return kStatusOk;
}

Status ProbePcx(ByteSource& source) {
  PcxHeader h;
  return ParseHeader(ByteReader(source.Data(), source.Size()), &h);
}

ImageDecoder* CreatePcxDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) PcxDecoder(source, entry);
}

void RegisterPcxDecoder() { SetFormatFunctions(L"pcx", ProbePcx, CreatePcxDecoder); }

}  // namespace pv
