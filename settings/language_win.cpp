#include "settings/language_win.h"

#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/text.h"
#include "settings/language.h"

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

}  // namespace

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
