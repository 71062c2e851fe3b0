#include "codecs/bmp/bmp_writer.h"

#include <cstring>

#include "core/checked_math.h"
#include "core/endian.h"
#include "core/pixel_convert.h"

namespace pv {

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kBitFields = 3;
// Files and clipboard blocks are addressed with 32-bit sizes.
constexpr uint64_t kMaxBitmapBytes = 0x7FFFFFFF;

uint64_t PaddedRowBytes(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

void StoreFileHeader(uint8_t* h, uint32_t fileSize, uint32_t pixelOffset) {
  h[0] = 'B', h[1] = 'M';
  StoreU32LE(h + 2, fileSize);
  StoreU32LE(h + 6, 0);
  StoreU32LE(h + 10, pixelOffset);
}

// Writes the DIB at `at` bytes into *out (which the caller's header precedes).
Status EncodeDibAt(ImageBuffer& image, const DibOptions& options, size_t at, std::vector<uint8_t>* out) {
  Ref<ImageBuffer> converted;
  ImageBuffer* pixels = &image;
  const bool indexed = image.Format() == PixelFormat::Indexed8;
  if (!indexed && image.Format() != PixelFormat::Rgba8) {
    converted = Ref<ImageBuffer>(CloneImageBuffer(image, false, false, PixelFormat::Rgba8));
    if (!converted) return kStatusOutOfMemory;
    pixels = converted.get();
  }
  const uint32_t bits = indexed ? 8 : options.keepAlpha && image.UsesAlpha() ? 32 : 24;
  const uint32_t w = image.Width(), h = image.Height();
  const uint64_t rowBytes = PaddedRowBytes(w, bits);
  const uint32_t paletteBytes = indexed ? 256 * 4 : 0;
  uint64_t pixelBytes = 0, total = 0;
  if (!CheckedMul(rowBytes, h, kMaxBitmapBytes, &pixelBytes) ||
      !CheckedAdd(at + kInfoHeaderBytes + paletteBytes, pixelBytes, kMaxBitmapBytes, &total))
    return kStatusSizeMismatch;
  out->assign(total, 0);
  uint8_t* d = out->data() + at;
  StoreU32LE(d, kInfoHeaderBytes);
  StoreU32LE(d + 4, w);
  StoreU32LE(d + 8, h);  // positive: bottom-up rows
  StoreU16LE(d + 12, 1);
  StoreU16LE(d + 14, static_cast<uint16_t>(bits));
  StoreU32LE(d + 20, static_cast<uint32_t>(pixelBytes));
  StoreU32LE(d + 24, options.pixelsPerMetreX);
  StoreU32LE(d + 28, options.pixelsPerMetreY);
  d += kInfoHeaderBytes;
  if (indexed) {
    const uint32_t* palette = image.Palette();
    for (uint32_t i = 0; i < 256; ++i, d += 4) {
      const uint32_t c = palette ? palette[i] : 0;  // 0xAARRGGBB
      d[0] = static_cast<uint8_t>(c), d[1] = static_cast<uint8_t>(c >> 8), d[2] = static_cast<uint8_t>(c >> 16);
    }
  }
  const uint32_t outBytes = bits / 8;
  for (uint32_t y = 0; y < h; ++y, d += rowBytes) {
    const uint8_t* s = pixels->Row(h - 1 - y);
    if (indexed) {
      std::memcpy(d, s, w);
      continue;
    }
    uint8_t* p = d;
    for (uint32_t x = 0; x < w; ++x, s += 4, p += outBytes) std::memcpy(p, s, outBytes);
  }
  return kStatusOk;
}

}  // namespace

Status EncodeDib(ImageBuffer& image, const DibOptions& options, std::vector<uint8_t>* out) {
  return EncodeDibAt(image, options, 0, out);
}

Status EncodeBitmapFile(ImageBuffer& image, const DibOptions& options, std::vector<uint8_t>* out) {
  const Status status = EncodeDibAt(image, options, kFileHeaderBytes, out);
  if (Failed(status)) return status;
  const uint32_t palette = image.Format() == PixelFormat::Indexed8 ? 256 * 4 : 0;
  StoreFileHeader(out->data(), static_cast<uint32_t>(out->size()), kFileHeaderBytes + kInfoHeaderBytes + palette);
  return kStatusOk;
}

Status BitmapFileFromDib(const uint8_t* dib, size_t size, std::vector<uint8_t>* out) {
  if (size < kInfoHeaderBytes) return kStatusDamaged;
  const uint32_t headerBytes = LoadU32LE(dib);
  // The headers of versions 3 to 5 and the two extended version-3 ones.
  if (headerBytes != 40 && headerBytes != 52 && headerBytes != 56 && headerBytes != 108 && headerBytes != 124)
    return kStatusDamaged;
  const int32_t width = static_cast<int32_t>(LoadU32LE(dib + 4));
  const int32_t height = static_cast<int32_t>(LoadU32LE(dib + 8));
  const uint32_t bits = LoadU16LE(dib + 14);
  const uint32_t compression = LoadU32LE(dib + 16);
  const uint32_t imageBytes = LoadU32LE(dib + 20);
  const uint32_t colours = LoadU32LE(dib + 32);
  const uint64_t rows = height < 0 ? 0 - static_cast<int64_t>(height) : height;
  if (width <= 0 || !IsSaneImageSize(static_cast<uint64_t>(width), rows)) return kStatusDamaged;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kStatusDamaged;
  if (colours > 256 && bits <= 8) return kStatusDamaged;
  const uint64_t paletteEntries = colours != 0 ? colours : bits <= 8 ? uint64_t{1} << bits : 0;
  const uint64_t masks = headerBytes == kInfoHeaderBytes && compression == kBitFields ? 12 : 0;
  uint64_t pixelBytes = imageBytes;
  if (pixelBytes == 0 && !CheckedMul(PaddedRowBytes(static_cast<uint64_t>(width), bits), rows, kMaxBitmapBytes,
                                     &pixelBytes))
    return kStatusDamaged;
  const uint64_t pixelOffset = kFileHeaderBytes + headerBytes + masks + paletteEntries * 4;
  const uint64_t dibBytes = pixelOffset - kFileHeaderBytes + pixelBytes;
  if (dibBytes > size || dibBytes > kMaxBitmapBytes) return kStatusDamaged;
  out->resize(kFileHeaderBytes + dibBytes);
  StoreFileHeader(out->data(), static_cast<uint32_t>(out->size()), static_cast<uint32_t>(pixelOffset));
  std::memcpy(out->data() + kFileHeaderBytes, dib, dibBytes);
  return kStatusOk;
}

}  // namespace pv
