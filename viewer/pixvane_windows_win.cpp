#include "viewer/pixvane_windows.h"

#include <commdlg.h>

#include <algorithm>
#include <string>

#include "browse/file_names.h"
#include "core/file_io.h"
#include "core/format_registry.h"
#include "viewer/window_title.h"

namespace pv {

std::vector<HWND> FindPixvaneWindows() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        wchar_t className[32], title[512];
        const int classLength = GetClassNameW(window, className, 32);
        const int titleLength = GetWindowTextW(window, title, 512);
        if (IsPixvaneWindow({className, static_cast<size_t>(classLength)}, {title, static_cast<size_t>(titleLength)}))
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

void BringNextPixvaneWindow(HWND current, bool forward) {
  std::vector<HWND> windows = FindPixvaneWindows();
  if (windows.size() < 2) return;
  auto titleOf = [](HWND w) {
    wchar_t title[512];
    return std::wstring(title, static_cast<size_t>(GetWindowTextW(w, title, 512)));
  };
  std::sort(windows.begin(), windows.end(), [&](HWND a, HWND b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, titleOf(a).c_str(), -1, titleOf(b).c_str(), -1) ==
           CSTR_LESS_THAN;
  });
  auto at = std::find(windows.begin(), windows.end(), current);
  const size_t i = at == windows.end() ? 0 : static_cast<size_t>(at - windows.begin());
  const size_t n = windows.size();
  SetForegroundWindow(windows[forward ? (i + 1) % n : (i + n - 1) % n]);
}

void CloseAllPixvaneWindows() {
  for (HWND window : FindPixvaneWindows()) SendMessageW(window, WM_CLOSE, 0, 0);
}

std::vector<std::wstring> ChooseImageFiles(HWND owner, bool multiple) {
  // With several files the dialog returns the folder, then each name.
  std::wstring buffer(multiple ? 32768 : kMaxPathUnits, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  // Every extension a decoder is registered for, then all files.
  std::wstring filter = L"Images";
  filter.push_back(0);
  const FormatRegistry& formats = Formats();
  for (uint32_t i = 0; i < formats.Count(); ++i) {
    if (!formats.Entry(i)->create) continue;
    if (filter.back() != 0) filter.push_back(L';');
    filter += L"*.";
    filter += formats.Entry(i)->extension;
  }
  filter.push_back(0);
  filter += L"All files";
  filter.push_back(0);
  filter += L"*.*";
  filter.push_back(0);
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER | (multiple ? OFN_ALLOWMULTISELECT : 0);
  std::vector<std::wstring> files;
  if (!GetOpenFileNameW(&ofn)) return files;
  const wchar_t* p = buffer.c_str();
  std::wstring first = p;
  p += first.size() + 1;
  if (!*p) {
    files.push_back(first);
  } else {
    for (; *p; p += wcslen(p) + 1) files.push_back(first + L"\\" + p);
  }
  // Names too long for a path are left out.
  std::erase_if(files, [](const std::wstring& f) { return f.size() >= kMaxPathUnits; });
  return files;
}

namespace {

using HtmlHelp = HWND(WINAPI*)(HWND, const wchar_t*, UINT, DWORD_PTR);
constexpr UINT kHelpDisplayTopic = 0x00;
constexpr UINT kHelpCloseAll = 0x12;

// The viewer of help files, loaded from the system folder only; null until
// help was first asked for.
HtmlHelp g_help = nullptr;

}  // namespace

void OpenHelpFile(HWND owner) {
  wchar_t program[kMaxPathUnits];
  const DWORD n = GetModuleFileNameW(nullptr, program, kMaxPathUnits);
  if (n == 0 || n >= kMaxPathUnits) return;
  const std::wstring file = std::wstring(program, FileNameOffset(program)) + L"Pixvane.chm";
  if (!g_help) {
    if (const HMODULE viewer = LoadLibraryExW(L"hhctrl.ocx", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
      g_help = reinterpret_cast<HtmlHelp>(reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpW")));
  }
  if (g_help) g_help(owner, file.c_str(), kHelpDisplayTopic, 0);
}

void CloseHelpFiles() {
  if (g_help) g_help(nullptr, nullptr, kHelpCloseAll, 0);
}

}  // namespace pv
