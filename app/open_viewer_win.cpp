#include "app/open_viewer.h"

#include "browse/image_cache.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

namespace pv {

void OpenViewer(const wchar_t* file, const ArgumentList* arguments, HWND owner) {
  ImageCache& cache = *Viewer().cache;
  HMONITOR monitor = owner ? MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST) : nullptr;
  std::wstring chosen;
  if (!file) {
    std::vector<std::wstring> files = ChooseImageFiles(owner, false);
    if (files.empty()) {
      if (cache.HasPendingPrefetches()) cache.CancelPrefetches();
      return;
    }
    chosen = files[0];
    file = chosen.c_str();
  }
  const ViewerStartOptions start = ParseViewerOptions(arguments ? *arguments : ArgumentList());
  // The browser window does not exist yet: an index request opens nothing.
  if (start.index) return;
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

void ReceiveHandOver(uint32_t tag, const uint8_t* payload, size_t size) {
  std::optional<HandOverRequest> request = ParseHandOverPayload(tag, payload, size);
  if (!request) return;
  OpenViewer(request->fileName ? request->fileName->c_str() : nullptr, request->args ? &*request->args : nullptr,
             nullptr);
}

}  // namespace pv
