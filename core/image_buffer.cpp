#include "core/image_buffer.h"

#include <cstring>
#include <new>

#include "core/checked_math.h"
#include "core/image_buffer_impl.h"

namespace pv {

namespace {

constexpr std::align_val_t kPixelAlignment{16};
constexpr uint64_t kMaxAllocation = uint64_t{1} << 40;

uint32_t* AllocatePalette() {
  return static_cast<uint32_t*>(::operator new[](1024, kPixelAlignment, std::nothrow));
}

void FreePalette(uint32_t* palette) {
  if (palette) ::operator delete[](palette, kPixelAlignment);
}

void PresetPalette(uint32_t* palette) {
  palette[255] = 0xFF000000u;
  palette[254] = 0xFFFFFFFFu;
  palette[253] = 0;
}

}  // namespace

void FillGreyRamp(uint32_t* palette) {
  for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | (i * 0x010101u);
}

ImageBuffer::ImageBuffer(PixelFormat format, ImageSize size, bool screen)
    : width_(size.width),
      height_(size.height),
      format_(format),
      screen_(screen),
      bytesPerPixel_(pv::BytesPerPixel(format)) {}

ImageBuffer::~ImageBuffer() {
  // Walk the chain in a loop: a recursive release would take one stack frame
  // per frame of a long animation.
  ImageBuffer* next = frame_.next;
  frame_.next = nullptr;
  while (next) {
    next->frame_.previous = nullptr;
    ImageBuffer* after = nullptr;
    if (next->RefCount() == 1) {
      after = next->frame_.next;
      next->frame_.next = nullptr;
    }
    next->Release();
    next = after;
  }
  // The predecessor's forward link is the only counted reference to this
  // buffer, so a buffer still linked from a predecessor cannot be destroyed;
  // clear the link anyway so a broken count cannot leave it dangling.
  if (frame_.previous && frame_.previous->frame_.next == this) frame_.previous->frame_.next = nullptr;
  if (frame_.auxiliary) frame_.auxiliary->Release();
  FreePalette(palette_);
}

void ImageBuffer::SetPalette(const uint32_t* entries, uint32_t count) {
  if (!palette_ || !entries) return;
  if (count > 256) count = 256;
  std::memcpy(palette_, entries, count * 4u);
  PaletteChanged();
}

void ImageBuffer::DropPalette() {
  if (format_ != PixelFormat::Indexed8) return;
  FreePalette(palette_);
  palette_ = nullptr;
  format_ = PixelFormat::Grey8;
}

bool ImageBuffer::CreatePalette(bool greyRamp) {
  if (!palette_) palette_ = AllocatePalette();
  if (!palette_) return false;
  // Entries a file does not give are transparent black, never stale memory.
  std::memset(palette_, 0, 1024);
  if (greyRamp) {
    FillGreyRamp(palette_);
  } else {
    PresetPalette(palette_);
  }
  return true;
}

void ImageBuffer::SetNext(ImageBuffer* next) {
  if (ImageBuffer* old = DetachNext()) old->Release();
  frame_.next = next;
  if (next) next->frame_.previous = this;
}

ImageBuffer* ImageBuffer::DetachNext() {
  ImageBuffer* next = frame_.next;
  frame_.next = nullptr;
  if (next) next->frame_.previous = nullptr;
  return next;
}

HeapImageBuffer::~HeapImageBuffer() {
  if (block_) ::operator delete[](block_, kPixelAlignment);
}

bool HeapImageBuffer::Allocate(const BufferGeometry& g, uint32_t dataOffset) {
  if (g.totalBytes > SIZE_MAX) return false;
  block_ = static_cast<uint8_t*>(::operator new[](static_cast<size_t>(g.totalBytes), kPixelAlignment, std::nothrow));
  if (!block_) return false;
  stride_ = g.stride;
  // The screen geometry keeps a guard row above row 0.
  rowCount_ = screen_ ? g.rowCount - 1 : g.rowCount;
  pixels_ = block_ + dataOffset;
  if (format_ == PixelFormat::Indexed8) return CreatePalette(false);
  if (format_ == PixelFormat::Grey8 && screen_) return CreatePalette(true);
  return true;
}

bool ComputeBufferGeometry(PixelFormat format, ImageSize size, bool screen, uint32_t minRowBytes,
                           uint32_t minRows, BufferGeometry* out) {
  if (!IsValidFormat(format) || size.width == 0 || size.height == 0) return false;
  if (size.width > kMaxImageDimension || size.height > kMaxImageDimension) return false;
  // The process-wide pixel limit holds for every buffer, derived ones too.
  if (uint64_t{size.width} * size.height > ImagePixelLimit()) return false;
  BufferGeometry g;
  g.bytesPerPixel = pv::BytesPerPixel(format);
  uint64_t rowBytes = uint64_t{g.bytesPerPixel} * size.width + 32;
  if (minRowBytes > rowBytes) rowBytes = minRowBytes;
  rowBytes = (rowBytes + 15) & ~uint64_t{15};
  if (rowBytes > UINT32_MAX / 2) return false;
  g.rowBytes = static_cast<uint32_t>(rowBytes);
  g.stride = g.rowBytes / g.bytesPerPixel;
  uint64_t rows = screen ? uint64_t{minRows > size.height ? minRows : size.height} + 2
                         : (minRows > size.height + uint64_t{1} ? minRows : size.height + uint64_t{1});
  if (rows > UINT32_MAX / 2) return false;
  g.rowCount = static_cast<uint32_t>(rows);
  uint64_t total;
  if (!CheckedMul(uint64_t{g.stride} * g.bytesPerPixel, rows, kMaxAllocation, &total)) return false;
  g.totalBytes = screen ? total : total + 32;
  *out = g;
  return true;
}

ImageBuffer* CreateImageBuffer(PixelFormat format, ImageSize size, bool screenCompatible, uint32_t minRowBytes,
                               uint32_t minRows) {
  if (!IsValidFormat(format)) return nullptr;
  if (screenCompatible && format != PixelFormat::Rgba8 && format != PixelFormat::Grey8 &&
      format != PixelFormat::Indexed8)
    return nullptr;
  BufferGeometry g;
  if (!ComputeBufferGeometry(format, size, screenCompatible, minRowBytes, minRows, &g)) return nullptr;
  if (screenCompatible) return CreateScreenImageBuffer(format, size, g);
  Ref<HeapImageBuffer> buffer(new (std::nothrow) HeapImageBuffer(format, size, false));
  if (!buffer || !buffer->Allocate(g, 16)) return nullptr;
  return buffer.Detach();
}

}  // namespace pv
