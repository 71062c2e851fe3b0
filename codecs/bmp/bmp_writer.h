#pragma once
// Windows bitmaps written by the program: the packed DIB of the clipboard,
// the files of save-as and the wallpaper, and the file made from a DIB that
// another program put on the clipboard.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image_buffer.h"
#include "core/status.h"

namespace pv {

struct DibOptions {
  // An image that uses alpha keeps it in 32-bit pixels (the clipboard's
  // form); otherwise pixels are 24-bit.
  bool keepAlpha = false;
  uint32_t pixelsPerMetreX = 0, pixelsPerMetreY = 0;
};

// A 40-byte header, for Indexed8 images 256 palette entries (blue, green,
// red, 0) and 8-bit pixels, then the rows bottom-up, each padded to a
// multiple of 4 bytes. Images of other formats are converted first.
Status EncodeDib(ImageBuffer& image, const DibOptions& options, std::vector<uint8_t>* out);
// The same behind the 14-byte file header.
Status EncodeBitmapFile(ImageBuffer& image, const DibOptions& options, std::vector<uint8_t>* out);

// The bitmap file for a packed DIB as another program left it: header,
// palette (its colour count, or 2^bits up to 8 bits), bit-field masks of a
// 40-byte header, and pixels (the stated image size, or the padded rows).
// A block too short for what its header describes, or a header no bitmap
// has, is refused with kStatusDamaged; nothing beyond `size` is read.
Status BitmapFileFromDib(const uint8_t* dib, size_t size, std::vector<uint8_t>* out);

}  // namespace pv
