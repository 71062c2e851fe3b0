// A viewer window inside the test process, driven by its commands.
#include "viewer/viewer_window.h"

#include <commctrl.h>
#include <prsht.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/preferences.h"
#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/checked_math.h"
#include "core/cpu.h"
#include "core/lzw.h"
#include "core/text.h"
#include "toolkit/resource_ids.h"
#include "settings/language.h"
#include "settings/language_win.h"
#include "settings/settings_store.h"
#include "tests/jpeg_test_encoder.h"
#include "tests/test_support.h"
#include "tests/win/icon_shape.h"
#include "tests/win/window_test_support.h"
#include "tools/image_writers.h"
#include "toolkit/command_ids.h"
#include "viewer/options_pages.h"

namespace fs = std::filesystem;

namespace {

using pvtest::ClientOriginOf;
using pvtest::ClientSizeOf;
using pvtest::PumpMessages;
using pvtest::TitleOf;
using pvtest::WaitFor;
using pvtest::WhenDialogShows;
using pvtest::WindowSizeOf;
using XY = pvtest::XY;

bool HasExStyle(HWND w, LONG_PTR bits) { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & bits) != 0; }

class ViewerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::ReadProcessorFeatures();
    pv::RegisterDecoders();
    pv::Viewer().cache = &cache_;
    pv::Viewer().preferences = pv::ViewerPreferences();
    dir_ = pvtest::ScratchDir("viewer-window");
    Write("a.bmp", 120, 80);
    Write("b.bmp", 60, 90);
    Write("c.bmp", 40, 40);
  }
  void TearDown() override {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    cache_.CancelPrefetches();
    pv::Viewer().cache = nullptr;
    pv::Viewer().taskbar = nullptr;
    pv::Viewer().preferences = pv::ViewerPreferences();
  }
  // A 32-bit bitmap of these R, G, B, A pixels, a gradient when none are given.
  void Write(const char* name, uint32_t w, uint32_t h, std::vector<uint8_t> rgba = {}) {
    if (rgba.empty()) rgba = pvtest::Gradient(w, h, 200);
    ASSERT_TRUE(pv::WriteWholeFile(Path(name), pv::EncodeBmp32(rgba, w, h)));
  }
  std::wstring Path(const char* name) { return (fs::path(dir_) / name).wstring(); }
  pv::ViewerWindow* Open(const char* name, const pv::ViewerWindowOptions& options = {}) {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    pv::ViewerWindow* w = pv::ViewerWindow::Open(Path(name).c_str(), options);
    if (!w) return nullptr;
    window_ = w->Handle();
    return w;
  }
  void Command(UINT id, WORD code = 0) { SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, code), 0); }
  std::wstring Title() { return TitleOf(window_); }
  // The number of boxes the command showed, answered so.
  size_t Answered(UINT id, int answer) {
    pvtest::DialogAnswerer a(answer);
    Command(id);
    return a.Captions().size();
  }

  pv::ImageCache cache_;
  std::string dir_;
  HWND window_ = nullptr;
};

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> g_handOvers;

// One window steps through its folder, zooms, turns and is driven by its
// commands, as a user would in one sitting.
TEST_F(ViewerWindowTest, StepsZoomsTurnsAndWindowCommandsInOneSitting) {
  Write("d.bmp", 30, 30);
  pv::ViewerWindow* w = Open("a.bmp");
  ASSERT_TRUE(w && w->HasImage());
  const uint32_t reads = cache_.Listings().FolderReads();
  ASSERT_TRUE(WaitFor([&] { return cache_.IsCached(Path("b.bmp").c_str()); })) << "the neighbour is decoded ahead";
  pv::Ref<pv::ImageBuffer> prefetched = cache_.TakeCachedImage(Path("b.bmp").c_str());
  // First and last never give the current file; previous and next wrap round.
  const std::pair<UINT, const wchar_t*> steps[] = {{pv::kCmdNextImage, L"b.bmp"},
                                                   {pv::kCmdLast, L"d.bmp"},
                                                   {pv::kCmdFirst, L"a.bmp"},
                                                   {pv::kCmdPreviousImage, L"d.bmp"},
                                                   {pv::kCmdNextImage, L"a.bmp"}};
  for (const auto& [command, name] : steps) {
    Command(command);
    EXPECT_EQ(Title(), std::wstring(name) + L" | Pixvane");
    if (command == pv::kCmdNextImage && name[0] == L'b') {
      EXPECT_EQ(w->View()->Source(), prefetched.get());
      EXPECT_EQ(ClientSizeOf(window_).second, 90);
    }
  }
  EXPECT_EQ(cache_.Listings().FolderReads(), reads) << "an unchanged folder is read once";

  SCOPED_TRACE("a dragged border keeps the image's 3:2");
  const XY outer = WindowSizeOf(window_), inner = ClientSizeOf(window_);
  const LONG frameW = outer.first - inner.first, frameH = outer.second - inner.second;
  const std::tuple<UINT, XY, XY> drags[] = {{WMSZ_RIGHT, {300, 80}, {300, 200}},
                                            {WMSZ_LEFT, {150, 80}, {150, 100}},
                                            {WMSZ_BOTTOM, {120, 160}, {240, 160}},
                                            {WMSZ_BOTTOMRIGHT, {240, 90}, {240, 160}}};
  for (const auto& [edge, asked, kept] : drags) {
    RECT r = {100, 100, 100 + asked.first + frameW, 100 + asked.second + frameH};
    SendMessageW(window_, WM_SIZING, edge, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(XY(r.right - r.left - frameW, r.bottom - r.top - frameH), kept) << edge;
  }

  SCOPED_TRACE("during a size-move commands wait and the image follows the border");
  auto posted = [&] {  // the commands that came back to the window as posted messages
    int commands = 0;
    for (MSG msg; PeekMessageW(&msg, window_, 0, 0, PM_REMOVE); DispatchMessageW(&msg))
      commands += msg.message == WM_COMMAND;
    return commands;
  };
  SendMessageW(window_, WM_ENTERSIZEMOVE, 0, 0);
  Command(pv::kCmdZoom25);
  Command(pv::kCmdZoom25);
  EXPECT_EQ(posted(), 0) << "nothing comes back while the size-move lasts";
  EXPECT_EQ(Title(), L"a.bmp | Pixvane");
  SetWindowPos(window_, nullptr, 0, 0, frameW + 60, frameH + 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(window_, WM_EXITSIZEMOVE, 0, 0);
  EXPECT_EQ(Title(), L"a.bmp | 0.5x | Pixvane") << "the image follows the border";
  EXPECT_EQ(posted(), 1) << "the same command waits once";
  EXPECT_EQ(Title(), L"a.bmp | 0.25x | Pixvane");

  SCOPED_TRACE("zoom and turn commands size the window");
  struct Step {
    UINT command;
    SIZE client;
    const wchar_t* title;
  } zooms[] = {
      {pv::kCmdZoom50, {60, 40}, L"a.bmp | 0.5x | Pixvane"},
      {pv::kCmdZoom200, {240, 160}, L"a.bmp | 2.0x | Pixvane"},
      {pv::kCmdZoomOut, {202, 135}, L"a.bmp | 1.682x | Pixvane"},
      {pv::kCmdActualPixels, {120, 80}, L"a.bmp | Pixvane"},
      {pv::kCmdTurnRight, {80, 120}, L"a.bmp | Pixvane"},
      {pv::kCmdTurnHalf, {80, 120}, L"a.bmp | Pixvane"},
      {pv::kCmdTurnLeft, {120, 80}, L"a.bmp | Pixvane"},
      {pv::kCmdMirror, {120, 80}, L"a.bmp | Pixvane"},
      {pv::kCmdZoom12, {15, 10}, L"a.bmp | 0.125x | Pixvane"},
  };
  for (const Step& s : zooms) {
    Command(s.command);
    const XY c = ClientSizeOf(window_);
    // A window is never narrower than the system allows; compare the height then.
    if (s.client.cx >= GetSystemMetrics(SM_CXMIN)) {
      EXPECT_EQ(c.first, s.client.cx) << s.command;
    }
    EXPECT_EQ(c.second, s.client.cy) << s.command;
    EXPECT_EQ(Title(), s.title) << s.command;
  }
  EXPECT_EQ(w->View()->Orientation(), 6) << "mirrored after a quarter turn, a half and a quarter back";
  pv::Viewer().preferences.detailsInTitle = true;
  Command(pv::kCmdZoom50);
  EXPECT_EQ(Title(), L"a.bmp | 120\u2022" L"80\u2022" L"32 | 0.5x | Pixvane");
  pv::Viewer().preferences.detailsInTitle = false;
  for (bool topmost : {true, false}) {
    Command(pv::kCmdToggleTopmost);
    EXPECT_EQ(HasExStyle(window_, WS_EX_TOPMOST), topmost);
  }

  SCOPED_TRACE("another program adds a file after the shown one and deletes the next");
  Command(pv::kCmdActualPixels);
  Write("aa.bmp", 50, 50);
  ASSERT_TRUE(DeleteFileW(Path("b.bmp").c_str()));
  EXPECT_TRUE(WaitFor([&] { return cache_.Listings().FolderReads() > reads; }, 5000)) << "the folder is read again";
  Command(pv::kCmdNextImage);
  EXPECT_EQ(Title(), L"aa.bmp | Pixvane");
  Command(pv::kCmdNextImage);
  EXPECT_EQ(Title(), L"c.bmp | Pixvane") << "the deleted file is skipped";

  SCOPED_TRACE("the slideshow flag, the maximise switch and keys bound anew");
  Command(pv::kCmdSlideshowFlag, 1);
  Command(pv::kCmdNextImage);
  EXPECT_EQ(Title(), L"Slideshow | c.bmp | Pixvane") << "the show steps, not the keys";
  Command(pv::kCmdSlideshowFlag, 0);
  for (bool maximise : {false, true}) {
    Command(pv::kCmdToggleOption);
    EXPECT_EQ(pv::Viewer().preferences.slideMaximise, maximise);
  }
  auto translates = [&](WPARAM key) {
    MSG msg = {window_, WM_KEYDOWN, key, 0, 0, {}};
    const pv::AcceleratorTable* table = w->Accelerators();
    return table && TranslateAcceleratorW(window_, table->get(), &msg) != 0;
  };
  EXPECT_FALSE(translates('Q'));
  pv::Viewer().keyBindings = {{0, 'Q', pv::kCmdZoom50}};
  Command(pv::kCmdRebuildAccelerators);
  EXPECT_TRUE(translates('Q'));
  EXPECT_EQ(Title(), L"c.bmp | 0.5x | Pixvane") << "the key ran its command";
  EXPECT_FALSE(translates('O')) << "the built-in table is gone";
  pv::Viewer().keyBindings.clear();

  SCOPED_TRACE("a hand-over is answered at once and opened afterwards");
  pv::Viewer().receiveHandOver = [](uint32_t tag, const uint8_t* payload, size_t size) {
    g_handOvers.emplace_back(tag, std::vector<uint8_t>(payload, payload + size));
  };
  g_handOvers.clear();
  std::vector<uint8_t> payload = {'x', 0, 'y', 0};
  COPYDATASTRUCT data{0x46527670, static_cast<DWORD>(payload.size()), payload.data()};
  EXPECT_EQ(SendMessageW(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
  EXPECT_TRUE(g_handOvers.empty()) << "nothing is opened inside the sender's call";
  payload.assign(payload.size(), 0);  // the sender's memory is its own again
  PumpMessages();
  pv::Viewer().receiveHandOver = nullptr;
  ASSERT_EQ(g_handOvers.size(), 1u);
  EXPECT_EQ(g_handOvers[0].first, 0x46527670u);
  EXPECT_EQ(g_handOvers[0].second, (std::vector<uint8_t>{'x', 0, 'y', 0}));

  SCOPED_TRACE("cycling through the windows and closing them");
  pv::ViewerWindow* other = pv::ViewerWindow::Open(Path("a.bmp").c_str(), {});
  ASSERT_TRUE(other);
  HWND a = window_, second = other->Handle();
  SendMessageW(a, WM_COMMAND, pv::kCmdWindowCycle, 0);
  EXPECT_EQ(GetForegroundWindow(), second);
  SendMessageW(second, WM_COMMAND, pv::kCmdWindowCycle, 0);
  EXPECT_EQ(GetForegroundWindow(), a) << "past the last title, the first";
  SendMessageW(a, WM_COMMAND, pv::kCmdWindowCycleBack, 0);
  EXPECT_EQ(GetForegroundWindow(), second);
  SendMessageW(second, WM_COMMAND, pv::kCmdClose, 0);
  PumpMessages();
  EXPECT_FALSE(IsWindow(second));
  other = pv::ViewerWindow::Open(Path("c.bmp").c_str(), {});
  ASSERT_TRUE(other);
  Command(pv::kCmdCloseAll);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(a) && !IsWindow(other->Handle()); }, 2000));
}

// The ways a window opens: frozen, zoomed past its screen, full screen.
TEST_F(ViewerWindowTest, OpenedFrozenZoomedOrFullScreen) {
  pv::ViewerWindowOptions options;
  options.frozen = options.fullScreen = true;
  pv::ViewerWindow* w = Open("a.bmp", options);
  EXPECT_FALSE(IsZoomed(window_)) << "frozen is never full screen";
  XY origin = ClientOriginOf(window_);
  Command(pv::kCmdTurnRight);
  EXPECT_EQ(WindowSizeOf(window_), XY(120, 80)) << "turn ignored";
  Command(pv::kCmdZoomIn);
  EXPECT_EQ(Title(), L"a.bmp | 1.189x | Pixvane");
  // Frozen: borderless in the same place, never activated, off the taskbar.
  for (bool frozen : {false, true, false}) {
    Command(pv::kCmdFreeze);
    EXPECT_EQ(w->IsBorderless(), frozen);
    EXPECT_EQ(ClientOriginOf(window_), origin);
    EXPECT_EQ(HasExStyle(window_, WS_EX_NOACTIVATE), frozen);
    EXPECT_EQ(GetWindow(window_, GW_OWNER) != nullptr, frozen);
  }
  Command(pv::kCmdTurnRight);
  EXPECT_EQ(w->View()->BaseSize(), (pv::ImageSize{80, 120})) << "thawed, it turns";
  EXPECT_EQ(ClientSizeOf(window_).second, 143) << "120 at 1.189x";

  SCOPED_TRACE("cursor and icons come from the resources");
  options = {};
  options.zoom = 20;  // 2400 × 1600: larger than the window both ways
  Open("a.bmp", options);
  auto cursor = [&] {
    SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  const HCURSOR hand = cursor();
  EXPECT_EQ(pvtest::ShapeOf(hand), (pvtest::IconShape{32, 32, 16, 19}));
  Command(pv::kCmdBusyCursor, 1);
  EXPECT_EQ(cursor(), LoadCursorW(nullptr, IDC_WAIT));
  Command(pv::kCmdBusyCursor, 0);
  EXPECT_EQ(cursor(), hand);
  Command(pv::kCmdActualPixels);
  EXPECT_EQ(cursor(), LoadCursorW(nullptr, IDC_ARROW));
  const HICON big = reinterpret_cast<HICON>(SendMessageW(window_, WM_GETICON, ICON_BIG, 0));
  const HICON small = reinterpret_cast<HICON>(SendMessageW(window_, WM_GETICON, ICON_SMALL, 0));
  EXPECT_EQ(pvtest::ShapeOf(big).width, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(pvtest::ShapeOf(small).width, GetSystemMetrics(SM_CXSMICON));

  SCOPED_TRACE("opened full screen it restores to its image, toggles and reloads");
  options = {};
  options.fullScreen = true;
  w = Open("a.bmp", options);
  ASSERT_TRUE(IsZoomed(window_));
  Command(pv::kCmdRestore);
  EXPECT_FALSE(IsZoomed(window_));
  EXPECT_EQ(ClientSizeOf(window_).second, 80);
  EXPECT_EQ(Title(), L"a.bmp | Pixvane");
  for (bool maximized : {true, false}) {
    Command(pv::kCmdToggleMaximize);
    EXPECT_EQ(IsZoomed(window_) != 0, maximized);
  }
  // Reload drops the cached image and reads the file as it is now.
  Write("a.bmp", 50, 30);
  const pv::ImageBuffer* before = w->View()->Source();
  Command(pv::kCmdReload);
  EXPECT_NE(w->View()->Source(), before);
  EXPECT_EQ(w->View()->Source()->Width(), 50u);
  EXPECT_EQ(ClientSizeOf(window_).second, 30);
}

class RecordingTaskbar : public pv::TaskbarIndicator {
 public:
  void SetProgress(HWND, uint32_t done, uint32_t total) override { events.push_back({done, total}); }
  void Clear(HWND) override { events.push_back({0, 0}); }
  std::vector<std::pair<uint32_t, uint32_t>> events;  // (0, 0): cleared
};

// Images of their own shapes opened one after the other in one window.
TEST_F(ViewerWindowTest, LoadProgressResolutionMemoryLimitAndTheMaximizedTurn) {
  RecordingTaskbar taskbar;
  pv::Viewer().taskbar = &taskbar;
  Write("tall.bmp", 20, 100);
  pv::ViewerWindow* w = Open("tall.bmp");
  const auto& e = taskbar.events;
  ASSERT_GE(e.size(), 4u);
  EXPECT_EQ(e.front(), std::make_pair(0u, 100u));
  EXPECT_EQ(e[e.size() - 2], std::make_pair(100u, 100u));
  EXPECT_EQ(e.back(), std::make_pair(0u, 0u)) << "cleared at the end";
  for (size_t i = 1; i + 2 < e.size(); ++i) {
    EXPECT_EQ(e[i].second, 100u) << "rows of the decoder";
    EXPECT_GT(e[i].first, e[i - 1].first);
  }

  SCOPED_TRACE("physical size follows the image's resolution");
  std::vector<uint8_t> bmp = pv::EncodeBmp32(pvtest::Gradient(40, 30, 9), 40, 30);
  const uint32_t perMetre = 1890;  // 48 pixels per inch
  std::memcpy(&bmp[38], &perMetre, 4);
  std::memcpy(&bmp[42], &perMetre, 4);
  ASSERT_TRUE(pv::WriteWholeFile(Path("r.bmp"), bmp));
  ASSERT_TRUE(w->OpenFile(Path("r.bmp").c_str(), false, true));
  Command(pv::kCmdZoomPhysical);
  EXPECT_DOUBLE_EQ(w->View()->Zoom(), pv::WindowDpi(window_) / 48.0);

  SCOPED_TRACE("a zoom without the memory keeps the previous zoom and its pixels");
  ASSERT_TRUE(w->OpenFile(Path("a.bmp").c_str(), false, true));
  Command(pv::kCmdZoom50);
  const uint64_t limit = pv::ImagePixelLimit();
  pv::SetImagePixelLimit(120 * 80);  // 200 % cannot be built
  Command(pv::kCmdZoom200);
  EXPECT_EQ(w->View()->Zoom(), 0.5);
  ASSERT_TRUE(w->View()->Final());
  EXPECT_EQ(w->View()->Final()->Dimensions(), (pv::ImageSize{60, 40})) << "the half-size pixels are still shown";
  // When even the previous zoom cannot be rebuilt, the user is told.
  pv::SetImagePixelLimit(10);
  const size_t told = Answered(pv::kCmdZoom200, IDOK);
  pv::SetImagePixelLimit(limit);
  EXPECT_EQ(told, 1u);

  SCOPED_TRACE("a turn in a maximized window fits the turned image");
  Write("wide.bmp", 2000, 600);
  ASSERT_TRUE(w->OpenFile(Path("wide.bmp").c_str(), false, true));
  Command(pv::kCmdMaximize);
  ASSERT_TRUE(IsZoomed(window_));
  const XY client = ClientSizeOf(window_);
  EXPECT_DOUBLE_EQ(w->View()->Zoom(), client.first / 2000.0) << "fitted by its width";
  Command(pv::kCmdTurnRight);
  EXPECT_EQ(w->View()->BaseSize(), (pv::ImageSize{600, 2000}));
  EXPECT_DOUBLE_EQ(w->View()->Zoom(), client.second / 2000.0) << "fitted anew by its height";
  EXPECT_EQ(w->View()->DisplayedSize().height, static_cast<uint32_t>(client.second));
}

// The frame modes: borderless with or without its border, the frame shown
// while the mouse is over, the blur behind transparent images.
TEST_F(ViewerWindowTest, BorderlessHoverAndBlurredFrames) {
  pv::Viewer().preferences.frameMode = pv::FrameMode::Borderless;
  pv::Viewer().preferences.borderColour = 0xFF0000;
  const std::vector<uint8_t> image = pvtest::Gradient(120, 80, 200);
  pv::ViewerWindow* w = Open("a.bmp");
  ASSERT_TRUE(w->IsBorderless());
  EXPECT_TRUE(HasExStyle(window_, WS_EX_LAYERED));
  EXPECT_EQ(WindowSizeOf(window_), XY(120, 80));
  EXPECT_TRUE(WaitFor([&] { return pvtest::ClientPixels(window_) == image; }, 5000));
  XY origin = ClientOriginOf(window_);
  Command(pv::kCmdToggleBorder);
  EXPECT_EQ(ClientOriginOf(window_), origin) << "the frame lies around the same client";
  EXPECT_EQ(ClientSizeOf(window_), XY(120, 80));
  ASSERT_EQ(WindowSizeOf(window_), XY(122, 82));
  RECT r;
  GetWindowRect(window_, &r);
  std::vector<uint8_t> expected;  // red all round, the image inside
  for (int i = 0; i < 122 * 82; ++i) expected.insert(expected.end(), {255, 0, 0, 255});
  for (uint32_t y = 0; y < 80; ++y) std::copy_n(&image[y * 480], 480, &expected[((y + 1) * 122 + 1) * 4]);
  EXPECT_TRUE(WaitFor([&] { return pvtest::ScreenPixels(r) == expected; }, 5000));
  Command(pv::kCmdToggleBorder);
  EXPECT_EQ(WindowSizeOf(window_), XY(120, 80));
  EXPECT_EQ(ClientOriginOf(window_), origin);
  Command(pv::kCmdZoom200);
  // Maximized windows are framed; restored, the mode comes back, also when
  // the system maximizes and restores it (keyboard, taskbar).
  for (bool ours : {true, false}) {
    ours ? Command(pv::kCmdMaximize) : void(ShowWindow(window_, SW_MAXIMIZE));
    EXPECT_TRUE(IsZoomed(window_));
    EXPECT_FALSE(HasExStyle(window_, WS_EX_LAYERED));
    EXPECT_TRUE(GetWindowLongPtrW(window_, GWL_STYLE) & WS_CAPTION);
    ours ? Command(pv::kCmdRestore) : void(ShowWindow(window_, SW_RESTORE));
    EXPECT_FALSE(IsZoomed(window_));
    EXPECT_TRUE(HasExStyle(window_, WS_EX_LAYERED));
    if (ours) {
      EXPECT_EQ(WindowSizeOf(window_), XY(240, 160));
    }
  }

  SCOPED_TRACE("the hover frame shows while the mouse is over");
  pv::Viewer().preferences.frameMode = pv::FrameMode::Hover;
  w = Open("a.bmp");
  ASSERT_TRUE(w->IsBorderless());
  origin = ClientOriginOf(window_);
  SetCursorPos(origin.first + 60, origin.second + 40);
  SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(60, 40));
  EXPECT_FALSE(w->IsBorderless());
  EXPECT_TRUE(GetWindowLongPtrW(window_, GWL_STYLE) & WS_CAPTION);
  EXPECT_EQ(ClientOriginOf(window_), origin) << "the frame grows around the image";
  EXPECT_EQ(ClientSizeOf(window_), XY(120, 80));
  SendMessageW(window_, WM_TIMER, 42, 0);
  EXPECT_FALSE(w->IsBorderless()) << "the mouse is still over the window";
  GetWindowRect(window_, &r);
  SetCursorPos(r.right + 20, r.bottom + 20);
  SendMessageW(window_, WM_TIMER, 42, 0);
  EXPECT_TRUE(w->IsBorderless());
  EXPECT_EQ(ClientOriginOf(window_), origin);

  SCOPED_TRACE("blur behind transparent images only where the system has it");
  pv::Viewer().preferences = pv::ViewerPreferences();
  std::vector<uint8_t> rgba(120 * 80 * 4, 200);
  for (uint8_t alpha : {0, 128}) {  // alpha bytes all 0: a bitmap without alpha
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = alpha;
    Write(alpha ? "t.bmp" : "o.bmp", 120, 80, rgba);
  }
  EXPECT_FALSE(Open("o.bmp")->HasComposition());
  EXPECT_TRUE(pv::Viewer().preferences.translucent) << "nothing tried for an opaque image";
  w = Open("t.bmp");
  // On where the system blurs; else the failure is remembered and not tried again.
  EXPECT_EQ(w->HasComposition(), pv::Viewer().preferences.translucent);
  Command(pv::kCmdMaximize);
  EXPECT_FALSE(w->HasComposition()) << "maximized windows have none";
}

// An EXIF block whose first directory holds the maker "Pixcam", the model
// "PV-1" and Orientation 6 ("Rotated 270": shown a quarter turn clockwise).
std::vector<uint8_t> CameraExif() {
  std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 70, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0};
  const uint8_t entries[] = {15, 1, 2, 0, 7, 0, 0, 0, 50, 0, 0, 0,   // Make, at 50
                             16, 1, 2, 0, 5, 0, 0, 0, 57, 0, 0, 0,   // Model, at 57
                             18, 1, 3, 0, 1, 0, 0, 0, 6,  0, 0, 0};  // Orientation
  app1.insert(app1.end(), std::begin(entries), std::end(entries));
  const char texts[] = "\0\0\0\0Pixcam\0PV-1";  // no next directory, then the texts
  app1.insert(app1.end(), texts, texts + sizeof texts);
  return app1;
}

void MoveSlider(HWND dialog, int id, int position) {
  HWND slider = GetDlgItem(dialog, id);
  SendMessageW(slider, TBM_SETPOS, TRUE, position);
  SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
}

// The camera's turn and the information window, then the adjustment dialog
// and the companion file it writes.
TEST_F(ViewerWindowTest, CameraTurnInformationAdjustmentsAndTheirFile) {
  std::vector<uint8_t> jpeg = pvtest::ReadFileBytes(std::string(PV_OWN_DATA_DIR) + "/../../samples/sample.jpg");
  ASSERT_GT(jpeg.size(), 2u);
  const std::vector<uint8_t> app1 = CameraExif();
  ASSERT_EQ(app1.size(), 72u);
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  ASSERT_TRUE(pv::WriteWholeFile(Path("turned.jpg"), jpeg));
  // The pixels turned are the render stages' part; here the window takes the turn.
  pv::ViewerWindow* w = Open("turned.jpg");
  ASSERT_TRUE(w);
  EXPECT_EQ(w->View()->Orientation(), 1) << "one clockwise quarter turn";
  EXPECT_EQ(ClientSizeOf(window_), XY(300, 400));
  std::wstring shown;
  WhenDialogShows(L"Image information", [&](HWND dialog) {
    wchar_t text[4096];
    GetDlgItemTextW(dialog, PV_INFO_TEXT, text, 4096);
    shown = text;
    SendDlgItemMessageW(dialog, PV_INFO_COPY, BM_CLICK, 0, 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(pv::kCmdImageInfo);
  for (const wchar_t* line : {L"Size:\t400 \u00D7 300 pixels\r\n", L"Camera maker:\tPixcam\r\n",
                              L"Camera model:\tPV-1\r\n", L"Orientation:\tRotated 270\r\n"}) {
    EXPECT_NE(shown.find(line), std::wstring::npos) << pv::WideToUtf8(line) << " in " << pv::WideToUtf8(shown);
  }
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE copied = GetClipboardData(CF_UNICODETEXT);
  const auto* text = copied ? static_cast<const wchar_t*>(GlobalLock(copied)) : nullptr;
  EXPECT_EQ(text ? std::wstring(text) : L"", shown) << "the copy button copies the whole text";
  if (text) GlobalUnlock(copied);
  CloseClipboard();

  SCOPED_TRACE("the adjustment dialog previews, then confirms or cancels");
  ASSERT_TRUE(w->OpenFile(Path("a.bmp").c_str(), false, true));
  float previewed = 0;
  WhenDialogShows(L"Adjust image", [&](HWND dialog) {
    MoveSlider(dialog, PV_ADJUST_SLIDER + 1, 50);  // brightness
    previewed = w->View()->Adjustments().colour.brightness;
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(pv::kCmdAdjust);
  EXPECT_FLOAT_EQ(previewed, 0.5f) << "the picture follows the slider";
  pv::ViewAdjustments stored;
  ASSERT_TRUE(pv::ReadAdjustmentFile(Path("a.bmp").c_str(), &stored));
  EXPECT_FLOAT_EQ(stored.colour.brightness, 0.5f);
  EXPECT_TRUE(GetFileAttributesW((Path("a.bmp") + L".pva").c_str()) & FILE_ATTRIBUTE_HIDDEN) << "a hidden companion";
  Command(pv::kCmdZoom200);
  WhenDialogShows(L"Adjust image", [&](HWND dialog) {
    MoveSlider(dialog, PV_ADJUST_SLIDER, -50);  // contrast
    SendDlgItemMessageW(dialog, PV_ADJUST_INVERT, BM_CLICK, 0, 0);
    previewed = w->View()->Adjustments().colour.contrast;
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  Command(pv::kCmdAdjust);
  EXPECT_FLOAT_EQ(previewed, -0.5f);
  EXPECT_EQ(w->View()->Adjustments(), stored) << "cancelled: as before the dialog";
  EXPECT_EQ(w->View()->Zoom(), 2.0);
  ASSERT_TRUE(pv::ReadAdjustmentFile(Path("a.bmp").c_str(), &stored));
  EXPECT_FLOAT_EQ(stored.colour.contrast, 0.0f) << "nothing written";

  SCOPED_TRACE("an adjustment file opens its image");
  ASSERT_TRUE(w->OpenFile(Path("b.bmp").c_str(), false, true));
  ASSERT_TRUE(w->OpenFile(Path("a.bmp.pva").c_str(), false, true));
  EXPECT_EQ(std::wstring(w->CurrentFileName()), Path("a.bmp"));
  EXPECT_FLOAT_EQ(w->View()->Adjustments().colour.brightness, 0.5f);
  const std::wstring title = Title();
  EXPECT_FALSE(w->OpenFile(Path("show.pvs").c_str(), false, false)) << "not an image";
  EXPECT_EQ(Title(), title);
}

// The command ids of a menu's items: 0 for separators, -1 for submenus.
std::vector<int> MenuIds(HMENU menu) {
  std::vector<int> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) ids.push_back(static_cast<int>(GetMenuItemID(menu, i)));
  return ids;
}

// The commands, submenus included, whose items show a bitmap.
std::vector<int> IdsWithBitmaps(HMENU menu) {
  std::vector<int> ids;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_BITMAP | MIIM_ID | MIIM_SUBMENU;
    EXPECT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item));
    if (item.hSubMenu) {
      for (int id : IdsWithBitmaps(item.hSubMenu)) ids.push_back(id);
    } else if (item.hbmpItem) {
      BITMAP bm{};
      EXPECT_EQ(GetObjectW(item.hbmpItem, sizeof bm, &bm), static_cast<int>(sizeof bm)) << item.wID;
      EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON)) << item.wID;
      ids.push_back(static_cast<int>(item.wID));
    }
  }
  return ids;
}
// The context menu follows the window's state and, with a language file,
// speaks the user's language with the dialogs and the title.
TEST_F(ViewerWindowTest, ContextMenuFollowsTheStateAndTheLanguage) {
  pv::ViewerWindow* w = Open("a.bmp");
  {
    pv::IconMenu menu = w->BuildContextMenu();
    EXPECT_EQ(MenuIds(menu.get()), (std::vector<int>{20000, 20005, 0, 20001, 20002, 0, -1, -1, -1, 20035, 20074, 20008, 0,
                                                     20056, 20062, 20064}));
    EXPECT_EQ(IdsWithBitmaps(menu.get()), (std::vector<int>{20000, 20005, 20001, 20002, 20025, 20026, 20033, 20035,
                                                            20008, 20056, 20062, 20064}));
    wchar_t text[128];
    GetMenuStringW(menu.get(), 3, text, 128, MF_BYPOSITION);
    EXPECT_NE(std::wstring(text).find(L'\t'), std::wstring::npos) << "the key beside the command";
    EXPECT_FALSE(GetMenuState(menu.get(), pv::kCmdAdjust, MF_BYCOMMAND) & MF_GRAYED);
  }
  Command(pv::kCmdSlideshowFlag, 1);
  {
    pv::IconMenu menu = w->BuildContextMenu();
    EXPECT_EQ(MenuIds(menu.get()), (std::vector<int>{20052, 20051, 0}));
    // What the window cannot do now is greyed, not dead: no show starts inside a show.
    EXPECT_TRUE(GetMenuState(menu.get(), pv::kCmdSlideshowAlt, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(IdsWithBitmaps(menu.get()), (std::vector<int>{20052}));
  }
  Command(pv::kCmdSlideshowFlag, 0);
  Command(pv::kCmdFreeze);
  pv::IconMenu menu = w->BuildContextMenu();
  EXPECT_EQ(MenuIds(menu.get()),
            (std::vector<int>{20033, 20005, 0, 20000, 20001, 20002, 0, 20025, 20026, 0, 20062, 20064}));
  EXPECT_EQ(IdsWithBitmaps(menu.get()),
            (std::vector<int>{20033, 20005, 20000, 20001, 20002, 20025, 20026, 20062, 20064}));
  Command(pv::kCmdFreeze);

  SCOPED_TRACE("a language file translates menus, dialogs and title");
  const std::u16string lines = u"// German\r\nOpen a new image|Neues Bild \u00F6ffnen\r\nFile|Datei\r\n"
                               u"Slideshow|Diashow\r\nImage information|Bildinformationen\r\nClose|Schlie\u00DFen\r\n"
                               u"Size|Gr\u00F6\u00DFe\r\n";
  std::vector<uint8_t> file = {0xFF, 0xFE};
  for (char16_t c : lines) file.insert(file.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  ASSERT_TRUE(pv::WriteWholeFile(Path("Deutsch.language"), file));
  pv::AppSettings settings;
  settings.programFolder = Path("");
  std::strcpy(settings.options.languageName, "Deutsch");
  pv::LoadLanguage(settings);
  EXPECT_GT(settings.options.dictionaryBytes, 256u);

  {
    pv::IconMenu menu = w->BuildContextMenu();
    wchar_t text[128];
    GetMenuStringW(menu.get(), pv::kCmdOpen, text, 128, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(text).substr(0, 17), L"Neues Bild \u00F6ffnen");
    std::set<std::wstring> titles;
    for (int i = 0; i < GetMenuItemCount(menu.get()); ++i) {
      if (GetMenuStringW(menu.get(), i, text, 128, MF_BYPOSITION) > 0) titles.insert(text);
    }
    EXPECT_TRUE(titles.count(L"Datei") && titles.count(L"Diashow")) << "the submenus' titles";
  }
  // The menu as the user sees it, kept as translated-menu.bmp beside the tests.
  static std::vector<uint8_t> shot;
  static XY shotSize;
  shot.clear();
  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (HWND menu = FindWindowW(L"#32768", nullptr)) {
      RECT r;
      GetWindowRect(menu, &r);
      shot = pvtest::ScreenPixels(r);
      shotSize = {r.right - r.left, r.bottom - r.top};
    }
    EndMenu();
  });
  const XY origin = ClientOriginOf(window_);
  SendMessageW(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window_), MAKELPARAM(origin.first + 5, origin.second + 5));
  ASSERT_FALSE(shot.empty()) << "the menu showed";
  EXPECT_GT(std::set<uint32_t>(reinterpret_cast<const uint32_t*>(shot.data()),
                               reinterpret_cast<const uint32_t*>(shot.data() + shot.size())).size(), 2u)
      << "the menu has its texts";
  EXPECT_TRUE(pv::WriteWholeFile(L"translated-menu.bmp", pv::EncodeBmp32(shot, shotSize.first, shotSize.second)));
  Command(pv::kCmdSlideshowFlag, 1);
  EXPECT_EQ(TitleOf(window_), L"Diashow | a.bmp | Pixvane");
  Command(pv::kCmdSlideshowFlag, 0);
  std::wstring shown;
  WhenDialogShows(L"Bildinformationen", [&](HWND dialog) {
    wchar_t text[256];
    GetDlgItemTextW(dialog, IDOK, text, 256);
    shown = text;
    GetDlgItemTextW(dialog, PV_INFO_TEXT, text, 256);
    shown += L"|" + std::wstring(text).substr(0, 6);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  Command(pv::kCmdImageInfo);
  EXPECT_EQ(shown, L"Schlie\u00DFen|Gr\u00F6\u00DFe:");
  pv::SetCurrentDictionary({});
}


// The bundled samples hold one file of every format the viewer opens.
TEST_F(ViewerWindowTest, EverySampleFormatOpensAndStepsThroughItsFolder) {
  std::set<std::wstring> names;
  for (const auto& e : fs::directory_iterator(std::string(PV_OWN_DATA_DIR) + "/../../samples")) {
    if (e.path().extension() == L".tsv" || e.path().extension() == L".pvs") continue;
    fs::copy_file(e.path(), fs::path(dir_) / e.path().filename());
    names.insert(e.path().filename().wstring());
  }
  ASSERT_GE(names.size(), 12u);
  for (const std::wstring& name : names) {
    pv::ViewerWindow* w = pv::ViewerWindow::Open((fs::path(dir_) / name).c_str(), {});
    ASSERT_TRUE(w && w->HasImage()) << pv::WideToUtf8(name);
    EXPECT_GT(ClientSizeOf(w->Handle()).first, 1) << pv::WideToUtf8(name);
    DestroyWindow(w->Handle());
  }
  // Every file is reached by stepping on from the first (pages of a
  // multi-page file come first, so more steps than files).
  pv::ViewerWindow* w = pv::ViewerWindow::Open((fs::path(dir_) / *names.begin()).c_str(), {});
  ASSERT_TRUE(w);
  window_ = w->Handle();
  std::set<std::wstring> seen;
  for (int i = 0; i < 60 && seen.size() < names.size(); ++i) {
    ASSERT_TRUE(w->CurrentFileName()) << "every page knows its file";
    seen.insert(fs::path(w->CurrentFileName()).filename().wstring());
    Command(pv::kCmdNextImage);
  }
  for (const std::wstring& name : names) EXPECT_TRUE(seen.count(name)) << pv::WideToUtf8(name) << " never shown";
}

// A looping GIF of solid w × h frames in these colours (0xRRGGBB), 50 ms each.
std::vector<uint8_t> AnimatedGif(uint16_t w, uint16_t h, const std::vector<uint32_t>& colours) {
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                              0xF7, 0, 0};
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t c = i < colours.size() ? colours[i] : 0;
    gif.insert(gif.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  }
  const char loop[] = "\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00";
  gif.insert(gif.end(), loop, loop + sizeof loop - 1);
  for (size_t f = 0; f < colours.size(); ++f) {
    gif.insert(gif.end(), {0x21, 0xF9, 4, 0, 5, 0, 0, 0, 0x2C, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h),
                           uint8_t(h >> 8), 0});
    const std::vector<uint8_t> pixels(size_t{w} * h, static_cast<uint8_t>(f));
    std::vector<uint8_t> lzw(pv::LzwEncodeBound(pixels.size()));
    lzw.resize(pv::LzwEncode(lzw.data(), pixels.data(), pixels.size()));
    gif.insert(gif.end(), lzw.begin(), lzw.end());
  }
  gif.push_back(0x3B);
  return gif;
}

TEST_F(ViewerWindowTest, PausedAnimationStaysOnItsFrameAndStepsByCommand) {
  ASSERT_TRUE(pv::WriteWholeFile(Path("anim.gif"), AnimatedGif(8, 8, {0xFF0000, 0x00FF00, 0x0000FF})));
  pv::ViewerWindow* w = Open("anim.gif");
  ASSERT_TRUE(w && w->View()->IsAnimated());
  EXPECT_FALSE(w->CommandState().paused);
  Command(pv::kCmdNextFrame);  // only while paused: a beep, no step
  EXPECT_EQ(w->View()->FrameCount(), 3u);
  Command(pv::kCmdPauseAnimation);
  const uint32_t paused = w->View()->FrameIndex();
  const auto shown = [&] { return pvtest::PixelAt(*w->View()->Final(), 4, 4) & 0xFFFFFFu; };
  const uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
  EXPECT_EQ(shown(), colours[paused]);
  PumpMessages(400);  // eight frame delays
  EXPECT_EQ(w->View()->FrameIndex(), paused);
  const auto frameTitle = [](uint32_t i) { return L"[paused, frame " + std::to_wstring(i + 1) + L" of 3]"; };
  EXPECT_NE(Title().find(frameTitle(paused)), std::wstring::npos) << pv::WideToUtf8(Title());
  {
    pv::IconMenu menu = w->BuildContextMenu();
    EXPECT_TRUE(GetMenuState(menu.get(), pv::kCmdPauseAnimation, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(menu.get(), pv::kCmdPreviousFrame, MF_BYCOMMAND) & MF_GRAYED);
  }
  Command(pv::kCmdNextFrame);
  const uint32_t next = (paused + 1) % 3;
  EXPECT_EQ(w->View()->FrameIndex(), next);
  EXPECT_EQ(shown(), colours[next]);
  EXPECT_NE(Title().find(frameTitle(next)), std::wstring::npos);
  Command(pv::kCmdPreviousFrame);
  EXPECT_EQ(w->View()->FrameIndex(), paused);
  EXPECT_EQ(shown(), colours[paused]);
  Command(pv::kCmdPauseAnimation);  // resumed: it runs on, on the screen too
  for (int i = 0; i < 40 && w->View()->FrameIndex() == paused; ++i) PumpMessages(50);
  EXPECT_NE(w->View()->FrameIndex(), paused);
  EXPECT_EQ(Title().find(L"paused"), std::wstring::npos);
  // No message is handled meanwhile, so the frame cannot move on; the centre
  // of the client lies inside the centred picture.
  UpdateWindow(window_);
  const std::vector<uint8_t> rgba = pvtest::ClientPixels(window_);
  const auto [cw, ch] = ClientSizeOf(window_);
  const uint8_t* centre = &rgba[(size_t(ch / 2) * cw + cw / 2) * 4];
  EXPECT_EQ(uint32_t{centre[0]} << 16 | centre[1] << 8 | centre[2], colours[w->View()->FrameIndex()]);
}

std::vector<std::pair<std::wstring, bool>> g_opened;

TEST_F(ViewerWindowTest, FilesThatFailCountAsOpenedAndTheirWindowMayCloseDuringTheBox) {
  ASSERT_TRUE(pv::WriteWholeFile(Path("bad.bmp"), std::vector<uint8_t>{'B', 'M', 1, 2, 3}));
  g_opened.clear();
  pv::Viewer().fileOpened = [](const wchar_t* path, bool shown) { g_opened.emplace_back(path, shown); };
  {
    pvtest::DialogAnswerer ok(IDOK);
    pv::ViewerWindow* bad = Open("bad.bmp");
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->HasImage());
    EXPECT_EQ(ok.Captions(), std::vector<std::wstring>{L"Pixvane"});
  }
  Open("a.bmp");
  pv::Viewer().fileOpened = nullptr;
  const std::vector<std::pair<std::wstring, bool>> expected = {{Path("bad.bmp"), false}, {Path("a.bmp"), true}};
  EXPECT_EQ(g_opened, expected);

  // Closed during its own error box, the window is deleted once, after it.
  HWND closed = nullptr;
  WhenDialogShows(L"Pixvane", [&](HWND box) {
    closed = GetWindow(box, GW_OWNER);
    SendMessageW(closed, WM_CLOSE, 0, 0);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(pv::ViewerWindow::Open(Path("bad.bmp").c_str(), {}), nullptr);
  ASSERT_NE(closed, nullptr) << "the error box was shown by the window";
  EXPECT_FALSE(IsWindow(closed));
}

// What a show opened, by name, and when.
std::vector<std::pair<std::wstring, ULONGLONG>> g_shown;
HWND g_showWindow = nullptr;
size_t g_escapeAfter = 0;  // Esc is released once this many images were shown

void RecordShown(const wchar_t* path, bool) {
  g_shown.emplace_back(std::filesystem::path(path).filename().wstring(), GetTickCount64());
  if (g_shown.size() == g_escapeAfter) PostMessageW(g_showWindow, WM_KEYUP, VK_ESCAPE, 0);
}

std::vector<std::wstring> ShownNames() {
  std::vector<std::wstring> names;
  for (const auto& shown : g_shown) names.push_back(shown.first);
  return names;
}

TEST_F(ViewerWindowTest, SlideshowScriptsPlayWaitLoopStopAndCleanUp) {
  pv::AppSettings settings;
  pv::Viewer().settings = &settings;
  pv::Viewer().preferences.slideMaximise = false;
  pv::Viewer().fileOpened = RecordShown;
  auto script = [&](const char* name, const std::string& body) {
    const std::string text = "Pixvane SlideShow {\r\n" + body + "}\r\n";
    EXPECT_TRUE(pv::WriteWholeFile(Path(name), std::vector<uint8_t>(text.begin(), text.end())));
    return Path(name);
  };
  pv::ViewerWindow* w = Open("a.bmp");
  ASSERT_TRUE(w);
  g_showWindow = window_;
  g_escapeAfter = 0;

  // Delays between the images, the next one decoded ahead, then back to a.bmp.
  g_shown.clear();
  static struct Ahead {
    bool cached;
    pv::ImageCache* cache;
    std::wstring next;
  } s;
  s = {false, &cache_, Path("b.bmp")};
  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) { KillTimer(nullptr, id), s.cached = s.cache->IsCached(s.next.c_str()); });
  EXPECT_TRUE(w->OpenFile(script("three.pvs", "display a.bmp; delay 0.6; display \"b.bmp\"; delay 0.3;"
                                              " display c.bmp;\r\n").c_str(), true, true));
  ASSERT_EQ(ShownNames(), (std::vector<std::wstring>{L"a.bmp", L"b.bmp", L"c.bmp", L"a.bmp"}));
  EXPECT_GE(g_shown[1].second - g_shown[0].second, 600u);
  EXPECT_GE(g_shown[2].second - g_shown[1].second, 300u);
  EXPECT_TRUE(s.cached) << "b.bmp was decoded while a.bmp was shown";
  PumpMessages(50);
  EXPECT_EQ(Title(), L"a.bmp | Pixvane") << "the show's end is in the title";

  // A loop runs until Esc, and a script that asked for it is deleted.
  g_shown.clear();
  g_escapeAfter = 5;
  const std::wstring looping = script("loop.pvs", "set SelfDelete; loop { display a.bmp; delay 0.1; display b.bmp; }");
  EXPECT_TRUE(w->OpenFile(looping.c_str(), true, true));
  EXPECT_EQ(g_shown.size(), 6u) << "five shown, then back to a.bmp";
  EXPECT_FALSE(fs::exists(looping));
  PumpMessages(50);

  // The quick show never touches the user's own "Slide.pvs" and cleans up its own.
  g_shown.clear();
  g_escapeAfter = 0;
  settings.options.slideDelayMode = 0;
  const std::string mine = "Pixvane SlideShow { display c.bmp; }";
  ASSERT_TRUE(pv::WriteWholeFile(Path("Slide.pvs"), std::vector<uint8_t>(mine.begin(), mine.end())));
  Command(pv::kCmdSlideshowAlt);
  EXPECT_EQ(ShownNames(), (std::vector<std::wstring>{L"a.bmp", L"b.bmp", L"c.bmp", L"a.bmp"}));
  EXPECT_EQ(pvtest::ReadFileBytes(pv::WideToUtf8(Path("Slide.pvs"))), std::vector<uint8_t>(mine.begin(), mine.end()));
  size_t scripts = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(Path("")))) scripts += entry.path().extension() == ".pvs";
  EXPECT_EQ(scripts, 2u) << "the user's and three.pvs";

  // A show started on its own closes its window when it ends.
  pv::ViewerWindow* alone = pv::ViewerWindow::Open(Path("three.pvs").c_str(), {});
  EXPECT_TRUE(WaitFor([&] { return !alone || !IsWindow(alone->Handle()); }, 5000));

  // Closed in the middle of an endless show: the show ends and the window goes.
  static HWND closing;
  pv::ViewerWindow* shower = pv::ViewerWindow::Open(Path("c.bmp").c_str(), {});
  ASSERT_TRUE(shower);
  closing = shower->Handle();
  SetTimer(nullptr, 0, 400, [](HWND, UINT, UINT_PTR id, DWORD) { KillTimer(nullptr, id), PostMessageW(closing, WM_CLOSE, 0, 0); });
  EXPECT_TRUE(shower->OpenFile(script("forever.pvs", "loop { display a.bmp; delay 0.1; display b.bmp; }").c_str(), true, true));
  EXPECT_FALSE(IsWindow(closing));
  pv::Viewer().fileOpened = nullptr;
  pv::Viewer().settings = nullptr;
}

// Presses the keys through the system's input (the last first released).
void PressKeys(std::initializer_list<WORD> keys) {
  std::vector<INPUT> input;
  for (WORD key : keys) input.push_back({INPUT_KEYBOARD, {.ki = {key, 0, 0, 0, 0}}});
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
    input.push_back({INPUT_KEYBOARD, {.ki = {*key, 0, KEYEVENTF_KEYUP, 0, 0}}});
  SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

bool HasAccelerator(const pv::ToolkitWindow& w, BYTE flags, WORD key, WORD command) {
  const pv::AcceleratorTable* table = w.Accelerators();
  if (!table || !*table) return false;
  std::vector<ACCEL> entries(CopyAcceleratorTableW(table->get(), nullptr, 0));
  CopyAcceleratorTableW(table->get(), entries.data(), static_cast<int>(entries.size()));
  return std::any_of(entries.begin(), entries.end(),
                     [&](const ACCEL& a) { return a.fVirt == flags && a.key == key && a.cmd == command; });
}

TEST_F(ViewerWindowTest, OptionsAndARecordedKeyChangeEveryOpenWindowAndTheNextStart) {
  // The program's own settings key, as at a first start of an installed copy.
  RegDeleteTreeW(HKEY_CURRENT_USER, pv::SettingsKeyPath().c_str());
  pv::SettingsStoreOptions store;
  store.installed = pv::SettingsStoreOptions::Installed::Yes;
  pv::AppSettings settings;
  pv::LoadSettings(settings, store);
  pv::Viewer().settings = &settings;
  pv::Viewer().settingsChanged = [] {
    pv::Viewer().preferences = pv::PreferencesFrom(pv::Viewer().settings->options);
    pv::Viewer().keyBindings = pv::ActiveKeyBindings(*pv::Viewer().settings);
  };
  Open("a.bmp");
  pv::ViewerWindow* other = pv::ViewerWindow::Open(Path("b.bmp").c_str(), {});
  ASSERT_TRUE(other);
  int fullPath = -1;
  for (size_t i = 0; i < pv::kOptionControlCount; ++i) {
    if (std::wstring(pv::kOptionControls[i].label) == L"Show the full path in the title") fullPath = 11000 + int(i);
  }
  std::wstring recorded;
  WhenDialogShows(L"Pixvane options", [&](HWND sheet) {
    SendDlgItemMessageW(PropSheet_GetCurrentPageHwnd(sheet), fullPath, BM_CLICK, 0, 0);
    PropSheet_SetCurSel(sheet, nullptr, 4);
    HWND keys = PropSheet_GetCurrentPageHwnd(sheet);
    EXPECT_EQ(SendDlgItemMessageW(keys, PV_KEYS_LIST, LVM_GETITEMCOUNT, 0, 0), 73);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(keys, PV_KEYS_RESET))) << "the list is the built-in table";
    WhenDialogShows(L"Key", [&, sheet](HWND dialog) {
      HWND commands = GetDlgItem(dialog, PV_KEY_COMMAND);
      for (LRESULT i = 0; i < SendMessageW(commands, CB_GETCOUNT, 0, 0); ++i) {
        if (SendMessageW(commands, CB_GETITEMDATA, i, 0) == pv::kCmdZoom50) SendMessageW(commands, CB_SETCURSEL, i, 0);
      }
      SendDlgItemMessageW(dialog, PV_KEY_RECORD, BM_CLICK, 0, 0);
      // Ctrl alone is waited through; Ctrl held with Q is the key.
      PressKeys({VK_CONTROL});
      PressKeys({VK_CONTROL, 'Q'});
      WaitFor([&] { return TitleOf(GetDlgItem(dialog, PV_KEY_NAME)) == L"Ctrl-Q"; }, 5000);
      recorded = TitleOf(GetDlgItem(dialog, PV_KEY_NAME));
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    });
    PostMessageW(keys, WM_COMMAND, MAKEWPARAM(PV_KEYS_ADD, BN_CLICKED), 0);
  });
  Command(pv::kCmdOptions);
  PumpMessages(100);
  EXPECT_EQ(recorded, L"Ctrl-Q");
  EXPECT_TRUE(settings.options.showFullPath);
  EXPECT_EQ(Title(), Path("a.bmp") + L" | Pixvane");
  EXPECT_EQ(TitleOf(other->Handle()), Path("b.bmp") + L" | Pixvane") << "every window shows the change";
  EXPECT_TRUE(HasAccelerator(*other, FVIRTKEY | FCONTROL, 'Q', pv::kCmdZoom50)) << "every window has the key";

  // The next start reads the option and the key set back.
  pv::SaveSettings(settings, store);
  pv::AppSettings next;
  pv::LoadSettings(next, store);
  EXPECT_TRUE(next.options.showFullPath);
  EXPECT_EQ(pv::ActiveKeyBindings(next).back(), (pv::KeyBinding{pv::kKeyCtrl, 'Q', pv::kCmdZoom50}));
  EXPECT_EQ(pv::ActiveKeyBindings(next).size(), 74u);
  RegDeleteTreeW(HKEY_CURRENT_USER, pv::SettingsKeyPath().c_str());
  DestroyWindow(other->Handle());
  pv::Viewer().keyBindings.clear();
  pv::Viewer().settingsChanged = nullptr;
  pv::Viewer().settings = nullptr;
}

TEST_F(ViewerWindowTest, ClipboardDeleteWallpaperAndCapture) {
  Write("a.bmp", 61, 30);  // rows of an odd width
  pv::ViewerWindow* w = Open("a.bmp");
  ASSERT_TRUE(w);
  PumpMessages(200);
  const std::vector<uint8_t> shown = pvtest::ClientPixels(window_);
  Command(pv::kCmdCopy);
  Command(pv::kCmdNextImage);
  EXPECT_EQ(w->View()->BaseSize().width, 60u);
  Command(pv::kCmdPaste);
  PumpMessages(200);
  EXPECT_NE(Title().find(L"<clipboard>"), std::wstring::npos);
  EXPECT_EQ(pvtest::ClientPixels(window_), shown) << "the pasted image shows the copied pixels";
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "pvclipb.bmp")) << "the file it came through is gone";
  EXPECT_EQ(Answered(pv::kCmdDelete, IDYES), 0u) << "greyed for an image that is no file";

  ASSERT_TRUE(w->OpenFile(Path("a.bmp").c_str(), false, false));
  EXPECT_EQ(Answered(pv::kCmdDeleteAndNext, IDNO), 1u);
  EXPECT_TRUE(fs::exists(Path("a.bmp"))) << "answered No";
  EXPECT_EQ(Answered(pv::kCmdDeleteAndNext, IDYES), 1u);
  EXPECT_FALSE(fs::exists(Path("a.bmp")));
  EXPECT_EQ(std::wstring(w->CurrentFileName()), Path("b.bmp")) << "the next image is shown";
  EXPECT_EQ(Answered(pv::kCmdWipe, IDYES), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "c.bmp only";
  EXPECT_EQ(w->CurrentFileName(), nullptr) << "the wiped file is no longer named";

  Command(pv::kCmdSetWallpaper);
  wchar_t wallpaper[MAX_PATH] = L"";
  SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, wallpaper, 0);
  EXPECT_TRUE(std::wstring(wallpaper).ends_with(L"\\Pixvane desktop.bmp") && fs::exists(wallpaper));
  Command(pv::kCmdCaptureScreen);
  EXPECT_EQ(std::wstring(w->CurrentFileName()), L"<capture>");
  EXPECT_EQ(w->View()->BaseSize(), (pv::ImageSize{uint32_t(GetSystemMetrics(SM_CXSCREEN)), uint32_t(GetSystemMetrics(SM_CYSCREEN))}));
}

// A large JPEG opened into a window already on the screen paints a preview
// before its decode ends: a progressive file its first scans, a camera's
// file its thumbnail. A file with neither, or whose thumbnail has another
// shape, is painted once decoded. The trace gives the order.
TEST_F(ViewerWindowTest, LargeJpegPaintsItsQuickPreviewBeforeItsDecodeEnds) {
  const auto thumbnail = [](uint32_t w, uint32_t h) {
    return jpegtest::ExifThumbnailSegment(jpegtest::Encode(jpegtest::Picture(w, h), {}));
  };
  struct Case { const char* name; jpegtest::Options options; bool preview; };
  const Case cases[] = {{"progressive.jpg", {.progressive = true}, true},
                        {"camera.jpg", {.segments = {thumbnail(160, 120)}}, true},
                        {"letterboxed.jpg", {.segments = {thumbnail(160, 160)}}, false},
                        {"plain.jpg", {}, false}};
  // In a folder of their own, which no decode ahead reaches.
  fs::create_directories(Path("large"));
  const jpegtest::Planes picture = jpegtest::Picture(1600, 1200);
  for (const Case& c : cases)
    ASSERT_TRUE(pv::WriteWholeFile(Path("large") + L"\\" + pvtest::Widen(c.name), jpegtest::Encode(picture, c.options)));
  const std::wstring trace = Path("trace.txt");
  SetEnvironmentVariableW(L"PIXVANE_TRACE", trace.c_str());
  pv::ViewerWindow* w = Open("a.bmp");
  SetEnvironmentVariableW(L"PIXVANE_TRACE", nullptr);
  ASSERT_TRUE(w && w->HasImage());
  for (const Case& c : cases) {
    ASSERT_TRUE(w->OpenFile((Path("large") + L"\\" + pvtest::Widen(c.name)).c_str(), false, false));
    UpdateWindow(window_);  // the full paint ends the open's line
  }

  // A line per image: path, cached, then milliseconds to the decode's end, the first paint and the full paint.
  const std::vector<uint8_t> bytes = pvtest::ReadFileBytes(fs::path(trace).string());
  const std::string text(bytes.begin(), bytes.end());
  for (const Case& c : cases) {
    const size_t at = text.find(std::string(c.name) + "\t0\t");
    ASSERT_NE(at, std::string::npos) << c.name << " in " << text;
    double decoded = 0, first = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at + std::strlen(c.name) + 3, "%lf\t%lf", &decoded, &first), 2);
    EXPECT_EQ(first < decoded, c.preview) << c.name << ": decoded at " << decoded << " ms, first paint " << first;
  }
}

}  // namespace
