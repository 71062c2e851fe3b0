#pragma once
// The base of every window of the program: one window procedure turns each
// message into a virtual operation of the object that owns the window.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdint>
#include <new>
#include <utility>

#include "toolkit/handles.h"

namespace pv {

// Mouse buttons and actions as OnMouseButton receives them.
enum class MouseButton : uint8_t { Left = 0, Right = 1, Middle = 2, Extra1 = 3, Extra2 = 4 };
enum class MouseAction : uint8_t { Down = 0, Up = 1, DoubleClick = 2, FrameDown = 3, FrameUp = 4 };

struct WindowStyle {
  bool isPopup = false;
  bool resizable = false;      // thick frame
  bool topmost = false;
  bool hasCaption = false;     // caption, system menu, minimise box
  bool layered = false;
  bool clickThrough = false;   // transparent to the mouse
  bool hasVScroll = false;
  bool hasHScroll = false;
  bool hasMaximiseBox = false;
  uint8_t acceptsFiles = 0;    // above 0: dropped files are accepted
  bool noActivate = false;
  bool trackHover = false;
  bool trackLeave = false;
};

struct CreateOptions {
  HWND parent = nullptr;
  POINT position{CW_USEDEFAULT, CW_USEDEFAULT};
  SIZE size{CW_USEDEFAULT, CW_USEDEFAULT};  // of the whole window
  bool child = false;
  bool visible = true;
  const wchar_t* title = L"";
};

// A function of user32 that older systems may lack: null there.
template <class F>
F User32Function(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// Whether the mouse cursor is over the window or one of its children.
bool CursorOverWindow(HWND window);

// The window's DPI; 96 where the system cannot tell.
UINT WindowDpi(HWND window);
// A system metric as it is at `dpi` (scaled from the system's where the
// system cannot tell).
int SystemMetricForDpi(int index, UINT dpi);

class ToolkitWindow {
 public:
  ToolkitWindow();
  ToolkitWindow(const ToolkitWindow&) = delete;
  ToolkitWindow& operator=(const ToolkitWindow&) = delete;

  virtual ~ToolkitWindow();
  // Client width and height; false (and 0, 0) when the window has none.
  virtual bool GetClientSize(SIZE* out) const;
  // Moves and sizes the window; a coordinate of kKeepCoordinate keeps the current one.
  virtual void SetPlacement(POINT position, SIZE size, UINT extraFlags);
  // Invalidates without erasing; `now` updates at once.
  virtual void Redraw(const RECT* rect, bool now);
  virtual void OnActivateApp(bool active);
  // False skips the default processing.
  virtual bool OnActivate(HWND other, UINT state);
  virtual void Destroy();
  virtual void OnCreate();
  virtual void OnCommand(UINT id, UINT code, HWND control);
  virtual void OnContextMenu(POINT point, bool fromKeyboard);
  virtual void OnDestroy();
  virtual void OnDropFiles(HDROP drop);
  // True means the background is done.
  virtual bool OnEraseBackground(HDC dc);
  virtual void OnHelp(const HELPINFO* info);
  virtual void OnKey(UINT key, bool down, bool repeat, bool alt);
  virtual void OnKillFocus(HWND next);
  virtual void OnMouseMove(POINT point, UINT keys);
  virtual void OnMouseHover(POINT point, UINT keys);
  virtual void OnMouseLeave();
  // Client-area points for actions 0-2, screen points and the hit-test code
  // as `keys` for the frame actions. False asks for the default processing.
  virtual bool OnMouseButton(MouseButton button, MouseAction action, POINT point, UINT keys);
  // Screen point, as the message gives it.
  virtual void OnMouseWheel(int delta, POINT point, UINT keys);
  virtual LRESULT OnNotify(UINT id, const NMHDR* header);
  virtual void OnPaint(HDC dc, const PAINTSTRUCT& paint);
  virtual void OnScroll(bool vertical, UINT code, UINT position, HWND control);
  virtual bool OnSetCursor(HWND window, UINT hitTest, UINT message);
  virtual void OnSetFocus(HWND previous);
  // True means handled: the default processing is skipped.
  virtual bool OnPosChanging(WINDOWPOS* pos);
  virtual bool OnPosChanged(const WINDOWPOS* pos);
  virtual bool OnSizing(UINT edge, RECT* rect);
  virtual void OnSize(UINT kind, SIZE size);
  virtual bool OnMoving(RECT* rect);
  virtual void OnMove(POINT point);
  virtual void OnTimer(UINT_PTR id);
  // Null asks for the default processing.
  virtual HICON OnGetIcon(bool big, UINT dpi);
  virtual void OnDpiChanged(UINT dpi, const RECT* suggested);
  // Every other message; true returns *result instead of the default processing.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  static constexpr LONG kKeepCoordinate = -32768;

  // The native window, of class "muiPopup" for popups and "muiWindow" otherwise.
  HWND Create(const CreateOptions& options);
  HWND Handle() const { return window_; }
  WindowStyle& Style() { return style_; }
  // The object is deleted when its window is destroyed: at once, or when the
  // outermost message being handled by the object returns.
  void SetSelfOwned(bool selfOwned) { selfOwned_ = selfOwned; }
  // Work outside any message (a constructor that opens a file and may show
  // an error box) counts as a message being handled: a window destroyed
  // meanwhile is not deleted under it. EndHold is true when the window went
  // meanwhile and the holder must now delete the object.
  void BeginHold() { ++nesting_; }
  [[nodiscard]] bool EndHold() { return --nesting_ == 0 && deletePending_; }
  // A window whose constructor began a hold: null when it could not be
  // made or was closed while it was being made.
  template <class W, class... Args>
  static W* MakeHeld(Args&&... args) {
    W* window = new (std::nothrow) W(std::forward<Args>(args)...);
    if (window && (window->EndHold() || !window->Handle())) {
      delete window;
      return nullptr;
    }
    return window;
  }
  // The table the message loops translate this window's keys with; not owned.
  void SetAccelerators(const AcceleratorTable* table) { accelerators_ = table; }
  const AcceleratorTable* Accelerators() const { return accelerators_; }

  // Destroys every open popup window.
  static void CloseAllPopups();
  // A loop for one window, until WM_QUIT.
  static void RunWindowLoop(ToolkitWindow& window);
  // Lists the window in the main loop and runs the loop unless it already
  // runs. The loop ends when the last listed window is destroyed.
  static void RunMainLoop(ToolkitWindow& window);

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT RouteMouseButton(UINT message, WPARAM wParam, LPARAM lParam);
  bool IsInsideOpenPopup() const;
  void Unlist();

  HWND window_ = nullptr;
  bool selfOwned_ = false;
  WindowStyle style_;
  bool trackingPending_ = true;
  const AcceleratorTable* accelerators_ = nullptr;
  // Messages of this object being handled, nested loops included.
  uint32_t nesting_ = 0;
  bool deletePending_ = false;
};

}  // namespace pv
