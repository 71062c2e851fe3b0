#include "tests/win/window_test_support.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace pvtest {

std::vector<uint8_t> Gradient(uint32_t w, uint32_t h, uint8_t blue) {
  std::vector<uint8_t> rgba(size_t{w} * h * 4);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &rgba[(size_t{y} * w + x) * 4];
      p[0] = static_cast<uint8_t>(x * 2);
      p[1] = static_cast<uint8_t>(y * 3);
      p[2] = blue;
      p[3] = 255;
    }
  }
  return rgba;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    PumpMessages();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  PumpMessages();
  return done();
}

void PumpMessages(int milliseconds) {
  for (MSG msg;; milliseconds -= 10) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (milliseconds <= 0) return;
    Sleep(10);
  }
}

namespace {
DialogAnswerer* g_answerer = nullptr;
}  // namespace

DialogAnswerer::DialogAnswerer(int answer, const wchar_t* typed, int field)
    : answer_(answer), typed_(typed ? typed : L""), field_(field) {
  g_answerer = this;
  timer_ = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM) {
      wchar_t cls[16];
      if (!IsWindowVisible(w) || !GetClassNameW(w, cls, 16) || std::wstring(cls) != L"#32770") return TRUE;
      DialogAnswerer& a = *g_answerer;
      if (w == a.last_) return FALSE;  // answered already, closing
      a.last_ = w;
      a.captions_.push_back(TitleOf(w));
      if (!a.typed_.empty() && GetDlgItem(w, a.field_)) SetDlgItemTextW(w, a.field_, a.typed_.c_str());
      PostMessageW(w, WM_COMMAND, GetDlgItem(w, a.answer_) ? a.answer_ : IDOK, 0);
      return FALSE;
    }, 0);
  });
}

DialogAnswerer::~DialogAnswerer() {
  KillTimer(nullptr, timer_);
  g_answerer = nullptr;
}

namespace {
std::function<void(HWND)> g_dialogAction;
const wchar_t* g_dialogTitle = nullptr;
}  // namespace

void WhenDialogShows(const wchar_t* title, std::function<void(HWND)> action) {
  g_dialogTitle = title;
  g_dialogAction = std::move(action);
  SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowW(L"#32770", g_dialogTitle);
    if (!dialog) return;
    KillTimer(nullptr, id);
    g_dialogAction(dialog);
  });
}

XY WindowSizeOf(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

XY ClientSizeOf(HWND window) {
  RECT r;
  GetClientRect(window, &r);
  return {r.right, r.bottom};
}

XY ClientOriginOf(HWND window) {
  POINT p{0, 0};
  ClientToScreen(window, &p);
  return {p.x, p.y};
}

std::wstring TitleOf(HWND window) {
  wchar_t title[512];
  return std::wstring(title, static_cast<size_t>(GetWindowTextW(window, title, 512)));
}

std::vector<uint8_t> ClientPixels(HWND window) {
  RECT r;
  GetClientRect(window, &r);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  return ScreenPixels({origin.x, origin.y, origin.x + r.right, origin.y + r.bottom});
}

std::vector<uint8_t> ScreenPixels(const RECT& area) {
  const RECT r = {0, 0, area.right - area.left, area.bottom - area.top};
  const POINT origin = {area.left, area.top};
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, r.right, r.bottom, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> rgba(size_t{static_cast<size_t>(r.right)} * r.bottom * 4);
  const auto* bgra = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < rgba.size(); i += 4) {
    rgba[i] = bgra[i + 2];
    rgba[i + 1] = bgra[i + 1];
    rgba[i + 2] = bgra[i];
    rgba[i + 3] = 255;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return rgba;
}

namespace fs = std::filesystem;

bool InTrash(const fs::path& file, const std::string& contents) {
  wchar_t home[512];  // Wine gives the Linux home as \??\Z:\root
  const DWORD n = GetEnvironmentVariableW(L"WINEHOMEDIR", home, 512);
  const fs::path trash = fs::path(n > 4 && n < 512 ? home + 4 : L"") / ".local/share/Trash";
  if (!fs::exists(trash / "info")) return std::printf("no trash to follow deletions into\n"), true;
  // Its Linux origin ends like the file's path from the test's temporary folder on.
  const std::string tail = fs::relative(file, file.parent_path().parent_path().parent_path().parent_path()).generic_string();
  for (const auto& e : fs::directory_iterator(trash / "info")) {
    const fs::path kept = trash / "files" / e.path().stem();
    std::ifstream info(e.path()), data(kept, std::ios::binary);
    if (std::string(std::istreambuf_iterator<char>(info), {}).find(tail + "\n") == std::string::npos) continue;
    const bool same = std::string(std::istreambuf_iterator<char>(data), {}) == contents;
    info.close(), data.close();
    fs::permissions(kept, fs::perms::owner_write, fs::perm_options::add);
    return fs::remove(kept) && fs::remove(e.path()) && same;
  }
  return false;
}


}  // namespace pvtest
