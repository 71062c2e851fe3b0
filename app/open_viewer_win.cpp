#include "app/open_viewer.h"
#include "browse/image_cache.h"
#include "core/path_name.h"
#include "viewer/browser_window_win.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

namespace pv {

void OpenViewer(const wchar_t* file, const ArgumentList* arguments, HWND owner) {
  ImageCache& cache = *Viewer().cache;
  HMONITOR monitor = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST) : nullptr;
  const ViewerStartOptions start = ParseViewerOptions(arguments ? *arguments : ArgumentList());
  std::wstring chosen;
  if (!file && start.index) {
    OpenBrowser(nullptr, arguments, owner);
    return;
  }
  if (!file) {
    std::vector<std::wstring> files = ChooseImageFiles(owner, false);
    if (files.empty()) {
      if (cache.HasPendingPrefetches()) cache.CancelPrefetches();
      return;
    }
    chosen = files[0];
    file = chosen.c_str();
  }
  // A folder, an index file or the INDEX option shows the browser instead.
  const DWORD attributes = GetFileAttributesW(file);
  if (start.index || PathEndsWithNoCase(file, L".pvi") ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    OpenBrowser(file, arguments, owner);
    return;
  }
  cache.SetDecodeOption(0, 1);
  if (cache.SetDecodeOption(1, 1) != 1) cache.ClearImageCache();

  ViewerWindowOptions options;
  options.title = start.title ? start.title->c_str() : nullptr;
  options.x = start.x;
  options.y = start.y;
  options.zoom = start.zoom;
  options.fullScreen = start.fullScreen;
  options.frozen = start.freeze;
  options.topmost = start.topmost;
  options.monitor = monitor;
  ViewerWindow* window = ViewerWindow::Open(file, options);
  if (!window) return;
  if (window->HasImage()) {
    ToolkitWindow::RunMainLoop(*window);
  } else {
    PostMessageW(window->Handle(), WM_CLOSE, 0, 0);
  }
}

void OpenBrowser(const wchar_t* path, const ArgumentList* arguments, HWND owner) {
  const ViewerStartOptions start = ParseViewerOptions(arguments ? *arguments : ArgumentList());
  BrowserWindowOptions options;
  options.title = start.title ? start.title->c_str() : nullptr;
  if (start.x != kNoPosition && start.y != kNoPosition) {
    options.x = start.x;
    options.y = start.y;
  }
  options.owner = owner;
  if (BrowserWindow* window = BrowserWindow::Open(path, options)) ToolkitWindow::RunMainLoop(*window);
}

void ReceiveHandOver(uint32_t tag, const uint8_t* payload, size_t size) {
  std::optional<HandOverRequest> request = ParseHandOverPayload(tag, payload, size);
  if (!request) return;
  OpenViewer(request->fileName ? request->fileName->c_str() : nullptr, request->args ? &*request->args : nullptr,
             nullptr);
}

}  // namespace pv
