#pragma once
// The text of the image information window: what the image is and every
// property it carries, one "name:<tab>value" line each.
#include <string>

#include "core/image_buffer.h"

namespace pv {

// Lines end in CR LF (the edit control and the clipboard want them). The
// size, page and frame lines come first, then the properties in their order.
std::wstring ImageInformationText(ImageBuffer& image, uint32_t frameIndex, uint32_t frameCount);

}  // namespace pv
