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
  bool operator==(const ImageSize&) const = default;
};

// The palette side of a buffer, which decoders write through.
class PaletteView {
 public:
  virtual const uint32_t* Palette() const = 0;
  virtual uint32_t* Palette() = 0;
  virtual void PaletteChanged() = 0;
  virtual void SetPalette(const uint32_t* entries, uint32_t count) = 0;

 protected:
  ~PaletteView() = default;
};

// Handles of the DIB section behind a screen-compatible buffer (HDC, HBITMAP,
// BITMAPINFO*, and the HPALETTE of a buffer with a colour table), kept opaque
// so that platform-neutral code can pass them on.
struct ScreenBitmap {
  void* deviceContext = nullptr;
  void* bitmap = nullptr;
  const void* info = nullptr;
  void* logicalPalette = nullptr;
};

class ImageBuffer : public CountedObject, public PaletteView {
 public:
  ~ImageBuffer() override;

  PropertySet& Properties() { return properties_; }
  virtual const ScreenBitmap* AsScreenBitmap() const { return nullptr; }
  bool IsScreenCompatible() const { return screen_; }

  PaletteView* AsIndexed8() { return format_ == PixelFormat::Indexed8 ? this : nullptr; }

  FrameInfo& Frame() { return frame_; }
  const FrameInfo& Frame() const { return frame_; }

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  const uint8_t* Pixels() const { return pixels_; }
  uint8_t* Pixels() { return pixels_; }
  uint32_t Stride() const { return stride_; }
  uint32_t RowCount() const { return rowCount_; }

  // PaletteView
  const uint32_t* Palette() const override { return palette_; }
  uint32_t* Palette() override { return palette_; }
  void PaletteChanged() override {}
  void SetPalette(const uint32_t* entries, uint32_t count) override;
  // Indexed8 -> Grey8 (frees the palette); does nothing on other formats.
  void DropPalette();

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

// Entry i = 0xFF000000 | i * 0x010101.
void FillGreyRamp(uint32_t* palette);

// Asks the system to give the pages of a fresh block (pixels, a decoder's
// coefficients) their memory now, so that first writes to them do not
// fault: for a thread with nothing else to do while another decodes. The
// contents do not change, so other threads may write the block meanwhile.
// One implementation per platform; nothing where there is no such request.
void PopulateBlock(void* block, size_t bytes);

}  // namespace pv
