#include "viewer/image_info_win.h"

#include <cstring>

#include "toolkit/resource_ids.h"
#include "settings/language_win.h"

namespace pv {

namespace {

// The whole text as CF_UNICODETEXT; false when the clipboard refused it.
bool CopyText(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* target = memory ? GlobalLock(memory) : nullptr;
  bool done = false;
  if (target) {
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory);
    done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  }
  if (!done && memory) GlobalFree(memory);
  CloseClipboard();
  return done;
}

INT_PTR CALLBACK InfoProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      const auto* text = reinterpret_cast<const std::wstring*>(lParam);
      TranslateWindow(dialog);
      SetDlgItemTextW(dialog, PV_INFO_TEXT, text->c_str());
      // Tab stops wide enough for the longest property name.
      const DWORD stops = 64;
      SendDlgItemMessageW(dialog, PV_INFO_TEXT, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stops));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case PV_INFO_COPY:
          if (!CopyText(dialog, *reinterpret_cast<const std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER))))
            MessageBeep(0);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

void ShowImageInformation(HWND owner, const std::wstring& text) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_INFO), owner, InfoProcedure,
                  reinterpret_cast<LPARAM>(&text));
}

}  // namespace pv
