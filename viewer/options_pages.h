#pragma once
// What the options sheet offers: every stored option a user can sensibly
// set, on the page of its group, with the control its values suggest.
#include <cstddef>
#include <cstdint>

#include "settings/options_block.h"

namespace pv {

enum class OptionPage : uint8_t { Viewer, Browser, Slideshow };
inline constexpr int kOptionPageCount = 3;

enum class OptionKind : uint8_t {
  Check,   // a switch
  Choice,  // one of `choices`, stored as minimum + its index
  Number,  // a whole number from minimum to maximum
  Colour,  // 0xRRGGBB through the colour dialog
};

struct OptionControl {
  OptionPage page;
  OptionKind kind;
  const wchar_t* label;
  int32_t (*get)(const Options&);
  void (*set)(Options&, int32_t);
  int32_t minimum = 0, maximum = 1;
  const wchar_t* const* choices = nullptr;  // maximum - minimum + 1 texts
};

extern const OptionControl kOptionControls[];
extern const size_t kOptionControlCount;

const wchar_t* OptionPageTitle(OptionPage page);

}  // namespace pv
