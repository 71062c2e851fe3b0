// The screen-compatible variant: a top-down DIB section selected into a
// memory DC, so the renderer can draw it without a copy.
#include <windows.h>

#include <cstring>
#include <new>

#include "core/image_buffer_impl.h"

namespace pv {

namespace {

struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

class DibImageBuffer final : public ImageBuffer {
 public:
  DibImageBuffer(PixelFormat format, ImageSize size) : ImageBuffer(format, size, true) {}
  ~DibImageBuffer() override {
    if (dc_) {
      if (oldBitmap_) SelectObject(dc_, oldBitmap_);
      DeleteDC(dc_);
    }
    if (bitmap_) DeleteObject(bitmap_);
    if (logicalPalette_) DeleteObject(logicalPalette_);
  }

  bool Create(const BufferGeometry& g) {
    std::memset(&info_, 0, sizeof(info_));
    info_.header.biSize = sizeof(BITMAPINFOHEADER);
    info_.header.biWidth = static_cast<LONG>(g.stride);
    info_.header.biHeight = -static_cast<LONG>(g.rowCount);
    info_.header.biPlanes = 1;
    info_.header.biBitCount = static_cast<WORD>(8 * g.bytesPerPixel);
    info_.header.biCompression = BI_RGB;
    info_.header.biClrUsed = 256;
    if (format_ != PixelFormat::Rgba8) {
      if (!CreatePalette(format_ == PixelFormat::Grey8)) return false;
      std::memcpy(info_.colours, palette_, 1024);
      // Made once; a palette screen selects and realizes it before a copy.
      LogicalPalette entries;
      FillEntries(entries);
      logicalPalette_ = ::CreatePalette(&entries.header);
      if (!logicalPalette_) return false;
    }
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) return false;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, reinterpret_cast<BITMAPINFO*>(&info_), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_ || !bits) return false;
    oldBitmap_ = SelectObject(dc_, bitmap_);
    stride_ = g.stride;
    rowCount_ = g.rowCount - 1;
    pixels_ = static_cast<uint8_t*>(bits) + g.rowBytes + 16;
    screenBitmap_ = {dc_, bitmap_, &info_, logicalPalette_};
    return true;
  }

  const ScreenBitmap* AsScreenBitmap() const override { return &screenBitmap_; }

  void PaletteChanged() override {
    if (!palette_ || !dc_) return;
    std::memcpy(info_.colours, palette_, 1024);
    SetDIBColorTable(dc_, 0, 256, info_.colours);
    LogicalPalette entries;
    FillEntries(entries);
    SetPaletteEntries(logicalPalette_, 0, 256, entries.header.palPalEntry);
  }

 private:
  DibHeader info_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  ScreenBitmap screenBitmap_;
  HPALETTE logicalPalette_ = nullptr;

  struct LogicalPalette {
    LOGPALETTE header;  // holds the first entry
    PALETTEENTRY more[255];
  };
  // The colour table in PALETTEENTRY order (red first), flags 0.
  void FillEntries(LogicalPalette& p) const {
    p.header.palVersion = 0x300;
    p.header.palNumEntries = 256;
    PALETTEENTRY* e = p.header.palPalEntry;
    for (int i = 0; i < 256; ++i) e[i] = {info_.colours[i].rgbRed, info_.colours[i].rgbGreen, info_.colours[i].rgbBlue, 0};
  }
};

}  // namespace

// Windows has no request that backs private pages for writing without
// writing them, which would race the decoder.
void PopulateBlock(void*, size_t) {}

ImageBuffer* CreateScreenImageBuffer(PixelFormat format, ImageSize size, const BufferGeometry& geometry) {
  Ref<DibImageBuffer> buffer(new (std::nothrow) DibImageBuffer(format, size));
  if (!buffer || !buffer->Create(geometry)) return nullptr;
  return buffer.Detach();
}

}  // namespace pv
