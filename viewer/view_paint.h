#pragma once
// What painting a framed window decides before it draws: where the final
// image stands in the client, and the colour behind it.
#include <cstdint>
#include <string>
#include <vector>

#include "core/image_buffer.h"
#include "core/property_set.h"
#include "viewer/view_geometry.h"

namespace pv {

struct ImagePlacement {
  Point origin;  // client position of the image's top-left pixel
  Point scroll;  // the offsets clamped to the image
};

// Centred where the image is smaller than the client, else at minus the
// clamped scroll offset.
ImagePlacement PlaceImage(Extent client, ImageSize displayed, Point scroll);

struct BackgroundChoice {
  bool composition = false;      // the desktop blur shows through
  bool useStoredColour = false;  // the stored setting overrides the image's own
  uint32_t storedColour = 0;     // 0xRRGGBB
};

// 0xAARRGGBB: transparent black under composition; the colour the image's
// frames declare, else one picked from its pixels; or the stored colour, opaque.
uint32_t ChooseBackground(const BackgroundChoice& choice, const ImageBuffer* image);

enum class OverlayColumn : uint8_t { Left = 0, Right = 1, Centre = 2 };

struct OverlayText {
  std::wstring text;
  OverlayColumn column = OverlayColumn::Left;
  bool bottom = false;
  bool operator==(const OverlayText&) const = default;
};

// The text overlays of a three-byte setting, one per byte: the high nibble
// (1-6) picks the property, bits 0-1 the column, bits 2-3 the row (1 is the
// bottom). Bytes that pick nothing, or a property without text, give none.
std::vector<OverlayText> ChooseOverlays(uint32_t setting, PropertySet& properties);

}  // namespace pv
