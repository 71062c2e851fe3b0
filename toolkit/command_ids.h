#pragma once
#include <cstdint>

namespace pv {

// WM_COMMAND identifiers of the viewer. They are stored in the user's key
// bindings, so their numbers never change.
enum ViewerCommand : uint32_t {
  kCmdOpen = 20000,
  kCmdNextImage = 20001,
  kCmdPreviousImage = 20002,
  kCmdFirst = 20003,
  kCmdLast = 20004,
  kCmdOpenNewWindow = 20005,
  kCmdNextAlt = 20006,
  kCmdPreviousAlt = 20007,
  kCmdBrowse = 20008,
  kCmdWindowCycle = 20009,
  kCmdWindowCycleBack = 20010,
  kCmdZoomToWindow = 20011,
  kCmdFitWindow = 20012,
  kCmdActualPixels = 20013,
  kCmdCropToVisible = 20014,
  kCmdToggleMaximize = 20015,
  kCmdZoom12 = 20016,  // first of the nine presets, 12.5 % to 800 %
  kCmdZoom25 = 20017,
  kCmdZoom50 = 20018,
  kCmdZoom75 = 20019,
  kCmdZoom100 = 20020,
  kCmdZoom150 = 20021,
  kCmdZoom200 = 20022,
  kCmdZoom400 = 20023,
  kCmdZoom800 = 20024,
  kCmdZoomIn = 20025,
  kCmdZoomOut = 20026,
  kCmdZoomPhysical = 20027,
  kCmdTurnRight = 20028,
  kCmdTurnHalf = 20029,
  kCmdTurnLeft = 20030,
  kCmdMirror = 20031,
  kCmdFlip = 20032,
  kCmdFreeze = 20033,
  kCmdReload = 20034,
  kCmdAdjust = 20035,
  kCmdOptions = 20036,
  kCmdPixelColour = 20037,
  kCmdSaveAs = 20038,
  kCmdRename = 20039,
  kCmdCopyTo = 20040,
  kCmdMoveTo = 20041,
  kCmdDelete = 20042,
  kCmdDeleteAndNext = 20043,
  kCmdWipe = 20044,
  kCmdWipeAndNext = 20045,
  kCmdOpenFolder = 20046,
  kCmdSetWallpaper = 20047,
  kCmdCopy = 20048,
  kCmdPaste = 20049,
  kCmdSlideshow = 20050,
  kCmdSlideshowAlt = 20051,
  kCmdStopSlideshow = 20052,
  kCmdToggleOption = 20053,
  kCmdCaptureScreen = 20054,
  kCmdCaptureWindow = 20055,
  kCmdOptionsAlt = 20056,
  kCmdMaximize = 20057,
  kCmdRestore = 20058,
  kCmdBringToFront = 20059,
  kCmdSendToBack = 20060,
  kCmdToggleTopmost = 20061,
  kCmdHelp = 20062,
  kCmdCloseAll = 20063,
  kCmdClose = 20064,
  // Sent by the program to its windows, never bound to keys.
  kCmdApplyLayout = 20065,
  kCmdBusyCursor = 20066,     // code 1 raises the busy count, 0 lowers it
  kCmdSlideshowFlag = 20067,  // code 1 sets the flag, 0 clears it
  kCmdRebuildAccelerators = 20068,
  // Bindable like the first range.
  kCmdPauseAnimation = 20069,  // pauses, or resumes a paused animation
  kCmdNextFrame = 20070,       // while paused
  kCmdPreviousFrame = 20071,   // while paused
  kCmdToggleBorder = 20072,    // the one-pixel frame of borderless windows
  kCmdBorderColour = 20073,
  kCmdImageInfo = 20074,      // every property of the image, in a window of its own
};

inline constexpr uint32_t kFirstViewerCommand = kCmdOpen;
inline constexpr uint32_t kLastUserCommand = kCmdClose;
inline constexpr uint32_t kFirstLaterCommand = kCmdPauseAnimation;
inline constexpr uint32_t kLastLaterCommand = kCmdImageInfo;

// The ids a key or a menu may carry.
constexpr bool IsUserCommand(uint32_t id) {
  return (id >= kFirstViewerCommand && id <= kLastUserCommand) ||
         (id >= kFirstLaterCommand && id <= kLastLaterCommand);
}

// The program's own window messages, from WM_APP (0x8000) on.
enum AppMessage : uint32_t {
  kMsgHandOver = 0x8000 + 1,     // a second start's command line, copied, waits to be opened
  kMsgFolderChanged = 0x8000 + 2,  // the shown image's folder changed
  kMsgSettingsChanged = 0x8000 + 3,  // the options sheet changed the settings: show them
  kMsgThumbnailsMade = 0x8000 + 4,  // a browser window has finished thumbnails waiting
};

}  // namespace pv
