// The program entry: hands a second start over to the running process,
// prepares this one and opens the first window.
#include <windows.h>

#include "app/command_line.h"
#include "app/open_viewer.h"
#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
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

// Lets a second start of lower integrity hand over; skipped where missing.
void AllowHandOverMessages() {
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  if (HMODULE user = GetModuleHandleW(L"user32.dll")) {
    if (auto filter = reinterpret_cast<Filter>(reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilter"))))
      filter(WM_COPYDATA, 1 /* MSGFLT_ADD */);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const pv::ArgumentList args = pv::SplitCommandLine(GetCommandLineW());
  const pv::StartupScan scan = pv::ScanStartup(args);
  if (scan.close || scan.onlyOne) {
    pv::CloseAllPixvaneWindows();
    if (scan.close) return 0;
  } else if (HandOver(scan, args)) {
    return 0;
  }

  pv::ReadProcessorFeatures();
  AllowHandOverMessages();
  pv::RegisterDecoders();

  pv::ImageCache cache;
  pv::ViewerProcess& viewer = pv::Viewer();
  viewer.cache = &cache;
  viewer.openViewer = [](const wchar_t* file, HWND owner) { pv::OpenViewer(file, nullptr, owner); };
  viewer.receiveHandOver = pv::ReceiveHandOver;

  if (scan.fileNameRefused) {
    const std::wstring text =
        pv::ErrorMessage(pv::kStatusCannotOpen, pv::ErrorText(pv::kStatusCannotOpen), scan.fileName.value_or(L""));
    MessageBoxW(nullptr, text.c_str(), L"Pixvane", MB_OK);
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
  return 0;
}
