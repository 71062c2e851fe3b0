// pixvane-viewer-bench FOLDER [images]: how long a user waits for the next
// image in a viewer window. Steps through the folder's images as the key
// does, giving each step time for the decode ahead to finish (prefetched),
// then opens the same files with the cache emptied before each (cold).
// Times come from the window's own trace: from the key or the open to the
// decode's end, the first paint and the full-quality paint; medians.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/text.h"
#include "toolkit/command_ids.h"
#include "viewer/viewer_window.h"

namespace {

void Pump(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  do {
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

struct Times {
  std::vector<double> decode, first, full;
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The trace's lines: file, cached, decode ms, first paint ms, full paint ms.
Times Read(const std::wstring& trace, bool cached) {
  Times t;
  std::ifstream in(pv::WideToUtf8(trace));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line.substr(line.find('\t') + 1));
    int wasCached = 0;
    double decode = 0, first = 0, full = 0;
    if (!(fields >> wasCached >> decode >> first >> full) || (wasCached != 0) != cached) continue;
    t.decode.push_back(decode);
    t.first.push_back(first);
    t.full.push_back(full);
  }
  return t;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pixvane-viewer-bench FOLDER [images]\n");
    return 2;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  const size_t wanted = argc > 2 ? static_cast<size_t>(_wtoi(argv[2])) : 10;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring trace[2] = {std::wstring(temp) + L"pixvane-bench-prefetched.txt",
                                 std::wstring(temp) + L"pixvane-bench-cold.txt"};
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*.jpg").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 2;
  do files.push_back(folder + found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(files.begin(), files.end());
  files.resize(std::min(files.size(), wanted + 1));

  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  pv::ImageCache cache;
  pv::Viewer().cache = &cache;
  // Decoded straight into screen-compatible buffers, as the program's windows ask.
  cache.SetDecodeOption(0, 1);
  cache.SetDecodeOption(1, 1);
  pv::Viewer().preferences.autoSize = true;
  pv::Viewer().preferences.shrinkOnly = true;

  // Prefetched: the key, then time to look at the image while the next decodes.
  DeleteFileW(trace[0].c_str());
  SetEnvironmentVariableW(L"PIXVANE_TRACE", trace[0].c_str());
  pv::ViewerWindow* window = pv::ViewerWindow::Open(files[0].c_str(), {});
  if (!window) return 1;
  HWND handle = window->Handle();
  Pump(1500);
  DeleteFileW(trace[0].c_str());
  for (size_t i = 1; i < files.size(); ++i) {
    SendMessageW(handle, WM_COMMAND, pv::kCmdNextImage, 0);
    Pump(1500);
  }
  DestroyWindow(handle);
  Pump(100);

  // Cold: nothing cached, nothing decoded ahead.
  DeleteFileW(trace[1].c_str());
  SetEnvironmentVariableW(L"PIXVANE_TRACE", trace[1].c_str());
  window = pv::ViewerWindow::Open(files[0].c_str(), {});
  if (!window) return 1;
  handle = window->Handle();
  Pump(500);
  DeleteFileW(trace[1].c_str());
  for (size_t i = 1; i < files.size(); ++i) {
    cache.CancelPrefetches();
    cache.ClearImageCache();
    window->OpenFile(files[i].c_str(), false, true);
    Pump(500);
  }
  DestroyWindow(handle);

  std::printf("| open | images | decode ms | first paint ms | full paint ms |\n|---|---|---|---|---|\n");
  const char* names[2] = {"next image, prefetched", "cold open"};
  for (int mode = 0; mode < 2; ++mode) {
    const Times t = Read(trace[mode], mode == 0);
    std::printf("| %s | %zu | %.1f | %.1f | %.1f |\n", names[mode], t.full.size(), Median(t.decode), Median(t.first),
                Median(t.full));
  }
  return 0;
}
