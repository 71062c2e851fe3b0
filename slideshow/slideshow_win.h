#pragma once
// Slideshows on Windows: writing a folder's script (with its dialog) and
// playing a script inside a viewer window, pumping the window's queue.
#include <windows.h>

#include <functional>
#include <string>

#include "settings/app_settings.h"

namespace pv {

class FolderListingManager;
class ImageCache;

// The stop message of a running show: WM_USER with this wParam.
inline constexpr WPARAM kSlideshowStop = 30271;

// Writes the script of `folder` (the current directory when empty) and puts
// its full path in `path`. Without `quick` the script dialog asks first and
// stores the choices in `settings`. False when cancelled or not written.
bool WriteSlideshowScript(std::wstring* path, HWND owner, const std::wstring& folder, bool quick,
                          AppSettings& settings, FolderListingManager& listings);

// What the player needs of the viewer window that plays the show.
struct SlideshowViewer {
  HWND window = nullptr;
  std::wstring shownPath;  // the image shown before the show; empty for none
  // Opens an image in the window; `reopen` for the one shown before the show.
  std::function<bool(const std::wstring& path, bool reopen)> open;
  // The three view switches the show turns on, and auto-size's own switch.
  bool* autoSize = nullptr;
  bool* shrinkOnly = nullptr;
  bool* shrinkInFullScreen = nullptr;
  bool maximise = false;  // maximise the window during the show
  ImageCache* cache = nullptr;
};

// Plays the script; false when it cannot be opened or is not a script.
bool PlaySlideshowScript(const SlideshowViewer& viewer, const std::wstring& scriptPath);

// The poll after each statement: false when the show must stop.
bool PollAfterStatement(bool* stop);
// One reading of the queue while a show waits: true when the user asked to
// go on (or to stop, which sets *stop).
bool PollSlideshowInput(bool* stop, bool nested);

}  // namespace pv
