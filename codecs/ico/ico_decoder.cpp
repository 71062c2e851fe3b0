#include "codecs/ico/ico_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/png/png_decoder.h"
#include "core/checked_math.h"
#include "core/path_name.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

constexpr uint64_t kDirectoryHeader = 6;
constexpr uint64_t kEntrySize = 16;
constexpr uint64_t kInfoHeaderSize = 40;
constexpr uint64_t kMinProbeSize = 62;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kTransparentWhite = 0x00FFFFFF;

// Colour and mask rows are padded to whole 32-bit units.
uint64_t PaddedRowBytes(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// Reserved 0, type icon (1) or cursor (2), at least one entry.
bool PlausibleDirectory(const ByteReader& r, uint16_t* count) {
  uint16_t reserved = 1, type = 0;
  return r.U16LEAt(0, reserved) && r.U16LEAt(2, type) && r.U16LEAt(4, *count) && reserved == 0 &&
         (type == 1 || type == 2) && *count >= 1;
}

// The pixel and mask bit of (x) in a row of 1-bit mask data.
bool MaskBit(const uint8_t* mask, uint32_t x) { return mask && (mask[x >> 3] & (0x80 >> (x & 7))); }

}  // namespace

Status IcoDecoder::ReadRendition(const ByteReader& r, uint64_t offset, uint64_t end, Rendition* out) const {
  ByteReader data;
  if (!r.Sub(offset, end - offset, &data)) return kStatusDamaged;
  out->info = offset;
  out->end = end;
  ImageHeader& h = out->header;
  if (data.StartsWith(kPngSignature, sizeof kPngSignature)) {
    Ref<ByteSource> png(new (std::nothrow) MemorySource(data.Data(), static_cast<uint32_t>(std::min<uint64_t>(data.Size(), UINT32_MAX))));
    if (!png) return kStatusOutOfMemory;
    out->png = Ref<ImageDecoder>(CreatePngDecoder(*png, entry_));
    if (!out->png) return kStatusOutOfMemory;
    Status s = out->png->Open(0);
    if (Failed(s)) return s;
    h = out->png->Header();
    h.frame = FrameFields();
  } else {
    uint32_t headerSize = 0, width = 0, height = 0, compression = 0;
    uint16_t planes = 0, bits = 0;
    if (!data.U32LEAt(0, headerSize) || headerSize < kInfoHeaderSize || headerSize > data.Size() ||
        !data.U32LEAt(4, width) || !data.U32LEAt(8, height) || !data.U16LEAt(12, planes) ||
        !data.U16LEAt(14, bits) || !data.U32LEAt(16, compression))
      return kStatusDamaged;
    // The height counts colour and mask rows together.
    const int64_t w = static_cast<int32_t>(width), rows = static_cast<int32_t>(height) / 2;
    if (planes != 1 || compression != 0 || w <= 0 || rows <= 0) return kStatusUnsupported;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return kStatusUnsupported;
    if (!IsSaneImageSize(static_cast<uint64_t>(w), static_cast<uint64_t>(rows))) return kStatusUnsupported;
    out->headerSize = headerSize;
    h.size = {static_cast<uint32_t>(w), static_cast<uint32_t>(rows)};
    h.bitsPerPixel = bits;
    h.model = ColourModel::Rgb;
    h.usesAlpha = 1;
    if (bits <= 8) {
      h.format = PixelFormat::Indexed8;
      // Whole padded rows, so the unpacking helpers may fill their last byte.
      h.minRowBytes = static_cast<uint32_t>(PaddedRowBytes(h.size.width, bits) * 8 / bits);
      h.paletteEntries = 1u << bits;
      // Fewer than 256 colours leave the first index past the table free for the mask.
      if (bits < 8) h.transparentIndex = 1 << bits;
    } else {
      h.format = PixelFormat::Rgba8;
      h.minRowBytes = h.size.width * 4;
    }
  }
  // Every rendition is a page of its own.
  h.frame.delay = kDelayWaitForUser;
  return kStatusOk;
}

Status IcoDecoder::ReadHeader(uint32_t, ImageHeader& header) {
  const ByteReader r = Reader();
  uint16_t count = 0;
  if (!PlausibleDirectory(r, &count)) return kStatusUnknownFormat;

  std::vector<Rendition> renditions;
  size_t best = SIZE_MAX;
  ImageSize bestSize;
  uint32_t bestBits = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bytes = 0, offset = 0;
    // The directory ends at the first entry whose record or data the file cannot hold.
    if (!r.U32LEAt(kDirectoryHeader + i * kEntrySize + 8, bytes) ||
        !r.U32LEAt(kDirectoryHeader + i * kEntrySize + 12, offset) || uint64_t{offset} + kInfoHeaderSize > r.Size())
      break;
    // A byte count that cannot hold a header, or that runs past the file, is
    // not to be trusted: the data then runs to the end of the file.
    uint64_t end = uint64_t{offset} + bytes;
    if (bytes < kInfoHeaderSize || end > r.Size()) end = r.Size();
    Rendition rendition;
    Status s = ReadRendition(r, offset, end, &rendition);
    if (s == kStatusOutOfMemory) return s;
    if (Failed(s)) continue;
    const ImageSize size = rendition.header.size;
    const uint32_t bits = rendition.header.bitsPerPixel;
    // A PNG must exceed the best in every respect; a bitmap need only equal
    // it, so that of equal bitmaps the later one wins.
    const bool wins = rendition.png ? size.width > bestSize.width && size.height > bestSize.height && bits > bestBits
                                    : size.width >= bestSize.width && size.height >= bestSize.height && bits >= bestBits;
    if (wins) {
      best = renditions.size();
      bestSize = size;
      bestBits = bits;
    }
    renditions.push_back(std::move(rendition));
    if (renditions.size() >= kMaxFrameCount) break;
  }
  if (best == SIZE_MAX) return kStatusUnknownFormat;

  rendition_ = std::move(renditions[best]);
  header = rendition_.header;
  if (rendition_.png) SetStatic(kPropCompression, L"PNG/Inflate");
  for (size_t i = 0; i < renditions.size(); ++i) {
    if (i == best) continue;
    Ref<IcoDecoder> next(new (std::nothrow) IcoDecoder(*source_, entry_));
    if (!next) return kStatusOutOfMemory;
    next->rendition_ = std::move(renditions[i]);
    const ImageHeader nextHeader = next->rendition_.header;
    AppendNext(std::move(next), nextHeader);
  }
  return kStatusOk;
}

Status IcoDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  if (!rendition_.png) return DecodeBitmap(buffer, progress, cancel);
  Status s = rendition_.png->Decode(buffer, false, progress, cancel);
  // The PNG decoder has already turned its colour model into RGB or grey.
  SetDecodedModel(ColourModel::Rgb);
  if (buffer.UsesAlpha()) FoundAlpha();
  return s;
}

Status IcoDecoder::DecodeBitmap(ImageBuffer& buffer, ProgressSink* progress, const CancelFlag* cancel) {
  const ByteReader r = Reader();
  ByteReader data;
  if (!r.Sub(rendition_.info, rendition_.end - rendition_.info, &data)) return kStatusDamaged;
  const uint32_t width = Width(), height = Height(), bits = BitsPerPixel();
  uint64_t pixels = rendition_.headerSize;
  if (PaletteView* view = buffer.AsIndexed8()) {
    // Entries the rendition's bytes cut short are left out.
    const uint64_t entries = std::min<uint64_t>(uint64_t{1} << bits, (data.Size() - pixels) / 4);
    uint32_t* palette = view->Palette();
    for (uint64_t i = 0; i < entries; ++i) {
      const uint8_t* e = data.Span(pixels + 4 * i, 4);
      palette[i] = 0xFF000000u | uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0];
    }
    pixels += uint64_t{4} << bits;
  }
  const uint64_t rowBytes = PaddedRowBytes(width, bits);
  const uint64_t need = (uint64_t{width} * bits + 7) / 8;
  for (uint32_t fileRow = 0; fileRow < height; ++fileRow) {
    uint8_t* dst = buffer.Row(height - 1 - fileRow);
    const uint8_t* src = data.Span(pixels + fileRow * rowBytes, need);
    if (!src) {
      FillMissing(buffer, dst, width);
    } else if (bits == 1) {
      UnpackBits1(dst, src, need);
    } else if (bits == 4) {
      UnpackBits4(dst, src, need);
    } else if (bits == 24) {
      BgrToRgba8(dst, src, width);
    } else {
      CopyBytes(dst, src, size_t{width} * buffer.BytesPerPixel());
    }
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, fileRow + 1, height);
  }
  ApplyMask(buffer, data, pixels + rowBytes * height);
  return kStatusOk;
}

// Mask bit 1 makes a pixel transparent. A mask the rendition's bytes cut
// short leaves its pixels opaque.
void IcoDecoder::ApplyMask(ImageBuffer& buffer, const ByteReader& data, uint64_t maskOffset) {
  const uint32_t width = Width(), height = Height(), bits = BitsPerPixel();
  const uint64_t maskRow = PaddedRowBytes(width, 1);
  auto mask = [&](uint32_t y) { return data.Span(maskOffset + (height - 1 - y) * maskRow, (width + 7) / 8); };
  if (bits == 32) {
    // Alpha from the file wins; where every pixel has alpha 0, the file
    // gave none, and the mask says what is transparent.
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* row = buffer.Row(y);
      for (uint32_t x = 0; x < width; ++x) {
        if (row[4 * x + 3]) return;
      }
    }
  }
  if (bits >= 24) {
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* m = mask(y);
      uint8_t* row = buffer.Row(y);
      for (uint32_t x = 0; x < width; ++x) row[4 * x + 3] = MaskBit(m, x) ? 0 : 255;
    }
    return;
  }
  // Palette images: the transparent index is the one past a short table,
  // else the highest index that no opaque pixel uses.
  int32_t transparent = Header().transparentIndex;
  if (transparent < 0) {
    bool used[256] = {};
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* m = mask(y);
      const uint8_t* row = buffer.Row(y);
      for (uint32_t x = 0; x < width; ++x) {
        if (!MaskBit(m, x)) used[row[x]] = true;
      }
    }
    for (int32_t i = 255; i >= 0 && transparent < 0; --i) {
      if (!used[i]) transparent = i;
    }
    // Every index in use: the picture stays opaque.
    if (transparent < 0) return;
  }
  buffer.Palette()[transparent] = kTransparentWhite;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* m = mask(y);
    uint8_t* row = buffer.Row(y);
    for (uint32_t x = 0; x < width; ++x) {
      if (MaskBit(m, x)) row[x] = static_cast<uint8_t>(transparent);
    }
  }
}

Status ProbeIco(ByteSource& source) {
  const wchar_t* path = source.Path();
  if (!path || !(PathEndsWithNoCase(path, L".ico") || PathEndsWithNoCase(path, L".cur"))) return kStatusUnknownFormat;
  const ByteReader r(source.Data(), source.Size());
  uint16_t count = 0;
  if (r.Size() < kMinProbeSize || !PlausibleDirectory(r, &count) || count > 99) return kStatusUnknownFormat;
  return kStatusOk;
}

ImageDecoder* CreateIcoDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) IcoDecoder(source, entry);
}

void RegisterIcoDecoder() {
  SetFormatFunctions(L"ico", ProbeIco, CreateIcoDecoder);
  SetFormatFunctions(L"cur", ProbeIco, CreateIcoDecoder);
}

}  // namespace pv
