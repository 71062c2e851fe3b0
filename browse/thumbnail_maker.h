#pragma once
// One thumbnail made from an image file: decoded straight at the size that
// fits the box, so formats with a cheap smaller rendition (JPEG's eighth
// scale) use it.
#include "browse/thumbnail_index.h"
#include "core/decoder.h"

namespace pv {

// The largest size of the image's shape within the box, never enlarged, at
// least 1 × 1.
ImageSize ThumbnailSize(ImageSize image, ThumbnailBox box);

// Fills the pixels, sizes and image fields of `entry` (name, file size and
// time are the caller's).
Status MakeThumbnail(const wchar_t* path, ThumbnailBox box, const CancelFlag* cancel, ThumbnailEntry* entry);

}  // namespace pv
