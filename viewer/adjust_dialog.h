#pragma once
// The image-adjustment dialog: one slider per adjustment value, the
// picture following every move, confirmed into the image's adjustment file
// or cancelled back to what it was.
#include <cstddef>

#include "viewer/adjustment_file.h"

namespace pv {

struct AdjustSlider {
  const wchar_t* label;
  int minimum, maximum;
  float positionsPerUnit;  // slider position = value × this
};

// Contrast, brightness, hue, saturation, luminance, red, green, blue,
// gamma and sharpening, in the order of the dialog.
inline constexpr size_t kAdjustSliderCount = 10;
extern const AdjustSlider kAdjustSliders[kAdjustSliderCount];

// The position that shows the value (rounded, within the slider's range).
int SliderPosition(const ViewAdjustments& values, size_t slider);
// Sets the one value the slider controls.
void SetSliderValue(ViewAdjustments* values, size_t slider, int position);

}  // namespace pv
