#include "toolkit/window.h"

#include <windowsx.h>

#include <algorithm>
#include <vector>

namespace pv {

namespace {

constexpr wchar_t kWindowClass[] = L"muiWindow";
constexpr wchar_t kPopupClass[] = L"muiPopup";
constexpr size_t kMaxPopups = 8;

uint32_t g_liveWindows = 0;
std::vector<HWND> g_popups;
std::vector<HWND> g_mainLoopWindows;
bool g_mainLoopRunning = false;

void RegisterWindowClass(const wchar_t* name, UINT extraStyle, WNDPROC procedure) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | extraStyle;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  // The class outlives its last object while that object's window is still
  // being destroyed (UnregisterClass then fails): it is still ours to use.
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    // Without its classes the program cannot show anything.
    MessageBoxW(nullptr, L"RegisterClassEx failed", L"Pixvane", MB_OK | MB_ICONERROR);
    ExitProcess(1);
  }
}

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The window whose CreateWindowExW is under way on this thread: the first
// WM_GETMINMAXINFO arrives before WM_NCCREATE carries the object.
thread_local ToolkitWindow* t_creating = nullptr;

ToolkitWindow* FromHandle(HWND window) {
  return reinterpret_cast<ToolkitWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

POINT PointOf(LPARAM lParam) { return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

struct ButtonMessage {
  UINT message;
  MouseButton button;
  MouseAction action;
};

constexpr ButtonMessage kButtonMessages[] = {
    {WM_LBUTTONDOWN, MouseButton::Left, MouseAction::Down},
    {WM_LBUTTONUP, MouseButton::Left, MouseAction::Up},
    {WM_LBUTTONDBLCLK, MouseButton::Left, MouseAction::DoubleClick},
    {WM_RBUTTONDOWN, MouseButton::Right, MouseAction::Down},
    {WM_RBUTTONUP, MouseButton::Right, MouseAction::Up},
    {WM_RBUTTONDBLCLK, MouseButton::Right, MouseAction::DoubleClick},
    {WM_MBUTTONDOWN, MouseButton::Middle, MouseAction::Down},
    {WM_MBUTTONUP, MouseButton::Middle, MouseAction::Up},
    {WM_MBUTTONDBLCLK, MouseButton::Middle, MouseAction::DoubleClick},
    {WM_XBUTTONDOWN, MouseButton::Extra1, MouseAction::Down},
    {WM_XBUTTONUP, MouseButton::Extra1, MouseAction::Up},
    {WM_XBUTTONDBLCLK, MouseButton::Extra1, MouseAction::DoubleClick},
    {WM_NCLBUTTONDOWN, MouseButton::Left, MouseAction::FrameDown},
    {WM_NCLBUTTONUP, MouseButton::Left, MouseAction::FrameUp},
    {WM_NCRBUTTONDOWN, MouseButton::Right, MouseAction::FrameDown},
    {WM_NCRBUTTONUP, MouseButton::Right, MouseAction::FrameUp},
    {WM_NCMBUTTONDOWN, MouseButton::Middle, MouseAction::FrameDown},
    {WM_NCMBUTTONUP, MouseButton::Middle, MouseAction::FrameUp},
    {WM_NCXBUTTONDOWN, MouseButton::Extra1, MouseAction::FrameDown},
    {WM_NCXBUTTONUP, MouseButton::Extra1, MouseAction::FrameUp},
};

}  // namespace

ToolkitWindow::ToolkitWindow() {
  if (g_liveWindows++ == 0) {
    RegisterWindowClass(kWindowClass, 0, WindowProcedure);
    RegisterWindowClass(kPopupClass, CS_DROPSHADOW | CS_SAVEBITS, WindowProcedure);
  }
}

ToolkitWindow::~ToolkitWindow() {
  if (window_) {
    // The object is going: its window must not call back into it.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    Unlist();
    DestroyWindow(window_);
  }
  if (--g_liveWindows == 0) {
    UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
    UnregisterClassW(kPopupClass, GetModuleHandleW(nullptr));
  }
}

HWND ToolkitWindow::Create(const CreateOptions& options) {
  DWORD style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  DWORD exStyle = 0;
  if (style_.isPopup) {
    style |= WS_POPUP | WS_BORDER;
    exStyle |= WS_EX_TOPMOST | WS_EX_WINDOWEDGE;
  } else if (options.child) {
    style |= WS_CHILD;
  } else {
    if (style_.resizable) style |= WS_THICKFRAME;
    if (style_.hasCaption) {
      style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
      if (style_.hasMaximiseBox) style |= WS_MAXIMIZEBOX;
    }
    if (style_.hasVScroll) style |= WS_VSCROLL;
    if (style_.hasHScroll) style |= WS_HSCROLL;
    if (style_.acceptsFiles > 0) exStyle |= WS_EX_ACCEPTFILES;
    if (style_.topmost) exStyle |= WS_EX_TOPMOST;
  }
  if (options.visible && !style_.noActivate) style |= WS_VISIBLE;
  if (style_.layered) exStyle |= WS_EX_LAYERED;
  if (style_.clickThrough) exStyle |= WS_EX_TRANSPARENT;
  if (style_.noActivate) exStyle |= WS_EX_NOACTIVATE;

  ToolkitWindow* const outer = t_creating;
  t_creating = this;
  HWND window = CreateWindowExW(exStyle, style_.isPopup ? kPopupClass : kWindowClass, options.title, style,
                                options.position.x, options.position.y, options.size.cx, options.size.cy,
                                options.parent, nullptr, GetModuleHandleW(nullptr), this);
  t_creating = outer;
  if (!window) return nullptr;
  if (style_.isPopup && g_popups.size() < kMaxPopups) g_popups.push_back(window);
  if (options.visible && style_.noActivate) ShowWindow(window, SW_SHOWNA);
  if (!options.child) UpdateWindow(window);
  return window;
}

LRESULT CALLBACK ToolkitWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ToolkitWindow* self = FromHandle(window);
  // Bound at the first message of its creation, so that the size messages
  // sent before WM_CREATE reach the window's own handlers too.
  if (!self && (message == WM_NCCREATE || message == WM_GETMINMAXINFO) && t_creating && !t_creating->window_) {
    self = t_creating;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
  }
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->Dispatch(message, wParam, lParam);
}

LRESULT ToolkitWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  // A self-owned window can be destroyed by a message dispatched from a loop
  // nested inside one of its own handlers; it is deleted only when the
  // outermost handler has returned.
  ++nesting_;
  const LRESULT result = Route(message, wParam, lParam);
  if (--nesting_ == 0 && deletePending_) delete this;
  return result;
}

LRESULT ToolkitWindow::Route(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND const window = window_;
  switch (message) {
    case WM_ACTIVATEAPP:
      OnActivateApp(wParam != 0);
      return 0;
    case WM_ACTIVATE:
      if (!OnActivate(reinterpret_cast<HWND>(lParam), LOWORD(wParam))) return 0;
      break;
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_CONTEXTMENU: {
      CloseAllPopups();
      POINT point = PointOf(lParam);
      // The context-menu key gives (-1, -1); the menu then opens at the cursor.
      const bool fromKeyboard = point.x == -1 && point.y == -1;
      if (fromKeyboard) GetCursorPos(&point);
      OnContextMenu(point, fromKeyboard);
      return 0;
    }
    case WM_DESTROY:
      OnDestroy();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      Unlist();
      window_ = nullptr;
      if (selfOwned_) deletePending_ = true;
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_ERASEBKGND:
      if (OnEraseBackground(reinterpret_cast<HDC>(wParam))) return 1;
      break;
    case WM_HELP:
      OnHelp(reinterpret_cast<const HELPINFO*>(lParam));
      return TRUE;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      OnKey(static_cast<UINT>(wParam), true, (lParam >> 30) & 1, (lParam >> 29) & 1);
      if (message == WM_KEYDOWN) return 0;
      break;  // Alt+F4 and the system menu keys need the default processing
    case WM_KEYUP:
    case WM_SYSKEYUP:
      OnKey(static_cast<UINT>(wParam), false, false, (lParam >> 29) & 1);
      if (message == WM_KEYUP) return 0;
      break;
    case WM_KILLFOCUS:
      OnKillFocus(reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(PointOf(lParam), static_cast<UINT>(wParam));
      return 0;
    case WM_MOUSEHOVER:
      OnMouseHover(PointOf(lParam), static_cast<UINT>(wParam));
      return 0;
    case WM_MOUSELEAVE:
      OnMouseLeave();
      return 0;
    case WM_MOUSEWHEEL:
      OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam), PointOf(lParam), GET_KEYSTATE_WPARAM(wParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(static_cast<UINT>(wParam), reinterpret_cast<const NMHDR*>(lParam));
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      OnPaint(dc, paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      OnScroll(message == WM_VSCROLL, LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam))) return TRUE;
      break;
    case WM_SETFOCUS:
      OnSetFocus(reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_WINDOWPOSCHANGING:
      if (OnPosChanging(reinterpret_cast<WINDOWPOS*>(lParam))) return 0;
      break;
    case WM_WINDOWPOSCHANGED:
      if (OnPosChanged(reinterpret_cast<const WINDOWPOS*>(lParam))) return 0;
      break;
    case WM_SIZING:
      if (OnSizing(static_cast<UINT>(wParam), reinterpret_cast<RECT*>(lParam))) return TRUE;
      break;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), {LOWORD(lParam), HIWORD(lParam)});
      return 0;
    case WM_MOVING:
      if (OnMoving(reinterpret_cast<RECT*>(lParam))) return TRUE;
      break;
    case WM_MOVE:
      OnMove(PointOf(lParam));
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_GETICON:
      if (HICON icon = OnGetIcon(wParam == ICON_BIG, static_cast<UINT>(lParam)))
        return reinterpret_cast<LRESULT>(icon);
      break;
    case WM_DPICHANGED:
      OnDpiChanged((LOWORD(wParam) + HIWORD(wParam) + 1) / 2, reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_MOUSEACTIVATE:
      return style_.noActivate ? MA_NOACTIVATE : MA_ACTIVATE;
    case WM_CLOSE:
      Destroy();
      return 0;
    default: {
      for (const ButtonMessage& b : kButtonMessages)
        if (b.message == message) return RouteMouseButton(message, wParam, lParam);
      LRESULT result = 0;
      if (OnMessage(message, wParam, lParam, &result)) return result;
      break;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT ToolkitWindow::RouteMouseButton(UINT message, WPARAM wParam, LPARAM lParam) {
  const ButtonMessage* entry =
      std::find_if(std::begin(kButtonMessages), std::end(kButtonMessages),
                   [message](const ButtonMessage& b) { return b.message == message; });
  const bool frame = entry->action == MouseAction::FrameDown || entry->action == MouseAction::FrameUp;
  const bool extra = entry->button == MouseButton::Extra1;
  MouseButton button = entry->button;
  if (extra && GET_XBUTTON_WPARAM(wParam) == XBUTTON2) button = MouseButton::Extra2;
  UINT keys;
  if (frame) {
    keys = extra ? GET_NCHITTEST_WPARAM(wParam) : static_cast<UINT>(wParam);
  } else {
    keys = GET_KEYSTATE_WPARAM(wParam);
  }
  HWND const window = window_;
  if (OnMouseButton(button, entry->action, PointOf(lParam), keys)) return extra ? TRUE : 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

bool ToolkitWindow::IsInsideOpenPopup() const {
  return std::any_of(g_popups.begin(), g_popups.end(),
                     [this](HWND popup) { return popup == window_ || IsChild(popup, window_); });
}

void ToolkitWindow::Unlist() {
  std::erase(g_popups, window_);
  const bool wasListed = std::erase(g_mainLoopWindows, window_) != 0;
  // The main loop lasts as long as one of its windows.
  if (wasListed && g_mainLoopWindows.empty() && g_mainLoopRunning) PostQuitMessage(0);
}

bool CursorOverWindow(HWND window) {
  POINT p;
  if (!GetCursorPos(&p)) return false;
  HWND under = WindowFromPoint(p);
  return under && GetAncestor(under, GA_ROOT) == window;
}

UINT WindowDpi(HWND window) {
  static const auto forWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  const UINT dpi = forWindow && window ? forWindow(window) : 0;
  return dpi ? dpi : SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
  static const auto forDpi = User32Function<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
  if (forDpi) return forDpi(index, dpi);
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

bool ToolkitWindow::GetClientSize(SIZE* out) const {
  RECT r;
  if (!window_ || !GetClientRect(window_, &r)) {
    *out = {0, 0};
    return false;
  }
  *out = {r.right - r.left, r.bottom - r.top};
  return true;
}

void ToolkitWindow::SetPlacement(POINT position, SIZE size, UINT extraFlags) {
  if (!window_) return;
  RECT r;
  GetWindowRect(window_, &r);
  if (GetWindowLongW(window_, GWL_STYLE) & WS_CHILD) MapWindowPoints(HWND_DESKTOP, GetParent(window_), reinterpret_cast<POINT*>(&r), 2);
  const int x = position.x == kKeepCoordinate ? r.left : position.x;
  const int y = position.y == kKeepCoordinate ? r.top : position.y;
  const int cx = size.cx == kKeepCoordinate ? r.right - r.left : size.cx;
  const int cy = size.cy == kKeepCoordinate ? r.bottom - r.top : size.cy;
  SetWindowPos(window_, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE | extraFlags);
}

void ToolkitWindow::Redraw(const RECT* rect, bool now) {
  if (!window_) return;
  InvalidateRect(window_, rect, FALSE);
  if (now) UpdateWindow(window_);
}

void ToolkitWindow::OnActivateApp(bool active) {
  if (!active) CloseAllPopups();
}

bool ToolkitWindow::OnActivate(HWND, UINT) { return true; }

void ToolkitWindow::Destroy() {
  if (window_) DestroyWindow(window_);
}

void ToolkitWindow::OnCreate() {
  if (style_.acceptsFiles > 0) DragAcceptFiles(window_, TRUE);
}

void ToolkitWindow::OnCommand(UINT, UINT, HWND) {}
void ToolkitWindow::OnContextMenu(POINT, bool) {}

void ToolkitWindow::OnDestroy() {
  if (style_.acceptsFiles > 0) DragAcceptFiles(window_, FALSE);
}

void ToolkitWindow::OnDropFiles(HDROP) {}
bool ToolkitWindow::OnEraseBackground(HDC) { return true; }
void ToolkitWindow::OnHelp(const HELPINFO*) {}
void ToolkitWindow::OnKey(UINT, bool, bool, bool) {}
void ToolkitWindow::OnKillFocus(HWND) {}

void ToolkitWindow::OnMouseMove(POINT, UINT) {
  if (!trackingPending_ || !(style_.trackHover || style_.trackLeave)) return;
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof track;
  track.dwFlags = (style_.trackHover ? TME_HOVER : 0) | (style_.trackLeave ? TME_LEAVE : 0);
  track.hwndTrack = window_;
  track.dwHoverTime = HOVER_DEFAULT;
  if (TrackMouseEvent(&track)) trackingPending_ = false;
}

void ToolkitWindow::OnMouseHover(POINT, UINT) { trackingPending_ = true; }
void ToolkitWindow::OnMouseLeave() { trackingPending_ = true; }

bool ToolkitWindow::OnMouseButton(MouseButton, MouseAction, POINT, UINT) {
  if (IsInsideOpenPopup()) return true;
  CloseAllPopups();
  return false;
}

void ToolkitWindow::OnMouseWheel(int, POINT, UINT) {}
LRESULT ToolkitWindow::OnNotify(UINT, const NMHDR*) { return 0; }
void ToolkitWindow::OnPaint(HDC, const PAINTSTRUCT&) {}
void ToolkitWindow::OnScroll(bool, UINT, UINT, HWND) {}
bool ToolkitWindow::OnSetCursor(HWND, UINT, UINT) { return false; }
void ToolkitWindow::OnSetFocus(HWND) {}
bool ToolkitWindow::OnPosChanging(WINDOWPOS*) { return false; }
bool ToolkitWindow::OnPosChanged(const WINDOWPOS*) { return false; }
bool ToolkitWindow::OnSizing(UINT, RECT*) { return false; }
void ToolkitWindow::OnSize(UINT, SIZE) {}
bool ToolkitWindow::OnMoving(RECT*) { return false; }
void ToolkitWindow::OnMove(POINT) {}
void ToolkitWindow::OnTimer(UINT_PTR) {}
HICON ToolkitWindow::OnGetIcon(bool, UINT) { return nullptr; }
void ToolkitWindow::OnDpiChanged(UINT, const RECT*) {}
bool ToolkitWindow::OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

void ToolkitWindow::CloseAllPopups() {
  // Destroying a popup unlists it, so work on a copy.
  const std::vector<HWND> popups = g_popups;
  for (HWND popup : popups)
    if (IsWindow(popup)) DestroyWindow(popup);
  g_popups.clear();
}

void ToolkitWindow::RunWindowLoop(ToolkitWindow& window) {
  // The object may be gone before the loop ends; its table is found through
  // the window each time.
  HWND const handle = window.window_;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const ToolkitWindow* owner = handle ? FromHandle(handle) : nullptr;
    const AcceleratorTable* table = owner ? owner->accelerators_ : nullptr;
    if (table && *table) {
      TranslateAcceleratorW(handle, table->get(), &msg);
    } else {
      TranslateMessage(&msg);
    }
    DispatchMessageW(&msg);
  }
}

void ToolkitWindow::RunMainLoop(ToolkitWindow& window) {
  if (window.window_ && std::find(g_mainLoopWindows.begin(), g_mainLoopWindows.end(), window.window_) ==
                            g_mainLoopWindows.end())
    g_mainLoopWindows.insert(g_mainLoopWindows.begin(), window.window_);
  if (g_mainLoopRunning) return;
  g_mainLoopRunning = true;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Accelerators act on messages to the listed top-level windows only, not
    // to their children.
    bool translated = false;
    if (std::find(g_mainLoopWindows.begin(), g_mainLoopWindows.end(), msg.hwnd) != g_mainLoopWindows.end()) {
      const ToolkitWindow* owner = FromHandle(msg.hwnd);
      const AcceleratorTable* table = owner ? owner->accelerators_ : nullptr;
      translated = table && *table && TranslateAcceleratorW(msg.hwnd, table->get(), &msg);
    }
    if (translated) continue;  // the accelerator sent its command already
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g_mainLoopRunning = false;
}

}  // namespace pv
