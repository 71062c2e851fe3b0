#pragma once
// Internal to the image core: the heap variant of ImageBuffer, also used by
// the platform files for the screen-compatible variant where no DIB exists.
#include "core/image_buffer.h"

namespace pv {

class HeapImageBuffer final : public ImageBuffer {
 public:
  HeapImageBuffer(PixelFormat format, ImageSize size, bool screen) : ImageBuffer(format, size, screen) {}
  ~HeapImageBuffer() override;
  // Allocates geometry.totalBytes and places row 0 at dataOffset.
  bool Allocate(const BufferGeometry& geometry, uint32_t dataOffset);

 private:
  uint8_t* block_ = nullptr;
};

// The screen-compatible variant; one implementation per platform.
ImageBuffer* CreateScreenImageBuffer(PixelFormat format, ImageSize size, const BufferGeometry& geometry);

}  // namespace pv
