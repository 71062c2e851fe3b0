// Until the viewer window exists: decode the given image (or the bundled
// sample) and show it in a plain window.
#include <windows.h>

#include <string>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"

namespace {

pv::ImageBuffer* g_image = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (const pv::ScreenBitmap* bitmap = g_image ? g_image->AsScreenBitmap() : nullptr) {
        // Row 0 lies one row below the top of the section.
        BitBlt(dc, 0, 0, static_cast<int>(g_image->Width()), static_cast<int>(g_image->Height()),
               static_cast<HDC>(bitmap->deviceContext), 0, 1, SRCCOPY);
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::wstring SamplePath() {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"sample.bmp";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  std::wstring file = commandLine && *commandLine ? commandLine : SamplePath();
  if (file.size() > 1 && file.front() == L'"') file = file.substr(1, file.find(L'"', 1) - 1);

  pv::LoadOptions options;
  options.screenCompatible = true;
  options.decodeRest = false;
  pv::Ref<pv::ImageBuffer> image;
  pv::Status status = pv::LoadImageFile(file.c_str(), options, &image);
  if (pv::Failed(status)) {
    wchar_t text[128];
    wsprintfW(text, L"The image could not be opened (0x%08X).", static_cast<unsigned>(status));
    MessageBoxW(nullptr, text, L"Pixvane", MB_OK | MB_ICONERROR);
    return 0;
  }
  g_image = image.get();

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"muiWindow";
  RegisterClassW(&wc);
  RECT r = {0, 0, static_cast<LONG>(image->Width()), static_cast<LONG>(image->Height())};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowW(L"muiWindow", L"Pixvane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
