#include "tools/image_writers.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/endian.h"
#include "core/file_io.h"
#include "core/pixel_convert.h"

namespace pv {

namespace scalar {

void StraightRow(uint8_t* out, const uint8_t* p, uint32_t width, uint8_t usesAlpha, bool swapRedBlue) {
  uint32_t* dst = reinterpret_cast<uint32_t*>(out);
  const uint32_t opaque = usesAlpha ? 0 : 0xFF000000u;
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t v;
    std::memcpy(&v, p + 4 * x, 4);
    v |= opaque;
    const uint32_t a = v >> 24;
    if (usesAlpha == 2 && a != 0 && a != 255) {
      auto un = [a](uint32_t c) { return c >= a ? 255u : (c * 255 + a / 2) / a; };
      v = a << 24 | un(v >> 16 & 0xFF) << 16 | un(v >> 8 & 0xFF) << 8 | un(v & 0xFF);
    }
    if (swapRedBlue) v = (v & 0xFF00FF00u) | (v >> 16 & 0xFF) | (v & 0xFF) << 16;
    std::memcpy(dst + x, &v, 4);
  }
}

}  // namespace scalar

#if defined(__SSE2__)
namespace sse2 {

// Four pixels at a time; premultiplied rows, which need a division per
// channel, and the last few pixels go through the scalar form.
void StraightRow(uint8_t* out, const uint8_t* p, uint32_t width, uint8_t usesAlpha, bool swapRedBlue) {
  uint32_t x = 0;
  if (usesAlpha != 2) {
    const __m128i opaque = _mm_set1_epi32(usesAlpha ? 0 : static_cast<int>(0xFF000000u));
    const __m128i greenAlpha = _mm_set1_epi32(static_cast<int>(0xFF00FF00u)), low = _mm_set1_epi32(0xFF);
    for (; x + 4 <= width; x += 4) {
      __m128i v = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * x)), opaque);
      if (swapRedBlue) {
        const __m128i redBlue = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), low),
                                             _mm_slli_epi32(_mm_and_si128(v, low), 16));
        v = _mm_or_si128(_mm_and_si128(v, greenAlpha), redBlue);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), v);
    }
  }
  scalar::StraightRow(out + 4 * x, p + 4 * x, width - x, usesAlpha, swapRedBlue);
}

}  // namespace sse2
#endif

namespace {

// The fastest form this build has.
void StraightRow(uint8_t* out, const uint8_t* p, uint32_t width, uint8_t usesAlpha, bool swapRedBlue) {
#if defined(__SSE2__)
  sse2::StraightRow(out, p, width, usesAlpha, swapRedBlue);
#else
  scalar::StraightRow(out, p, width, usesAlpha, swapRedBlue);
#endif
}

// Bytes gathered before each write: few system calls, and the block stays
// in the cache between the conversion and the copy into the file.
constexpr size_t kBlockBytes = 256 * 1024;

constexpr uint32_t kBmpHeaderBytes = 54;

// File and info header of a top-down 32-bit bitmap.
void StoreBmp32Header(uint8_t* b, uint32_t width, uint32_t height) {
  const uint32_t dataBytes = width * height * 4;
  std::memset(b, 0, kBmpHeaderBytes);
  b[0] = 'B', b[1] = 'M';
  StoreU32LE(b + 2, kBmpHeaderBytes + dataBytes);
  StoreU32LE(b + 10, kBmpHeaderBytes);
  StoreU32LE(b + 14, 40);
  StoreU32LE(b + 18, width);
  StoreU32LE(b + 22, static_cast<uint32_t>(-static_cast<int32_t>(height)));  // top-down
  StoreU16LE(b + 26, 1);
  StoreU16LE(b + 28, 32);
  StoreU32LE(b + 34, dataBytes);
}

// The image itself when it holds 8-bit B, G, R, A, else a converted copy.
Ref<ImageBuffer> AsBgra8(ImageBuffer& image) {
  if (image.Format() == PixelFormat::Rgba8) return Ref<ImageBuffer>::Retain(&image);
  return Ref<ImageBuffer>(CloneImageBuffer(image, false, false, PixelFormat::Rgba8));
}

}  // namespace

Status ToStraightRgba(ImageBuffer& image, std::vector<uint8_t>* rgba) {
  Ref<ImageBuffer> bgra = AsBgra8(image);
  if (!bgra) return kStatusOutOfMemory;
  const uint32_t w = image.Width(), h = image.Height();
  rgba->resize(size_t{w} * h * 4);
  for (uint32_t y = 0; y < h; ++y) StraightRow(rgba->data() + size_t{y} * w * 4, bgra->Row(y), w, image.UsesAlpha(), true);
  return kStatusOk;
}

Status WriteImageFile(const std::wstring& path, ImageBuffer& image, ImageFileKind kind) {
  Ref<ImageBuffer> bgra = AsBgra8(image);
  if (!bgra) return kStatusOutOfMemory;
  const uint32_t w = image.Width(), h = image.Height();
  const size_t rowBytes = size_t{w} * 4;
  if (rowBytes * h > UINT32_MAX - 64) return kStatusCannotWrite;
  // At least one whole row per block.
  const size_t capacity = rowBytes > kBlockBytes ? rowBytes : kBlockBytes;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[capacity]);
  if (!block) return kStatusOutOfMemory;
  size_t used;
  if (kind == ImageFileKind::Pam) {
    used = static_cast<size_t>(std::snprintf(reinterpret_cast<char*>(block.get()), 128,
                                             "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                                             w, h));
  } else {
    StoreBmp32Header(block.get(), w, h);
    used = kBmpHeaderBytes;
  }
  FileHandle f = CreateFileForWrite(path.c_str());
  if (f == kNoFile) return kStatusCannotWrite;
  bool ok = true;
  for (uint32_t y = 0; y < h && ok; ++y) {
    if (capacity - used < rowBytes) {
      ok = WriteExact(f, block.get(), static_cast<uint32_t>(used));
      used = 0;
    }
    StraightRow(block.get() + used, bgra->Row(y), w, image.UsesAlpha(), kind == ImageFileKind::Pam);
    used += rowBytes;
  }
  ok = ok && WriteExact(f, block.get(), static_cast<uint32_t>(used));
  CloseFile(f);
  return ok ? kStatusOk : kStatusCannotWrite;
}

std::vector<uint8_t> EncodeBmp32(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height) {
  std::vector<uint8_t> out(kBmpHeaderBytes + size_t{width} * height * 4, 0);
  StoreBmp32Header(out.data(), width, height);
  uint8_t* p = out.data() + kBmpHeaderBytes;
  for (size_t i = 0; i < size_t{width} * height; ++i, p += 4) {
    p[0] = rgba[4 * i + 2], p[1] = rgba[4 * i + 1], p[2] = rgba[4 * i], p[3] = rgba[4 * i + 3];
  }
  return out;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  FileHandle f = CreateFileForWrite(path.c_str());
  if (f == kNoFile) return false;
  bool ok = bytes.size() <= UINT32_MAX && WriteExact(f, bytes.data(), static_cast<uint32_t>(bytes.size()));
  CloseFile(f);
  return ok;
}

}  // namespace pv
