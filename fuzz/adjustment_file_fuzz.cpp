// An image's adjustment file: whatever it names is read into the values,
// and the values written back read back as themselves.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/adjustment_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pv::ViewAdjustments values;
  if (!pv::DecodeAdjustments(data, size, &values)) return 0;
  if (values.orientation > pv::kMaxOrientation) __builtin_trap();
  const std::vector<uint8_t> bytes = pv::EncodeAdjustments(values, 0);
  pv::ViewAdjustments again;
  if (!bytes.empty() && !pv::DecodeAdjustments(bytes.data(), bytes.size(), &again)) __builtin_trap();
  // NaN never equals itself, so only a file without one must come back whole.
  const pv::ColourAdjustments& c = values.colour;
  for (float f : {c.contrast, c.brightness, c.hue, c.saturation, c.luminance, c.red, c.green, c.blue, c.gamma,
                  values.sharpening}) {
    if (std::isnan(f)) return 0;
  }
  if (!(again == values)) __builtin_trap();
  return 0;
}
