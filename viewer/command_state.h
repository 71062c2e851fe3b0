#pragma once
// Which commands a viewer window can carry out in its present state: the
// others are greyed in its menus and answered with a beep on their keys.
#include <cstdint>

namespace pv {

struct CommandContext {
  bool hasFile = false;     // the image came from a file (not the clipboard or a capture)
  bool animated = false;
  bool paused = false;      // an animation stopped on one frame
  bool slideshow = false;   // a slideshow runs in the window
  bool maximized = false;
  bool hasDensity = false;  // the image states its pixels per inch
  bool clipboardHasImage = false;
};

bool CommandAvailable(uint32_t command, const CommandContext& context);

}  // namespace pv
