#include "viewer/command_state.h"

#include "toolkit/command_ids.h"

namespace pv {

bool CommandAvailable(uint32_t command, const CommandContext& c) {
  switch (command) {
    // Folder steps and file commands need the file the image came from.
    case kCmdNextImage:
    case kCmdPreviousImage:
    case kCmdFirst:
    case kCmdLast:
    case kCmdNextAlt:
    case kCmdPreviousAlt:
    case kCmdReload:
    case kCmdOpenFolder:
    case kCmdRename:
    case kCmdCopyTo:
    case kCmdMoveTo:
    case kCmdDelete:
    case kCmdDeleteAndNext:
    case kCmdWipe:
    case kCmdWipeAndNext:
      return c.hasFile && !c.slideshow;
    // They replace the shown image.
    case kCmdPaste:
      return c.clipboardHasImage && !c.slideshow;
    case kCmdCaptureScreen:
    case kCmdCaptureWindow:
      return !c.slideshow;
    case kCmdStopSlideshow:
      return c.slideshow;
    case kCmdSlideshow:
    case kCmdSlideshowAlt:
      return !c.slideshow;
    case kCmdRestore:
      return c.maximized;
    case kCmdZoomPhysical:
      return c.hasDensity;
    case kCmdPauseAnimation:
      return c.animated;
    case kCmdNextFrame:
    case kCmdPreviousFrame:
      return c.animated && c.paused;
    default:
      return IsUserCommand(command);
  }
}

}  // namespace pv
