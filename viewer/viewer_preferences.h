#pragma once
// The stored settings as the viewer windows use them.
#include <cstdint>

namespace pv {

// How a window that is not maximized shows its frame.
enum class FrameMode : uint8_t {
  Framed = 0,      // always
  Hover = 1,       // while the mouse is over the window
  Borderless = 2,  // never
};

// The stored settings the viewer reads.
struct ViewerPreferences {
  bool autoSize = true;
  bool shrinkOnly = true;
  bool shrinkLargeInFullScreen = true;
  bool openFullScreen = false;
  bool showFullPath = false;
  bool detailsInTitle = false;
  uint32_t backgroundColour = 0x808080;  // 0xRRGGBB
  bool automaticBackground = true;       // the image's own colour, else the stored one
  bool translucent = true;               // blur behind transparent images; off once it failed
  FrameMode frameMode = FrameMode::Framed;
  bool border = false;        // a one-pixel frame around images in borderless windows
  uint32_t borderColour = 0;  // 0xRRGGBB
  uint32_t overlays = 0;  // three overlay bytes, the first in the low byte
  bool slideMaximise = true;  // maximise the window while a slideshow plays
};

}  // namespace pv
