// Without a screen to draw on, the screen-compatible variant keeps the DIB
// section's geometry on the heap: one guard row above row 0 and at least one below.
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "core/image_buffer_impl.h"

namespace pv {

void AdviseLargeBlock(void* block, size_t bytes) {
  // Only whole 2 MB pages inside the block can be huge; smaller blocks are not worth a call.
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

ImageBuffer* CreateScreenImageBuffer(PixelFormat format, ImageSize size, const BufferGeometry& geometry) {
  Ref<HeapImageBuffer> buffer(new (std::nothrow) HeapImageBuffer(format, size, true));
  if (!buffer || !buffer->Allocate(geometry, geometry.rowBytes + 16)) return nullptr;
  return buffer.Detach();
}

}  // namespace pv
