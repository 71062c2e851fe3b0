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
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

constexpr uint64_t kMinProbeSize = 14;
constexpr uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kControlLabel = 0xF9, kCommentLabel = 0xFE, kApplicationLabel = 0xFF;
constexpr uint8_t kHasTable = 0x80, kInterlaced = 0x40;
constexpr uint32_t kMaxCodeSize = 11;

// A run of sub-blocks at the reader's position, through its zero-length
// terminator, as a reader of its own; false (and the position kept) when
// the blocks run past the end of the file.
bool TakeSubBlocks(ByteReader& r, ByteReader* blocks) {
  ByteReader walk = r;
  uint8_t n = 0;
  do {
    if (!walk.U8(n) || !walk.Skip(n)) return false;
  } while (n);
  return r.TakeSub(walk.Offset() - r.Offset(), blocks);
}

// The next sub-block of a run; false at the terminator.
bool NextSubBlock(ByteReader& blocks, ByteReader* block) {
  uint8_t n = 0;
  return blocks.U8(n) && n && blocks.TakeSub(n, block);
}

uint32_t TableBytes(uint32_t bits) { return 3u << bits; }

}  // namespace

struct GifDecoder::ControlBlock {
  bool present = false;
  uint8_t flags = 0;
  uint16_t delay = 0;  // hundredths of a second
  uint8_t transparentIndex = 0;

  // Transparency, timing and disposal of the image it stands before.
  void ApplyTo(ImageHeader* header) const {
    const bool transparent = flags & 1;
    if (transparent) header->transparentIndex = transparentIndex;
    header->usesAlpha = transparent;
    FrameFields& f = header->frame;
    // The user-input flag makes the frame wait, which also starts a new page.
    f.delay = (flags & 2) ? kDelayWaitForUser : uint32_t{delay} * 10;
    const uint8_t method = (flags >> 2) & 7;
    f.disposal = method >= 1 && method <= 3 ? method - 1 : 0;
    f.blend = transparent;
  }
};

struct GifDecoder::Screen {
  uint32_t width = 0, height = 0;
  uint32_t bits = 0;  // colour resolution, or the global table's bits when larger
  uint64_t tableOffset = 0;
  uint32_t tableBits = 0;
  uint8_t background = 0;
  uint8_t loop = 0;
};

Status GifDecoder::ReadHeader(uint32_t, ImageHeader& first) {
  ByteReader r = Reader();
  if (!r.StartsWith("GIF", 3)) return kStatusUnknownFormat;
  Screen screen;
  uint16_t width = 0, height = 0;
  uint8_t packed = 0;
  if (!r.Skip(6) || !r.U16LE(width) || !r.U16LE(height) || !r.U8(packed) || !r.U8(screen.background) ||
      !r.Skip(1))
    return kStatusDamaged;
  screen.width = width;
  screen.height = height;
  screen.bits = ((packed >> 4) & 7) + 1;
  if (packed & kHasTable) {
    screen.tableBits = (packed & 7) + 1;
    screen.tableOffset = r.Offset();
    if (!r.Skip(TableBytes(screen.tableBits))) return kStatusDamaged;
    screen.bits = std::max(screen.bits, screen.tableBits);
  }
  SetStatic(kPropCompression, L"LZW");

  ControlBlock control;
  ImageHeader previousHeader;
  Image previous;
  uint32_t images = 0;
  for (bool more = true; more;) {
    uint8_t introducer = 0;
    if (!r.U8(introducer)) break;
    switch (introducer) {
      case kExtension: {
        uint8_t label = 0;
        ByteReader blocks;
        if (!r.U8(label) || !TakeSubBlocks(r, &blocks)) {
          more = false;
          break;
        }
        ReadExtension(label, blocks, &control, &screen);
        break;
      }
      case kImage: {
        if (images == kMaxFrameCount) {
          more = false;
          break;
        }
        ImageHeader header;
        Image image;
        const Status s = ReadImage(r, screen, images ? &previousHeader : nullptr, images ? &previous : nullptr,
                                   &header, &image);
        if (Failed(s)) {
          // A bad image ends the file; the images before it stay.
          if (!images) return s;
          more = false;
          break;
        }
        if (control.present) control.ApplyTo(&header);
        if (!images) {
          image_ = image;
          first = header;
        } else {
          Ref<GifDecoder> next(new (std::nothrow) GifDecoder(*source_, entry_));
          if (!next) return kStatusOutOfMemory;
          next->image_ = image;
          AppendNext(std::move(next), header);
        }
        control = ControlBlock();
        previousHeader = header;
        previous = image;
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
  FrameFields& f = first.frame;
  f.canvasWidth = screen.width;
  f.canvasHeight = screen.height;
  f.loop = screen.loop;
  // A first frame that is transparent where the background is shows no background.
  const bool clearBackground =
      first.transparentIndex >= 0 && (screen.background == 0 || screen.background == first.transparentIndex);
  ByteReader entry;
  uint8_t rgb[3] = {};
  if (screen.tableBits && screen.background < (1u << screen.tableBits) && !clearBackground &&
      r.Sub(screen.tableOffset + 3u * screen.background, 3, &entry) && entry.U8(rgb[0]) && entry.U8(rgb[1]) &&
      entry.U8(rgb[2]))
    f.background = 0xFF000000u | uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
  return kStatusOk;
}

void GifDecoder::ReadExtension(uint8_t label, ByteReader blocks, ControlBlock* control, Screen* screen) {
  if (label == kCommentLabel) return ReadComment(blocks);
  ByteReader first;
  if (!NextSubBlock(blocks, &first)) return;
  if (label == kControlLabel && first.Size() == 4) {
    ControlBlock c;
    c.present = first.U8(c.flags) && first.U16LE(c.delay) && first.U8(c.transparentIndex);
    *control = c;
  } else if (label == kApplicationLabel && first.Size() == 11 && first.StartsWith("NETSCAPE", 8)) {
    // Sub-block 1 of the NETSCAPE block: the loop count after an id byte.
    ByteReader loop;
    uint16_t count = 0;
    if (NextSubBlock(blocks, &loop) && loop.Size() == 3 && loop.Skip(1) && loop.U16LE(count))
      screen->loop = count != 1;
  } else if (label == kApplicationLabel && first.Size() == 11 && first.StartsWith("XMP DataXMP", 11)) {
    // The packet follows as plain bytes (its own bytes serve as sub-block
    // lengths) up to the 258-byte trailer that begins 0x01 0xFF 0xFE.
    const ByteReader rest = blocks.From(blocks.Offset());
    const uint8_t* p = rest.Data();
    uint64_t end = rest.Size();
    for (uint64_t i = 0; i + 2 < rest.Size(); ++i) {
      if (p[i] == 0x01 && p[i + 1] == 0xFF && p[i + 2] == 0xFE) {
        end = i;
        break;
      }
    }
    ByteReader packet;
    if (rest.Sub(0, end, &packet)) ReadXmpPacket(packet, *this);
  }
}

void GifDecoder::ReadComment(ByteReader blocks) {
  if (haveComment_) return;
  uint32_t count = 0;
  ByteReader block, first;
  std::wstring text;
  while (NextSubBlock(blocks, &block)) {
    if (!count++) first = block;
    text += Windows1252ToWide(block.Data(), block.Size());
  }
  if (text.empty()) return;
  haveComment_ = true;
  if (count == 1) {
    SetBorrowed(kPropComment, first.Data(), static_cast<uint32_t>(first.Size()), TextEncoding::Cp1252);
  } else {
    SetText(kPropComment, text.c_str());
  }
}

Status GifDecoder::ReadImage(ByteReader& r, const Screen& screen, const ImageHeader* previousHeader,
                             const Image* previous, ImageHeader* header, Image* image) {
  uint16_t left = 0, top = 0, w = 0, h = 0;
  uint8_t packed = 0;
  if (!r.U16LE(left) || !r.U16LE(top) || !r.U16LE(w) || !r.U16LE(h) || !r.U8(packed)) return kStatusDamaged;
  // A size of 0 keeps the screen's (or, after the first, the previous image's).
  ImageHeader& d = *header;
  d.size.width = w ? w : previousHeader ? previousHeader->size.width : screen.width;
  d.size.height = h ? h : previousHeader ? previousHeader->size.height : screen.height;
  if (!d.size.width || !d.size.height) return kStatusDamaged;
  if (!IsSaneImageSize(d.size.width, d.size.height)) return kStatusUnsupported;
  d.format = PixelFormat::Indexed8;
  d.model = ColourModel::Rgb;
  d.minRows = d.size.height + 1;
  d.frame.left = left;
  d.frame.top = top;
  d.bitsPerPixel = previousHeader ? previousHeader->bitsPerPixel : screen.bits;
  Image& m = *image;
  m.interlaced = packed & kInterlaced;
  // The local table, else the global one, else the previous image's.
  if (previous) {
    m.tableOffset = previous->tableOffset;
    m.tableBits = previous->tableBits;
  }
  if (screen.tableBits) {
    m.tableOffset = screen.tableOffset;
    m.tableBits = screen.tableBits;
  }
  if (packed & kHasTable) {
    m.tableOffset = r.Offset();
    m.tableBits = (packed & 7) + 1;
    if (!r.Skip(TableBytes(m.tableBits))) return kStatusDamaged;
    d.bitsPerPixel = std::max(d.bitsPerPixel, m.tableBits);
  }
  // Without a table the palette is the grey ramp, which leaves no entry free.
  d.paletteEntries = m.tableBits ? 1u << m.tableBits : 256;
  m.dataOffset = r.Offset();
  uint8_t codeSize = 0;
  // Nothing of the image data is in the file.
  if (!r.U8(codeSize)) return kStatusOk;
  if (codeSize < 1 || codeSize > kMaxCodeSize) return kStatusDamaged;
  ByteReader blocks;
  if (!TakeSubBlocks(r, &blocks)) {
    // A truncated last image is shown as far as its data goes.
    r.Seek(r.Size());
  }
  m.dataLength = r.Offset() - m.dataOffset;
  return kStatusOk;
}

void GifDecoder::FillPalette(const ByteReader& r, uint32_t* palette) const {
  ByteReader table;
  if (image_.tableBits && r.Sub(image_.tableOffset, TableBytes(image_.tableBits), &table)) {
    RgbToRgba8(palette, table.Data(), size_t{1} << image_.tableBits);
  } else {
    FillGreyRamp(palette);
  }
  if (Header().transparentIndex >= 0) palette[Header().transparentIndex] &= 0x00FFFFFFu;
}

Status GifDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink*, const CancelFlag* cancel) {
  PaletteView* view = buffer.AsIndexed8();
  if (!view) return kStatusColourFormat;
  const ByteReader r = Reader();
  FillPalette(r, view->Palette());
  const uint32_t width = Width(), height = Height();
  const size_t pixels = size_t{width} * height;
  std::unique_ptr<uint8_t[]> block;
  uint8_t* out = buffer.Pixels();
  const bool passes = image_.interlaced && height > 2;
  if (passes) {
    block.reset(new (std::nothrow) uint8_t[pixels + 4]);
    if (!block) return kStatusOutOfMemory;
    out = block.get();
  }
  ByteReader data;
  if (!r.Sub(image_.dataOffset, image_.dataLength, &data)) return kStatusDamaged;
  const LzwResult result = LzwDecode(out, pixels, data.Data(), static_cast<size_t>(data.Size()));
  FillMissing(buffer, out + result.written, pixels - result.written);
  if (IsCancelled(cancel)) return kStatusOk;
  if (!passes) {
    RelayoutRows(out, out, buffer.RowBytes(), width, height);
    return kStatusOk;
  }
  // Interlaced rows come as every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
  static constexpr uint32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const uint8_t* src = out;
  for (uint32_t p = 0; p < 4; ++p) {
    for (uint32_t y = kStart[p]; y < height; y += kStep[p], src += width) std::memcpy(buffer.Row(y), src, width);
  }
  return kStatusOk;
}

Status ProbeGif(ByteSource& source) {
  const ByteReader r(source.Data(), source.Size());
  return r.Size() >= kMinProbeSize && r.StartsWith("GIF", 3) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateGifDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) GifDecoder(source, entry);
}

void RegisterGifDecoder() { SetFormatFunctions(L"gif", ProbeGif, CreateGifDecoder); }

}  // namespace pv
