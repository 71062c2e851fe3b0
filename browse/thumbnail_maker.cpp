#include "browse/thumbnail_maker.h"

#include <algorithm>
#include <cstring>

#include "core/image_buffer.h"

namespace pv {

ImageSize ThumbnailSize(ImageSize image, ThumbnailBox box) {
  if (!image.width || !image.height) return {1, 1};
  if (image.width <= box.width && image.height <= box.height) return image;
  // Whichever side is tighter decides, rounded to the nearest pixel.
  const bool byWidth = uint64_t{box.width} * image.height <= uint64_t{box.height} * image.width;
  ImageSize size;
  if (byWidth) {
    size.width = box.width;
    size.height = static_cast<uint32_t>((uint64_t{image.height} * box.width + image.width / 2) / image.width);
  } else {
    size.height = box.height;
    size.width = static_cast<uint32_t>((uint64_t{image.width} * box.height + image.height / 2) / image.height);
  }
  size.width = std::max(size.width, 1u);
  size.height = std::max(size.height, 1u);
  return size;
}

Status MakeThumbnail(const wchar_t* path, ThumbnailBox box, const CancelFlag* cancel, ThumbnailEntry* entry) {
  Ref<ImageDecoder> decoder;
  Status s = OpenImage(path, true, &decoder);
  if (Failed(s)) return s;
  const ImageSize size = ThumbnailSize({decoder->Width(), decoder->Height()}, box);
  Ref<ImageBuffer> buffer(CreateImageBuffer(PixelFormat::Rgba8, size, false));
  if (!buffer) return kStatusOutOfMemory;
  s = decoder->Decode(*buffer, false, nullptr, cancel);
  if (Failed(s)) return s;
  entry->width = size.width;
  entry->height = size.height;
  entry->pixels.resize(size_t{size.width} * size.height);
  for (uint32_t y = 0; y < size.height; ++y)
    std::memcpy(entry->pixels.data() + size_t{y} * size.width, buffer->Row(y), size_t{size.width} * 4);
  entry->bitsPerPixel = static_cast<uint8_t>(std::min<uint32_t>(decoder->BitsPerPixel(), 255));
  entry->imageWidth = static_cast<uint16_t>(std::min<uint32_t>(decoder->Width(), 0xFFFF));
  entry->imageHeight = static_cast<uint16_t>(std::min<uint32_t>(decoder->Height(), 0xFFFF));
  return kStatusOk;
}

}  // namespace pv
