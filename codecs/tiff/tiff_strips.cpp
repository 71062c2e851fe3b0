#include "codecs/tiff/tiff_strips.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "codecs/inflate_status.h"
#include "core/endian.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

uint32_t LoadSample(const uint8_t* p, uint32_t bytes, bool bigEndian) {
  switch (bytes) {
    case 1:
      return *p;
    case 2:
      return bigEndian ? LoadU16BE(p) : LoadU16LE(p);
    case 3:
      return bigEndian ? uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]
                       : uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    default:
      return bigEndian ? LoadU32BE(p) : LoadU32LE(p);
  }
}

void StoreSample(uint8_t* p, uint32_t bytes, bool bigEndian, uint32_t v) {
  switch (bytes) {
    case 1:
      *p = static_cast<uint8_t>(v);
      break;
    case 2:
      if (bigEndian) {
        StoreU16BE(p, static_cast<uint16_t>(v));
      } else {
        StoreU16LE(p, static_cast<uint16_t>(v));
      }
      break;
    default:
      if (bigEndian) {
        StoreU32BE(p, v);
      } else {
        StoreU32LE(p, v);
      }
  }
}

float FloatSample(const uint8_t* p, uint32_t bits, bool bigEndian) {
  const uint32_t v = LoadSample(p, bits / 8, bigEndian);
  if (bits == 16) return HalfToFloat(static_cast<uint16_t>(v));
  if (bits == 24) return Float24ToFloat(v);
  return std::bit_cast<float>(v);
}

// Where sample c of a pixel goes in the buffer's four.
uint32_t Slot(const SampleLayout& l, uint32_t c) { return l.rgbOrder && c < 3 ? 2 - c : c; }

}  // namespace

size_t UnpackPackBits(ByteReader in, uint8_t* out, size_t size) {
  size_t done = 0;
  uint8_t control = 0, value = 0;
  while (done < size && in.U8(control)) {
    if (control < 128) {
      // control + 1 literal bytes, as many as the input and the output hold.
      const size_t n = std::min<size_t>({size_t{control} + 1, size - done, static_cast<size_t>(in.Remaining())});
      std::memcpy(out + done, in.Take(n), n);
      done += n;
      if (n < size_t{control} + 1) break;
    } else if (control > 128) {
      if (!in.U8(value)) break;
      const size_t n = std::min<size_t>(257 - control, size - done);
      std::memset(out + done, value, n);
      done += n;
    }
    // 128 is a no-op.
  }
  return done;
}

Status InflateStrip(ByteReader in, uint8_t* out, size_t size, size_t* got) {
  *got = 0;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return kStatusFormatMismatch;
  // As for PNG, the Adler-32 is not checked: damage shows in the pixels.
  inflateValidate(&z, 0);
  z.next_in = const_cast<Bytef*>(in.Data());
  z.avail_in = static_cast<uInt>(std::min<uint64_t>(in.Size(), UINT_MAX));
  Status status = kStatusOk;
  while (*got < size) {
    z.next_out = out + *got;
    const uInt room = static_cast<uInt>(std::min<size_t>(size - *got, UINT_MAX));
    z.avail_out = room;
    const int result = inflate(&z, Z_NO_FLUSH);
    *got += room - z.avail_out;
    // Z_BUF_ERROR: no progress possible, the input is spent.
    if (result == Z_STREAM_END || result == Z_BUF_ERROR) break;
    if (result != Z_OK) {
      status = InflateFailure(result);
      break;
    }
  }
  inflateEnd(&z);
  return status;
}

namespace {

// The running sums of a pixel's (1, 3 or 4) samples stay in registers, so
// each sample waits on one add, not on the store of the pixel before. They
// wrap at 2^32, a multiple of the samples' range.
template <uint32_t N, uint32_t Bytes>
void UndoPredictorOf(uint8_t* row, uint32_t width, bool bigEndian) {
  static_assert(N == 1 || N == 3 || N == 4);
  auto load = [bigEndian](const uint8_t* p) { return Bytes == 1 ? uint32_t{*p} : LoadSample(p, Bytes, bigEndian); };
  auto add = [bigEndian](uint8_t* p, uint32_t& sum) {
    sum += Bytes == 1 ? uint32_t{*p} : LoadSample(p, Bytes, bigEndian);
    if constexpr (Bytes == 1) {
      *p = static_cast<uint8_t>(sum);
    } else {
      StoreSample(p, Bytes, bigEndian, sum);
    }
  };
  uint32_t s0 = load(row), s1 = N > 1 ? load(row + Bytes) : 0, s2 = N > 2 ? load(row + 2 * Bytes) : 0,
           s3 = N > 3 ? load(row + 3 * Bytes) : 0;
  for (uint8_t *p = row + N * Bytes, *end = row + size_t{width} * N * Bytes; p < end; p += N * Bytes) {
    add(p, s0);
    if constexpr (N > 1) {
      add(p + Bytes, s1);
      add(p + 2 * Bytes, s2);
    }
    if constexpr (N > 3) add(p + 3 * Bytes, s3);
  }
}

}  // namespace

void UndoPredictor(uint8_t* row, uint32_t width, uint32_t samples, uint32_t bytes, bool bigEndian) {
  if (width == 0) return;
  if (bytes == 1 && samples == 1) return UndoPredictorOf<1, 1>(row, width, bigEndian);
  if (bytes == 1 && samples == 3) return UndoPredictorOf<3, 1>(row, width, bigEndian);
  if (bytes == 1 && samples == 4) return UndoPredictorOf<4, 1>(row, width, bigEndian);
  if (bytes == 2 && samples == 1) return UndoPredictorOf<1, 2>(row, width, bigEndian);
  if (bytes == 2 && samples == 3) return UndoPredictorOf<3, 2>(row, width, bigEndian);
  if (bytes == 2 && samples == 4) return UndoPredictorOf<4, 2>(row, width, bigEndian);
  const size_t step = size_t{samples} * bytes;
  const size_t total = size_t{width} * step;
  for (size_t i = step; i < total; i += bytes) {
    const uint32_t sum = LoadSample(row + i, bytes, bigEndian) + LoadSample(row + i - step, bytes, bigEndian);
    StoreSample(row + i, bytes, bigEndian, sum);
  }
}

float HalfToFloat(uint16_t h) {
  const uint32_t sign = uint32_t{h & 0x8000u} << 16, exponent = (h >> 10) & 31, mantissa = h & 0x3FFu;
  if (exponent == 31) return std::bit_cast<float>(mantissa ? 0xFFC00000u : sign | 0x7F800000u);
  if (exponent == 0) {
    const float v = static_cast<float>(mantissa) * 0x1p-24f;
    return sign ? -v : v;
  }
  return std::bit_cast<float>(sign | (exponent + 112) << 23 | mantissa << 13);
}

float Float24ToFloat(uint32_t v) {
  const uint32_t sign = (v & 0x800000u) << 8, exponent = (v >> 16) & 127, mantissa = v & 0xFFFFu;
  if (exponent == 127) return std::bit_cast<float>(mantissa ? 0xFFC00000u : sign | 0x7F800000u);
  if (exponent == 0) {
    const float v0 = static_cast<float>(mantissa) * 0x1p-78f;
    return sign ? -v0 : v0;
  }
  return std::bit_cast<float>(sign | (exponent + 64) << 23 | mantissa << 7);
}

void ConvertRow(const SampleLayout& l, uint8_t* dst, const uint8_t* src, uint32_t width) {
  const uint32_t n = l.samples;
  const bool flip = l.sampleFormat == 2;  // signed samples move to the middle of the range
  switch (l.target) {
    case PixelFormat::Indexed8:
    case PixelFormat::Grey8:
      if (l.bits == 1) {
        UnpackBits1(dst, src, l.RowBytes(width));
      } else if (l.bits == 2) {
        UnpackBits2(dst, src, l.RowBytes(width));
      } else if (l.bits == 4) {
        UnpackBits4(dst, src, l.RowBytes(width));
      } else {
        CopyBytes(dst, src, width);
      }
      if (flip && l.bits == 8) {
        for (uint32_t x = 0; x < width; ++x) dst[x] ^= 0x80;
      }
      return;
    case PixelFormat::Grey16:
    case PixelFormat::Rgba16: {
      auto* out = reinterpret_cast<uint16_t*>(dst);
      if (n == 1 || l.rgbOrder) {
        Copy16(out, src, size_t{width} * n, n, l.bigEndian);
      } else {
        for (uint32_t x = 0; x < width; ++x) {
          for (uint32_t c = 0; c < 4; ++c) out[4 * x + c] = c < n ? LoadSample(src + 2 * (x * n + c), 2, l.bigEndian) : 0xFFFF;
        }
      }
      if (flip) {
        for (uint32_t x = 0; x < width; ++x) {
          for (uint32_t c = 0; c < n; ++c) out[(n == 1 ? 1 : 4) * x + c] ^= 0x8000;
        }
      }
      return;
    }
    case PixelFormat::GreyF:
    case PixelFormat::RgbaF: {
      auto* out = reinterpret_cast<float*>(dst);
      const uint32_t bytes = l.bits / 8, step = n == 1 ? 1 : 4;
      for (uint32_t x = 0; x < width; ++x) {
        for (uint32_t c = 0; c < n; ++c) out[step * x + Slot(l, c)] = FloatSample(src + bytes * (x * n + c), l.bits, l.bigEndian);
        if (n == 3) out[4 * x + 3] = 1.0f;
      }
      return;
    }
    default:  // Rgba8 from 3 or 4 samples of 8 bits
      if (n == 3 && l.rgbOrder) {
        RgbToRgba8(reinterpret_cast<uint32_t*>(dst), src, width);
      } else {
        for (uint32_t x = 0; x < width; ++x) {
          for (uint32_t c = 0; c < n; ++c) dst[4 * x + Slot(l, c)] = src[n * x + c];
          if (n == 3) dst[4 * x + 3] = 0xFF;
        }
      }
      if (flip) {
        for (uint32_t x = 0; x < width; ++x) {
          for (uint32_t c = 0; c < n; ++c) dst[4 * x + c] ^= 0x80;
        }
      }
  }
}

void ConvertPlaneRow(const SampleLayout& l, uint8_t* dst, const uint8_t* src, uint32_t width, uint32_t plane) {
  const uint32_t slot = Slot(l, plane), bytes = l.bits / 8;
  const bool opaque = plane == 0 && l.planes == 3;  // three planes: alpha is full
  switch (l.target) {
    case PixelFormat::Rgba16: {
      auto* out = reinterpret_cast<uint16_t*>(dst);
      const uint32_t flip = l.sampleFormat == 2 ? 0x8000 : 0;
      for (uint32_t x = 0; x < width; ++x) {
        out[4 * x + slot] = static_cast<uint16_t>(LoadSample(src + 2 * x, 2, l.bigEndian) ^ flip);
        if (opaque) out[4 * x + 3] = 0xFFFF;
      }
      return;
    }
    case PixelFormat::RgbaF: {
      auto* out = reinterpret_cast<float*>(dst);
      for (uint32_t x = 0; x < width; ++x) {
        out[4 * x + slot] = FloatSample(src + bytes * x, l.bits, l.bigEndian);
        if (opaque) out[4 * x + 3] = 1.0f;
      }
      return;
    }
    default: {
      const uint8_t flip = l.sampleFormat == 2 ? 0x80 : 0;
      for (uint32_t x = 0; x < width; ++x) {
        dst[4 * x + slot] = src[x] ^ flip;
        if (opaque) dst[4 * x + 3] = 0xFF;
      }
    }
  }
}

}  // namespace pv
