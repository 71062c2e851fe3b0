// The real program, started as its own processes: what the user sees on the
// screen, the hand-over between two starts and the command-line options.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/preferences.h"
#include "app/startup_shortcut.h"
#include "codecs/register_decoders.h"
#include "core/text.h"
#include "settings/settings_store.h"
#include "toolkit/command_ids.h"
#include "toolkit/resource_ids.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"
#include "tests/win/window_test_support.h"
#include "viewer/error_text.h"

namespace fs = std::filesystem;

namespace {

using pvtest::ClientPixels;
using pvtest::ClientSizeOf;
using pvtest::Gradient;
using pvtest::TitleOf;
using pvtest::WaitFor;
using pvtest::WindowSizeOf;
using XY = pvtest::XY;

std::wstring ClassOf(HWND w) {
  wchar_t name[64];
  return std::wstring(name, static_cast<size_t>(GetClassNameW(w, name, 64)));
}

// Visible top-level windows of a process with the given class.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* className = L"muiWindow") {
  struct Search {
    DWORD pid;
    const wchar_t* className;
    std::vector<HWND> found;
  } search{pid, className, {}};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == s->pid && IsWindowVisible(w) && ClassOf(w) == s->className) s->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class Program {
 public:
  explicit Program(const std::wstring& arguments) {
    std::wstring exe = pvtest::Widen(PV_PIXVANE_EXE);
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  DWORD Id() const { return pi_.dwProcessId; }
  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD WaitForExit(DWORD milliseconds = 20000) {
    WaitForSingleObject(pi_.hProcess, milliseconds);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }
  // The first of `count` visible windows of the class, once there are so many.
  HWND WaitForWindow(size_t count = 1, const wchar_t* className = L"muiWindow") {
    std::vector<HWND> w;
    WaitFor([&] { return (w = WindowsOf(Id(), className)).size() >= count; });
    return w.size() >= count ? w.front() : nullptr;
  }

 private:
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

class ViewerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pvtest::ScratchDir("viewer-process");
    Write("img1.bmp", 100, 70, 10);
    Write("img2.bmp", 120, 80, 20);
    Write("img10.bmp", 90, 60, 30);
    // Cut inside its header: no decoder can show it.
    std::vector<uint8_t> broken = pv::EncodeBmp32(Gradient(64, 64, 40), 64, 64);
    broken.resize(30);
    ASSERT_TRUE(pv::WriteWholeFile(Path("broken.bmp"), broken));
  }
  void TearDown() override {
    // No window of this test may take the next test's hand-over.
    Program close(L"-close");
    close.WaitForExit();
  }
  void Write(const char* name, uint32_t w, uint32_t h, uint8_t blue) {
    images_[name] = Gradient(w, h, blue);
    ASSERT_TRUE(pv::WriteWholeFile(Path(name), pv::EncodeBmp32(images_[name], w, h)));
  }
  std::wstring Path(const char* name) { return (fs::path(dir_) / name).wstring(); }
  std::wstring Quoted(const char* name) { return L"\"" + Path(name) + L"\""; }

  std::string dir_;
  std::map<std::string, std::vector<uint8_t>> images_;
};

bool TitleBecomes(HWND w, const std::wstring& expected) {
  return WaitFor([&] { return TitleOf(w) == expected; }, 10000);
}

// A start on a file, on a damaged file and on a folder's index.
TEST_F(ViewerProcess, ShowsTheFileStepsThroughTheFolderTellsTheDamageAndIndexesTheFolder) {
  Program viewer(Quoted("img2.bmp"));
  HWND window = viewer.WaitForWindow();
  ASSERT_TRUE(window);
  ASSERT_TRUE(TitleBecomes(window, L"img2.bmp | Pixvane")) << pv::WideToUtf8(TitleOf(window));
  EXPECT_EQ(ClientSizeOf(window), XY(120, 80));
  EXPECT_TRUE(WaitFor([&] { return ClientPixels(window) == images_["img2.bmp"]; }, 5000))
      << "the screen shows other pixels than the image";

  // Next and previous keys go in the shell's order: img1, img2, img10; past
  // the ends they wrap, and broken.bmp, first of all, is skipped.
  const std::pair<WPARAM, const wchar_t*> steps[] = {{VK_SPACE, L"img10.bmp | Pixvane"},
                                                     {VK_SPACE, L"img1.bmp | Pixvane"},
                                                     {VK_BACK, L"img10.bmp | Pixvane"},
                                                     {VK_BACK, L"img2.bmp | Pixvane"}};
  for (const auto& [key, title] : steps) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
    EXPECT_TRUE(TitleBecomes(window, title)) << pv::WideToUtf8(title) << " but " << pv::WideToUtf8(TitleOf(window));
  }
  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_EQ(viewer.WaitForExit(), 0u) << "the last window closed ends the process";

  SCOPED_TRACE("a damaged file shows its message and the process ends cleanly");
  Program damaged(Quoted("broken.bmp"));
  HWND box = damaged.WaitForWindow(1, L"#32770");
  ASSERT_TRUE(box);
  EXPECT_EQ(TitleOf(box), L"Pixvane");
  wchar_t text[512] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 512);  // a message box's text control
  pv::RegisterDecoders();
  pv::Ref<pv::ImageBuffer> image;
  const pv::Status status = pv::LoadImageFile(Path("broken.bmp").c_str(), pv::LoadOptions(), &image);
  ASSERT_TRUE(pv::Failed(status));
  EXPECT_EQ(std::wstring(text), pv::ErrorMessage(status, pv::ErrorText(status), Path("broken.bmp")));
  SendMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(damaged.WaitForExit(), 0u);

  SCOPED_TRACE("the index option shows the folder as a grid of thumbnails");
  Program browser(L"-index \"" + pvtest::Widen(dir_) + L"\"");
  window = browser.WaitForWindow();
  ASSERT_TRUE(window);
  EXPECT_TRUE(WaitFor([&] { return TitleOf(window).ends_with(L" | 4 | Index | Pixvane"); }, 10000))
      << pv::WideToUtf8(TitleOf(window));
  PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_EQ(browser.WaitForExit(), 0u);
}

// A second start hands its file and options over to the first and ends.
TEST_F(ViewerProcess, HandOverIsAnsweredWhileTheFirstShowsItsOpenDialog) {
  Program first(Quoted("img1.bmp"));
  ASSERT_TRUE(first.WaitForWindow());
  Program noFile(L"");
  EXPECT_EQ(noFile.WaitForExit(5000), 0u) << "answered at once; the first shows its open dialog after the answer";
  HWND dialog = first.WaitForWindow(1, L"#32770");
  ASSERT_TRUE(dialog);
  Program withFile(Quoted("img2.bmp") + L" -title=Second");
  EXPECT_EQ(withFile.WaitForExit(5000), 0u) << "answered while the dialog is up";
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(first.WaitForWindow(2)) << "the same process opens the handed-over file";
  EXPECT_TRUE(WaitFor([&] {
    for (HWND w : WindowsOf(first.Id()))
      if (TitleOf(w) == L"Second - Pixvane") return true;
    return false;
  }));
  Program close(L"-CLOSE " + Quoted("img2.bmp"));
  EXPECT_EQ(close.WaitForExit(), 0u);
  EXPECT_EQ(first.WaitForExit(), 0u) << "every window closed";
}

// Each start with its options; a frozen window comes back once after the session ends.
TEST_F(ViewerProcess, OptionsTakeEffect) {
  const fs::path lnk = fs::path(pv::StartupFolder()) / "img2.bmp.lnk";
  std::error_code ec;
  fs::remove(lnk, ec);
  struct Case {
    const wchar_t* options;
    std::function<void(HWND)> check;
  } cases[] = {
      {L"-pos=100,200 /ZOOM=2 -topmost",
       [](HWND w) {
         EXPECT_EQ(pvtest::ClientSizeOf(w), XY(240, 160));
         EXPECT_TRUE(TitleBecomes(w, L"img2.bmp | 2.0x | Pixvane")) << pv::WideToUtf8(TitleOf(w));
         EXPECT_TRUE(WaitFor([&] { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }));
         RECT r;
         GetWindowRect(w, &r);
         EXPECT_EQ(std::make_pair(r.left, r.top), XY(100, 200));
       }},
      {L"-title=\"My picture\" -fullscreen",
       [](HWND w) {
         EXPECT_TRUE(TitleBecomes(w, L"My picture - Pixvane"));
         EXPECT_TRUE(WaitFor([&] { return IsZoomed(w) != 0; }));
       }},
      {L"-freeze -pos=30,40",
       [&](HWND w) {
         EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_NOACTIVATE);
         SendMessageW(w, WM_ENDSESSION, TRUE, 0);
         EXPECT_TRUE(fs::exists(lnk)) << "the session end leaves a Startup shortcut";
       }},
      {L"-freeze -pos=30,40",
       [&](HWND) { EXPECT_TRUE(WaitFor([&] { return !fs::exists(lnk); })) << "opened again, the window removes it"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(pv::WideToUtf8(c.options));
    Program viewer(std::wstring(c.options) + L" " + Quoted("img2.bmp"));
    HWND window = viewer.WaitForWindow();
    ASSERT_TRUE(window);
    // Loaded when the title is the image's, not just its name.
    WaitFor([&] { return TitleOf(window).ends_with(L"Pixvane") && TitleOf(window) != L"Pixvane"; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    c.check(window);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.WaitForExit(), 0u);
  }
}

// The App Paths entry an installation makes (without it nothing is saved),
// over a fresh settings key.
struct InstalledCopy {
  static constexpr const wchar_t* kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Pixvane.exe";
  InstalledCopy() {
    RegDeleteTreeW(HKEY_CURRENT_USER, pv::SettingsKeyPath().c_str());
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAppPaths, nullptr, REG_SZ, L"", sizeof(wchar_t));
  }
  ~InstalledCopy() {
    RegDeleteTreeW(HKEY_CURRENT_USER, pv::SettingsKeyPath().c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPaths);
  }
};

TEST_F(ViewerProcess, SettingsWrittenAtExitOrStoredMeanwhileAreReadAtTheNextStart) {
  InstalledCopy installed;
  const fs::path x = fs::path(dir_) / "x", y = fs::path(dir_) / "y";
  fs::create_directories(x);
  fs::create_directories(y);
  ASSERT_TRUE(pv::WriteWholeFile((x / "one.bmp").wstring(), pv::EncodeBmp32(Gradient(8, 8, 1), 8, 8)));
  ASSERT_TRUE(pv::WriteWholeFile((y / "two.bmp").wstring(), pv::EncodeBmp32(Gradient(60, 40, 2), 60, 40)));
  {
    Program first(L"\"" + (x / "one.bmp").wstring() + L"\"");
    // The first start of an installed copy asks for its language first.
    HWND dialog = first.WaitForWindow(1, L"#32770");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(TitleOf(dialog), L"Pixvane - initial settings");
    EXPECT_GE(SendDlgItemMessageW(dialog, PV_LANGUAGE_LIST, CB_GETCOUNT, 0, 0), 1);
    SendDlgItemMessageW(dialog, PV_LANGUAGE_ASSOCIATE, BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND window = first.WaitForWindow();
    ASSERT_TRUE(window);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(first.WaitForExit(), 0u);
  }
  // Stored meanwhile: the choice of no title bar, which shows the image alone.
  pv::Options options;
  options.viewerTitleMode = pv::kNoTitleBar;
  uint8_t block[pv::kOptionsBlockSize];
  pv::EncodeOptions(options, block);
  RegSetKeyValueW(HKEY_CURRENT_USER, pv::SettingsKeyPath().c_str(), L"Options8", REG_BINARY, block, sizeof block);
  Program second(L"\"" + (y / "two.bmp").wstring() + L"\"");
  HWND window = second.WaitForWindow();
  ASSERT_TRUE(window);
  ASSERT_TRUE(TitleBecomes(window, L"two.bmp | Pixvane"));
  EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_EQ(WindowSizeOf(window), XY(60, 40));
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(second.WaitForExit(), 0u);

  pv::SettingsStoreOptions store;
  store.installed = pv::SettingsStoreOptions::Installed::Yes;
  pv::AppSettings next;
  pv::LoadSettings(next, store);
  EXPECT_EQ(next.lastPath, (y / "two.bmp").wstring());
  // The folder of the first start was read back, then the second put before it.
  EXPECT_EQ(next.recent.Entry(0), pv::WideToUtf8(y.wstring()));
  EXPECT_EQ(next.recent.Entry(1), pv::WideToUtf8(x.wstring()));
}

// What a process holds: committed memory, kernel handles, GDI and USER
// objects. (Wine counts no GDI or USER objects: those stay 0 there.)
struct Held {
  size_t memory = 0;
  DWORD handles = 0, gdi = 0, user = 0;
};

// The kernel's handle table, where the process's own count is not kept.
DWORD HandlesOf(DWORD pid) {
  struct Entry {
    ULONG ownerPid;
    BYTE type, flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<uint8_t> table(1 << 20);
  ULONG needed = 0;
  // 16: the handle table of every process; 0xC0000004: the buffer is too small.
  LONG status;
  while ((status = query(16, table.data(), static_cast<ULONG>(table.size()), &needed)) == static_cast<LONG>(0xC0000004))
    table.resize(table.size() * 2);
  if (status != 0) return 0;
  const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
  const auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(void*));
  DWORD held = 0;
  for (ULONG i = 0; i < count; ++i) held += entries[i].ownerPid == pid;
  return held;
}

Held HeldBy(HANDLE process, DWORD pid) {
  Held h;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) h.memory = counters.PagefileUsage;
  h.handles = HandlesOf(pid);
  h.gdi = GetGuiResources(process, GR_GDIOBJECTS);
  h.user = GetGuiResources(process, GR_USEROBJECTS);
  return h;
}

void ExpectNoGrowth(const Held& first, const Held& later, const char* what) {
  std::printf("%s: memory %zu -> %zu KB, handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu\n", what,
              first.memory >> 10, later.memory >> 10, first.handles, later.handles, first.gdi, later.gdi, first.user,
              later.user);
  // The cache holds a few decoded images either way; what a pass leaks adds up past that.
  EXPECT_LE(later.memory, first.memory + (32u << 20)) << what;
  EXPECT_LE(later.handles, first.handles + 16) << what;
  EXPECT_LE(later.gdi, first.gdi + 8) << what;
  EXPECT_LE(later.user, first.user + 8) << what;
}

}  // namespace

// A day of use in short: the viewer steps through a folder of every format,
// large and small, some damaged, pass after pass with prefetch on; then the
// browser opens and closes over it. Nothing held may grow pass by pass.
// PIXVANE_SOAK_COPIES makes the folder larger (default 4 copies of each sample).
TEST_F(ViewerProcess, SoakStepsThroughEveryFormatAndTheBrowserWithoutGrowing) {
  const char* copiesText = std::getenv("PIXVANE_SOAK_COPIES");
  const int copies = copiesText ? std::max(1, std::atoi(copiesText)) : 4;
  const fs::path folder = fs::path(dir_) / "soak";
  fs::create_directories(folder);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(PV_OWN_DATA_DIR) / ".." / ".." / "samples")) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".pvs" || entry.path().extension() == ".tsv") continue;
    const std::vector<uint8_t> bytes = pvtest::ReadFileBytes(entry.path().string());
    for (int i = 0; i < copies; ++i) {
      ASSERT_TRUE(pv::WriteWholeFile((folder / ("s" + std::to_string(i) + "-" + name)).wstring(), bytes));
      ++files;
    }
    // Cut in half: skipped by the steps, shown as a failed tile in the browser.
    ASSERT_TRUE(pv::WriteWholeFile((folder / ("damaged-" + name)).wstring(),
                                   std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2)));
  }
  for (const char* name : {"large1.bmp", "large2.bmp"}) {
    ASSERT_TRUE(pv::WriteWholeFile((folder / name).wstring(), pv::EncodeBmp32(Gradient(3000, 2000, 7), 3000, 2000)));
    ++files;
  }
  const fs::path first = folder / "s0-sample.bmp";
  Program viewer(L"\"" + first.wstring() + L"\"");
  HWND window = viewer.WaitForWindow();
  ASSERT_TRUE(window);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, viewer.Id());
  ASSERT_TRUE(process);
  ASSERT_TRUE(WaitFor([&] { return TitleOf(window).ends_with(L"| Pixvane") && TitleOf(window) != L"Pixvane"; }));
  const std::wstring start = TitleOf(window);

  // One pass: next image until the folder wraps round to the first.
  auto pass = [&] {
    size_t steps = 0;
    std::wstring title = start;
    do {
      PostMessageW(window, WM_COMMAND, pv::kCmdNextImage, 0);
      if (!WaitFor([&] { return TitleOf(window) != title; }, 10000)) break;
      title = TitleOf(window);
    } while (++steps < 3 * files && title != start);
    return steps;
  };
  Held held[3];
  for (Held& h : held) {
    EXPECT_GE(pass(), files) << "every image of the folder was shown";
    // The next image's decode ahead has ended.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    h = HeldBy(process, viewer.Id());
  }
  ExpectNoGrowth(held[0], held[1], "viewer, second pass");
  ExpectNoGrowth(held[0], held[2], "viewer, third pass");

  Held browsing[2];
  for (int round = 0; round < 5; ++round) {
    PostMessageW(window, WM_COMMAND, pv::kCmdBrowse, 0);
    HWND browser = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      for (HWND w : WindowsOf(viewer.Id()))
        if (TitleOf(w).ends_with(L"| Index | Pixvane")) browser = w;
      return browser != nullptr;
    }));
    // Thumbnails made (or being made) before it closes.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    PostMessageW(browser, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
    if (round == 0) browsing[0] = HeldBy(process, viewer.Id());
  }
  browsing[1] = HeldBy(process, viewer.Id());
  ExpectNoGrowth(browsing[0], browsing[1], "browser, fifth opening");
  CloseHandle(process);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(viewer.WaitForExit(), 0u) << "the process ends cleanly";
}

