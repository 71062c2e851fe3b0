// Real toolkit windows, driven with messages: each message arrives as its
// virtual operation with the arguments taken apart.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "toolkit/window.h"

namespace {

using pv::MouseAction;
using pv::MouseButton;

// "Name(a,b,c)": one line of the log per call; handles as numbers.
template <typename... Args>
std::string Call(const char* name, Args... args) {
  std::string line = std::string(name) + "(";
  ((line += std::to_string(args) + ","), ...);
  if constexpr (sizeof...(args) > 0) line.pop_back();
  return line + ")";
}
uintptr_t Id(HWND window) { return reinterpret_cast<uintptr_t>(window); }

// Writes one line per call into the log; answers with the configured results.
// Messages that are only passed on as they come are left to the window tests.
class RecordingWindow : public pv::ToolkitWindow {
 public:
  std::vector<std::string> log;
  bool handled = false;  // the answer of the operations that may skip the default

  std::string Last() const { return log.empty() ? "" : log.back(); }
  bool Log(const std::string& line) {
    log.push_back(line);
    return handled;
  }

  // True lets the default processing go on.
  bool OnActivate(HWND other, UINT state) override { return !Log(Call("Activate", Id(other), state)); }
  void OnCreate() override { Log("Create"); }
  void OnCommand(UINT id, UINT code, HWND control) override { Log(Call("Command", id, code, Id(control))); }
  void OnDestroy() override { Log("Destroy"); }
  bool OnEraseBackground(HDC) override { return Log("EraseBackground"); }
  void OnHelp(const HELPINFO* info) override { Log(Call("Help", info->iCtrlId)); }
  void OnKey(UINT key, bool down, bool repeat, bool alt) override { Log(Call("Key", key, down, repeat, alt)); }
  void OnMouseMove(POINT p, UINT keys) override { Log(Call("MouseMove", p.x, p.y, keys)); }
  bool OnMouseButton(MouseButton b, MouseAction a, POINT p, UINT keys) override {
    return Log(Call("MouseButton", int(b), int(a), p.x, p.y, keys));
  }
  void OnMouseWheel(int delta, POINT p, UINT keys) override { Log(Call("MouseWheel", delta, p.x, p.y, keys)); }
  LRESULT OnNotify(UINT id, const NMHDR* header) override { return Log(Call("Notify", id, header->code)), 77; }
  void OnScroll(bool vertical, UINT code, UINT position, HWND) override { Log(Call("Scroll", vertical, code, position)); }
  bool OnSetCursor(HWND window, UINT hitTest, UINT message) override {
    return Log(Call("SetCursor", window == Handle(), hitTest, message));
  }
  bool OnPosChanging(WINDOWPOS* pos) override { return Log(Call("PosChanging", pos->x, pos->y)); }
  bool OnPosChanged(const WINDOWPOS* pos) override { return Log(Call("PosChanged", pos->cx, pos->cy)); }
  bool OnSizing(UINT edge, RECT* r) override { return Log(Call("Sizing", edge, r->right)); }
  void OnSize(UINT kind, SIZE s) override { Log(Call("Size", kind, s.cx, s.cy)); }
  bool OnMoving(RECT* r) override { return Log(Call("Moving", r->left)); }
  HICON OnGetIcon(bool big, UINT dpi) override { return Log(Call("GetIcon", big, dpi)), nullptr; }
  void OnDpiChanged(UINT dpi, const RECT* r) override { Log(Call("DpiChanged", dpi, r->bottom)); }
  std::vector<UINT> sizedBeforeCreate;  // the size messages of creation that came before WM_CREATE
  bool OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) override {
    if (log.empty() && (message == WM_GETMINMAXINFO || message == WM_NCCALCSIZE)) sizedBeforeCreate.push_back(message);
    if (message < WM_APP) return false;
    Log(Call("Message", message - WM_APP, static_cast<unsigned>(wParam)));
    *result = 4321;
    return true;
  }
};

HWND CreateTopLevel(pv::ToolkitWindow& window, bool visible = false) {
  return window.Create({.position = {10, 10}, .size = {200, 150}, .visible = visible, .title = L"toolkit test"});
}

HWND CreateChild(pv::ToolkitWindow& window, HWND parent) {
  return window.Create({.parent = parent, .position = {0, 0}, .size = {10, 10}, .child = true});
}

LPARAM Pack(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

TEST(ToolkitWindow, EachMessageReachesItsOperationWithItsArguments) {
  RecordingWindow w;
  HWND h = CreateTopLevel(w);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(w.log.front(), "Create");
  EXPECT_EQ(w.Handle(), h);
  for (UINT m : {WM_GETMINMAXINFO, WM_NCCALCSIZE})
    EXPECT_NE(std::find(w.sizedBeforeCreate.begin(), w.sizedBeforeCreate.end(), m), w.sizedBeforeCreate.end()) << m;

  NMHDR header = {h, 5, 99};
  HELPINFO help = {sizeof help, HELPINFO_WINDOW, 12, nullptr, 0, {}};
  RECT rect = {1, 2, 30, 40};
  WINDOWPOS pos = {nullptr, nullptr, 7, 8, 70, 80, 0};
  RECT sizing = {0, 0, 99, 99};
  const HWND other = reinterpret_cast<HWND>(0x1234);
  struct Row {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string expected;
    LRESULT result;
    bool handled = false;  // by the operation: then nothing else runs
  };
  auto at = [](auto* p) { return reinterpret_cast<LPARAM>(p); };
  const Row rows[] = {
      {WM_COMMAND, MAKEWPARAM(20016, 1), 0, "Command(20016,1,0)", 0},
      {WM_ACTIVATE, WA_CLICKACTIVE, at(other), "Activate(4660,2)", 0},
      {WM_ACTIVATE, WA_INACTIVE, 0, "Activate(0,0)", 0, true},
      {WM_HELP, 0, at(&help), "Help(12)", TRUE},
      // Repeat from bit 30, Alt from bit 29; key-up messages report down 0.
      {WM_KEYDOWN, VK_NUMPAD8, 0x40000001, "Key(104,1,1,0)", 0},
      {WM_KEYUP, 'A', static_cast<LPARAM>(0xC0000001u), "Key(65,0,0,0)", 0},
      {WM_SYSKEYUP, 'B', static_cast<LPARAM>(0xE0000001u), "Key(66,0,0,1)", 0},
      {WM_MOUSEMOVE, MK_SHIFT, Pack(-3, 9), "MouseMove(-3,9,4)", 0},
      {WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-240)), Pack(300, 400), "MouseWheel(-240,300,400,8)", 0},
      {WM_NOTIFY, 5, at(&header), "Notify(5,99)", 77},
      {WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 33), 0, "Scroll(0,5,33)", 0},
      {WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0, "Scroll(1,1,0)", 0},
      {WM_SIZE, SIZE_MAXIMIZED, Pack(640, 480), "Size(2,640,480)", 0},
      // The mean of the two DPI values, rounded up.
      {WM_DPICHANGED, MAKEWPARAM(96, 145), at(&rect), "DpiChanged(121,40)", 0},
      {WM_GETICON, ICON_BIG, 144, "GetIcon(1,144)", 0},
      {WM_APP + 3, 9, 0, "Message(3,9)", 4321},
      // Buttons: 0 left, 1 right, 3 and 4 the extra buttons, told apart by the
      // high word; actions 0 down, 1 up, 3 and 4 on the frame, whose keys are
      // the hit-test code.
      {WM_XBUTTONDOWN, MAKEWPARAM(MK_XBUTTON1, XBUTTON1), Pack(1, 1), "MouseButton(3,0,1,1,32)", 0},
      {WM_XBUTTONUP, MAKEWPARAM(0, XBUTTON2), Pack(2, 2), "MouseButton(4,1,2,2,0)", 0},
      {WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON1), 0, "MouseButton(3,0,0,0,0)", TRUE, true},
      {WM_NCLBUTTONDOWN, HTCAPTION, Pack(50, 60), "MouseButton(0,3,50,60,2)", 0},
      {WM_NCRBUTTONUP, HTBORDER, Pack(51, 61), "MouseButton(1,4,51,61,18)", 0},
      // Operations that can take over a message; a handled WM_WINDOWPOSCHANGED
      // keeps the default from sending WM_SIZE.
      {WM_ERASEBKGND, 0, 0, "EraseBackground", 1, true},
      {WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), "SetCursor(1,1,512)", TRUE, true},
      {WM_SIZING, WMSZ_RIGHT, at(&sizing), "Sizing(2,99)", TRUE, true},
      {WM_MOVING, 0, at(&rect), "Moving(1)", TRUE, true},
      {WM_WINDOWPOSCHANGING, 0, at(&pos), "PosChanging(7,8)", 0, true},
      {WM_WINDOWPOSCHANGED, 0, at(&pos), "PosChanged(70,80)", 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    w.log.clear();
    w.handled = row.handled;
    EXPECT_EQ(SendMessageW(h, row.message, row.wParam, row.lParam), row.result);
    ASSERT_FALSE(w.log.empty());
    EXPECT_EQ(w.log.front(), row.expected);
    if (row.handled) {
      EXPECT_EQ(w.log.size(), 1u);
    }
  }
  // The default processing of WM_WINDOWPOSCHANGED sends WM_SIZE and WM_MOVE.
  w.handled = false;
  SetWindowPos(h, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SIZE client;
  ASSERT_TRUE(w.GetClientSize(&client));
  EXPECT_NE(std::find(w.log.begin(), w.log.end(), Call("Size", 0u, client.cx, client.cy)), w.log.end());
  // Placement keeps the coordinates marked to stay.
  const LONG keep = pv::ToolkitWindow::kKeepCoordinate;
  w.SetPlacement({40, keep}, {keep, 90}, 0);
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(std::make_tuple(r.left, r.top, r.right - r.left, r.bottom - r.top), std::make_tuple(40L, 10L, 300L, 90L));

  DestroyWindow(h);
  EXPECT_EQ(w.Last(), "Destroy");
  EXPECT_EQ(w.Handle(), nullptr);
}

TEST(ToolkitWindow, ClassesAndStylesFollowTheSwitches) {
  RecordingWindow framed;
  framed.Style().resizable = framed.Style().hasCaption = framed.Style().hasMaximiseBox = true;
  framed.Style().acceptsFiles = 1;
  framed.Style().layered = true;
  HWND f = CreateTopLevel(framed);
  ASSERT_NE(f, nullptr);
  wchar_t name[32];
  GetClassNameW(f, name, 32);
  EXPECT_STREQ(name, L"muiWindow");
  const LONG style = GetWindowLongW(f, GWL_STYLE);
  const LONG exStyle = GetWindowLongW(f, GWL_EXSTYLE);
  for (LONG bit : {WS_THICKFRAME, WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_CLIPCHILDREN})
    EXPECT_EQ(style & bit, bit) << std::hex << bit;
  EXPECT_EQ(style & WS_VISIBLE, 0);
  EXPECT_EQ(exStyle & (WS_EX_ACCEPTFILES | WS_EX_LAYERED), WS_EX_ACCEPTFILES | WS_EX_LAYERED);
  EXPECT_EQ(exStyle & WS_EX_TOPMOST, 0);
  EXPECT_EQ(GetClassLongW(f, GCL_STYLE) & (CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW),
            DWORD(CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW));

  RecordingWindow popup;
  popup.Style().isPopup = popup.Style().noActivate = true;
  HWND p = CreateTopLevel(popup, true);
  ASSERT_NE(p, nullptr);
  GetClassNameW(p, name, 32);
  EXPECT_STREQ(name, L"muiPopup");
  EXPECT_EQ(GetWindowLongW(p, GWL_STYLE) & (WS_POPUP | WS_BORDER), LONG(WS_POPUP | WS_BORDER));
  EXPECT_EQ(GetWindowLongW(p, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_NOACTIVATE), WS_EX_TOPMOST | WS_EX_NOACTIVATE);
  EXPECT_EQ(GetClassLongW(p, GCL_STYLE) & (CS_DROPSHADOW | CS_SAVEBITS), DWORD(CS_DROPSHADOW | CS_SAVEBITS));
  // A visible no-activate window is shown without activation.
  EXPECT_TRUE(IsWindowVisible(p));
  EXPECT_EQ(SendMessageW(p, WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);
  EXPECT_EQ(SendMessageW(f, WM_MOUSEACTIVATE, 0, 0), MA_ACTIVATE);

  RecordingWindow child;
  HWND c = CreateChild(child, f);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(GetWindowLongW(c, GWL_STYLE) & WS_CHILD, WS_CHILD);
  EXPECT_EQ(GetParent(c), f);
}

// Keeps the base behaviour of the buttons (the recording window answers
// handled for them) and logs its context menus.
class PlainWindow : public pv::ToolkitWindow {
 public:
  std::vector<std::string> log;
  void OnContextMenu(POINT p, bool keyboard) override { log.push_back(Call("ContextMenu", p.x, p.y, keyboard)); }
};

TEST(ToolkitWindow, PopupsCloseOnClicksElsewhereApplicationSwitchesAndContextMenus) {
  PlainWindow main;
  pv::ToolkitWindow popup, inner;
  popup.Style().isPopup = true;
  HWND m = CreateTopLevel(main);
  HWND p = CreateTopLevel(popup);
  HWND i = CreateChild(inner, p);
  ASSERT_TRUE(m && p && i);
  // A click inside the popup or inside its child leaves it open.
  SendMessageW(i, WM_LBUTTONDOWN, 0, 0);
  SendMessageW(p, WM_RBUTTONDOWN, 0, 0);
  EXPECT_TRUE(IsWindow(p));
  SendMessageW(m, WM_LBUTTONDOWN, 0, 0);
  EXPECT_FALSE(IsWindow(p));
  EXPECT_EQ(inner.Handle(), nullptr);

  for (UINT message : {UINT(WM_ACTIVATEAPP), UINT(WM_CONTEXTMENU)}) {
    pv::ToolkitWindow* self = new pv::ToolkitWindow;
    self->Style().isPopup = true;
    self->SetSelfOwned(true);
    HWND s = CreateTopLevel(*self);
    ASSERT_NE(s, nullptr);
    SendMessageW(m, WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_TRUE(IsWindow(s));
    SendMessageW(m, message, 0, message == WM_CONTEXTMENU ? Pack(120, 130) : 0);
    EXPECT_FALSE(IsWindow(s)) << message;  // and the self-owned object is gone with it
  }
  EXPECT_EQ(main.log, std::vector<std::string>{"ContextMenu(120,130,0)"});

  // The context-menu key gives (-1, -1): the menu opens at the cursor.
  SetCursorPos(33, 44);
  POINT cursor;
  GetCursorPos(&cursor);
  main.log.clear();
  SendMessageW(m, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m), -1);
  EXPECT_EQ(main.log, std::vector<std::string>{Call("ContextMenu", cursor.x, cursor.y, 1)});
}

// Counts its destruction, and closes itself from inside its own command.
class ClosingWindow : public pv::ToolkitWindow {
 public:
  static inline int destroyed = 0;
  static inline bool destroyedInsideCommand = false;
  ~ClosingWindow() override { ++destroyed; }
  void OnCommand(UINT, UINT, HWND) override {
    // A nested loop handing WM_CLOSE to this window, as a dialog's would.
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    destroyedInsideCommand = destroyed != 0;
  }
};

TEST(ToolkitWindow, SelfOwnedWindowClosedInsideItsOwnCommandIsDeletedAfterIt) {
  // Closed from inside its own command it goes once the command returned;
  // closed from outside any of its handlers, at once.
  for (UINT message : {UINT(WM_COMMAND), UINT(WM_CLOSE)}) {
    ClosingWindow::destroyed = 0;
    ClosingWindow::destroyedInsideCommand = false;
    ClosingWindow* w = new ClosingWindow;
    w->SetSelfOwned(true);
    HWND h = CreateTopLevel(*w);
    ASSERT_NE(h, nullptr);
    SendMessageW(h, message, 20000, 0);
    EXPECT_FALSE(ClosingWindow::destroyedInsideCommand) << message;
    EXPECT_EQ(ClosingWindow::destroyed, 1) << message;
    EXPECT_FALSE(IsWindow(h)) << message;
  }
}

// Joins a second window to the running loop from inside it, then closes both.
class JoiningWindow : public RecordingWindow {
 public:
  RecordingWindow* other = nullptr;
  void OnTimer(UINT_PTR id) override {
    KillTimer(Handle(), id);
    pv::ToolkitWindow::RunMainLoop(*other);  // the loop runs: returns at once
    log.push_back("joined");
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
    PostMessageW(other->Handle(), WM_CLOSE, 0, 0);
  }
};

TEST(ToolkitWindow, WindowAndMainLoopsTranslateTheirWindowsAccelerators) {
  JoiningWindow first;
  RecordingWindow second, child, unlisted;
  HWND a = CreateTopLevel(first);
  HWND b = CreateTopLevel(second);
  HWND u = CreateTopLevel(unlisted);
  HWND c = CreateChild(child, a);
  ASSERT_TRUE(a && b && c && u);
  ACCEL keys[] = {{FVIRTKEY, VK_F2, 20002}};
  pv::AcceleratorTable table(CreateAcceleratorTableW(keys, 1));
  ASSERT_TRUE(table);
  // A window's own loop: the accelerator sends the command (code 1); the
  // keys are dispatched as well.
  second.SetAccelerators(&table);
  PostMessageW(b, WM_KEYDOWN, VK_F2, 1);
  PostMessageW(b, WM_KEYDOWN, VK_F6, 1);
  PostQuitMessage(0);
  second.log.clear();
  pv::ToolkitWindow::RunWindowLoop(second);
  EXPECT_EQ(second.log, (std::vector<std::string>{"Command(20002,1,0)", "Key(113,1,0,0)", "Key(117,1,0,0)"}));
  second.SetAccelerators(nullptr);

  // The main loop serves its windows until the last is destroyed.
  first.other = &second;
  for (pv::ToolkitWindow* w : std::initializer_list<pv::ToolkitWindow*>{&first, &child, &unlisted})
    w->SetAccelerators(&table);

  PostMessageW(a, WM_KEYDOWN, VK_F2, 1);
  PostMessageW(c, WM_KEYDOWN, VK_F2, 1);  // a child of a listed window
  PostMessageW(u, WM_KEYDOWN, VK_F2, 1);  // a window the loop does not list
  SetTimer(a, 7, 1, nullptr);
  first.log.clear();
  second.log.clear();
  pv::ToolkitWindow::RunMainLoop(first);

  // Only the listed window's own messages are translated, and a translated
  // key is not delivered as a key as well.
  EXPECT_EQ(first.log, (std::vector<std::string>{"Command(20002,1,0)", "joined", "Destroy"}));
  EXPECT_EQ(std::count(child.log.begin(), child.log.end(), "Key(113,1,0,0)"), 1);
  EXPECT_EQ(std::count_if(child.log.begin(), child.log.end(),
                          [](const std::string& line) { return line.rfind("Command", 0) == 0; }),
            0);
  EXPECT_EQ(unlisted.log.back(), "Key(113,1,0,0)");
  // The loop returned when its last listed window was destroyed.
  EXPECT_EQ(second.log, std::vector<std::string>{"Destroy"});
  EXPECT_FALSE(IsWindow(b));
  EXPECT_TRUE(IsWindow(u));
  // A new loop can start afterwards.
  PostMessageW(u, WM_CLOSE, 0, 0);
  pv::ToolkitWindow::RunMainLoop(unlisted);
  EXPECT_EQ(unlisted.log.back(), "Destroy");
}

}  // namespace
