#include <gtest/gtest.h>

#include "core/text.h"
#include "viewer/options_pages.h"

namespace {

// Every value a control of the sheet can set must come back from storage
// as set: a range wider than the stored form allows would be lost at the
// next start, and a wrong accessor would change another option.
TEST(OptionsPages, EveryValueTheSheetSetsIsStoredAndTouchesOnlyItsOption) {
  for (size_t i = 0; i < pv::kOptionControlCount; ++i) {
    const pv::OptionControl& c = pv::kOptionControls[i];
    const int32_t maximum = c.kind == pv::OptionKind::Colour ? 0xFFFFFF : c.maximum;
    for (int32_t value : {c.minimum, maximum, (c.minimum + maximum) / 2}) {
      pv::Options options;
      c.set(options, value);
      uint8_t stored[pv::kOptionsBlockSize];
      pv::EncodeOptions(options, stored);
      const pv::Options back = pv::DecodeOptions(stored, sizeof stored);
      EXPECT_EQ(c.get(back), value) << pv::WideToUtf8(c.label) << " = " << value;
      for (size_t j = 0; j < pv::kOptionControlCount; ++j) {
        const pv::OptionControl& other = pv::kOptionControls[j];
        if (j != i) {
          EXPECT_EQ(other.get(back), other.get(pv::Options())) << i << " changed " << j;
        }
      }
    }
  }
}

}  // namespace
