#pragma once
#include <cstdint>

#include "core/counted.h"
#include "core/pixel_format.h"
#include "core/property_set.h"
#include "core/status.h"

namespace pv {

class ImageBuffer;

inline constexpr uint32_t kDelayWaitForUser = 0xFFFFFFFFu;  // also marks a new page

// The scalar part of a frame record; decoders keep one and copy it into
// each buffer they produce.
struct FrameFields {
  uint32_t canvasWidth = 0, canvasHeight = 0;
  uint32_t background = 0;  // 0xAARRGGBB
  uint8_t loop = 0;
  uint32_t left = 0, top = 0;
  uint32_t delay = 0;     // milliseconds
  uint8_t disposal = 0;   // 0 leave, 1 background, 2 previous
  uint8_t blend = 0;      // 1 composite over the canvas
};

struct FrameInfo : FrameFields {
  ImageBuffer* previous = nullptr;        // not counted
  ImageBuffer* next = nullptr;            // counted
  CountedObject* auxiliary = nullptr;     // counted
};

struct ImageSize {
  uint32_t width = 0, height = 0;
  uint64_t Packed() const { return width | (uint64_t{height} << 32); }
  bool operator==(const ImageSize&) const = default;
};

// Typed view of a buffer's pixels.
class ImageView {
 public:
  virtual uint32_t Width() const = 0;
  virtual uint32_t Height() const = 0;
  virtual uint64_t Size() const = 0;
  virtual const uint8_t* Pixels() const = 0;
  virtual uint8_t* Pixels() = 0;
  virtual uint32_t Stride() const = 0;
  virtual uint32_t RowCount() const = 0;

 protected:
  ~ImageView() = default;
};

// The view of Grey8 and Indexed8 buffers, which carry a palette.
class PaletteView : public ImageView {
 public:
  virtual const uint32_t* Palette() const = 0;
  virtual uint32_t* Palette() = 0;
  virtual void PaletteChanged() = 0;
  virtual void SetPalette(const uint32_t* entries, uint32_t count) = 0;
  // Indexed8 -> Grey8 (frees the palette); does nothing on Grey8.
  virtual void DropPalette() = 0;
  // Grey8 -> Indexed8 with the grey ramp; does nothing on Indexed8.
  virtual bool AddGreyPalette() = 0;

 protected:
  ~PaletteView() = default;
};

// Handles of the DIB section behind a screen-compatible buffer (HDC, HBITMAP,
// BITMAPINFO*), kept opaque so that platform-neutral code can pass them on.
struct ScreenBitmap {
  void* deviceContext = nullptr;
  void* bitmap = nullptr;
  const void* info = nullptr;
};

class ImageBuffer : public CountedObject, public PaletteView {
 public:
  ~ImageBuffer() override;

  PropertySet& Properties() { return properties_; }
  virtual const ScreenBitmap* AsScreenBitmap() const { return nullptr; }
  bool IsScreenCompatible() const { return screen_; }

  ImageView* AsGrey8() { return Is(PixelFormat::Grey8); }
  ImageView* AsGrey16() { return Is(PixelFormat::Grey16); }
  ImageView* AsGreyF() { return Is(PixelFormat::GreyF); }
  ImageView* AsRgba8() { return Is(PixelFormat::Rgba8); }
  ImageView* AsRgba16() { return Is(PixelFormat::Rgba16); }
  ImageView* AsRgbaF() { return Is(PixelFormat::RgbaF); }
  PaletteView* AsIndexed8() { return format_ == PixelFormat::Indexed8 ? this : nullptr; }
  // Grey8 buffers also answer as palette views, for AddGreyPalette.
  PaletteView* AsPaletteView() {
    return format_ == PixelFormat::Indexed8 || format_ == PixelFormat::Grey8 ? this : nullptr;
  }

  FrameInfo& Frame() { return frame_; }
  const FrameInfo& Frame() const { return frame_; }

  // ImageView
  uint32_t Width() const override { return width_; }
  uint32_t Height() const override { return height_; }
  uint64_t Size() const override { return ImageSize{width_, height_}.Packed(); }
  const uint8_t* Pixels() const override { return pixels_; }
  uint8_t* Pixels() override { return pixels_; }
  uint32_t Stride() const override { return stride_; }
  uint32_t RowCount() const override { return rowCount_; }

  // PaletteView
  const uint32_t* Palette() const override { return palette_; }
  uint32_t* Palette() override { return palette_; }
  void PaletteChanged() override {}
  void SetPalette(const uint32_t* entries, uint32_t count) override;
  void DropPalette() override;
  bool AddGreyPalette() override;

  PixelFormat Format() const { return format_; }
  ImageSize Dimensions() const { return {width_, height_}; }
  uint8_t UsesAlpha() const { return usesAlpha_; }
  void SetUsesAlpha(uint8_t v) { usesAlpha_ = v; }
  uint32_t BytesPerPixel() const { return bytesPerPixel_; }
  size_t RowBytes() const { return size_t{stride_} * bytesPerPixel_; }
  uint8_t* Row(uint32_t y) { return pixels_ + y * RowBytes(); }
  const uint8_t* Row(uint32_t y) const { return pixels_ + y * RowBytes(); }

  // Makes `next` the following frame (taking over the caller's reference)
  // after releasing any previous successor.
  void SetNext(ImageBuffer* next);
  // Detaches and returns the following frame with its reference.
  ImageBuffer* DetachNext();

 protected:
  ImageBuffer(PixelFormat format, ImageSize size, bool screen);
  ImageView* Is(PixelFormat f) { return format_ == f ? this : nullptr; }
  // The 1024-byte palette block, preset (entries 253-255) or as the grey ramp.
  bool CreatePalette(bool greyRamp);

  uint32_t width_, height_;
  PixelFormat format_;
  uint8_t usesAlpha_ = 0;
  bool screen_;
  FrameInfo frame_;
  PropertySet properties_;
  uint32_t bytesPerPixel_;
  uint32_t stride_ = 0;
  uint32_t rowCount_ = 0;
  uint8_t* pixels_ = nullptr;
  uint32_t dataOffset_ = 0;
  uint32_t* palette_ = nullptr;
};

// Row pitch and row count of a buffer before it is allocated.
struct BufferGeometry {
  uint32_t bytesPerPixel = 0;
  uint32_t rowBytes = 0;
  uint32_t stride = 0;     // pixels
  uint32_t rowCount = 0;
  uint64_t totalBytes = 0; // whole allocation
};

// False when the format is invalid, the size is 0 or the result exceeds the limits.
bool ComputeBufferGeometry(PixelFormat format, ImageSize size, bool screen, uint32_t minRowBytes,
                           uint32_t minRows, BufferGeometry* out);

// A new buffer with reference count 1, or null (format above 6, a screen
// buffer for a format other than Rgba8, Grey8 and Indexed8, a 0 size, or an
// allocation failure). Contents are undefined except the palette presets.
ImageBuffer* CreateImageBuffer(PixelFormat format, ImageSize size, bool screenCompatible,
                               uint32_t minRowBytes = 0, uint32_t minRows = 0);

// Palette block helpers shared by the heap and screen variants.
uint32_t* AllocatePalette();
void FreePalette(uint32_t* palette);
void PresetPalette(uint32_t* palette);
void FillGreyRamp(uint32_t* palette);

}  // namespace pv
