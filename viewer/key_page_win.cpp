#include "viewer/key_page_win.h"

#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "settings/key_bindings_win.h"
#include "settings/language.h"
#include "settings/language_win.h"
#include "toolkit/command_ids.h"
#include "toolkit/resource_ids.h"

namespace pv {

namespace {

// The recording hook belongs to the dialog's thread; one key dialog records at a time.
thread_local HHOOK t_hook = nullptr;
thread_local HWND t_recorder = nullptr;

void StopRecording() {
  if (t_hook) UnhookWindowsHookEx(t_hook);
  t_hook = nullptr;
  t_recorder = nullptr;
}

// Takes the first key pressed that is not a modifier: Shift and Ctrl from the
// key state, Alt from the message (so Alt combinations record too); the key
// itself never reaches the dialog.
LRESULT CALLBACK RecordKey(int code, WPARAM wParam, LPARAM lParam) {
  const bool pressed = (static_cast<uint32_t>(lParam) & 0x80000000u) == 0;
  if (code == HC_ACTION && pressed && t_recorder) {
    const auto binding = RecordedKey(static_cast<uint8_t>(wParam), GetKeyState(VK_SHIFT) < 0,
                                     GetKeyState(VK_CONTROL) < 0, (lParam & (1 << 29)) != 0);
    if (binding) {
      PostMessageW(t_recorder, WM_COMMAND, PV_KEY_RECORDED, static_cast<LPARAM>(PackKeyBinding(*binding)));
      StopRecording();
      return 1;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ShowKeyName(HWND dialog, const KeyBinding& binding) {
  wchar_t name[64] = L"";
  if (binding.key != 0) FormatKeyName(binding, name, std::size(name), true);
  SetDlgItemTextW(dialog, PV_KEY_NAME, name);
}

INT_PTR CALLBACK KeyDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* binding = reinterpret_cast<KeyBinding*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    binding = reinterpret_cast<KeyBinding*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    HWND combo = GetDlgItem(dialog, PV_KEY_COMMAND);
    for (uint32_t id = kFirstViewerCommand; id <= kLastLaterCommand; ++id) {
      const wchar_t* name = CommandName(id);
      if (!name) continue;
      const LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Translate(name).c_str()));
      SendMessageW(combo, CB_SETITEMDATA, item, id);
      if (id == binding->command) SendMessageW(combo, CB_SETCURSEL, item, 0);
    }
    ShowKeyName(dialog, *binding);
    TranslateWindow(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case PV_KEY_RECORD:
      if (t_hook) return TRUE;
      t_recorder = dialog;
      t_hook = SetWindowsHookExW(WH_KEYBOARD, RecordKey, nullptr, GetCurrentThreadId());
      if (t_hook) EnableWindow(GetDlgItem(dialog, PV_KEY_RECORD), FALSE);
      return TRUE;
    case PV_KEY_RECORDED: {
      const KeyBinding recorded = UnpackKeyBinding(static_cast<uint32_t>(lParam));
      binding->modifiers = recorded.modifiers;
      binding->key = recorded.key;
      ShowKeyName(dialog, *binding);
      EnableWindow(GetDlgItem(dialog, PV_KEY_RECORD), TRUE);
      return TRUE;
    }
    case IDOK: {
      StopRecording();
      const LRESULT item = SendDlgItemMessageW(dialog, PV_KEY_COMMAND, CB_GETCURSEL, 0, 0);
      if (item >= 0)
        binding->command = static_cast<uint16_t>(SendDlgItemMessageW(dialog, PV_KEY_COMMAND, CB_GETITEMDATA, item, 0));
      EndDialog(dialog, IDOK);
      return TRUE;
    }
    case IDCANCEL:
      StopRecording();
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

HWND ListOf(HWND page) { return GetDlgItem(page, PV_KEYS_LIST); }

int FindItem(HWND list, const KeyBinding& binding) {
  LVFINDINFOW find{};
  find.flags = LVFI_PARAM;
  find.lParam = static_cast<LPARAM>(PackKeyBinding(binding));
  return static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

void SetItemText(HWND list, int index, int column, std::wstring text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
}

// A binding the list holds already is only found, not added twice.
int AddItem(HWND list, const KeyBinding& binding, int at) {
  if (const int found = FindItem(list, binding); found >= 0) return found;
  const wchar_t* command = CommandName(binding.command);
  std::wstring name = command ? Translate(command) : std::to_wstring(binding.command);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = at;
  item.pszText = name.data();
  item.lParam = static_cast<LPARAM>(PackKeyBinding(binding));
  const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  wchar_t key[64];
  FormatKeyName(binding, key, std::size(key), true);
  SetItemText(list, index, 1, key);
  SetItemText(list, index, 2, std::to_wstring(binding.command));
  return index;
}

void Fill(HWND list, std::span<const KeyBinding> set) {
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = set.size(); i-- > 0;) AddItem(list, set[i], 0);
}

int Selected(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); }

void Select(HWND list, int index) {
  LVITEMW item{};
  item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
  SendMessageW(list, LVM_ENSUREVISIBLE, index, FALSE);
}

void RefreshButtons(HWND page) {
  const bool selected = Selected(ListOf(page)) >= 0;
  EnableWindow(GetDlgItem(page, PV_KEYS_DELETE), selected);
  EnableWindow(GetDlgItem(page, PV_KEYS_EDIT), selected);
  EnableWindow(GetDlgItem(page, PV_KEYS_RESET), !SameKeyBindingSet(ListedKeyBindings(page), kBuiltInKeyBindings));
}

void Changed(HWND page) {
  RefreshButtons(page);
  PropSheet_Changed(GetParent(page), page);
}

// Add starts from a binding with no key for "open in a new window"; edit
// from the selected one, which the result replaces.
void AddOrEdit(HWND page, bool edit) {
  HWND list = ListOf(page);
  const int selected = edit ? Selected(list) : -1;
  if (edit && selected < 0) return;
  KeyBinding start{0, 0, static_cast<uint16_t>(kCmdOpenNewWindow)};
  if (edit) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = selected;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    start = UnpackKeyBinding(static_cast<uint32_t>(item.lParam));
  }
  const std::optional<KeyBinding> chosen = RunKeyDialog(page, start);
  if (!chosen) return;
  if (edit) SendMessageW(list, LVM_DELETEITEM, selected, 0);
  const int at = edit ? selected : static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  Select(list, AddItem(list, *chosen, at));
  Changed(page);
}

}  // namespace

void InitKeyPage(HWND page, std::span<const KeyBinding> active) {
  HWND list = ListOf(page);
  using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static const auto setTheme = [] {
    HMODULE theme = LoadLibraryW(L"UxTheme.dll");
    return theme ? reinterpret_cast<SetTheme>(reinterpret_cast<void*>(GetProcAddress(theme, "SetWindowTheme")))
                 : nullptr;
  }();
  if (setTheme) setTheme(list, L"Explorer", nullptr);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  HDC dc = GetDC(page);
  const double dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(page, dc);
  const struct {
    const wchar_t* title;
    double width;  // in multiples of the dots per inch
  } kColumns[] = {{L"Command", 2.03125}, {L"Key", 1.0}, {L"Id", 0.8333}};
  for (int i = 0; i < 3; ++i) {
    std::wstring title = Translate(kColumns[i].title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title.data();
    column.cx = static_cast<int>(kColumns[i].width * dpi);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  Fill(list, active);
  RefreshButtons(page);
}

bool KeyPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom != PV_KEYS_LIST) return false;
    if (header->code == LVN_ITEMCHANGED) RefreshButtons(page);
    if (header->code == NM_DBLCLK) AddOrEdit(page, true);
    return true;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  HWND list = ListOf(page);
  switch (LOWORD(wParam)) {
    case PV_KEYS_ADD:
    case PV_KEYS_EDIT:
      AddOrEdit(page, LOWORD(wParam) == PV_KEYS_EDIT);
      return true;
    case PV_KEYS_DELETE:
      if (const int selected = Selected(list); selected >= 0) SendMessageW(list, LVM_DELETEITEM, selected, 0);
      Changed(page);
      return true;
    case PV_KEYS_RESET:
      Fill(list, kBuiltInKeyBindings);
      Changed(page);
      return true;
    default:
      return false;
  }
}

std::vector<KeyBinding> ListedKeyBindings(HWND page) {
  HWND list = ListOf(page);
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<KeyBinding> listed;
  for (int i = 0; i < count; ++i) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = i;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    listed.push_back(UnpackKeyBinding(static_cast<uint32_t>(item.lParam)));
  }
  return listed;
}

std::optional<KeyBinding> RunKeyDialog(HWND owner, KeyBinding start) {
  KeyBinding binding = start;
  const INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_KEY), owner,
                                         KeyDialogProcedure, reinterpret_cast<LPARAM>(&binding));
  // A binding without a key could never run: it is not added.
  if (answer != IDOK || binding.key == 0) return std::nullopt;
  return binding;
}

}  // namespace pv
