#pragma once
// The top-level window that shows one image: it loads files through the
// image cache, sizes itself to the image and routes messages to the
// geometry, rendering and commands.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "browse/folder_listing.h"
#include "browse/navigation.h"
#include "core/decoder.h"
#include "settings/app_settings.h"
#include "settings/key_bindings.h"
#include "toolkit/window.h"
#include "viewer/command_state.h"
#include "viewer/draw_view.h"
#include "viewer/open_trace.h"
#include "viewer/program_resources.h"
#include "viewer/taskbar_indicator.h"
#include "viewer/view_geometry.h"
#include "viewer/view_state.h"
#include "viewer/viewer_preferences.h"

namespace pv {

class ImageCache;

// What a new viewer window starts with (from the command line or a caller).
struct ViewerWindowOptions {
  const wchar_t* title = nullptr;
  int32_t x = INT32_MIN, y = INT32_MIN;  // INT32_MIN: no position given
  float zoom = -1.0f;                    // -1: the window chooses
  bool fullScreen = false;
  bool frozen = false;
  bool topmost = false;
  HMONITOR monitor = nullptr;
};

// Process-wide state shared by all viewer windows, set up by start-up.
struct ViewerProcess {
  ImageCache* cache = nullptr;
  ViewerPreferences preferences;
  // The stored key bindings; the built-in table serves when empty.
  std::vector<KeyBinding> keyBindings;
  std::span<const KeyBinding> ActiveKeyBindings() const {
    return keyBindings.empty() ? std::span<const KeyBinding>(kBuiltInKeyBindings, kBuiltInKeyBindingCount)
                               : std::span<const KeyBinding>(keyBindings);
  }
  // The settings record: the slideshow writer keeps its choices there.
  AppSettings* settings = nullptr;
  // Makes the viewer's preferences and keys from the settings again.
  void (*settingsChanged)() = nullptr;
  // Opens a further window (drops, commands); null file: the open dialog.
  void (*openViewer)(const wchar_t* file, HWND owner) = nullptr;
  // Opens a browser window on the folder of the path (none: the current one).
  void (*openBrowser)(const wchar_t* path, HWND owner) = nullptr;
  // A second start's hand-over (WM_COPYDATA).
  void (*receiveHandOver)(uint32_t tag, const uint8_t* payload, size_t size) = nullptr;
  // Every file opened puts its folder first among the recent ones, even when
  // it cannot be shown; a shown one becomes the last file.
  void (*fileOpened)(const wchar_t* path, bool shown) = nullptr;
  // A frozen window at the end of the session, and one opened again.
  void (*frozenSessionEnd)(const wchar_t* path, int32_t x, int32_t y, float zoom) = nullptr;
  void (*frozenOpened)(const wchar_t* path) = nullptr;
  // The taskbar progress; none when the shell offers none.
  TaskbarIndicator* taskbar = nullptr;
};
ViewerProcess& Viewer();

class ViewerWindow : public ToolkitWindow, private FolderObserver {
 public:
  // A new window showing the file (after an error box when it cannot be
  // shown), or null when no window could be made or it was closed meanwhile.
  static ViewerWindow* Open(const wchar_t* file, const ViewerWindowOptions& options);
  ~ViewerWindow() override;

  // The road of every file into this window; false when it could not be shown.
  bool OpenFile(const wchar_t* path, bool prefetch, bool reportErrors);
  // Shows an image that came from no file ("<clipboard>", "<capture>"):
  // no folder, no steps, no prefetch. False when it cannot be shown.
  bool ShowPseudoImage(ImageBuffer& image, const wchar_t* name);
  // Plays a slideshow script here; false when it is not one or a show runs.
  bool PlaySlideshow(const wchar_t* path);
  bool HasImage() const { return view_.get() != nullptr; }
  bool IsBorderless() const { return borderless_; }
  bool HasComposition() const { return composition_; }
  ViewState* View() const { return view_.get(); }
  const wchar_t* CurrentFileName() const;

  // Geometry operations.
  void SetZoom(double zoom);
  void ZoomToFit(bool resizeWindow, bool fill, const Rect* client = nullptr);
  void FitWindowToImage(bool keepCentre);
  void ApplyLayout();
  void ResetZoom();
  void Turn(uint32_t command);
  void CropImageToVisible();
  void RefreshTitle();
  // Switches between the framed and the borderless (layered) window; the
  // client keeps its place on the screen.
  void SetBorderless(bool borderless);
  // The one-pixel frame of a borderless window follows the preferences.
  void RefreshBorder();
  // The keyboard table from the active key set (a frozen window's own part of it).
  void RebuildAccelerators();

  // The context menu for the window's state, with its item icons.
  IconMenu BuildContextMenu() const;
  // What the window can carry out now (greyed and beeped otherwise).
  CommandContext CommandState() const;

  void OnCreate() override;
  void OnContextMenu(POINT point, bool fromKeyboard) override;
  void OnCommand(UINT id, UINT code, HWND control) override;
  void OnDestroy() override;
  void OnDropFiles(HDROP drop) override;
  void OnKey(UINT key, bool down, bool repeat, bool alt) override;
  void OnKillFocus(HWND next) override;
  void OnMouseMove(POINT point, UINT keys) override;
  bool OnMouseButton(MouseButton button, MouseAction action, POINT point, UINT keys) override;
  void OnMouseWheel(int delta, POINT point, UINT keys) override;
  void OnPaint(HDC dc, const PAINTSTRUCT& paint) override;
  bool OnSetCursor(HWND window, UINT hitTest, UINT message) override;
  bool OnPosChanging(WINDOWPOS* pos) override;
  bool OnSizing(UINT edge, RECT* rect) override;
  void OnActivateApp(bool active) override;
  void OnSize(UINT kind, SIZE size) override;
  void OnTimer(UINT_PTR id) override;
  void OnDpiChanged(UINT dpi, const RECT* suggested) override;
  void Redraw(const RECT* rect, bool now) override;
  HICON OnGetIcon(bool big, UINT dpi) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  friend class ToolkitWindow;  // MakeHeld
  ViewerWindow(const wchar_t* file, const ViewerWindowOptions& options);
  static constexpr UINT_PTR kAnimationTimer = 1;
  static constexpr UINT_PTR kHoverTimer = 42;

  // The monitor rectangle (maximized, topmost, full screen) or work area.
  Rect Area(bool wholeMonitor) const;
  Rect LayoutArea() const;
  Rect ClientOnScreen() const;
  bool IsMaximized() const;
  void PlaceClient(const Rect& client);
  // A borderless window is never larger than its image: the client shrinks
  // to it and the scroll offsets keep the image's end in view. Without a
  // position or size the current ones stay.
  void PlaceLayered(const POINT* position, const Extent* size, bool push);
  // The stored frame mode for a window that is not maximized; frozen
  // windows are borderless.
  void ApplyFrameMode();
  LONG_PTR BorderlessStyle() const;
  // The desktop's blur behind a framed window filled by a transparent image.
  void UpdateComposition();
  // Frozen: borderless, in its place, answering a short list of keys.
  void Freeze(bool frozen);
  // Maximized windows are framed; the restore brings the frame mode back.
  void Maximize();
  void Restore();
  // Ends one drag, size-move, menu or drop; the last runs the commands
  // that waited for it.
  void EndSizeMove();
  // The adjustment dialog on the shown image; confirmed, the values go to
  // its adjustment file.
  void AdjustImage();
  void ReadFrameMetrics(UINT dpi);
  void Navigate(NavigationMode mode);
  // A maximized window's image is zoomed to fit when the settings ask for
  // it (always, or when it is larger than the monitor); false otherwise.
  bool FitMaximized();
  // The layout this window will give its next image, as far as it is known now.
  LayoutGuess NextLayoutGuess() const;
  void ScheduleAnimation();
  void AdvanceAnimation();
  // Stops an animation on its frame, or lets it run on.
  void PauseAnimation(bool pause);
  // One frame on or back while paused; a beep when there is none.
  void StepAnimation(StepDirection direction);
  void SetBusy(bool on);
  HCURSOR ChosenCursor();
  // Shows the chosen cursor when the mouse is over the client area.
  void RefreshCursor();
  // Loaded cursors have the size of the DPI scale they were loaded at.
  void DropCursors();
  void BuildDisplay();
  // A new view of the image, laid out later by the caller; a view the
  // decode ahead prepared for this very image is taken as it is.
  void SetImage(ImageBuffer& image, const wchar_t* path, Ref<CountedObject> prepared = {});
  // A file whose preview costs little and that the layout will shrink shows
  // its preview at the size the whole image will have, painted at once.
  void ShowQuickPreview(ImageDecoder& decoder, const wchar_t* path);
  // The file commands: save, rename, copy, move, delete, wipe, wallpaper,
  // clipboard and capture.
  void RunFileCommand(UINT id);
  // The save dialog, then the shown image as a bitmap; false when nothing was written.
  bool SaveAsBitmap();
  // The clipboard's bitmap shown as "<clipboard>"; false, after telling the
  // user, when it holds none that can be shown.
  bool PasteImageFromClipboard();
  const wchar_t* DensityText() const;
  // The shown file is gone or elsewhere: the image stays, without a path.
  void ForgetFile();
  void ShowError(Status status, const wchar_t* path);

  Ref<ViewState> view_;
  Ref<FolderListing> listing_;   // the folder's entries as the steps last saw them
  Ref<FolderListing> observed_;  // the listing that tells this window of changes
  // Watches the folder of `path` through its listing, which the next step uses.
  void WatchFolderOf(const wchar_t* path);
  // On the watcher's thread: only posts kMsgFolderChanged.
  void FolderChanged() override;
  Ref<ProgressSink> progress_;
  OpenTrace trace_;
  ViewerWindowOptions options_;
  BackgroundBrush brush_;
  AcceleratorTable accelerators_;
  FrameMetrics metrics_;
  Point scroll_;
  Extent client_;
  double startZoom_;
  bool autoPosition_;
  bool hadClient_ = false;
  // While a preview stands in for the image being decoded: the view it
  // replaced, which comes back when the decode fails.
  bool previewShown_ = false;
  Ref<ViewState> beforePreview_;
  bool exceedsScreen_ = false;
  bool topmost_ = false;
  bool borderless_ = false;
  bool composition_ = false;
  bool maximizedAtLayout_ = false;
  bool wasMaximized_ = false;
  Rect frozenPlace_{};  // client of a frozen window on the screen; empty until its first layout
  bool slideshow_ = false;
  bool playing_ = false;  // a script plays in this window now
  bool dragging_ = false;
  bool moveMode_ = false;
  bool wheelWithRight_ = false;
  POINT lastDrag_{};
  WheelAccumulator wheel_;
  uint32_t busy_ = 0;
  uint32_t resizing_ = 0;
  uint32_t sizeMove_ = 0;
  // Hand-overs copied out of WM_COPYDATA, opened when kMsgHandOver arrives,
  // so that the second start is answered at once.
  struct HandOver {
    uint32_t tag;
    std::vector<uint8_t> payload;
  };
  std::vector<HandOver> handOvers_;
  std::vector<uint32_t> deferred_;  // commands (id, code) waiting for the size-move to end
  uint64_t animationDue_ = 0;
  bool paused_ = false;
  double dpiScale_ = 1.0;
  ViewerCursors cursors_;
  OwnedIcon icons_[2];  // small, big
};

}  // namespace pv
