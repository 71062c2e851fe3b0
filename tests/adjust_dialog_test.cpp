#include "viewer/adjust_dialog.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(AdjustDialog, EachSliderSetsItsOwnValue) {
  // shown: the position the value shows as, back on the slider
  struct Case { size_t slider; int position; float value; int shown; } cases[] = {
      {0, -40, -0.4f, -40}, {1, 50, 0.5f, 50},  {2, 90, 0.25f, 90},    {3, 100, 1.0f, 100},
      {4, -100, -1.0f, -100}, {5, 1, 0.01f, 1}, {6, 20, 0.2f, 20},     {7, -5, -0.05f, -5},
      {8, 150, 1.5f, 150},  {9, 200, 2.0f, 200}, {9, 500, 2.0f, 200},  {8, 0, 0.1f, 10},
  };
  for (const Case& c : cases) {
    pv::ViewAdjustments v;
    v.orientation = 5;
    pv::SetSliderValue(&v, c.slider, c.position);
    pv::ViewAdjustments expected;
    expected.orientation = 5;
    float* fields[] = {&expected.colour.contrast, &expected.colour.brightness, &expected.colour.hue,
                       &expected.colour.saturation, &expected.colour.luminance, &expected.colour.red,
                       &expected.colour.green, &expected.colour.blue, &expected.colour.gamma, &expected.sharpening};
    *fields[c.slider] = c.value;
    EXPECT_EQ(v, expected) << c.slider << " at " << c.position << ": only its own value";
    EXPECT_EQ(pv::SliderPosition(v, c.slider), c.shown) << c.slider;
  }
}

TEST(AdjustDialog, ValuesFromAFileShowWithinTheSlider) {
  pv::ViewAdjustments v;
  EXPECT_EQ(pv::SliderPosition(v, 8), 100) << "neutral gamma";
  v.colour.contrast = 7.0f;
  v.colour.hue = -0.75f;
  v.colour.red = NAN;
  v.colour.green = 0.123f;
  EXPECT_EQ(pv::SliderPosition(v, 0), 100);
  EXPECT_EQ(pv::SliderPosition(v, 2), -180);
  EXPECT_EQ(pv::SliderPosition(v, 5), -100);
  EXPECT_EQ(pv::SliderPosition(v, 6), 12);
}

}  // namespace
