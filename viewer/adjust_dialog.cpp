#include "viewer/adjust_dialog.h"

#include <algorithm>
#include <cmath>

namespace pv {

// Colour values act on samples in 0...1; hue turns once around; gamma is
// neutral at 1; sharpening from none to twice the full strength.
const AdjustSlider kAdjustSliders[kAdjustSliderCount] = {
    {L"Contrast", -100, 100, 100},   {L"Brightness", -100, 100, 100}, {L"Hue", -180, 180, 360},
    {L"Saturation", -100, 100, 100}, {L"Luminance", -100, 100, 100},  {L"Red", -100, 100, 100},
    {L"Green", -100, 100, 100},      {L"Blue", -100, 100, 100},       {L"Gamma", 10, 190, 100},
    {L"Sharpen", 0, 200, 100},
};

namespace {

float& Field(ViewAdjustments& v, size_t slider) {
  ColourAdjustments& c = v.colour;
  switch (slider) {
    case 0: return c.contrast;
    case 1: return c.brightness;
    case 2: return c.hue;
    case 3: return c.saturation;
    case 4: return c.luminance;
    case 5: return c.red;
    case 6: return c.green;
    case 7: return c.blue;
    case 8: return c.gamma;
    default: return v.sharpening;
  }
}

}  // namespace

int SliderPosition(const ViewAdjustments& values, size_t slider) {
  const AdjustSlider& s = kAdjustSliders[slider];
  ViewAdjustments copy = values;
  const double position = std::round(double(Field(copy, slider)) * s.positionsPerUnit);
  if (!(position >= s.minimum)) return s.minimum;  // NaN too
  return static_cast<int>(std::min<double>(position, s.maximum));
}

void SetSliderValue(ViewAdjustments* values, size_t slider, int position) {
  const AdjustSlider& s = kAdjustSliders[slider];
  Field(*values, slider) = static_cast<float>(std::clamp(position, s.minimum, s.maximum) / double(s.positionsPerUnit));
}

}  // namespace pv
