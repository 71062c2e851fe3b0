// The colour-model step of decoding: whatever a decoder stored becomes
// displayable RGB or grey in place.
#include <cmath>
#include <cstring>

#include "core/decoder.h"
#include "core/pixel_convert.h"
#include "core/row_helpers.h"

namespace pv {

namespace {

uint8_t TruncClamp(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v);
}

void YcckToRgb(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i, p += 4) {
    float y = p[0], cb = p[1], cr = p[2], k = p[3] / 255.0f;
    float r = y + 1.402f * cr - 179.456f;
    float g = y - 0.34414f * cb - 0.71414f * cr;
    float b = y + 1.772f * cb - 226.816f;
    p[2] = TruncClamp((255.0f - r) * k + 8.0f);
    p[1] = TruncClamp((119.54016f - g) * k);
    p[0] = TruncClamp((255.0f - b) * k);
    p[3] = 255;
  }
}

void LabToRgb(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i, p += 4) {
    float l = p[0] * 100.0f / 255.0f;
    float a = static_cast<int8_t>(p[1]);
    float bb = static_cast<int8_t>(p[2]);
    float y = l >= 8.0f ? std::pow((l + 16.0f) / 116.0f, 3.0f) : l / 903.3f;
    float fy = std::cbrt(y);
    float fx = fy + 0.002f * a;
    float fz = fy - 0.005f * bb;
    float x = fx * fx * fx, z = fz * fz * fz;
    p[2] = TruncClamp(785.3834f * x - 391.97366f * y - 138.40977f * z);
    p[1] = TruncClamp(-234.91473f * x + 478.37747f * y + 11.537267f * z);
    p[0] = TruncClamp(13.486869f * x - 52.03054f * y + 293.54367f * z);
    p[3] = 255;
  }
}

// Applies f to every float of every pixel's first `channels` floats.
template <class F>
void ForEachFloat(ImageBuffer& b, uint32_t perPixel, uint32_t channels, F f) {
  for (uint32_t y = 0; y < b.Height(); ++y) {
    float* row = reinterpret_cast<float*>(b.Row(y));
    for (uint32_t x = 0; x < b.Width(); ++x)
      for (uint32_t c = 0; c < channels; ++c) row[x * perPixel + c] = f(row[x * perPixel + c]);
  }
}

bool IsGreyRamp(const uint32_t* palette) {
  for (uint32_t i = 0; i < 256; ++i) {
    if ((palette[i] & 0xFFFFFF) != i * 0x010101u) return false;
  }
  return true;
}

}  // namespace

Status ConvertColourModel(ImageBuffer& buffer, ColourModel model, uint32_t bitsPerPixel) {
  if (buffer.Format() == PixelFormat::Indexed8 && bitsPerPixel == 8 && IsGreyRamp(buffer.Palette())) {
    buffer.DropPalette();
    buffer.SetUsesAlpha(0);
  }
  switch (model) {
    case ColourModel::Rgb:
    case ColourModel::Undetermined:
      if (buffer.Format() == PixelFormat::RgbaF) ForEachFloat(buffer, 4, 3, SrgbEncode);
      return kStatusOk;
    case ColourModel::L:
    case ColourModel::K: {
      if (buffer.Format() == PixelFormat::Indexed8) buffer.DropPalette();
      PixelFormat f = buffer.Format();
      if (f != PixelFormat::Grey8 && f != PixelFormat::Grey16 && f != PixelFormat::GreyF) return kStatusColourFormat;
      if (f == PixelFormat::GreyF) ForEachFloat(buffer, 1, 1, SrgbEncode);
      if (bitsPerPixel < 8 || model == ColourModel::K) return ExpandGrey(buffer, bitsPerPixel, model == ColourModel::K);
      return kStatusOk;
    }
    default:
      break;
  }
  // Models 3-8 convert the palette of an Indexed8 buffer or every pixel of an Rgba8 buffer.
  uint8_t* data = nullptr;
  size_t count = 0;
  if (buffer.Format() == PixelFormat::Indexed8) {
    data = reinterpret_cast<uint8_t*>(buffer.Palette());
    count = 256;
  } else if (buffer.Format() == PixelFormat::Rgba8) {
    data = buffer.Pixels();
    count = size_t{buffer.Stride()} * buffer.Height();
  }
  if (!data) {
    if (model == ColourModel::Xyz && buffer.Format() == PixelFormat::RgbaF) {
      for (uint32_t y = 0; y < buffer.Height(); ++y) {
        float* p = reinterpret_cast<float*>(buffer.Row(y));
        for (uint32_t x = 0; x < buffer.Width(); ++x, p += 4) {
          float X = p[0], Y = p[1], Z = p[2];
          p[2] = SrgbEncode(3.2406f * X - 1.5372f * Y - 0.4986f * Z);
          p[1] = SrgbEncode(-0.9689f * X + 1.8758f * Y + 0.0415f * Z);
          p[0] = SrgbEncode(0.0557f * X - 0.2040f * Y + 1.0570f * Z);
          p[3] = 1.0f;
        }
      }
      return kStatusOk;
    }
    if (model == ColourModel::Cmyk && buffer.Format() == PixelFormat::Rgba16) {
      for (uint32_t y = 0; y < buffer.Height(); ++y) {
        uint16_t* p = reinterpret_cast<uint16_t*>(buffer.Row(y));
        for (uint32_t x = 0; x < buffer.Width(); ++x, p += 4) {
          uint32_t c = p[0], m = p[1], ye = p[2], k = p[3];
          p[2] = static_cast<uint16_t>((65535 - k) * (65535 - c) / 65535);
          p[1] = static_cast<uint16_t>((65535 - k) * (65535 - m) / 65535);
          p[0] = static_cast<uint16_t>((65535 - k) * (65535 - ye) / 65535);
          p[3] = 65535;
        }
      }
      return kStatusOk;
    }
    return kStatusColourFormat;
  }
  switch (model) {
    case ColourModel::YCbCr: YccToRgb(data, count); break;
    case ColourModel::Cmyk: CmykToRgb(data, count, false); break;
    case ColourModel::Cmyl: CmykToRgb(data, count, true); break;
    case ColourModel::Xyz: XyzToRgb(data, count); break;
    case ColourModel::Ycck: YcckToRgb(data, count); break;
    case ColourModel::Lab: LabToRgb(data, count); break;
    default: return kStatusColourFormat;
  }
  return kStatusOk;
}

}  // namespace pv
