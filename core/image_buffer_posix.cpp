// Without a screen to draw on, the screen-compatible variant keeps the DIB
// section's geometry on the heap: one guard row above row 0 and at least one below.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "core/image_buffer_impl.h"

namespace pv {

// Whole pages inside the block only, so the request never reaches memory
// the block does not own. Kernels before 5.14 refuse it, which leaves the
// faults where they were.
void PopulateBlock(void* block, size_t bytes) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

ImageBuffer* CreateScreenImageBuffer(PixelFormat format, ImageSize size, const BufferGeometry& geometry) {
  Ref<HeapImageBuffer> buffer(new (std::nothrow) HeapImageBuffer(format, size, true));
  if (!buffer || !buffer->Allocate(geometry, geometry.rowBytes + 16)) return nullptr;
  return buffer.Detach();
}

}  // namespace pv
