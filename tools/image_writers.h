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

// PAM (P7, RGB_ALPHA, MAXVAL 255) and 32-bit Windows bitmap files.
std::vector<uint8_t> EncodePam(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height);
std::vector<uint8_t> EncodeBmp32(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height);

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace pv
