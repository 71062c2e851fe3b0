#include "slideshow/slideshow_win.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "browse/file_names.h"
#include "browse/file_system.h"
#include "browse/folder_listing.h"
#include "browse/image_cache.h"
#include "core/file_io.h"
#include "toolkit/resource_ids.h"
#include "settings/language.h"
#include "settings/language_win.h"
#include "slideshow/script_player.h"
#include "slideshow/script_writer.h"
#include "toolkit/command_ids.h"

#include <shellapi.h>

namespace pv {

namespace {

// Scripts are small; a file far beyond any script is not read whole.
constexpr int64_t kMaxScriptBytes = 64 << 20;

// Waits for the next message for at most 100 ms, so that a show waiting for
// the user neither spins nor sleeps through a key.
void WaitForInput() { MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT); }

bool IsKeyDown(UINT m) { return m == WM_KEYDOWN || m == WM_SYSKEYDOWN; }
bool IsKeyUp(UINT m) { return m == WM_KEYUP || m == WM_SYSKEYUP; }

enum class ShowInput { None, Advance, Stop };

ShowInput ReadShowInput(bool* stop, bool nested);

// Holds the show until a key, a click or a stop request.
void Pause(bool* stop) {
  while (ReadShowInput(stop, true) == ShowInput::None && !*stop) WaitForInput();
}

// Reads the queue as a running show does: a click or a key press moves on,
// Esc released or the stop message ends the show, Pause released holds it
// (unless already pausing); everything else is dispatched as usual.
ShowInput ReadShowInput(bool* stop, bool nested) {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    if (m.message == WM_LBUTTONDOWN || m.message == WM_MBUTTONDOWN) {
      DispatchMessageW(&m);
      return ShowInput::Advance;
    }
    if (m.message == WM_USER) {
      if (m.wParam != kSlideshowStop) continue;
      *stop = true;
      return ShowInput::Stop;
    }
    if (IsKeyDown(m.message)) {
      if (m.wParam == VK_PAUSE || m.wParam == VK_ESCAPE) continue;
      return ShowInput::Advance;
    }
    if (IsKeyUp(m.message) && m.wParam == VK_ESCAPE) {
      *stop = true;
      return ShowInput::Stop;
    }
    if (IsKeyUp(m.message) && m.wParam == VK_PAUSE) {
      if (!nested && !*stop) Pause(stop);
      return *stop ? ShowInput::Stop : ShowInput::Advance;
    }
    if (IsKeyUp(m.message)) continue;
    if (m.message == WM_QUIT) {
      // The program's loop must still see it: the show ends and hands it on.
      PostQuitMessage(static_cast<int>(m.wParam));
      *stop = true;
      return ShowInput::Stop;
    }
    DispatchMessageW(&m);
  }
  Sleep(0);
  return ShowInput::None;
}

std::vector<uint8_t> ReadScript(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  const FileHandle file = OpenFileForRead(path.c_str());
  if (file == kNoFile) return bytes;
  const int64_t size = FileSize64(file);
  if (size > 0 && size <= kMaxScriptBytes) {
    bytes.resize(static_cast<size_t>(size));
    if (!ReadExact(file, bytes.data(), static_cast<uint32_t>(size))) bytes.clear();
  }
  CloseFile(file);
  return bytes;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// A script's name made absolute against the script's folder (the current
// directory during the show), so that the window, the cache and the folder
// steps afterwards all know the file by one name.
std::wstring Absolute(const std::wstring& path) {
  wchar_t full[kMaxPathUnits];
  const DWORD n = GetFullPathNameW(path.c_str(), kMaxPathUnits, full, nullptr);
  return n > 0 && n < kMaxPathUnits ? std::wstring(full, n) : path;
}

// The viewer window as the player's host.
class WindowHost : public SlideshowHost {
 public:
  explicit WindowHost(const SlideshowViewer& viewer) : viewer_(viewer) {}
  bool stop = false;

  bool Exists(const std::wstring& path) override { return PathExists(path.c_str()); }
  bool Show(const std::wstring& path) override {
    if (!IsWindow(viewer_.window)) return false;
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const bool shown = viewer_.open(Absolute(path), false);
    if (shown && viewer_.maximise && IsWindow(viewer_.window) && !IsZoomed(viewer_.window))
      PostMessageW(viewer_.window, WM_COMMAND, kCmdMaximize, 0);
    SetCursor(previous);
    return shown;
  }
  void Prefetch(const std::wstring& path) override {
    if (viewer_.cache) viewer_.cache->SchedulePrefetch(Absolute(path).c_str(), NavExisting, false);
  }
  bool AfterStatement() override { return PollAfterStatement(&stop) && !stop && IsWindow(viewer_.window); }
  bool WaitForKey() override {
    while (!PollSlideshowInput(&stop, false) && IsWindow(viewer_.window)) WaitForInput();
    return !stop && IsWindow(viewer_.window);
  }
  Tick DelayTick() override {
    if (stop || !IsWindow(viewer_.window)) return Tick::Stop;
    if (PollSlideshowInput(&stop, false)) return stop ? Tick::Stop : Tick::Skipped;
    Sleep(100);
    return Tick::Waited;
  }
  void SetAutoSize(bool on) override { *viewer_.autoSize = on; }
  // A script may come from anywhere: nothing it names is run unless the user
  // says yes to it, every time.
  void Shell(const std::wstring& verb, const std::wstring& target) override {
    const std::wstring question = Translate(L"The slideshow script asks to run this. Run it?") + L"\n\n" +
                                  (verb.empty() ? L"" : verb + L": ") + target;
    if (MessageBoxW(viewer_.window, question.c_str(), L"Pixvane", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES)
      ShellExecuteW(viewer_.window, verb.empty() ? nullptr : verb.c_str(), target.c_str(), nullptr, nullptr, SW_SHOW);
  }

 private:
  const SlideshowViewer& viewer_;
};

// The script dialog's state while it is open.
struct ScriptDialog {
  AppSettings* settings;
};

void SetCheck(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

INT_PTR CALLBACK ScriptDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<ScriptDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      d = reinterpret_cast<ScriptDialog*>(lParam);
      const Options& o = d->settings->options;
      TranslateWindow(dialog);
      const std::wstring title = Translate(L"Slideshow script") + L" | Pixvane";
      SetWindowTextW(dialog, title.c_str());
      SetDlgItemTextW(dialog, PV_SCRIPT_NAME, d->settings->scriptName.c_str());
      CheckRadioButton(dialog, PV_SCRIPT_NO_DELAY, PV_SCRIPT_FIXED_DELAY,
                       PV_SCRIPT_NO_DELAY + std::min<int>(o.slideDelayMode, 2));
      wchar_t seconds[32];
      std::swprintf(seconds, 32, L"%.1lf", o.slideDelayTenths / 10.0);
      SetDlgItemTextW(dialog, PV_SCRIPT_SECONDS, seconds);
      SetCheck(dialog, PV_SCRIPT_FULL_PATHS, o.slideFullPaths);
      SetCheck(dialog, PV_SCRIPT_LOOP, o.slideLoop);
      SetCheck(dialog, PV_SCRIPT_NOTEPAD, o.slideNotepad);
      SetCheck(dialog, PV_SCRIPT_SELF_DELETE, o.slideSelfDelete);
      SetCheck(dialog, PV_SCRIPT_SORT, o.slideSort);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        Options& o = d->settings->options;
        wchar_t text[kMaxPathUnits];
        GetDlgItemTextW(dialog, PV_SCRIPT_NAME, text, kMaxPathUnits);
        if (text[0]) d->settings->scriptName = text;
        for (uint8_t mode = 0; mode < 3; ++mode) {
          if (Checked(dialog, PV_SCRIPT_NO_DELAY + mode)) o.slideDelayMode = mode;
        }
        GetDlgItemTextW(dialog, PV_SCRIPT_SECONDS, text, 32);
        double seconds = 0;
        if (std::swscanf(text, L"%lf", &seconds) == 1 && std::isfinite(seconds)) {
          const double tenths = seconds * 10 + (seconds < 0 ? -0.499 : 0.499);
          o.slideDelayTenths = static_cast<int32_t>(std::fmax(0, std::fmin(tenths, kMaxSlideDelayTenths)));
        }
        o.slideFullPaths = Checked(dialog, PV_SCRIPT_FULL_PATHS);
        o.slideLoop = Checked(dialog, PV_SCRIPT_LOOP);
        o.slideNotepad = Checked(dialog, PV_SCRIPT_NOTEPAD);
        o.slideSelfDelete = Checked(dialog, PV_SCRIPT_SELF_DELETE);
        o.slideSort = Checked(dialog, PV_SCRIPT_SORT);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// Creates the script file; a quick show never replaces a file of the user's
// and takes the first free name instead.
HANDLE CreateScript(std::wstring* path, const std::wstring& folder, const std::wstring& name, bool unique) {
  for (int n = 1; n <= (unique ? 100 : 1); ++n) {
    *path = folder + L"\\" + name + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") + L".pvs";
    const HANDLE file = CreateFileW(path->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    unique ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

void EditInNotepad(const std::wstring& script) {
  wchar_t system[kMaxPathUnits];
  const UINT n = GetSystemDirectoryW(system, kMaxPathUnits);
  if (n == 0 || n >= kMaxPathUnits) return;
  std::wstring command = L"\"" + std::wstring(system) + L"\\Notepad.exe\" \"" + script + L"\"";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process)) return;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

bool PollAfterStatement(bool* stop) { return ReadShowInput(stop, false) != ShowInput::Stop; }

bool PollSlideshowInput(bool* stop, bool nested) { return ReadShowInput(stop, nested) != ShowInput::None; }

bool WriteSlideshowScript(std::wstring* path, HWND owner, const std::wstring& folder, bool quick,
                          AppSettings& settings, FolderListingManager& listings) {
  Options& o = settings.options;
  ScriptDialog dialog{&settings};
  if (!quick && DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_SCRIPT), owner,
                                ScriptDialogProcedure, reinterpret_cast<LPARAM>(&dialog)) != IDOK) {
    return false;
  }
  Options choices = o;
  if (quick) {
    choices.slideSelfDelete = choices.slideSort = true;
    choices.slideFullPaths = choices.slideNotepad = false;
  }
  std::wstring where = folder;
  if (where.empty()) {
    wchar_t current[kMaxPathUnits];
    const DWORD n = GetCurrentDirectoryW(kMaxPathUnits, current);
    if (n == 0 || n >= kMaxPathUnits) return false;
    where = current;
  } else {
    SetCurrentDirectoryW(where.c_str());
  }
  while (where.size() > 3 && (where.back() == L'\\' || where.back() == L'/')) where.pop_back();
  const Ref<FolderListing> listing = listings.OpenListing(where.c_str());
  if (!listing) return false;

  HANDLE file = CreateScript(path, where, settings.scriptName, quick);
  if (file == INVALID_HANDLE_VALUE) {
    wchar_t temp[kMaxPathUnits];
    const DWORD n = GetTempPathW(kMaxPathUnits, temp);
    if (n > 0 && n < kMaxPathUnits) {
      std::wstring tempFolder(temp, n);
      if (tempFolder.back() == L'\\') tempFolder.pop_back();
      file = CreateScript(path, tempFolder, L"pvslide", quick);
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    MessageBoxW(owner, Translate(L"The slideshow script file cannot be created.").c_str(), L"Pixvane", MB_OK);
    return false;
  }
  std::vector<std::wstring> names;
  FolderEntryInfo info;
  for (const wchar_t* name = listing->NextEntry(nullptr, &info); name; name = listing->NextEntry(name, &info)) {
    if (!info.directory && IsImageName(name) >= 0) names.emplace_back(name);
  }
  const std::string text = FormatSlideshowScript(std::move(names), choices);
  DWORD written = 0;
  const bool done = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
  CloseHandle(file);
  if (!done) {
    DeleteFileW(path->c_str());
    MessageBoxW(owner, Translate(L"The slideshow script file cannot be created.").c_str(), L"Pixvane", MB_OK);
    return false;
  }
  if (choices.slideNotepad) EditInNotepad(*path);
  return true;
}

bool PlaySlideshowScript(const SlideshowViewer& viewer, const std::wstring& scriptPath) {
  // Absolute before the current directory changes, so that self-deletion
  // deletes this script and nothing else.
  wchar_t full[kMaxPathUnits];
  const DWORD n = GetFullPathNameW(scriptPath.c_str(), kMaxPathUnits, full, nullptr);
  if (n == 0 || n >= kMaxPathUnits) return false;
  const std::wstring path(full, n);
  const std::vector<uint8_t> text = ReadScript(path);
  ScriptCursor cursor(text.data(), text.size());
  // The header is checked before the show changes anything, so that a file
  // that is not a script leaves the window as it was.
  if (text.empty() || !ReadScriptHeader(cursor)) return false;

  const bool maximised = viewer.maximise && !IsZoomed(viewer.window);
  if (maximised) PostMessageW(viewer.window, WM_COMMAND, kCmdMaximize, 0);
  PostMessageW(viewer.window, WM_COMMAND, MAKEWPARAM(kCmdSlideshowFlag, 1), 0);
  SetCurrentDirectoryW(FolderOf(path).c_str());
  const bool saved[3] = {*viewer.autoSize, *viewer.shrinkOnly, *viewer.shrinkInFullScreen};
  *viewer.autoSize = *viewer.shrinkOnly = *viewer.shrinkInFullScreen = true;

  WindowHost host(viewer);
  ScriptRun run;
  static_cast<void>(RunScriptBlock(cursor, host, run, false));

  if (run.selfDelete) DeleteFileW(path.c_str());
  *viewer.autoSize = saved[0];
  *viewer.shrinkOnly = saved[1];
  *viewer.shrinkInFullScreen = saved[2];
  if (!IsWindow(viewer.window)) return true;
  PostMessageW(viewer.window, WM_COMMAND, MAKEWPARAM(kCmdSlideshowFlag, 0), 0);
  if (maximised) PostMessageW(viewer.window, WM_COMMAND, kCmdRestore, 0);
  // A show started on its own closes its window when it ends.
  if (viewer.shownPath.empty()) {
    PostMessageW(viewer.window, WM_CLOSE, 0, 0);
  } else {
    viewer.open(viewer.shownPath, true);
  }
  return true;
}

}  // namespace pv
