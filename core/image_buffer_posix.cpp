// Without a screen to draw on, the screen-compatible variant keeps the DIB
// section's geometry on the heap: one guard row above row 0 and at least one below.
#include <new>

#include "core/image_buffer_impl.h"

namespace pv {

ImageBuffer* CreateScreenImageBuffer(PixelFormat format, ImageSize size, const BufferGeometry& geometry) {
  Ref<HeapImageBuffer> buffer(new (std::nothrow) HeapImageBuffer(format, size, true));
  if (!buffer || !buffer->Allocate(geometry, geometry.rowBytes + 16)) return nullptr;
  return buffer.Detach();
}

}  // namespace pv
