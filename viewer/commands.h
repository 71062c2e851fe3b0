#pragma once
#include <cstdint>

namespace pv {

// WM_COMMAND identifiers of the viewer that the geometry and rendering act on.
enum ViewerCommand : uint32_t {
  kCmdNextImage = 20001,
  kCmdPreviousImage = 20002,
  kCmdZoom12 = 20016,  // first of the nine presets, 12.5 % to 800 %
  kCmdZoom800 = 20024,
  kCmdZoomIn = 20025,
  kCmdZoomOut = 20026,
  kCmdZoomPhysical = 20027,
  kCmdTurnRight = 20028,
  kCmdTurnHalf = 20029,
  kCmdTurnLeft = 20030,
  kCmdMirror = 20031,
  kCmdFlip = 20032,
};

}  // namespace pv
