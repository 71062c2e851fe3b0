#include "settings/language_win.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/file_io.h"
#include "core/text.h"
#include "toolkit/resource_ids.h"
#include "settings/language.h"

#include <shellapi.h>

namespace pv {

namespace {

// A language file is read up to this size; its dictionary keeps what fits.
constexpr int64_t kMaxLanguageFile = 4 << 20;

void TranslateText(HWND window) {
  wchar_t text[512];
  if (GetWindowTextW(window, text, 512) <= 0) return;
  const std::wstring translated = Translate(text);
  if (!translated.empty() && translated != text) SetWindowTextW(window, translated.c_str());
}

BOOL CALLBACK TranslateChild(HWND child, LPARAM) {
  TranslateText(child);
  return TRUE;
}

struct LanguageDialog {
  AppSettings* settings;
  const std::function<void(const AppSettings&)>* save;
  std::vector<std::pair<HWND, std::wstring>> builtIn;  // every control's own text
};

}  // namespace

void FillLanguageList(HWND combo, const AppSettings& settings) {
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(kBuiltInLanguage).c_str()));
  WIN32_FIND_DATAW found;
  const std::wstring pattern = settings.programFolder + L"*.language";
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      name.resize(name.size() - 9);  // ".language"
      if (!name.empty() && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  const std::wstring current = Utf8ToWide(settings.options.languageName);
  const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(current.c_str()));
  SendMessageW(combo, CB_SETCURSEL, index == CB_ERR ? 0 : index, 0);
}

namespace {

BOOL CALLBACK RememberText(HWND child, LPARAM d) {
  wchar_t text[512];
  GetWindowTextW(child, text, 512);
  reinterpret_cast<LanguageDialog*>(d)->builtIn.emplace_back(child, text);
  return TRUE;
}

INT_PTR CALLBACK LanguageProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<LanguageDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      d = reinterpret_cast<LanguageDialog*>(lParam);
      RememberText(dialog, lParam);
      EnumChildWindows(dialog, RememberText, lParam);
      LoadLanguage(*d->settings);
      TranslateWindow(dialog);
      CheckDlgButton(dialog, PV_LANGUAGE_ASSOCIATE, BST_CHECKED);
      FillLanguageList(GetDlgItem(dialog, PV_LANGUAGE_LIST), *d->settings);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == PV_LANGUAGE_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
        wchar_t name[64];
        GetDlgItemTextW(dialog, PV_LANGUAGE_LIST, name, 64);
        char utf8[64];
        if (!WideToUtf8(utf8, sizeof utf8, name)) return TRUE;
        std::memcpy(d->settings->options.languageName, utf8, sizeof utf8);
        for (const auto& [control, text] : d->builtIn) SetWindowTextW(control, text.c_str());
        LoadLanguage(*d->settings);
        if (*d->save) (*d->save)(*d->settings);
        TranslateWindow(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        if (LOWORD(wParam) == IDOK && IsDlgButtonChecked(dialog, PV_LANGUAGE_ASSOCIATE) == BST_CHECKED) {
          wchar_t system[kMaxPathUnits];
          const UINT n = GetSystemDirectoryW(system, kMaxPathUnits);
          if (n > 0 && n < kMaxPathUnits - 13) {
            ShellExecuteW(dialog, nullptr, (std::wstring(system) + L"\\control.exe").c_str(),
                          L"/name Microsoft.DefaultPrograms /page pageFileAssoc", nullptr, SW_SHOWNORMAL);
          }
        }
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowLanguageDialog(AppSettings& settings, const std::function<void(const AppSettings&)>& save) {
  LanguageDialog d{&settings, &save, {}};
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(PV_DIALOG_LANGUAGE), nullptr, LanguageProcedure,
                  reinterpret_cast<LPARAM>(&d));
}

void TranslateWindow(HWND window) {
  TranslateText(window);
  EnumChildWindows(window, TranslateChild, 0);
}

void LoadLanguage(AppSettings& settings) {
  std::vector<uint8_t> dictionary;
  const std::wstring base = settings.programFolder + Utf8ToWide(settings.options.languageName);
  const std::wstring path = std::wstring(TruncateText(base, kMaxPathUnits - 1 - 9)) + L".language";
  const FileHandle file = OpenFileForRead(path.c_str());
  if (file != kNoFile) {
    const int64_t size = FileSize64(file);
    std::vector<uint8_t> bytes(size >= 3 && size <= kMaxLanguageFile ? static_cast<size_t>(size) : 0);
    if (!bytes.empty() && ReadExact(file, bytes.data(), static_cast<uint32_t>(bytes.size())))
      dictionary = BuildDictionary(bytes.data(), bytes.size());
    CloseFile(file);
  }
  settings.options.dictionaryBytes = static_cast<uint32_t>(dictionary.size());
  settings.dictionary = dictionary;
  SetCurrentDictionary(std::move(dictionary));
}

}  // namespace pv
