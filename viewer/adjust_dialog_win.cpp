#include "viewer/adjust_dialog_win.h"

#include <commctrl.h>

#include <string>

#include "toolkit/resource_ids.h"
#include "settings/language_win.h"
#include "viewer/adjust_dialog.h"

namespace pv {

namespace {

struct Session {
  ViewState* view;
  const std::function<void()>* changed;
  ViewAdjustments values;
};

void ShowPosition(HWND dialog, size_t slider, int position) {
  SetDlgItemTextW(dialog, PV_ADJUST_VALUE + static_cast<int>(slider), std::to_wstring(position).c_str());
}

void ShowValues(HWND dialog, const ViewAdjustments& values) {
  for (size_t i = 0; i < kAdjustSliderCount; ++i) {
    const int position = SliderPosition(values, i);
    SendDlgItemMessageW(dialog, PV_ADJUST_SLIDER + static_cast<int>(i), TBM_SETPOS, TRUE, position);
    ShowPosition(dialog, i, position);
  }
  CheckDlgButton(dialog, PV_ADJUST_INVERT, values.colour.invert ? BST_CHECKED : BST_UNCHECKED);
}

void Apply(Session& s) {
  s.view->SetAdjustments(s.values);
  (*s.changed)();
}

// One row per slider: its label, the slider and the position as text,
// placed in dialog units and scaled to the dialog's font.
void CreateRows(HWND dialog) {
  const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  auto place = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT r) {
    MapDialogRect(dialog, &r);
    HWND control = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                                   r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  for (size_t i = 0; i < kAdjustSliderCount; ++i) {
    const int top = 8 + 18 * static_cast<int>(i), id = static_cast<int>(i);
    const AdjustSlider& s = kAdjustSliders[i];
    place(L"STATIC", s.label, SS_LEFT, PV_ADJUST_LABEL + id, {8, top + 3, 68, top + 11});
    HWND slider = place(TRACKBAR_CLASSW, L"", WS_TABSTOP | TBS_HORZ | TBS_NOTICKS, PV_ADJUST_SLIDER + id,
                        {70, top, 222, top + 14});
    SendMessageW(slider, TBM_SETRANGEMIN, FALSE, s.minimum);
    SendMessageW(slider, TBM_SETRANGEMAX, TRUE, s.maximum);
    // A position change lays the thumb out for the new range (some
    // trackbars leave it where it was for position 0).
    SendMessageW(slider, TBM_SETPOS, TRUE, s.minimum);
    place(L"STATIC", L"", SS_RIGHT, PV_ADJUST_VALUE + id, {224, top + 3, 254, top + 11});
  }
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      CreateRows(dialog);
      TranslateWindow(dialog);
      ShowValues(dialog, reinterpret_cast<Session*>(lParam)->values);
      return TRUE;
    case WM_HSCROLL: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (!s || id < PV_ADJUST_SLIDER || id >= PV_ADJUST_SLIDER + static_cast<int>(kAdjustSliderCount)) break;
      const size_t slider = static_cast<size_t>(id - PV_ADJUST_SLIDER);
      const int position = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
      // Only the slider moved changes its value: the others keep what the
      // file said, unrounded.
      if (position == SliderPosition(s->values, slider)) return TRUE;
      SetSliderValue(&s->values, slider, position);
      ShowPosition(dialog, slider, position);
      Apply(*s);
      return TRUE;
    }
    case WM_COMMAND:
      if (!s) break;
      switch (LOWORD(wParam)) {
        case PV_ADJUST_INVERT:
          s->values.colour.invert = IsDlgButtonChecked(dialog, PV_ADJUST_INVERT) == BST_CHECKED;
          Apply(*s);
          return TRUE;
        case PV_ADJUST_RESET:
          s->values.colour = ColourAdjustments();
          s->values.sharpening = 0;
          ShowValues(dialog, s->values);
          Apply(*s);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wParam) == IDOK);
          return TRUE;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

bool RunAdjustDialog(HWND owner, ViewState& view, const std::function<void()>& changed) {
  const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  Session session = {&view, &changed, view.Adjustments()};
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_ADJUST), owner, DialogProcedure,
                         reinterpret_cast<LPARAM>(&session)) == 1;
}

}  // namespace pv
