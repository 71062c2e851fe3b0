#include "viewer/options_sheet_win.h"

#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "toolkit/resource_ids.h"
#include "settings/language.h"
#include "settings/language_win.h"
#include "settings/settings_store.h"
#include "toolkit/command_ids.h"
#include "viewer/key_page_win.h"
#include "viewer/options_pages.h"
#include "viewer/pixvane_windows.h"

namespace pv {

namespace {

constexpr int kFirstControl = 11000;  // the control of kOptionControls[i] is kFirstControl + i
constexpr int kLanguageList = 10053;
// After the pages of the options table: the language page, then the key page.
constexpr int kLanguagePage = kOptionPageCount;
constexpr int kKeyPage = kOptionPageCount + 1;
constexpr int kPageCount = kOptionPageCount + 2;

struct Sheet {
  AppSettings* settings;
  Options working;
  std::string language;  // the language chosen on its page
  int shownPage;
  std::optional<std::vector<KeyBinding>> keys;  // the key page's list once confirmed
};

struct Page {
  Sheet* sheet;
  int page;  // an OptionPage, kLanguagePage or kKeyPage
};

HWND Place(HWND dialog, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT r) {
  MapDialogRect(dialog, &r);
  HWND control = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                                 r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
  return control;
}

// One row of 16 dialog units per option of the page.
void CreateControls(HWND dialog, const Page& p) {
  int top = 8;
  if (p.page == kKeyPage) {
    InitKeyPage(dialog, ActiveKeyBindings(*p.sheet->settings));
    return;
  }
  if (p.page == kLanguagePage) {
    Place(dialog, L"STATIC", L"Language of the program:", SS_LEFT, -1, {8, top + 2, 110, top + 12});
    Place(dialog, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kLanguageList, {112, top, 240, top + 120});
    FillLanguageList(GetDlgItem(dialog, kLanguageList), *p.sheet->settings);
    return;
  }
  const Options& o = p.sheet->working;
  for (size_t i = 0; i < kOptionControlCount; ++i) {
    const OptionControl& c = kOptionControls[i];
    if (static_cast<int>(c.page) != p.page) continue;
    const int id = kFirstControl + static_cast<int>(i);
    const int32_t value = c.get(o);
    if (c.kind == OptionKind::Check) {
      Place(dialog, L"BUTTON", c.label, BS_AUTOCHECKBOX | WS_TABSTOP, id, {8, top, 240, top + 12});
      CheckDlgButton(dialog, id, value ? BST_CHECKED : BST_UNCHECKED);
    } else {
      Place(dialog, L"STATIC", c.label, SS_LEFT, -1, {8, top + 2, 130, top + 12});
      if (c.kind == OptionKind::Choice) {
        HWND combo = Place(dialog, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, id, {132, top, 240, top + 100});
        for (int32_t v = c.minimum; v <= c.maximum; ++v)
          SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c.choices[v - c.minimum]));
        SendMessageW(combo, CB_SETCURSEL, value >= c.minimum && value <= c.maximum ? value - c.minimum : 0, 0);
      } else if (c.kind == OptionKind::Number) {
        Place(dialog, L"EDIT", std::to_wstring(value).c_str(), ES_NUMBER | WS_BORDER | WS_TABSTOP, id,
              {132, top, 180, top + 12});
      } else {
        Place(dialog, L"BUTTON", L"Choose...", BS_PUSHBUTTON | WS_TABSTOP, id, {132, top - 1, 190, top + 13});
      }
    }
    top += 16;
  }
}

// The page's controls into the working copy; colours were taken when chosen.
void ReadControls(HWND dialog, const Page& p) {
  if (p.page == kKeyPage) {
    p.sheet->keys = ListedKeyBindings(dialog);
    return;
  }
  if (p.page == kLanguagePage) {
    wchar_t name[64];
    GetDlgItemTextW(dialog, kLanguageList, name, 64);
    char utf8[64];
    if (WideToUtf8(utf8, sizeof utf8, name)) p.sheet->language = utf8;
    return;
  }
  Options& o = p.sheet->working;
  for (size_t i = 0; i < kOptionControlCount; ++i) {
    const OptionControl& c = kOptionControls[i];
    if (static_cast<int>(c.page) != p.page) continue;
    const int id = kFirstControl + static_cast<int>(i);
    if (c.kind == OptionKind::Check) {
      c.set(o, IsDlgButtonChecked(dialog, id) == BST_CHECKED);
    } else if (c.kind == OptionKind::Choice) {
      const LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
      if (index >= 0 && index <= c.maximum - c.minimum) c.set(o, c.minimum + static_cast<int32_t>(index));
    } else if (c.kind == OptionKind::Number) {
      BOOL read = FALSE;
      const UINT v = GetDlgItemInt(dialog, id, &read, FALSE);
      // Out of range keeps the stored value: the next start would refuse it.
      if (read && static_cast<int64_t>(v) >= c.minimum && static_cast<int64_t>(v) <= c.maximum)
        c.set(o, static_cast<int32_t>(v));
    }
  }
}

void ChooseColour(HWND dialog, const OptionControl& c, Options& o) {
  static COLORREF custom[16];
  const int32_t v = c.get(o);
  CHOOSECOLORW choice{};
  choice.lStructSize = sizeof choice;
  choice.hwndOwner = dialog;
  choice.rgbResult = RGB(v >> 16, (v >> 8) & 0xFF, v & 0xFF);
  choice.lpCustColors = custom;
  choice.Flags = CC_RGBINIT | CC_FULLOPEN;
  if (!ChooseColorW(&choice)) return;
  c.set(o, int32_t{GetRValue(choice.rgbResult)} << 16 | int32_t{GetGValue(choice.rgbResult)} << 8 |
               GetBValue(choice.rgbResult));
  PropSheet_Changed(GetParent(dialog), dialog);
}

INT_PTR CALLBACK PageProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* p = reinterpret_cast<Page*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      p = reinterpret_cast<Page*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
      SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(p));
      CreateControls(dialog, *p);
      TranslateWindow(dialog);
      return TRUE;
    case WM_COMMAND: {
      if (p->page == kKeyPage) return KeyPageMessage(dialog, message, wParam, lParam);
      const int index = LOWORD(wParam) - kFirstControl;
      if (index >= 0 && static_cast<size_t>(index) < kOptionControlCount &&
          kOptionControls[index].kind == OptionKind::Colour && HIWORD(wParam) == BN_CLICKED) {
        ChooseColour(dialog, kOptionControls[index], p->sheet->working);
      } else if (HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == CBN_SELCHANGE || HIWORD(wParam) == EN_CHANGE) {
        PropSheet_Changed(GetParent(dialog), dialog);
      }
      return TRUE;
    }
    case WM_NOTIFY:
      if (p->page == kKeyPage && KeyPageMessage(dialog, message, wParam, lParam)) return TRUE;
      if (reinterpret_cast<NMHDR*>(lParam)->code == PSN_SETACTIVE) p->sheet->shownPage = p->page;
      if (reinterpret_cast<NMHDR*>(lParam)->code == PSN_APPLY) {
        ReadControls(dialog, *p);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool RunOptionsSheet(HWND owner, AppSettings& settings, int startPage, int* shownPage) {
  Sheet sheet{&settings, settings.options, settings.options.languageName, startPage, std::nullopt};
  Page pages[kPageCount];
  std::wstring titles[kPageCount];
  PROPSHEETPAGEW sheets[kPageCount] = {};
  for (int i = 0; i < kPageCount; ++i) {
    pages[i] = {&sheet, i};
    titles[i] = Translate(i < kOptionPageCount ? OptionPageTitle(static_cast<OptionPage>(i))
                          : i == kLanguagePage ? L"Language"
                                               : L"Keys");
    PROPSHEETPAGEW& s = sheets[i];
    s.dwSize = sizeof s;
    s.dwFlags = PSP_USETITLE;
    s.hInstance = GetModuleHandleW(nullptr);
    s.pszTemplate = MAKEINTRESOURCEW(i == kKeyPage ? PV_DIALOG_KEYS : PV_DIALOG_OPTIONS_PAGE);
    s.pszTitle = titles[i].c_str();
    s.pfnDlgProc = PageProcedure;
    s.lParam = reinterpret_cast<LPARAM>(&pages[i]);
  }
  const std::wstring caption = Translate(L"Pixvane options");
  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
  header.hwndParent = owner;
  header.hInstance = GetModuleHandleW(nullptr);
  header.pszCaption = caption.c_str();
  header.nPages = kPageCount;
  header.nStartPage = static_cast<UINT>(startPage >= 0 && startPage < kPageCount ? startPage : 0);
  header.ppsp = sheets;
  const INT_PTR answer = PropertySheetW(&header);
  if (shownPage) *shownPage = sheet.shownPage;
  if (answer <= 0) return false;
  settings.options = sheet.working;
  if (sheet.language != settings.options.languageName) {
    std::memcpy(settings.options.languageName, sheet.language.c_str(), sheet.language.size() + 1);
    LoadLanguage(settings);
    SaveDictionary(settings);
  }
  if (sheet.keys && ReplaceKeyBindings(settings, *sheet.keys)) {
    SaveKeyBindings(settings);
    for (HWND w : FindPixvaneWindows()) PostMessageW(w, WM_COMMAND, kCmdRebuildAccelerators, 0);
  }
  return true;
}

}  // namespace pv
