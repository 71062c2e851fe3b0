#include "viewer/open_trace.h"

#include "core/text.h"

namespace pv {

OpenTrace::OpenTrace() {
  wchar_t name[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"PIXVANE_TRACE", name, MAX_PATH);
  on_ = n > 0 && n < MAX_PATH;
  if (on_) file_.assign(name, n);
  QueryPerformanceFrequency(&frequency_);
}

double OpenTrace::Since() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
}

void OpenTrace::Begin(const wchar_t* path, bool cached) {
  if (!on_) return;
  path_ = path;
  cached_ = cached;
  if (pending_) return;
  pending_ = true;
  decoded_ = 0;
  firstPaint_ = -1;
  QueryPerformanceCounter(&start_);
}

void OpenTrace::Decoded() {
  if (pending_) decoded_ = Since();
}

void OpenTrace::Painted(bool full) {
  if (!pending_) return;
  const double now = Since();
  if (firstPaint_ < 0) firstPaint_ = now;
  if (!full) return;
  pending_ = false;
  // One line per image: file, cached (1) or decoded (0), then milliseconds
  // to the decode's end, the first paint and the full-quality paint.
  wchar_t line[64];
  FormatText(line, 64, L"\t%d\t%.2f\t%.2f\t%.2f\n", cached_ ? 1 : 0, decoded_, firstPaint_, now);
  const std::string text = WideToUtf8(path_ + line);
  HANDLE out = CreateFileW(file_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
}

}  // namespace pv
