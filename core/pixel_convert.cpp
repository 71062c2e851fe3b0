#include "core/pixel_convert.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "core/checked_math.h"
#include "core/colour_reduction.h"
#include "core/text.h"

namespace pv {

namespace {


template <class T>
const T* RowAs(const ImageBuffer& b, uint32_t y) {
  return reinterpret_cast<const T*>(b.Row(y));
}
template <class T>
T* RowAs(ImageBuffer& b, uint32_t y) {
  return reinterpret_cast<T*>(b.Row(y));
}

uint16_t FloatTo16(float v) { return UnitToU16(v); }

uint8_t FloatTo8(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

bool IsColour(PixelFormat f) {
  return f == PixelFormat::Rgba8 || f == PixelFormat::Rgba16 || f == PixelFormat::RgbaF ||
         f == PixelFormat::Indexed8;
}

// Colour to grey through linear light.
uint8_t SrgbGrey(uint8_t r, uint8_t g, uint8_t b) {
  float lin = 0.212656f * SrgbDecode(r / 255.0f) + 0.715158f * SrgbDecode(g / 255.0f) +
              0.072186f * SrgbDecode(b / 255.0f);
  return FloatTo8(SrgbEncode(lin));
}

// Grey of a colour pixel by the process's grey rule, on 8-bit samples.
uint8_t Grey8Of(uint8_t b, uint8_t g, uint8_t r) {
  if (PixelConversionOptions().sRgbGrey) return SrgbGrey(r, g, b);
  return static_cast<uint8_t>((b + g + r + 1) / 3);
}

// Grey of a colour pixel by the grey rule, on unit floats.
float GreyFOf(float b, float g, float r) {
  if (PixelConversionOptions().sRgbGrey)
    return SrgbEncode(0.212656f * SrgbDecode(r) + 0.715158f * SrgbDecode(g) + 0.072186f * SrgbDecode(b));
  return (b + g + r) / 3.0f;
}

// One row of any format as unit floats B, G, R, A.
void RowToFloat(const ImageBuffer& src, uint32_t y, float* out) {
  const uint32_t w = src.Width();
  switch (src.Format()) {
    case PixelFormat::Rgba8: {
      const uint8_t* p = src.Row(y);
      for (uint32_t i = 0; i < 4 * w; ++i) out[i] = p[i] / 255.0f;
      break;
    }
    case PixelFormat::Rgba16: {
      const uint16_t* p = RowAs<uint16_t>(src, y);
      for (uint32_t i = 0; i < 4 * w; ++i) out[i] = p[i] / 65535.0f;
      break;
    }
    case PixelFormat::RgbaF:
      std::memcpy(out, src.Row(y), size_t{w} * 16);
      break;
    case PixelFormat::Grey8:
    case PixelFormat::Grey16:
    case PixelFormat::GreyF:
      for (uint32_t x = 0; x < w; ++x) {
        float v = src.Format() == PixelFormat::Grey8    ? src.Row(y)[x] / 255.0f
                  : src.Format() == PixelFormat::Grey16 ? RowAs<uint16_t>(src, y)[x] / 65535.0f
                                                        : RowAs<float>(src, y)[x];
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = v;
        out[4 * x + 3] = 1.0f;
      }
      break;
    case PixelFormat::Indexed8: {
      const uint8_t* p = src.Row(y);
      const uint32_t* pal = src.Palette();
      for (uint32_t x = 0; x < w; ++x) {
        uint32_t c = pal[p[x]];
        for (int k = 0; k < 4; ++k) out[4 * x + k] = ((c >> (8 * k)) & 0xFF) / 255.0f;
      }
      break;
    }
    default:
      break;
  }
}

// A temporary heap buffer of the source's size, converted by the routine of `format`.
Ref<ImageBuffer> Intermediate(ImageBuffer& source, PixelFormat format) {
  Ref<ImageBuffer> tmp(CreateImageBuffer(format, source.Dimensions(), false));
  if (tmp && Failed(ConvertPixels(*tmp, source))) tmp.Reset();
  return tmp;
}

Status IntoRgba8(ImageBuffer& t, ImageBuffer& s) {
  const uint32_t w = s.Width(), h = s.Height();
  const bool dither = PixelConversionOptions().dither != 0;
  switch (s.Format()) {
    case PixelFormat::Rgba8:
      for (uint32_t y = 0; y < h; ++y) std::memcpy(t.Row(y), s.Row(y), size_t{w} * 4);
      return kStatusOk;
    case PixelFormat::Rgba16:
      if (dither) {
        DiffuseTo8(t.Row(0), t.RowBytes(), RowAs<uint16_t>(s, 0), s.RowBytes(), w, h, 4, 3);
      } else {
        for (uint32_t y = 0; y < h; ++y) {
          const uint16_t* p = RowAs<uint16_t>(s, y);
          uint8_t* q = t.Row(y);
          for (uint32_t i = 0; i < 4 * w; ++i) q[i] = static_cast<uint8_t>(p[i] >> 8);
        }
      }
      return kStatusOk;
    case PixelFormat::RgbaF:
    case PixelFormat::GreyF: {
      Ref<ImageBuffer> tmp =
          Intermediate(s, s.Format() == PixelFormat::RgbaF ? PixelFormat::Rgba16 : PixelFormat::Grey16);
      return tmp ? IntoRgba8(t, *tmp) : kStatusOutOfMemory;
    }
    case PixelFormat::Grey8:
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = s.Row(y);
        uint32_t* q = RowAs<uint32_t>(t, y);
        for (uint32_t x = 0; x < w; ++x) q[x] = 0xFF000000u | (p[x] * 0x010101u);
      }
      return kStatusOk;
    case PixelFormat::Grey16:
      if (dither) {
        Ref<ImageBuffer> tmp(CreateImageBuffer(PixelFormat::Grey8, s.Dimensions(), false));
        if (!tmp) return kStatusOutOfMemory;
        DiffuseTo8(tmp->Row(0), tmp->RowBytes(), RowAs<uint16_t>(s, 0), s.RowBytes(), w, h, 1, 1);
        return IntoRgba8(t, *tmp);
      }
      for (uint32_t y = 0; y < h; ++y) {
        const uint16_t* p = RowAs<uint16_t>(s, y);
        uint32_t* q = RowAs<uint32_t>(t, y);
        for (uint32_t x = 0; x < w; ++x) q[x] = 0xFF000000u | ((p[x] >> 8) * 0x010101u);
      }
      return kStatusOk;
    case PixelFormat::Indexed8: {
      const uint32_t* pal = s.Palette();
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = s.Row(y);
        uint32_t* q = RowAs<uint32_t>(t, y);
        for (uint32_t x = 0; x < w; ++x) q[x] = pal[p[x]];
      }
      return kStatusOk;
    }
    default:
      return kStatusColourFormat;
  }
}

Status IntoGrey8(ImageBuffer& t, ImageBuffer& s) {
  const uint32_t w = s.Width(), h = s.Height();
  switch (s.Format()) {
    case PixelFormat::Grey8:
      for (uint32_t y = 0; y < h; ++y) std::memcpy(t.Row(y), s.Row(y), w);
      return kStatusOk;
    case PixelFormat::Grey16:
      if (PixelConversionOptions().dither) {
        DiffuseTo8(t.Row(0), t.RowBytes(), RowAs<uint16_t>(s, 0), s.RowBytes(), w, h, 1, 1);
      } else {
        for (uint32_t y = 0; y < h; ++y) {
          const uint16_t* p = RowAs<uint16_t>(s, y);
          for (uint32_t x = 0; x < w; ++x) t.Row(y)[x] = static_cast<uint8_t>(p[x] >> 8);
        }
      }
      return kStatusOk;
    case PixelFormat::GreyF: {
      Ref<ImageBuffer> tmp = Intermediate(s, PixelFormat::Grey16);
      return tmp ? IntoGrey8(t, *tmp) : kStatusOutOfMemory;
    }
    case PixelFormat::Rgba8:
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = s.Row(y);
        for (uint32_t x = 0; x < w; ++x) t.Row(y)[x] = Grey8Of(p[4 * x], p[4 * x + 1], p[4 * x + 2]);
      }
      return kStatusOk;
    case PixelFormat::Indexed8: {
      uint8_t grey[256];
      for (int i = 0; i < 256; ++i) {
        uint32_t c = s.Palette()[i];
        grey[i] = Grey8Of(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
      }
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) t.Row(y)[x] = grey[s.Row(y)[x]];
      }
      return kStatusOk;
    }
    case PixelFormat::Rgba16:
    case PixelFormat::RgbaF: {
      Ref<ImageBuffer> tmp = Intermediate(s, PixelFormat::Rgba8);
      return tmp ? IntoGrey8(t, *tmp) : kStatusOutOfMemory;
    }
    default:
      return kStatusColourFormat;
  }
}

// Targets of higher precision go through unit floats.
template <class Write>
Status ThroughFloat(ImageBuffer& t, ImageBuffer& s, Write write) {
  std::vector<float> row(size_t{s.Width()} * 4);
  for (uint32_t y = 0; y < s.Height(); ++y) {
    RowToFloat(s, y, row.data());
    write(t, y, row.data());
  }
  return kStatusOk;
}

Status IntoRgba16(ImageBuffer& t, ImageBuffer& s) {
  if (s.Format() == PixelFormat::Rgba16) {
    for (uint32_t y = 0; y < s.Height(); ++y) std::memcpy(t.Row(y), s.Row(y), size_t{s.Width()} * 8);
    return kStatusOk;
  }
  return ThroughFloat(t, s, [](ImageBuffer& b, uint32_t y, const float* f) {
    uint16_t* q = RowAs<uint16_t>(b, y);
    for (uint32_t i = 0; i < 4 * b.Width(); ++i) q[i] = FloatTo16(f[i]);
  });
}

Status IntoRgbaF(ImageBuffer& t, ImageBuffer& s) {
  return ThroughFloat(t, s, [](ImageBuffer& b, uint32_t y, const float* f) {
    std::memcpy(b.Row(y), f, size_t{b.Width()} * 16);
  });
}

Status IntoGrey16(ImageBuffer& t, ImageBuffer& s) {
  if (s.Format() == PixelFormat::Grey16) {
    for (uint32_t y = 0; y < s.Height(); ++y) std::memcpy(t.Row(y), s.Row(y), size_t{s.Width()} * 2);
    return kStatusOk;
  }
  const bool colour = IsColour(s.Format());
  return ThroughFloat(t, s, [colour](ImageBuffer& b, uint32_t y, const float* f) {
    uint16_t* q = RowAs<uint16_t>(b, y);
    for (uint32_t x = 0; x < b.Width(); ++x)
      q[x] = FloatTo16(colour ? GreyFOf(f[4 * x], f[4 * x + 1], f[4 * x + 2]) : f[4 * x]);
  });
}

Status IntoGreyF(ImageBuffer& t, ImageBuffer& s) {
  const bool colour = IsColour(s.Format());
  return ThroughFloat(t, s, [colour](ImageBuffer& b, uint32_t y, const float* f) {
    float* q = RowAs<float>(b, y);
    for (uint32_t x = 0; x < b.Width(); ++x) q[x] = colour ? GreyFOf(f[4 * x], f[4 * x + 1], f[4 * x + 2]) : f[4 * x];
  });
}

Status IntoIndexed8(ImageBuffer& t, ImageBuffer& s) {
  if (s.Format() != PixelFormat::Indexed8 && s.Format() != PixelFormat::Grey8) {
    ReductionOptions options;
    options.dither = PixelConversionOptions().dither != 0;
    return ReduceColours(t, s, options);
  }
  for (uint32_t y = 0; y < s.Height(); ++y) std::memcpy(t.Row(y), s.Row(y), s.Width());
  if (s.Format() == PixelFormat::Indexed8) {
    t.SetPalette(s.Palette(), 256);
  } else {
    uint32_t ramp[256];
    FillGreyRamp(ramp);
    t.SetPalette(ramp, 256);
  }
  return kStatusOk;
}

void CopyFrameFields(ImageBuffer& target, const ImageBuffer& source) {
  static_cast<FrameFields&>(target.Frame()) = static_cast<const FrameFields&>(source.Frame());
}

}  // namespace

ConversionOptions& PixelConversionOptions() {
  static ConversionOptions options;
  return options;
}

float SrgbDecode(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

float SrgbEncode(float v) { return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }

void DiffuseTo8(uint8_t* dst, size_t dstPitch, const uint16_t* src, size_t srcPitch, uint32_t width,
                uint32_t height, uint32_t channels, uint32_t diffused) {
  // Per channel: an error row of width + 2 entries (index x + 1 for pixel x)
  // in 1/16 units of a 12-bit step, kept as signed bytes.
  std::vector<int8_t> errors(size_t{width + 2} * diffused, 0);
  for (uint32_t y = 0; y < height; ++y) {
    const uint16_t* in = reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(src) + y * srcPitch);
    uint8_t* out = dst + y * dstPitch;
    const bool forward = (y & 1) == 0;
    for (uint32_t c = 0; c < channels; ++c) {
      if (c >= diffused) {
        for (uint32_t x = 0; x < width; ++x) out[x * channels + c] = static_cast<uint8_t>(in[x * channels + c] >> 8);
        continue;
      }
      int8_t* e = errors.data() + size_t{c} * (width + 2);
      int carry = 0;    // 7/16 of the last error, for the next pixel of this row
      int pending = 0;  // 1/16 of the last error, for the next row below the next pixel
      for (uint32_t i = 0; i < width; ++i) {
        const uint32_t x = forward ? i : width - 1 - i;
        const int ahead = forward ? 1 : -1;
        int incoming = (carry + 8 + e[x + 1]) >> 4;
        int sample = in[x * channels + c] + incoming * 16;
        if (sample > 65535) sample = 65535;
        if (sample < 0) sample = 0;
        int v12 = sample >> 4;
        out[x * channels + c] = static_cast<uint8_t>(v12 >> 4);
        int err = v12 & 15;
        carry = 7 * err;
        auto store = [](int v) { return static_cast<int8_t>(v > 127 ? 127 : v < -128 ? -128 : v); };
        e[x + 1 - ahead] = store(e[x + 1 - ahead] + 3 * err);
        e[x + 1] = store(5 * err + pending);
        pending = err;
      }
      // The last pixel's share below-ahead falls off the image edge.
    }
  }
}

Status ConvertPixels(ImageBuffer& target, ImageBuffer& source) {
  if (target.Dimensions() != source.Dimensions()) return kStatusSizeMismatch;
  Status s;
  switch (target.Format()) {
    case PixelFormat::Rgba8: s = IntoRgba8(target, source); break;
    case PixelFormat::Rgba16: s = IntoRgba16(target, source); break;
    case PixelFormat::RgbaF: s = IntoRgbaF(target, source); break;
    case PixelFormat::Grey8: s = IntoGrey8(target, source); break;
    case PixelFormat::Grey16: s = IntoGrey16(target, source); break;
    case PixelFormat::GreyF: s = IntoGreyF(target, source); break;
    case PixelFormat::Indexed8: s = IntoIndexed8(target, source); break;
    default: return kStatusColourFormat;
  }
  if (Failed(s)) return s;
  target.Properties().CopyFrom(source.Properties());
  target.SetUsesAlpha(source.UsesAlpha());
  return kStatusOk;
}

Status ConvertInto(ImageBuffer& target, ImageBuffer& source, bool keepLinks) {
  if (target.Dimensions() != source.Dimensions()) return kStatusSizeMismatch;
  if (ImageBuffer* old = target.DetachNext()) old->Release();
  Status s = ConvertPixels(target, source);
  if (Failed(s)) return s;
  CopyFrameFields(target, source);
  target.Frame().previous = nullptr;
  if (target.Frame().auxiliary) {
    target.Frame().auxiliary->Release();
    target.Frame().auxiliary = nullptr;
  }
  if (!keepLinks) {
    target.Frame().delay = 0;
    return kStatusOk;
  }
  // Clone the following frames in a loop, not by recursion.
  ImageBuffer* tail = &target;
  uint32_t count = 1;
  for (ImageBuffer* from = source.Frame().next; from && count < kMaxFrameCount; from = from->Frame().next, ++count) {
    bool screen = from->IsScreenCompatible() && (target.Format() == PixelFormat::Rgba8 ||
                                                 target.Format() == PixelFormat::Grey8 ||
                                                 target.Format() == PixelFormat::Indexed8);
    Ref<ImageBuffer> clone(CreateImageBuffer(target.Format(), from->Dimensions(), screen));
    if (!clone) return kStatusOutOfMemory;
    s = ConvertPixels(*clone, *from);
    if (Failed(s)) return s;
    CopyFrameFields(*clone, *from);
    tail->SetNext(clone.Detach());
    tail = tail->Frame().next;
  }
  return kStatusOk;
}

ImageBuffer* CloneImageBuffer(ImageBuffer& source, bool keepLinks, bool screenCompatible, PixelFormat format) {
  if (format == PixelFormat::Undetermined) format = source.Format();
  Ref<ImageBuffer> clone(CreateImageBuffer(format, source.Dimensions(), screenCompatible));
  if (!clone || Failed(ConvertInto(*clone, source, keepLinks))) return nullptr;
  return clone.Detach();
}

}  // namespace pv
