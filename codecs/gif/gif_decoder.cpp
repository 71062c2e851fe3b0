#include "codecs/gif/gif_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/lzw.h"
#include "core/checked_math.h"
#include "core/row_helpers.h"
#include "core/text.h"

namespace pv {

namespace {

constexpr uint64_t kHeaderSize = 13;
constexpr uint64_t kMinProbeSize = 14;
constexpr uint64_t kDescriptorSize = 10;  // introducer included
constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kControlLabel = 0xF9, kCommentLabel = 0xFE, kApplicationLabel = 0xFF;
constexpr uint8_t kHasTable = 0x80, kInterlaced = 0x40;
constexpr uint32_t kMaxCodeSize = 11;
// The palette entry a new buffer presets to transparent black.
constexpr uint8_t kTransparentEntry = 253;

// Moves pos past a run of sub-blocks and its zero-length terminator; false
// when the blocks run past the end of the file.
bool SkipSubBlocks(const ByteReader& r, uint64_t* pos) {
  uint64_t p = *pos;
  for (;;) {
    uint8_t n = 0;
    if (!r.U8At(p++, n)) return false;
    if (n == 0) break;
    if (n > r.Size() - p) return false;
    p += n;
  }
  *pos = p;
  return true;
}

uint32_t TableBytes(uint32_t bits) { return 3u << bits; }

}  // namespace

struct GifDecoder::ControlBlock {
  bool present = false;
  uint8_t flags = 0;
  uint16_t delay = 0;  // hundredths of a second
  uint8_t transparentIndex = 0;
};

struct GifDecoder::Screen {
  uint32_t width = 0, height = 0;
  uint64_t tableOffset = 0;
  uint32_t tableBits = 0;
  uint8_t background = 0;
  uint8_t loop = 0;
};

Status GifDecoder::ReadHeader(uint32_t) {
  const ByteReader r = Reader();
  const uint8_t* signature = r.Span(0, 3);
  if (!signature || std::memcmp(signature, "GIF", 3) != 0) return kStatusUnknownFormat;
  const uint8_t* head = r.Span(0, kHeaderSize);
  if (!head) return kStatusDamaged;
  Screen screen;
  screen.width = LoadU16LE(head + 6);
  screen.height = LoadU16LE(head + 8);
  screen.background = head[11];
  const uint8_t packed = head[10];
  bitsPerPixel_ = ((packed >> 4) & 7) + 1;
  uint64_t pos = kHeaderSize;
  if (packed & kHasTable) {
    screen.tableBits = (packed & 7) + 1;
    screen.tableOffset = pos;
    if (!r.Span(pos, TableBytes(screen.tableBits))) return kStatusDamaged;
    pos += TableBytes(screen.tableBits);
    bitsPerPixel_ = std::max(bitsPerPixel_, screen.tableBits);
  }
  SetStatic(kPropCompression, L"LZW");

  ControlBlock control;
  GifDecoder* last = nullptr;
  uint32_t images = 0;
  for (bool more = true; more;) {
    uint8_t introducer = 0;
    if (!r.U8At(pos, introducer)) break;
    switch (introducer) {
      case kExtension: {
        // The first sub-block says what the extension is; the rest carry its data.
        uint8_t label = 0, size = 0;
        const uint64_t block = pos + 2;
        uint64_t end = block;
        const uint8_t* data = r.U8At(pos + 1, label) && r.U8At(block, size) ? r.Span(block + 1, size) : nullptr;
        if (!data || !SkipSubBlocks(r, &end)) {
          more = false;
          break;
        }
        if (label == kControlLabel && size == 4) {
          control = {true, data[0], LoadU16LE(data + 1), data[3]};
        } else if (label == kCommentLabel) {
          ReadComment(r, block, end);
        } else if (label == kApplicationLabel && size == 11 && std::memcmp(data, "NETSCAPE", 8) == 0) {
          uint8_t n = 0;
          const uint8_t* loop = r.U8At(block + 12, n) && n == 3 ? r.Span(block + 13, 3) : nullptr;
          if (loop) screen.loop = LoadU16LE(loop + 1) != 1;
        }
        pos = end;
        break;
      }
      case kImage: {
        if (images == kMaxFrameCount) {
          more = false;
          break;
        }
        Ref<GifDecoder> created;
        GifDecoder* d = this;
        if (images) {
          created = Ref<GifDecoder>(new (std::nothrow) GifDecoder(*source_, entry_));
          if (!created) return kStatusOutOfMemory;
          d = created.get();
        }
        const Status s = d->ReadImage(r, screen, last, &pos);
        if (Failed(s)) {
          // A bad image ends the file; the images before it stay.
          if (!images) return s;
          more = false;
          break;
        }
        if (control.present) d->ApplyControl(control);
        if (!last) {
          // A first frame that is transparent where the background is shows no background.
          const bool clearBackground =
              transparent_ && (screen.background == 0 || screen.background == transparentIndex_);
          if (screen.tableBits && screen.background < (1u << screen.tableBits) && !clearBackground) {
            const uint8_t* rgb = r.Span(screen.tableOffset + 3u * screen.background, 3);
            frame_.background = 0xFF000000u | uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
          }
        } else {
          d->frame_.background = frame_.background;
          last->next_ = Ref<ImageDecoder>(created.Detach());
        }
        control = ControlBlock();
        last = d;
        ++images;
        break;
      }
      case kTrailer:
      case 0:
        more = false;
        break;
      default:
        // Bytes that are no block: the images before them stay.
        if (!images) return kStatusDamaged;
        more = false;
    }
  }
  if (!images) return kStatusDamaged;
  // The loop flag belongs to the whole file, wherever its block stands.
  for (GifDecoder* d = this; d; d = static_cast<GifDecoder*>(d->next_.get())) d->frame_.loop = screen.loop;
  return kStatusOk;
}

Status GifDecoder::ReadImage(const ByteReader& r, const Screen& screen, const GifDecoder* previous,
                             uint64_t* pos) {
  const uint8_t* desc = r.Span(*pos + 1, kDescriptorSize - 1);
  if (!desc) return kStatusDamaged;
  const uint8_t packed = desc[8];
  const uint32_t w = LoadU16LE(desc + 4), h = LoadU16LE(desc + 6);
  // A size of 0 keeps the screen's (or, after the first, the previous image's).
  width_ = w ? w : previous ? previous->width_ : screen.width;
  height_ = h ? h : previous ? previous->height_ : screen.height;
  if (!width_ || !height_) return kStatusDamaged;
  if (!IsSaneImageSize(width_, height_)) return kStatusUnsupported;
  pixelFormat_ = PixelFormat::Indexed8;
  colourModel_ = ColourModel::Rgb;
  minRows_ = height_ + 1;
  frame_.canvasWidth = screen.width;
  frame_.canvasHeight = screen.height;
  frame_.left = LoadU16LE(desc);
  frame_.top = LoadU16LE(desc + 2);
  interlaced_ = packed & kInterlaced;
  if (previous) {
    bitsPerPixel_ = previous->bitsPerPixel_;
    tableOffset_ = previous->tableOffset_;
    tableBits_ = previous->tableBits_;
  }
  if (screen.tableBits) {
    tableOffset_ = screen.tableOffset;
    tableBits_ = screen.tableBits;
  }
  uint64_t data = *pos + kDescriptorSize;
  if (packed & kHasTable) {
    tableOffset_ = data;
    tableBits_ = (packed & 7) + 1;
    if (!r.Span(data, TableBytes(tableBits_))) return kStatusDamaged;
    data += TableBytes(tableBits_);
    bitsPerPixel_ = std::max(bitsPerPixel_, tableBits_);
  }
  dataOffset_ = data;
  uint8_t codeSize = 0;
  if (!r.U8At(data, codeSize)) {
    // Nothing of the image data is in the file.
    dataLength_ = 0;
    *pos = r.Size();
    return kStatusOk;
  }
  if (codeSize < 1 || codeSize > kMaxCodeSize) return kStatusDamaged;
  uint64_t end = data + 1;
  if (SkipSubBlocks(r, &end)) {
    dataLength_ = end - data;
    *pos = end;
  } else {
    // A truncated last image is shown as far as its data goes.
    dataLength_ = r.Size() - data;
    *pos = r.Size();
  }
  return kStatusOk;
}

void GifDecoder::ApplyControl(const ControlBlock& control) {
  transparent_ = control.flags & 1;
  transparentIndex_ = control.transparentIndex;
  usesAlpha_ = transparent_;
  // The user-input flag makes the frame wait, which also starts a new page.
  frame_.delay = (control.flags & 2) ? kDelayWaitForUser : uint32_t{control.delay} * 10;
  const uint8_t method = (control.flags >> 2) & 7;
  frame_.disposal = method >= 1 && method <= 3 ? method - 1 : 0;
  frame_.blend = transparent_;
}

void GifDecoder::ReadComment(const ByteReader& r, uint64_t pos, uint64_t end) {
  if (haveComment_) return;
  // The blocks between pos and end were checked by the walk.
  uint32_t blocks = 0;
  uint64_t total = 0;
  const uint8_t* first = nullptr;
  std::wstring text;
  for (uint64_t p = pos; p + 1 < end;) {
    uint8_t n = 0;
    r.U8At(p, n);
    const uint8_t* bytes = r.Span(p + 1, n);
    if (!n || !bytes) break;
    if (!blocks++) first = bytes;
    text += Windows1252ToWide(bytes, n);
    total += n;
    p += 1 + n;
  }
  if (!total) return;
  haveComment_ = true;
  if (blocks == 1) {
    SetBorrowed(kPropComment, first, static_cast<uint32_t>(total), TextEncoding::Cp1252);
  } else {
    SetText(kPropComment, text.c_str());
  }
}

void GifDecoder::FillPalette(const ByteReader& r, uint32_t* palette) const {
  const uint8_t* table = tableBits_ ? r.Span(tableOffset_, TableBytes(tableBits_)) : nullptr;
  if (table) {
    RgbToRgba8(palette, table, size_t{1} << tableBits_);
  } else {
    FillGreyRamp(palette);
  }
  if (transparent_) palette[transparentIndex_] &= 0x00FFFFFFu;
}

Status GifDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink*, const CancelFlag* cancel) {
  PaletteView* view = buffer.AsIndexed8();
  if (!view) return kStatusColourFormat;
  const ByteReader r = Reader();
  FillPalette(r, view->Palette());
  // Pixels the data never reaches: the frame's transparent index, else the
  // preset transparent black entry when the table leaves it free.
  const bool freeEntry = tableBits_ && (1u << tableBits_) <= kTransparentEntry;
  const uint8_t missing = transparent_ ? transparentIndex_ : freeEntry ? kTransparentEntry : 0;
  const size_t pixels = size_t{width_} * height_;
  std::unique_ptr<uint8_t[]> block;
  uint8_t* out = buffer.Pixels();
  const bool passes = interlaced_ && height_ > 2;
  if (passes) {
    block.reset(new (std::nothrow) uint8_t[pixels + 4]);
    if (!block) return kStatusOutOfMemory;
    out = block.get();
  }
  const LzwResult result = LzwDecode(out, pixels, r.Span(dataOffset_, dataLength_), dataLength_);
  if (result.written < pixels) {
    std::memset(out + result.written, missing, pixels - result.written);
    if (transparent_ || freeEntry) usesAlpha_ = 1;
  }
  if (IsCancelled(cancel)) return kStatusOk;
  if (!passes) {
    RelayoutRows(out, out, buffer.RowBytes(), width_, height_);
    return kStatusOk;
  }
  // Interlaced rows come as every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
  static constexpr uint32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const uint8_t* src = out;
  for (uint32_t p = 0; p < 4; ++p) {
    for (uint32_t y = kStart[p]; y < height_; y += kStep[p], src += width_) std::memcpy(buffer.Row(y), src, width_);
  }
  return kStatusOk;
}

Status ProbeGif(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  const uint8_t* signature = r.Size() >= kMinProbeSize ? r.Span(0, 3) : nullptr;
  return signature && std::memcmp(signature, "GIF", 3) == 0 ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateGifDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) GifDecoder(source, entry);
}

void RegisterGifDecoder() { SetFormatFunctions(L"gif", ProbeGif, CreateGifDecoder); }

}  // namespace pv
