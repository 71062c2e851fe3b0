#include "viewer/render_stages.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "core/cpu.h"
#include "core/pixel_convert.h"
#include "core/task_group.h"

namespace pv {

namespace {

// Colour adjustments take bands of at least this many pixels.
constexpr uint64_t kMinAdjustmentBandPixels = 2048;

template <class T>
constexpr float kUnit = 1.0f;
template <>
constexpr float kUnit<uint8_t> = 255.0f;
template <>
constexpr float kUnit<uint16_t> = 65535.0f;

template <class T>
T Store(float c, bool exact) {
  if constexpr (std::is_same_v<T, float>) {
    return c;  // high-dynamic-range values above 1 pass
  } else {
    constexpr float unit = kUnit<T>;
    if (exact) {
      if (c <= 0) return 0;
      if (c >= 1) return static_cast<T>(unit);
      return static_cast<T>(c * unit + 0.5f);
    }
    return static_cast<T>(std::clamp(std::nearbyint(c * unit), 0.0f, unit));
  }
}

template <class T>
T Inverted(T v) {
  if constexpr (std::is_same_v<T, float>) {
    return 1.0f - v;
  } else {
    return static_cast<T>(static_cast<T>(kUnit<T>) - v);
  }
}

template <class T>
void AdjustColourRows(ImageBuffer& target, const ImageBuffer& source, const ColourKernel& kernel, bool invert,
                      uint32_t y0, uint32_t y1) {
  const float unit = kUnit<T>;
  for (uint32_t y = y0; y < y1; ++y) {
    const T* s = reinterpret_cast<const T*>(source.Row(y));
    T* d = reinterpret_cast<T*>(target.Row(y));
    for (uint32_t x = 0; x < source.Width(); ++x, s += 4, d += 4) {
      float b = s[0] / unit, g = s[1] / unit, r = s[2] / unit;
      kernel.Apply(&r, &g, &b);
      d[0] = Store<T>(b, kernel.exactPath);
      d[1] = Store<T>(g, kernel.exactPath);
      d[2] = Store<T>(r, kernel.exactPath);
      if (invert) {
        for (int c = 0; c < 3; ++c) d[c] = Inverted(d[c]);
      }
      d[3] = s[3];
    }
  }
}

template <class T>
void AdjustGreyRows(ImageBuffer& target, const ImageBuffer& source, const ColourKernel& kernel, bool invert,
                    uint32_t y0, uint32_t y1) {
  const float unit = kUnit<T>;
  for (uint32_t y = y0; y < y1; ++y) {
    const T* s = reinterpret_cast<const T*>(source.Row(y));
    T* d = reinterpret_cast<T*>(target.Row(y));
    for (uint32_t x = 0; x < source.Width(); ++x) {
      float v = s[x] / unit;
      kernel.ApplyGrey(&v);
      d[x] = Store<T>(v, kernel.exactPath);
      if (invert) d[x] = Inverted(d[x]);
    }
  }
}

void RotateHue(float* r, float* g, float* b, float turn) {
  const float v = std::max({*r, *g, *b});
  const float delta = v - std::min({*r, *g, *b});
  const float s = v == 0 ? 0 : delta / v;
  float h = 0;
  if (delta != 0) {
    if (*r == v) {
      h = (*g - *b) / delta;
    } else if (*g == v) {
      h = (*b - *r) / delta + 2;
    } else {
      h = (*r - *g) / delta + 4;
    }
    h /= 6;
    if (h < 0) h += 1;
  }
  h += turn;
  if (h >= 1) {
    h -= 1;
  } else if (h < 0) {
    h += 1;
  }
  if (s == 0) {
    *r = *g = *b = v;
    return;
  }
  const float h6 = h * 6;
  const int sector = static_cast<int>(h6) % 6;
  const float f = h6 - std::floor(h6);
  const float p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (sector) {
    case 0: *r = v, *g = t, *b = p; break;
    case 1: *r = q, *g = v, *b = p; break;
    case 2: *r = p, *g = v, *b = t; break;
    case 3: *r = p, *g = q, *b = v; break;
    case 4: *r = t, *g = p, *b = v; break;
    default: *r = v, *g = p, *b = q; break;
  }
}

template <size_t N>
void OrientPixels(ImageBuffer& target, const ImageBuffer& source, uint8_t orientation) {
  const uint32_t turns = orientation & 3;
  const bool mirror = orientation & 4, flip = orientation & 8;
  const uint32_t sw = source.Width(), sh = source.Height();
  const uint32_t tw = target.Width(), th = target.Height();
  for (uint32_t y = 0; y < th; ++y) {
    uint8_t* d = target.Row(y);
    const uint32_t y1 = flip ? th - 1 - y : y;
    for (uint32_t x = 0; x < tw; ++x, d += N) {
      const uint32_t x1 = mirror ? tw - 1 - x : x;
      uint32_t sx = x1, sy = y1;
      if (turns == 1) {
        sx = y1, sy = sh - 1 - x1;
      } else if (turns == 2) {
        sx = sw - 1 - x1, sy = sh - 1 - y1;
      } else if (turns == 3) {
        sx = sw - 1 - y1, sy = x1;
      }
      std::memcpy(d, source.Row(sy) + size_t{sx} * N, N);
    }
  }
}

template <class T>
void FlattenRows(ImageBuffer& target, const ImageBuffer& source, uint32_t background) {
  const float unit = kUnit<T>;
  // The background's channels in B, G, R order, and its alpha, as 0...1.
  const float bg[3] = {(background & 0xFF) / 255.0f, ((background >> 8) & 0xFF) / 255.0f,
                       ((background >> 16) & 0xFF) / 255.0f};
  for (uint32_t y = 0; y < source.Height(); ++y) {
    const T* s = reinterpret_cast<const T*>(source.Row(y));
    T* d = reinterpret_cast<T*>(target.Row(y));
    for (uint32_t x = 0; x < source.Width(); ++x, s += 4, d += 4) {
      const float a = s[3] / unit;
      for (int c = 0; c < 3; ++c) d[c] = Store<T>(s[c] / unit * a + bg[c] * (1 - a), true);
      d[3] = static_cast<T>(unit);
    }
  }
}

// Unsharp masking with the [1 2 1] × [1 2 1] / 16 blur, edges repeated.
template <class T, uint32_t N>
void SharpenRows(ImageBuffer& target, const ImageBuffer& source, float factor) {
  const uint32_t w = source.Width(), h = source.Height();
  constexpr uint32_t colours = N == 4 ? 3 : 1;
  constexpr float weights[3] = {1, 2, 1};
  for (uint32_t y = 0; y < h; ++y) {
    const T* rows[3] = {reinterpret_cast<const T*>(source.Row(y == 0 ? 0 : y - 1)),
                        reinterpret_cast<const T*>(source.Row(y)),
                        reinterpret_cast<const T*>(source.Row(y + 1 < h ? y + 1 : y))};
    T* d = reinterpret_cast<T*>(target.Row(y));
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t columns[3] = {x == 0 ? 0 : x - 1, x, x + 1 < w ? x + 1 : x};
      for (uint32_t c = 0; c < colours; ++c) {
        float blur = 0;
        for (int j = 0; j < 3; ++j)
          for (int i = 0; i < 3; ++i) blur += weights[j] * weights[i] * rows[j][columns[i] * N + c];
        blur /= 16;
        const float v = rows[1][x * N + c];
        float out = v + (v - blur) * factor;
        if constexpr (!std::is_same_v<T, float>) out = std::clamp(std::nearbyint(out), 0.0f, kUnit<T>);
        d[x * N + c] = static_cast<T>(out);
      }
      if constexpr (N == 4) d[x * N + 3] = rows[1][x * N + 3];
    }
  }
}

struct Span {
  uint32_t x0, y0, x1, y1;  // clipped, half-open
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

Span Clip(int64_t left, int64_t top, int64_t width, int64_t height, const ImageBuffer& image) {
  const auto clamp = [](int64_t v, uint32_t limit) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, limit)); };
  return {clamp(left, image.Width()), clamp(top, image.Height()), clamp(left + width, image.Width()),
          clamp(top + height, image.Height())};
}

uint8_t Byte(float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); }

void BlendOver(uint8_t* d, const uint8_t* s) {
  const uint32_t sa = s[3];
  if (sa == 255) {
    std::memcpy(d, s, 4);
    return;
  }
  if (sa == 0) return;
  const float as = sa / 255.0f, ad = d[3] / 255.0f;
  const float ao = as + ad * (1 - as);
  for (int c = 0; c < 3; ++c) d[c] = Byte((s[c] / 255.0f * as + d[c] / 255.0f * ad * (1 - as)) / ao);
  d[3] = Byte(ao);
}

}  // namespace

int ColourAdjustments::Count() const {
  const float values[] = {contrast, brightness, hue, saturation, luminance, red, green, blue};
  int n = static_cast<int>(std::count_if(std::begin(values), std::end(values), [](float v) { return v != 0; }));
  return n + (gamma != 1) + invert;
}

ColourKernel::ColourKernel(const ColourAdjustments& a)
    : exactPath(a.hue != 0 || a.gamma != 1),
      a_(a),
      offsetR_((a.red - (a.green + a.blue) / 2) / 2),
      offsetG_((a.green - (a.red + a.blue) / 2) / 2),
      offsetB_((a.blue - (a.red + a.green) / 2) / 2) {}

void ColourKernel::Apply(float* r, float* g, float* b) const {
  if (a_.hue != 0) RotateHue(r, g, b, a_.hue);
  *r += offsetR_;
  *g += offsetG_;
  *b += offsetB_;
  const float l = (*r + *g + *b) * 0.33333334f;
  const float base = ((l - 0.5f) * a_.contrast + l) * (1 + a_.brightness) + a_.luminance;
  for (float* c : {r, g, b}) {
    *c = base + (*c - l) * (1 + a_.saturation);
    if (a_.gamma != 1 && *c > 0) *c = std::pow(*c, 2 - a_.gamma);
  }
}

void ColourKernel::ApplyGrey(float* v) const {
  // One channel: the sample is its own luminance, so hue, saturation and
  // the colour offsets do nothing.
  const float l = *v;
  *v = ((l - 0.5f) * a_.contrast + l) * (1 + a_.brightness) + a_.luminance;
  if (a_.gamma != 1 && *v > 0) *v = std::pow(*v, 2 - a_.gamma);
}

uint32_t AdjustmentBandCount(ImageSize size) {
  return BandCountFor(size.width, size.height, kMinAdjustmentBandPixels);
}

Status AdjustColours(ImageBuffer& target, const ImageBuffer& source, const ColourAdjustments& adjustments,
                     uint32_t bands) {
  if (target.Format() != source.Format() || !(target.Dimensions() == source.Dimensions()))
    return kStatusSizeMismatch;
  using Rows = void (*)(ImageBuffer&, const ImageBuffer&, const ColourKernel&, bool, uint32_t, uint32_t);
  Rows rows = nullptr;
  switch (source.Format()) {
    case PixelFormat::Rgba8: rows = AdjustColourRows<uint8_t>; break;
    case PixelFormat::Rgba16: rows = AdjustColourRows<uint16_t>; break;
    case PixelFormat::RgbaF: rows = AdjustColourRows<float>; break;
    case PixelFormat::Grey8: rows = AdjustGreyRows<uint8_t>; break;
    case PixelFormat::Grey16: rows = AdjustGreyRows<uint16_t>; break;
    case PixelFormat::GreyF: rows = AdjustGreyRows<float>; break;
    default: return kStatusColourFormat;
  }
  const ColourKernel kernel(adjustments);
  const uint32_t height = source.Height();
  bands = std::clamp<uint32_t>(bands, 1, height);
  RunBands(bands, [&](uint32_t band) {
    rows(target, source, kernel, adjustments.invert, static_cast<uint32_t>(uint64_t{band} * height / bands),
         static_cast<uint32_t>(uint64_t{band + 1} * height / bands));
  });
  return kStatusOk;
}

void CopyDescription(ImageBuffer& target, const ImageBuffer& source) {
  static_cast<FrameFields&>(target.Frame()) = source.Frame();
  target.SetUsesAlpha(source.UsesAlpha());
  if (source.Format() == PixelFormat::Indexed8 && target.Format() == PixelFormat::Indexed8)
    target.SetPalette(source.Palette(), 256);
}

ImageBuffer* OrientImage(const ImageBuffer& source, uint8_t orientation) {
  const bool swap = orientation & 1;
  const ImageSize size = swap ? ImageSize{source.Height(), source.Width()} : source.Dimensions();
  Ref<ImageBuffer> target(CreateImageBuffer(source.Format(), size, false));
  if (!target) return nullptr;
  switch (source.BytesPerPixel()) {
    case 1: OrientPixels<1>(*target, source, orientation); break;
    case 2: OrientPixels<2>(*target, source, orientation); break;
    case 4: OrientPixels<4>(*target, source, orientation); break;
    case 8: OrientPixels<8>(*target, source, orientation); break;
    default: OrientPixels<16>(*target, source, orientation); break;
  }
  CopyDescription(*target, source);
  return target.Detach();
}

ImageBuffer* CropImage(const ImageBuffer& source, const Crop& crop) {
  const Span s = Clip(crop.left, crop.top, crop.width, crop.height, source);
  if (s.Empty()) return nullptr;
  Ref<ImageBuffer> target(CreateImageBuffer(source.Format(), {s.x1 - s.x0, s.y1 - s.y0}, false));
  if (!target) return nullptr;
  const size_t bpp = source.BytesPerPixel();
  for (uint32_t y = s.y0; y < s.y1; ++y)
    std::memcpy(target->Row(y - s.y0), source.Row(y) + s.x0 * bpp, (s.x1 - s.x0) * bpp);
  CopyDescription(*target, source);
  return target.Detach();
}

int32_t SharpeningStrength(float amount) {
  const float scaled = amount * 256;
  // 2^31 is exact in a float, where INT32_MAX is not.
  constexpr float kLimit = 2147483648.0f;
  if (!(scaled > -kLimit && scaled < kLimit)) return 0;
  return static_cast<int32_t>(scaled);
}

ImageBuffer* SharpenImage(const ImageBuffer& source, int32_t strength) {
  Ref<ImageBuffer> target(CreateImageBuffer(source.Format(), source.Dimensions(), false));
  if (!target) return nullptr;
  const float factor = strength / 256.0f;
  switch (source.Format()) {
    case PixelFormat::Rgba8: SharpenRows<uint8_t, 4>(*target, source, factor); break;
    case PixelFormat::Rgba16: SharpenRows<uint16_t, 4>(*target, source, factor); break;
    case PixelFormat::RgbaF: SharpenRows<float, 4>(*target, source, factor); break;
    case PixelFormat::Grey8: SharpenRows<uint8_t, 1>(*target, source, factor); break;
    case PixelFormat::Grey16: SharpenRows<uint16_t, 1>(*target, source, factor); break;
    case PixelFormat::GreyF: SharpenRows<float, 1>(*target, source, factor); break;
    default: return nullptr;
  }
  CopyDescription(*target, source);
  return target.Detach();
}

ImageBuffer* FlattenImage(const ImageBuffer& source, uint32_t background) {
  Ref<ImageBuffer> target(CreateImageBuffer(source.Format(), source.Dimensions(), false));
  if (!target) return nullptr;
  switch (source.Format()) {
    case PixelFormat::Rgba8: FlattenRows<uint8_t>(*target, source, background); break;
    case PixelFormat::Rgba16: FlattenRows<uint16_t>(*target, source, background); break;
    case PixelFormat::RgbaF: FlattenRows<float>(*target, source, background); break;
    default: return nullptr;
  }
  CopyDescription(*target, source);
  target->SetUsesAlpha(0);
  return target.Detach();
}

void PremultiplyRow(const uint8_t* source, uint8_t* target, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, source += 4, target += 4) {
    const uint32_t a = source[3];
    for (int c = 0; c < 3; ++c) target[c] = static_cast<uint8_t>((source[c] * a + 127) / 255);
    target[3] = static_cast<uint8_t>(a);
  }
}

ImageBuffer* PremultiplyAlpha(const ImageBuffer& source) {
  if (source.Format() != PixelFormat::Rgba8) return nullptr;
  Ref<ImageBuffer> target(CreateImageBuffer(PixelFormat::Rgba8, source.Dimensions(), true));
  if (!target) return nullptr;
  for (uint32_t y = 0; y < source.Height(); ++y) PremultiplyRow(source.Row(y), target->Row(y), source.Width());
  CopyDescription(*target, source);
  target->SetUsesAlpha(2);
  return target.Detach();
}

ImageBuffer* CreateCanvas(const ImageBuffer& frame) {
  const FrameInfo& f = frame.Frame();
  const ImageSize size{std::max(f.canvasWidth, frame.Width()), std::max(f.canvasHeight, frame.Height())};
  Ref<ImageBuffer> canvas(CreateImageBuffer(PixelFormat::Rgba8, size, true));
  if (!canvas) return nullptr;
  static_cast<FrameFields&>(canvas->Frame()) = f;
  canvas->SetUsesAlpha(frame.UsesAlpha());
  FillArea(*canvas, {0, 0, static_cast<int32_t>(size.width), static_cast<int32_t>(size.height)}, f.background);
  return canvas.Detach();
}

Status DrawFrame(ImageBuffer& canvas, ImageBuffer& frame) {
  Ref<ImageBuffer> converted;
  ImageBuffer* pixels = &frame;
  if (frame.Format() != PixelFormat::Rgba8) {
    converted = Ref<ImageBuffer>(CloneImageBuffer(frame, false, false, PixelFormat::Rgba8));
    if (!converted) return kStatusOutOfMemory;
    pixels = converted.get();
  }
  // Offsets and sizes come from the file: whatever lies outside the canvas is dropped.
  const FrameInfo& f = frame.Frame();
  const Span s = Clip(f.left, f.top, frame.Width(), frame.Height(), canvas);
  for (uint32_t y = s.y0; y < s.y1; ++y) {
    const uint8_t* src = pixels->Row(y - f.top) + size_t{s.x0 - f.left} * 4;
    uint8_t* dst = canvas.Row(y) + size_t{s.x0} * 4;
    if (f.blend == 1) {
      for (uint32_t x = s.x0; x < s.x1; ++x, src += 4, dst += 4) BlendOver(dst, src);
    } else {
      std::memcpy(dst, src, size_t{s.x1 - s.x0} * 4);
    }
  }
  return kStatusOk;
}

void FillArea(ImageBuffer& canvas, const Rect& area, uint32_t colour) {
  const Span s = Clip(area.left, area.top, area.width, area.height, canvas);
  for (uint32_t y = s.y0; y < s.y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(canvas.Row(y));
    std::fill(row + s.x0, row + s.x1, colour);
  }
}

void PasteArea(ImageBuffer& canvas, const ImageBuffer& from, Point at) {
  const Span s = Clip(at.x, at.y, from.Width(), from.Height(), canvas);
  for (uint32_t y = s.y0; y < s.y1; ++y)
    std::memcpy(canvas.Row(y) + size_t{s.x0} * 4, from.Row(static_cast<uint32_t>(y - at.y)) + size_t(s.x0 - at.x) * 4,
                size_t{s.x1 - s.x0} * 4);
}

ImageBuffer* CopyArea(const ImageBuffer& canvas, const Rect& area) {
  if (area.width <= 0 || area.height <= 0) return nullptr;
  Ref<ImageBuffer> saved(CreateImageBuffer(PixelFormat::Rgba8, {uint32_t(area.width), uint32_t(area.height)}, false));
  if (!saved) return nullptr;
  FillArea(*saved, {0, 0, area.width, area.height}, 0);
  const Span s = Clip(area.left, area.top, area.width, area.height, canvas);
  for (uint32_t y = s.y0; y < s.y1; ++y)
    std::memcpy(saved->Row(static_cast<uint32_t>(y - area.top)) + size_t(s.x0 - area.left) * 4,
                canvas.Row(y) + size_t{s.x0} * 4, size_t{s.x1 - s.x0} * 4);
  return saved.Detach();
}

uint32_t SamplePixel(const ImageBuffer& image, uint32_t x, uint32_t y) {
  const uint8_t* row = image.Row(y);
  const auto grey = [](uint32_t v) { return 0xFF000000u | v * 0x010101u; };
  switch (image.Format()) {
    case PixelFormat::Rgba8: {
      uint32_t v;
      std::memcpy(&v, row + size_t{x} * 4, 4);
      return v;
    }
    case PixelFormat::Rgba16: {
      const uint16_t* p = reinterpret_cast<const uint16_t*>(row) + size_t{x} * 4;
      return uint32_t(p[3] >> 8) << 24 | uint32_t(p[2] >> 8) << 16 | uint32_t(p[1] >> 8) << 8 | (p[0] >> 8);
    }
    case PixelFormat::RgbaF: {
      const float* p = reinterpret_cast<const float*>(row) + size_t{x} * 4;
      return uint32_t{Byte(p[3])} << 24 | uint32_t{Byte(p[2])} << 16 | uint32_t{Byte(p[1])} << 8 | Byte(p[0]);
    }
    case PixelFormat::Grey8: return grey(row[x]);
    case PixelFormat::Grey16: return grey(reinterpret_cast<const uint16_t*>(row)[x] >> 8);
    case PixelFormat::GreyF: {
      const float v = std::clamp(reinterpret_cast<const float*>(row)[x], 0.0f, 1.0f);
      return grey(static_cast<uint32_t>(v * 65535 + 0.5f) >> 8);
    }
    case PixelFormat::Indexed8: return image.Palette() ? image.Palette()[row[x]] : grey(row[x]);
    default: return 0;
  }
}

uint32_t PickBackgroundColour(const ImageBuffer& image) {
  const uint32_t w = image.Width(), h = image.Height();
  if (w == 0 || h == 0) return 0xFF808080u;
  const uint32_t corners[5][2] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h / 2}};
  const uint32_t inner[5][2] = {{w / 2, h / 4}, {w / 2, 3 * h / 4}, {w / 4, h / 2}, {3 * w / 4, h / 2}, {w / 2, h / 2}};
  for (const auto* points : {corners, inner}) {
    uint32_t channels[3][5];
    uint32_t n = 0;
    for (int i = 0; i < 5; ++i) {
      const uint32_t p = SamplePixel(image, points[i][0], points[i][1]);
      if ((p >> 24) <= 63) continue;
      for (int c = 0; c < 3; ++c) channels[c][n] = (p >> (8 * c)) & 0xFF;
      ++n;
    }
    if (n < 3) continue;
    uint32_t result = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
      std::sort(channels[c], channels[c] + n);
      result |= channels[c][n / 2] << (8 * c);
    }
    return result;
  }
  return 0xFF808080u;
}

namespace {

uint8_t NearestEntry(const uint32_t* palette, uint32_t colour) {
  uint8_t best = 0;
  int32_t bestDistance = INT32_MAX;
  for (uint32_t i = 0; i < 256; ++i) {
    int32_t distance = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int32_t d = static_cast<int32_t>((palette[i] >> shift) & 0xFF) - static_cast<int32_t>((colour >> shift) & 0xFF);
      distance += d * d;
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<uint8_t>(i);
    }
  }
  return best;
}

// Rows -1 and h are guard rows; column -1 lies in the margin before each
// row, column w in the slack after it.
template <class Pixel>
void WriteRing(ImageBuffer& image, Pixel value) {
  const int64_t w = image.Width(), h = image.Height();
  const ptrdiff_t rowBytes = static_cast<ptrdiff_t>(image.RowBytes());
  for (int64_t y = -1; y <= h; ++y) {
    Pixel* r = reinterpret_cast<Pixel*>(image.Row(0) + y * rowBytes);
    if (y < 0 || y == h) {
      std::fill(r - 1, r + w + 1, value);
    } else {
      r[-1] = value;
      r[w] = value;
    }
  }
}

}  // namespace

bool DrawBorder(ImageBuffer& image, uint32_t colour) {
  if (!image.IsScreenCompatible()) return false;
  if (image.Format() == PixelFormat::Rgba8) {
    WriteRing<uint32_t>(image, 0xFF000000u | colour);
  } else if (image.Format() == PixelFormat::Indexed8 && image.Palette()) {
    WriteRing<uint8_t>(image, NearestEntry(image.Palette(), colour));
  } else {
    WriteRing<uint8_t>(image, static_cast<uint8_t>((((colour >> 16) & 0xFF) * 299 + ((colour >> 8) & 0xFF) * 587 +
                                                    (colour & 0xFF) * 114) / 1000));
  }
  return true;
}

}  // namespace pv
