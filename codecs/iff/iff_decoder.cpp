#include "codecs/iff/iff_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/packbits.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

constexpr uint64_t kMinSize = 40;
constexpr uint32_t kHalfBrite = 0x80, kHoldAndModify = 0x800;

bool IsIff(const ByteReader& r) {
  ByteReader type;
  return r.Size() >= kMinSize && r.StartsWith("FORM", 4) && r.Sub(8, 4, &type) &&
         (type.StartsWith("ILBM", 4) || type.StartsWith("PBM ", 4));
}

bool IsChunk(const uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

// Halves B, G and R of an 0xAARRGGBB entry, keeping alpha.
uint32_t HalfBrite(uint32_t c) { return (c & 0xFF000000u) | ((c >> 1) & 0x7F7F7F); }

}  // namespace

Status IffDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!IsIff(r)) return kStatusUnknownFormat;
  pbm_ = r.Span(8, 4)[0] == 'P';
  ByteReader bmhd;
  bool hasBmhd = false, hasBody = false;
  uint32_t mode = 0;
  // Chunks run to the end of the file; one that overruns it is cut there.
  for (uint64_t at = 12; at + 8 <= r.Size();) {
    const uint8_t* id = r.Span(at, 4);
    uint32_t size = 0;
    static_cast<void>(r.U32BEAt(at + 4, size));
    ByteReader chunk;
    static_cast<void>(r.Sub(at + 8, std::min<uint64_t>(size, r.Size() - at - 8), &chunk));
    const uint64_t offset = at + 8;
    at = offset + size + (size & 1);
    if (IsChunk(id, "BMHD")) {
      bmhd = chunk;
      hasBmhd = true;
    } else if (IsChunk(id, "CAMG")) {
      static_cast<void>(chunk.U32BEAt(0, mode));
    } else if (IsChunk(id, "CMAP") && hasBmhd) {
      hasMap_ = true;
      mapOffset_ = offset;
      mapEntries_ = chunk.Size() / 3;
    } else if (IsChunk(id, "TEXT") && chunk.Size() && !Has(kPropComment)) {
      SetBorrowed(kPropComment, chunk.Data(), static_cast<uint32_t>(std::min<uint64_t>(chunk.Size(), 65535)),
                  TextEncoding::Cp1252);
    } else if (IsChunk(id, "BODY")) {
      hasBody = true;
      bodyOffset_ = offset;
      bodySize_ = chunk.Size();
    }
  }
  uint16_t width = 0, height = 0, transparent = 0;
  uint8_t planes = 0, masking = 0, compression = 0;
  if (!hasBmhd || !hasBody) return kStatusDamaged;
  if (!bmhd.U16BEAt(0, width) || !bmhd.U16BEAt(2, height) || !bmhd.U8At(8, planes) || !bmhd.U8At(9, masking) ||
      !bmhd.U8At(10, compression) || !bmhd.U16BEAt(12, transparent))
    return kStatusDamaged;
  if (planes == 0 || (planes > 8 && planes != 24)) return kStatusUnsupported;
  if (compression > 1) return kStatusUnsupported;
  if (!width || !height) return kStatusUnknownFormat;
  if (!IsSaneImageSize(width, height)) return kStatusUnsupported;
  packed_ = compression == 1;
  if (packed_) SetStatic(kPropCompression, L"RLE");
  planes_ = planes;
  ham_ = (mode & kHoldAndModify) && planes <= 8;
  halfBrite_ = (mode & kHalfBrite) && !ham_ && planes >= 2 && planes <= 8;
  transparent_ = masking == 2 && transparent < 256 ? transparent : -1;
  // ILBM plane rows are whole 16-bit words; PBM rows an even number of bytes.
  paddedWidth_ = pbm_ ? (width + 1u) & ~1u : (width + 15u) & ~15u;
  if (pbm_) {
    rowBytes_ = uint64_t{paddedWidth_} * (planes == 24 ? 3 : 1);
  } else {
    rowBytes_ = uint64_t{paddedWidth_} / 8 * (planes + (masking == 1 ? 1 : 0));
  }
  const uint32_t fullPalette = planes <= 8 ? 1u << planes : 0;
  paletteSize_ = ham_ ? (planes <= 6 ? 16 : 64) : fullPalette;

  h.size = {width, height};
  h.bitsPerPixel = planes;
  h.model = ColourModel::Rgb;
  h.usesAlpha = planes <= 8;
  if (planes <= 8 && !ham_) {
    h.format = PixelFormat::Indexed8;
    // Entries the file gives: the colour map's, and the darker half after it.
    const uint64_t given = halfBrite_ ? 2 * std::min<uint64_t>(mapEntries_, fullPalette / 2) : mapEntries_;
    h.paletteEntries = static_cast<uint32_t>(hasMap_ ? std::min<uint64_t>(given, fullPalette) : fullPalette);
    h.transparentIndex = transparent_;
    h.minRowBytes = paddedWidth_;
  } else {
    h.format = PixelFormat::Rgba8;
    h.minRowBytes = paddedWidth_ * 4;
  }
  return kStatusOk;
}

void IffDecoder::ReadPalette(uint32_t* palette, uint32_t count) const {
  if (!hasMap_) {
    // Without a colour map the indices are grey levels.
    for (uint32_t i = 0; i < count; ++i) palette[i] = 0xFF000000u | (i * 255 / (count - 1 ? count - 1 : 1)) * 0x010101u;
    return;
  }
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, mapEntries_));
  ByteReader map;
  if (n && Reader().Sub(mapOffset_, uint64_t{n} * 3, &map)) RgbToRgba8(palette, map.Data(), n);
}

void IffDecoder::DecodeRow(const uint8_t* src, uint8_t* dst, uint8_t* scratch, const uint32_t* palette) const {
  const uint32_t width = Width();
  const uint64_t planeRow = paddedWidth_ / 8;
  if (planes_ == 24) {
    const uint8_t* rgb = src;
    if (!pbm_) {
      // Planes 0-7 are red (plane 0 the least significant bit), 8-15 green, 16-23 blue.
      for (uint32_t k = 0; k < 3; ++k)
        PlanesToIndices(scratch + k * paddedWidth_, src + k * 8 * planeRow, paddedWidth_, 8);
      for (uint32_t x = 0; x < width; ++x) {
        dst[4 * x] = scratch[2 * paddedWidth_ + x];
        dst[4 * x + 1] = scratch[paddedWidth_ + x];
        dst[4 * x + 2] = scratch[x];
        dst[4 * x + 3] = 255;
      }
      return;
    }
    for (uint32_t x = 0; x < width; ++x, rgb += 3)
      StoreU32LE(dst + 4 * x, 0xFF000000u | (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]);
    return;
  }
  uint8_t* indices = ham_ ? scratch : dst;
  if (pbm_) {
    std::memcpy(indices, src, width);
  } else {
    PlanesToIndices(indices, src, paddedWidth_, planes_);
  }
  if (!ham_) return;
  // Hold-and-modify: the top two bits say whether the rest picks a palette
  // entry or replaces one channel of the colour on the left. Values are cut
  // to the planes there are, so they never pick past the palette.
  const bool ham8 = planes_ > 6;
  const uint32_t valueMask = (1u << planes_) - 1, low = ham8 ? 6 : 4, lowMask = (1u << low) - 1;
  uint32_t colour = palette[0];
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t v = indices[x] & valueMask;
    uint32_t c = v & lowMask;
    const uint32_t t = (v >> low) & 3;
    if (t == 0) {
      colour = palette[c];
    } else {
      c = ham8 ? (c << 2) | (c >> 4) : c * 17;
      const uint32_t shift = t == 1 ? 0 : t == 2 ? 16 : 8;  // blue, red, green
      colour = (colour & ~(0xFFu << shift)) | (c << shift);
    }
    StoreU32LE(dst + 4 * x, colour);
  }
}

Status IffDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const uint32_t height = Height();
  uint32_t palette[256] = {};
  if (paletteSize_) {
    ReadPalette(palette, halfBrite_ ? paletteSize_ / 2 : paletteSize_);
    if (halfBrite_) {
      for (uint32_t i = paletteSize_ / 2; i < paletteSize_; ++i) palette[i] = HalfBrite(palette[i - paletteSize_ / 2]);
    }
    if (transparent_ >= 0) palette[transparent_] &= 0x00FFFFFFu;
  }
  if (PaletteView* view = buffer.AsIndexed8()) {
    const uint32_t given = Header().paletteEntries;
    std::memcpy(view->Palette(), palette, size_t{given} * 4);
    if (transparent_ >= 0) view->Palette()[transparent_] &= 0x00FFFFFFu;
  }

  ByteReader body;
  static_cast<void>(Reader().Sub(bodyOffset_, bodySize_, &body));
  const uint8_t* data = body.Data();
  uint64_t available = body.Size();
  std::unique_ptr<uint8_t[]> expanded;
  if (packed_) {
    // ByteRun1 expands at most 128 times, so the block never outgrows what the body can fill.
    const uint64_t block = std::min(rowBytes_ * height, body.Size() * 128);
    expanded.reset(new (std::nothrow) uint8_t[block ? block : 1]);
    if (!expanded) return kStatusOutOfMemory;
    available = ExpandPackBits(body, expanded.get(), block);
    data = expanded.get();
    if (progress) progress->Progress(62, 100);
  }
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size_t{paddedWidth_} * 3]);
  if (!scratch) return kStatusOutOfMemory;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = buffer.Row(y);
    if ((uint64_t{y} + 1) * rowBytes_ <= available) {
      DecodeRow(data + y * rowBytes_, dst, scratch.get(), palette);
    } else {
      FillMissing(buffer, dst, Width());
    }
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, y + 1, height);
  }
  return kStatusOk;
}

Status ProbeIff(ByteSource& source) {
  return IsIff(ByteReader(source.Data(), source.Size())) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateIffDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) IffDecoder(source, entry);
}

void RegisterIffDecoder() {
  SetFormatFunctions(L"iff", ProbeIff, CreateIffDecoder);
  SetFormatFunctions(L"lbm", ProbeIff, CreateIffDecoder);
  SetFormatFunctions(L"bbm", ProbeIff, CreateIffDecoder);
}

}  // namespace pv
