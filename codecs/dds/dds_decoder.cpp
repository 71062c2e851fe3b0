#include "codecs/dds/dds_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "core/checked_math.h"

namespace pv {

namespace {

constexpr uint64_t kMinSize = 128;
constexpr uint32_t kAlphaPixels = 0x1, kFourCc = 0x4, kPitchGiven = 0x8, kRgb = 0x40, kPremultiplied = 0x8000;
constexpr uint32_t kTextureCap = 0x1000;

constexpr uint32_t FourCc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
         (uint32_t(uint8_t(s[3])) << 24);
}

bool HasMagic(const ByteReader& r) { return r.Size() >= kMinSize && r.StartsWith("DDS ", 4); }

// One colour field of an RGB pixel scaled to 0-255. A mask of 0 has no
// field: colour channels read 0 and alpha is opaque. All 32 bits is a
// field of its own, so the arithmetic is 64-bit.
struct Field {
  uint32_t shift = 0;
  uint64_t max = 0;
  uint8_t absent = 0;

  Field(uint32_t mask, uint8_t whenAbsent) : absent(whenAbsent) {
    if (!mask) return;
    shift = static_cast<uint32_t>(std::countr_zero(mask));
    max = (uint64_t{1} << std::popcount(mask)) - 1;
  }
  uint8_t Scale(uint32_t pixel) const {
    if (!max) return absent;
    return static_cast<uint8_t>(((pixel >> shift) & max) * 255 / max);
  }
};

// The two RGB565 endpoints of a colour block expanded with rounding, and
// the two colours between them (or the midpoint and transparent black).
void BlockColours(uint16_t c0, uint16_t c1, uint32_t out[4]) {
  uint32_t ch[2][3];
  for (int i = 0; i < 2; ++i) {
    const uint32_t c = i ? c1 : c0;
    ch[i][0] = ((c & 31) * 255 + 15) / 31;         // blue
    ch[i][1] = (((c >> 5) & 63) * 255 + 31) / 63;  // green
    ch[i][2] = ((c >> 11) * 255 + 15) / 31;        // red
  }
  uint32_t mix[2][3];
  for (int k = 0; k < 3; ++k) {
    if (c0 > c1) {
      mix[0][k] = (2 * ch[0][k] + ch[1][k] + 1) / 3;
      mix[1][k] = (ch[0][k] + 2 * ch[1][k] + 1) / 3;
    } else {
      mix[0][k] = (ch[0][k] + ch[1][k] + 1) / 2;
      mix[1][k] = 0;
    }
  }
  auto pack = [](const uint32_t* c, uint32_t a) { return c[0] | (c[1] << 8) | (c[2] << 16) | (a << 24); };
  out[0] = pack(ch[0], 255);
  out[1] = pack(ch[1], 255);
  out[2] = pack(mix[0], 255);
  out[3] = pack(mix[1], c0 > c1 ? 255 : 0);
}

// Eight alpha levels from the two endpoints of an interpolated alpha block.
void AlphaLevels(uint32_t a0, uint32_t a1, uint8_t out[8]) {
  out[0] = static_cast<uint8_t>(a0);
  out[1] = static_cast<uint8_t>(a1);
  if (a0 > a1) {
    for (uint32_t i = 1; i <= 6; ++i) out[i + 1] = static_cast<uint8_t>(((7 - i) * a0 + i * a1 + 3) / 7);
  } else {
    for (uint32_t i = 1; i <= 4; ++i) out[i + 1] = static_cast<uint8_t>(((5 - i) * a0 + i * a1 + 2) / 5);
    out[6] = 0;
    out[7] = 255;
  }
}

enum AlphaKind { kNoAlpha, kNibbleAlpha, kLevelAlpha };

// Writes one whole 4 x 4 block at `dst` (rows `rowBytes` apart).
template <AlphaKind kAlpha>
void DecodeBlock(const uint8_t* block, uint8_t* dst, size_t rowBytes) {
  const uint8_t* colour = kAlpha == kNoAlpha ? block : block + 8;
  uint32_t colours[4];
  BlockColours(LoadU16LE(colour), LoadU16LE(colour + 2), colours);
  const uint32_t indices = LoadU32LE(colour + 4);
  uint8_t levels[8];
  uint64_t alphaBits = LoadU64LE(block);
  if (kAlpha == kLevelAlpha) {
    AlphaLevels(block[0], block[1], levels);
    alphaBits >>= 16;
  }
  for (uint32_t y = 0; y < 4; ++y, dst += rowBytes) {
    uint32_t row[4];
    for (uint32_t x = 0; x < 4; ++x) {
      const uint32_t i = 4 * y + x;
      row[x] = colours[(indices >> (2 * i)) & 3];
      if (kAlpha == kNibbleAlpha) {
        row[x] = (row[x] & 0xFFFFFF) | (static_cast<uint32_t>((alphaBits >> (4 * i)) & 15) * 17 << 24);
      } else if (kAlpha == kLevelAlpha) {
        row[x] = (row[x] & 0xFFFFFF) | (uint32_t{levels[(alphaBits >> (3 * i)) & 7]} << 24);
      }
    }
    std::memcpy(dst, row, 16);  // B, G, R, A bytes on the little-endian targets we build for
  }
}

using BlockFunction = void (*)(const uint8_t*, uint8_t*, size_t);

}  // namespace

Status DdsDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!HasMagic(r)) return kStatusUnknownFormat;
  uint32_t headerSize = 0, height = 0, width = 0, pitch = 0, flags = 0, code = 0, bits = 0, caps = 0;
  if (!r.U32LEAt(4, headerSize) || !r.U32LEAt(12, height) || !r.U32LEAt(16, width) || !r.U32LEAt(20, pitch) ||
      !r.U32LEAt(80, flags) || !r.U32LEAt(84, code) || !r.U32LEAt(88, bits) || !r.U32LEAt(108, caps))
    return kStatusUnknownFormat;
  if (!(caps & kTextureCap)) return kStatusUnsupported;
  if (!width || !height) return kStatusUnknownFormat;
  if (!IsSaneImageSize(width, height)) return kStatusUnsupported;
  dataOffset_ = uint64_t{4} + headerSize;
  h.size = {width, height};
  h.format = PixelFormat::Rgba8;
  h.minRowBytes = width * 4;
  if (flags & kRgb) {
    if (bits < 9 || bits > 32) return kStatusUnsupported;
    for (int i = 0; i < 4; ++i) {
      if (!r.U32LEAt(92 + 4 * i, masks_[i])) return kStatusUnknownFormat;
    }
    coding_ = Coding::Masks;
    pitch_ = (flags & kPitchGiven) ? pitch : (uint64_t{(bits + 7) / 8} * width + 3) / 4 * 4;
    h.bitsPerPixel = bits;
    h.usesAlpha = !(flags & kAlphaPixels) ? 0 : (flags & kPremultiplied) ? 2 : 1;
    return kStatusOk;
  }
  if (!(flags & kFourCc)) return kStatusUnsupported;
  struct Kind {
    uint32_t code;
    Coding coding;
    uint32_t bits;
    uint8_t usesAlpha;
  };
  static constexpr Kind kKinds[] = {
      {FourCc("DXT1"), Coding::Dxt1, 23, 2}, {FourCc("DXT2"), Coding::Dxt3, 26, 2},
      {FourCc("DXT3"), Coding::Dxt3, 30, 1}, {FourCc("DXT4"), Coding::Dxt5, 26, 2},
      {FourCc("DXT5"), Coding::Dxt5, 30, 1},
  };
  const Kind* kind = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const Kind& k) { return k.code == code; });
  if (kind == std::end(kKinds)) return kStatusUnsupported;
  coding_ = kind->coding;
  h.bitsPerPixel = kind->bits;
  h.usesAlpha = kind->usesAlpha;
  // Whole 4 x 4 blocks are written.
  h.minRowBytes = (width + 3) / 4 * 16;
  h.minRows = (height + 3) / 4 * 4;
  return kStatusOk;
}

Status DdsDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const ByteReader data = Reader().From(dataOffset_);
  if (coding_ == Coding::Masks) return DecodeMasks(data, buffer, progress, cancel);
  return DecodeBlocks(data, buffer, progress, cancel);
}

Status DdsDecoder::DecodeMasks(const ByteReader& data, ImageBuffer& buffer, ProgressSink* progress,
                               const CancelFlag* cancel) {
  const uint32_t width = Width(), height = Height();
  const uint32_t bytes = (BitsPerPixel() + 7) / 8;
  const Field fields[4] = {Field(masks_[2], 0), Field(masks_[1], 0), Field(masks_[0], 0),
                           Field(UsesAlpha() ? masks_[3] : 0, 255)};
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = buffer.Row(y);
    // Pixels whose bytes lie past the end of the file are missing.
    const uint64_t rowStart = uint64_t{y} * pitch_;
    const uint64_t avail = rowStart < data.Size() ? data.Size() - rowStart : 0;
    const uint32_t complete = static_cast<uint32_t>(std::min<uint64_t>(width, avail / bytes));
    const uint8_t* src = data.Span(rowStart, uint64_t{complete} * bytes);
    for (uint32_t x = 0; x < complete; ++x, src += bytes) {
      uint32_t pixel = 0;
      for (uint32_t b = 0; b < bytes; ++b) pixel |= uint32_t{src[b]} << (8 * b);
      for (int c = 0; c < 4; ++c) dst[4 * x + c] = fields[c].Scale(pixel);
    }
    FillMissing(buffer, dst + size_t{complete} * 4, width - complete);
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, y + 1, height);
  }
  return kStatusOk;
}

Status DdsDecoder::DecodeBlocks(const ByteReader& data, ImageBuffer& buffer, ProgressSink* progress,
                                const CancelFlag* cancel) {
  const uint32_t across = (Width() + 3) / 4, down = (Height() + 3) / 4;
  const uint32_t blockBytes = coding_ == Coding::Dxt1 ? 8 : 16;
  const BlockFunction decode = coding_ == Coding::Dxt1   ? DecodeBlock<kNoAlpha>
                               : coding_ == Coding::Dxt3 ? DecodeBlock<kNibbleAlpha>
                                                         : DecodeBlock<kLevelAlpha>;
  const size_t rowBytes = buffer.RowBytes();
  uint64_t offset = 0;
  for (uint32_t by = 0; by < down; ++by) {
    for (uint32_t bx = 0; bx < across; ++bx, offset += blockBytes) {
      uint8_t* dst = buffer.Row(by * 4) + size_t{bx} * 16;
      if (const uint8_t* block = data.Span(offset, blockBytes)) {
        decode(block, dst, rowBytes);
      } else {
        for (uint32_t y = 0; y < 4; ++y) FillMissing(buffer, dst + y * rowBytes, 4);
      }
    }
    if (IsCancelled(cancel)) return kStatusOk;
    for (uint32_t y = by * 4; y < std::min(by * 4 + 4, Height()); ++y) ReportRow(progress, y + 1, Height());
  }
  return kStatusOk;
}

Status ProbeDds(ByteSource& source) {
  return HasMagic(ByteReader(source.Data(), source.Size())) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateDdsDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) DdsDecoder(source, entry);
}

void RegisterDdsDecoder() { SetFormatFunctions(L"dds", ProbeDds, CreateDdsDecoder); }

}  // namespace pv
