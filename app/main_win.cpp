// The program entry: hands a second start over to the running process,
// prepares this one and opens the first window.
#include <windows.h>
// After windows.h, which it builds on.
#include <objbase.h>

#include <memory>

#include "app/command_line.h"
#include "app/open_viewer.h"
#include "app/preferences.h"
#include "app/startup_shortcut.h"
#include "browse/file_names.h"
#include "browse/file_operations.h"
#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/text.h"
#include "settings/language.h"
#include "settings/language_win.h"
#include "settings/settings_store.h"
#include "viewer/browser_window_win.h"
#include "viewer/error_text.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

namespace {

// The running process takes the request when it answers the hand-over.
bool HandOver(const pv::StartupScan& scan, const pv::ArgumentList& args) {
  std::vector<HWND> windows = pv::FindPixvaneWindows();
  if (windows.empty()) return false;
  std::vector<uint8_t> payload = pv::BuildHandOverPayload(scan.fileName, args);
  if (payload.empty()) return false;
  COPYDATASTRUCT data{pv::kHandOverTag, static_cast<DWORD>(payload.size()), payload.data()};
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(windows.front(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             10000, &answer) &&
         answer != 0;
}

pv::AppSettings* g_settings = nullptr;

// The viewer's view of the stored settings.
void ApplySettings(const pv::AppSettings& settings, pv::ViewerProcess& viewer) {
  const pv::Options& o = settings.options;
  pv::SetOrdinalNameOrder(o.ordinalNameOrder);
  viewer.preferences = pv::PreferencesFrom(o);
  viewer.keyBindings = pv::ActiveKeyBindings(settings);
}

// A file's folder goes first among the recent ones whether or not the file
// could be shown; only a shown file becomes the last file.
void FileOpened(const wchar_t* path, bool shown) {
  const size_t name = pv::FileNameOffset(path);
  if (shown) g_settings->lastPath = path;
  if (name > 1) g_settings->recent.PutInFront(pv::WideToUtf8(std::wstring(path, name - 1)));
}

std::wstring ProgramPath() {
  wchar_t program[pv::kMaxPathUnits];
  const DWORD n = GetModuleFileNameW(nullptr, program, pv::kMaxPathUnits);
  return n > 0 && n < pv::kMaxPathUnits ? std::wstring(program, n) : std::wstring();
}

void FrozenSessionEnd(const wchar_t* path, int32_t x, int32_t y, float zoom) {
  pv::WriteStartupShortcut(pv::StartupFolder(), ProgramPath(), path, x, y, zoom);
}

void FrozenOpened(const wchar_t* path) {
  if (path) pv::RemoveStartupShortcut(pv::StartupFolder(), ProgramPath(), path);
}

// Lets a second start of lower integrity hand over; skipped where missing.
void AllowHandOverMessages() {
  if (auto filter = pv::User32Function<BOOL(WINAPI*)(UINT, DWORD)>("ChangeWindowMessageFilter"))
    filter(WM_COPYDATA, 1 /* MSGFLT_ADD */);
}

// Image pixels are screen pixels: the system must not stretch the windows
// (per monitor where the system can tell monitors apart).
void BecomeDpiAware() {
  if (auto aware = pv::User32Function<BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT)>("SetProcessDpiAwarenessContext")) {
    aware(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  } else {
    SetProcessDPIAware();
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  BecomeDpiAware();
  const pv::ArgumentList args = pv::SplitCommandLine(GetCommandLineW());
  const pv::StartupScan scan = pv::ScanStartup(args);
  if (scan.close || scan.onlyOne) {
    pv::CloseAllPixvaneWindows();
    if (scan.close) return 0;
  } else if (HandOver(scan, args)) {
    return 0;
  }

  pv::AppSettings settings;
  g_settings = &settings;
  const std::wstring program = ProgramPath();
  settings.programFolder = program.substr(0, pv::FileNameOffset(program.c_str()));
  pv::SettingsStoreOptions store;
  // A fresh installation asks for its language, then shows the help file.
  store.onFirstRun = [&store](pv::AppSettings& first) {
    pv::ShowLanguageDialog(first, [&store](const pv::AppSettings& chosen) { pv::SaveDictionary(chosen, store); });
    pv::OpenHelpFile(nullptr);
  };
  pv::LoadSettings(settings, store);
  pv::SetCurrentDictionary(settings.dictionary);
  pv::SetFileTextTranslator(pv::Translate);

  pv::ReadProcessorFeatures();
  AllowHandOverMessages();
  // The shell's objects (Startup shortcuts) want COM on this thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  pv::RegisterDecoders();

  pv::ImageCache cache;
  const std::unique_ptr<pv::TaskbarIndicator> taskbar = pv::CreateShellTaskbar();
  pv::ViewerProcess& viewer = pv::Viewer();
  viewer.cache = &cache;
  viewer.taskbar = taskbar.get();
  viewer.settings = &settings;
  viewer.settingsChanged = [] { ApplySettings(*g_settings, pv::Viewer()); };
  viewer.openViewer = [](const wchar_t* file, HWND owner) { pv::OpenViewer(file, nullptr, owner); };
  viewer.openBrowser = [](const wchar_t* path, HWND owner) { pv::OpenBrowser(path, nullptr, owner); };
  viewer.receiveHandOver = pv::ReceiveHandOver;
  pv::Browser().options = &settings.options;
  viewer.fileOpened = FileOpened;
  viewer.frozenSessionEnd = FrozenSessionEnd;
  viewer.frozenOpened = FrozenOpened;
  ApplySettings(settings, viewer);

  if (scan.fileNameRefused) {
    const std::wstring text =
        pv::ErrorMessage(pv::kStatusCannotOpen, pv::ErrorText(pv::kStatusCannotOpen), scan.fileName.value_or(L""));
    MessageBoxW(nullptr, text.c_str(), L"Pixvane", MB_OK);
    pv::SaveSettings(settings);
    return 0;
  }
  std::wstring file = scan.fileName.value_or(L"");
  if (file.find(L'~') != std::wstring::npos) {
    wchar_t longName[pv::kMaxPathUnits];
    const DWORD n = GetLongPathNameW(file.c_str(), longName, pv::kMaxPathUnits);
    if (n > 0 && n < pv::kMaxPathUnits) file = longName;
  }
  pv::OpenViewer(file.empty() ? nullptr : file.c_str(), &args, nullptr);
  if (cache.HasPendingPrefetches()) cache.CancelPrefetches();
  pv::CloseHelpFiles();
  pv::StorePreferences(viewer.preferences, &settings.options);
  pv::SaveSettings(settings);
  return 0;
}
