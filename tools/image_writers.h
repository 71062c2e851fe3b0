#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/image_buffer.h"
#include "core/status.h"

namespace pv {

// The image as rows of R, G, B, A bytes, top-down, straight alpha; an
// image that does not use alpha has alpha 255.
Status ToStraightRgba(ImageBuffer& image, std::vector<uint8_t>* rgba);

// PAM (P7, RGB_ALPHA, MAXVAL 255) or top-down 32-bit Windows bitmap, both
// with the straight alpha of ToStraightRgba.
enum class ImageFileKind : uint8_t { Pam, Bmp32 };

// Writes the image straight from its pixels: rows are converted into a small
// block that goes to the file as it fills, so no second whole image exists
// (except a converted copy when the pixels are not 8-bit B, G, R, A).
Status WriteImageFile(const std::wstring& path, ImageBuffer& image, ImageFileKind kind);

// One row of 8-bit B, G, R, A pixels (usesAlpha as ImageBuffer::UsesAlpha:
// 0 none, 1 straight, 2 premultiplied) as straight R, G, B, A when
// swapRedBlue, else straight B, G, R, A. The vector form and its scalar twin.
namespace scalar {
void StraightRow(uint8_t* out, const uint8_t* p, uint32_t width, uint8_t usesAlpha, bool swapRedBlue);
}
#if defined(__SSE2__)
namespace sse2 {
void StraightRow(uint8_t* out, const uint8_t* p, uint32_t width, uint8_t usesAlpha, bool swapRedBlue);
}
#endif

std::vector<uint8_t> EncodeBmp32(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height);

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace pv
