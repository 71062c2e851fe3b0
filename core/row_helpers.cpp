#include "core/row_helpers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "core/cpu.h"
#include "core/image_buffer.h"
#include "core/task_group.h"

namespace pv {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit spreading table assumes little-endian words");

// Byte k of entry b is bit 7 - k of b, so one 8-byte store unpacks a byte of
// 1-bit pixels most significant bit first.
constexpr std::array<uint64_t, 256> kSpreadBits = [] {
  std::array<uint64_t, 256> t{};
  for (uint32_t b = 0; b < 256; ++b)
    for (uint32_t k = 0; k < 8; ++k) t[b] |= uint64_t{(b >> (7 - k)) & 1u} << (8 * k);
  return t;
}();

// Runs shorter than these take the scalar form: the vector loop would not
// complete one step.
constexpr size_t kMinUnpackBytes = 16;
constexpr size_t kMinTriples = 8;
constexpr size_t kMinSamples16 = 16;
constexpr size_t kMinYccEntries = 8;
// Entries per band before splitting a YCbCr run over the pool pays off.
constexpr size_t kYccEntriesPerBand = 131072;

bool IsAligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

template <class T>
T LoadSample(const uint8_t* p, bool swap) {
  T v;
  std::memcpy(&v, p, sizeof v);
  if (!swap) return v;
  if constexpr (sizeof(T) == 2) {
    return __builtin_bswap16(v);
  } else {
    return __builtin_bswap32(v);
  }
}

// File samples come in R, G, B(, A) order; the buffer keeps B, G, R, A.
template <class T>
void CopySamples(T* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap, T opaque) {
  constexpr size_t kSize = sizeof(T);
  if (channels != 3 && channels != 4) {
    for (size_t i = 0; i < n; ++i) dst[i] = LoadSample<T>(src + i * kSize, swap);
    return;
  }
  const size_t pixels = n / channels;
  const size_t step = channels * kSize;
  for (size_t p = 0; p < pixels; ++p, src += step, dst += 4) {
    dst[0] = LoadSample<T>(src + 2 * kSize, swap);
    dst[1] = LoadSample<T>(src + kSize, swap);
    dst[2] = LoadSample<T>(src, swap);
    dst[3] = channels == 4 ? LoadSample<T>(src + 3 * kSize, swap) : opaque;
  }
}

void YccRun(uint8_t* entries, size_t n) {
  if (CpuHasSsse3 && n >= kMinYccEntries) {
    ssse3::YccToRgb(entries, n);
  } else {
    scalar::YccToRgb(entries, n);
  }
}

float SrgbTransfer(float v) { return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }

uint8_t UnitToByte(float v) {
  if (v <= 0.0f) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

}  // namespace

namespace scalar {

void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  for (size_t i = 0; i < nBytes; ++i) std::memcpy(dst + 8 * i, &kSpreadBits[src[i]], 8);
}

void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  for (size_t i = 0; i < nBytes; ++i, dst += 4) {
    const uint8_t b = src[i];
    dst[0] = b >> 6;
    dst[1] = (b >> 4) & 3;
    dst[2] = (b >> 2) & 3;
    dst[3] = b & 3;
  }
}

void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  for (size_t i = 0; i < nBytes; ++i, dst += 2) {
    dst[0] = src[i] >> 4;
    dst[1] = src[i] & 15;
  }
}

void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, dst += 4, src += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    dst[3] = 255;
  }
}

void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i, src += 3)
    dst[i] = 0xFF000000u | uint32_t{src[0]} << 16 | uint32_t{src[1]} << 8 | src[2];
}

void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap) {
  CopySamples<uint16_t>(dst, src, n, channels, swap, 0xFFFF);
}

void YccToRgb(uint8_t* entries, size_t n) {
  for (size_t i = 0; i < n; ++i, entries += 4) {
    const int y = entries[0];
    const int cb = entries[1] - 128;
    const int cr = entries[2] - 128;
    entries[0] = Clamp255(y + ((227 * cb + 64) >> 7));
    entries[1] = Clamp255(y + ((-44 * cb - 91 * cr + 64) >> 7));
    entries[2] = Clamp255(y + ((179 * cr + 64) >> 7));
    entries[3] = 255;
  }
}

}  // namespace scalar

void CopyBytes(void* dst, const void* src, size_t n) {
  if (n) std::memcpy(dst, src, n);
}

void UnpackBits1(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  if (CpuHasSsse3 && nBytes >= kMinUnpackBytes && IsAligned16(dst)) {
    ssse3::UnpackBits1(dst, src, nBytes);
  } else {
    scalar::UnpackBits1(dst, src, nBytes);
  }
}

void UnpackBits2(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  if (CpuHasSsse3 && nBytes >= kMinUnpackBytes && IsAligned16(dst)) {
    ssse3::UnpackBits2(dst, src, nBytes);
  } else {
    scalar::UnpackBits2(dst, src, nBytes);
  }
}

void UnpackBits4(uint8_t* dst, const uint8_t* src, size_t nBytes) {
  if (CpuHasSsse3 && nBytes >= kMinUnpackBytes && IsAligned16(dst)) {
    ssse3::UnpackBits4(dst, src, nBytes);
  } else {
    scalar::UnpackBits4(dst, src, nBytes);
  }
}

void PlanesToIndices(uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t planes) {
  const size_t planeBytes = (size_t{width} + 7) / 8;
  // Bits of planes 8 and up fall outside the index byte.
  planes = std::min(planes, 8u);
  for (size_t col = 0; col < planeBytes; ++col) {
    // Each plane adds its bit to all eight bytes at once; the sums stay
    // below 256, so no byte carries into the next.
    uint64_t indices = 0;
    for (uint32_t p = 0; p < planes; ++p) indices |= kSpreadBits[src[p * planeBytes + col]] << p;
    const size_t x = col * 8;
    std::memcpy(dst + x, &indices, std::min<size_t>(8, width - x));
  }
}

void PlanarRgbToRgba8(uint8_t* dst, const uint8_t* src, size_t n, size_t planeBytes) {
  const uint8_t* red = src;
  const uint8_t* green = src + planeBytes;
  const uint8_t* blue = src + 2 * planeBytes;
  for (size_t i = 0; i < n; ++i, dst += 4) {
    dst[0] = blue[i];
    dst[1] = green[i];
    dst[2] = red[i];
    dst[3] = 255;
  }
}

void BgrToRgba8(uint8_t* dst, const uint8_t* src, size_t n) {
  if (CpuHasSsse3 && n >= kMinTriples) {
    ssse3::BgrToRgba8(dst, src, n);
  } else {
    scalar::BgrToRgba8(dst, src, n);
  }
}

void RgbToRgba8(uint32_t* dst, const uint8_t* src, size_t n) {
  if (CpuHasSsse3 && n >= kMinTriples) {
    ssse3::RgbToRgba8(dst, src, n);
  } else {
    scalar::RgbToRgba8(dst, src, n);
  }
}

void Copy16(uint16_t* dst, const uint8_t* src, size_t n, uint32_t channels, bool swap) {
  if (CpuHasSsse3 && n >= kMinSamples16) {
    ssse3::Copy16(dst, src, n, channels, swap);
  } else {
    scalar::Copy16(dst, src, n, channels, swap);
  }
}

void RelayoutRows(uint8_t* dst, const uint8_t* src, size_t dstPitch, size_t srcPitch, uint32_t rows) {
  if (rows == 0 || (dst == src && dstPitch == srcPitch)) return;
  const size_t bytes = std::min(dstPitch, srcPitch);
  // Rows that move up in memory go last row first, so no row is overwritten
  // before it has moved; rows that move down go first row first.
  const bool lastFirst = std::greater<const uint8_t*>()(dst, src) || (dst == src && dstPitch > srcPitch);
  for (uint32_t i = 0; i < rows; ++i) {
    const size_t r = lastFirst ? rows - 1 - i : i;
    std::memmove(dst + r * dstPitch, src + r * srcPitch, bytes);
  }
}

void YccToRgb(uint8_t* entries, size_t n) {
  const size_t bands = std::min<size_t>(n / kYccEntriesPerBand, size_t{4} * ProcessorCount);
  if (bands < 2) {
    YccRun(entries, n);
    return;
  }
  const size_t perBand = (n + bands - 1) / bands;
  RunBands(static_cast<uint32_t>(bands), [&](uint32_t band) {
    const size_t first = band * perBand;
    if (first < n) YccRun(entries + 4 * first, std::min(perBand, n - first));
  });
}

void CmykToRgb(uint8_t* entries, size_t n, bool inverted) {
  for (size_t i = 0; i < n; ++i, entries += 4) {
    uint32_t c = entries[0], m = entries[1], y = entries[2], k = entries[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    entries[0] = static_cast<uint8_t>(y * k / 255);
    entries[1] = static_cast<uint8_t>(m * k / 255);
    entries[2] = static_cast<uint8_t>(c * k / 255);
    entries[3] = 255;
  }
}

void XyzToRgb(uint8_t* entries, size_t n) {
  for (size_t i = 0; i < n; ++i, entries += 4) {
    const float x = entries[0], y = entries[1], z = entries[2];
    // The sRGB matrix scaled for samples of 0-255.
    const float r = 0.012708236f * x - 0.0060282354f * y - 0.0019552943f * z;
    const float g = -0.0037996082f * x + 0.007356079f * y + 0.0001627451f * z;
    const float b = 0.00021843139f * x - 0.00080000004f * y + 0.0041450984f * z;
    entries[0] = UnitToByte(SrgbTransfer(b));
    entries[1] = UnitToByte(SrgbTransfer(g));
    entries[2] = UnitToByte(SrgbTransfer(r));
    entries[3] = 255;
  }
}

Status ExpandGrey(ImageBuffer& buffer, uint32_t bits, bool invert) {
  const uint32_t width = buffer.Width();
  const uint32_t height = buffer.Height();
  switch (buffer.Format()) {
    case PixelFormat::Grey8:
      if (bits == 0) return kStatusSizeMismatch;
      if (bits == 1) {
        // Two levels, any non-zero sample the top one: eight samples at a
        // time in the rows' whole 16-byte units. A byte's top bit after the
        // add says whether it was non-zero.
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kTop = 0x8080808080808080ull;
        const uint64_t flip = invert ? ~uint64_t{0} : 0;
        for (uint32_t y = 0; y < height; ++y) {
          uint8_t* row = buffer.Row(y);
          for (uint32_t x = 0; x < width; x += 16) {
            for (uint32_t half = 0; half < 16; half += 8) {
              uint64_t v = 0;
              std::memcpy(&v, row + x + half, 8);
              const uint64_t top = (((v & kLow7) + kLow7) | v) & kTop;
              v = ((top >> 7) * 0xFF) ^ flip;
              std::memcpy(row + x + half, &v, 8);
            }
          }
        }
      } else if (bits < 8) {
        const uint32_t top = (1u << bits) - 1;
        // Samples above the depth only come from damaged data; they read as
        // the top level.
        std::array<uint8_t, 256> table;
        for (uint32_t i = 0; i < 256; ++i) {
          const uint32_t level = std::min(i, top) * 255 / top;
          table[i] = static_cast<uint8_t>(invert ? 255 - level : level);
        }
        for (uint32_t y = 0; y < height; ++y) {
          uint8_t* row = buffer.Row(y);
          for (uint32_t x = 0; x < width; ++x) row[x] = table[row[x]];
        }
      } else if (invert) {
        for (uint32_t y = 0; y < height; ++y) {
          uint8_t* row = buffer.Row(y);
          for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(~row[x]);
        }
      }
      return kStatusOk;
    case PixelFormat::Grey16:
      if (invert) {
        for (uint32_t y = 0; y < height; ++y) {
          auto* row = reinterpret_cast<uint16_t*>(buffer.Row(y));
          for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint16_t>(~row[x]);
        }
      }
      return kStatusOk;
    case PixelFormat::GreyF:
      if (invert) {
        for (uint32_t y = 0; y < height; ++y) {
          auto* row = reinterpret_cast<float*>(buffer.Row(y));
          for (uint32_t x = 0; x < width; ++x) row[x] = 1.0f - row[x];
        }
      }
      return kStatusOk;
    default:
      return kStatusColourFormat;
  }
}

}  // namespace pv
