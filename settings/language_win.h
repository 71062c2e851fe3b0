#pragma once
// Translation of windows and the loading of the chosen language file.
#include <windows.h>

#include <functional>

#include "settings/app_settings.h"

namespace pv {

// The window's text and then every child's, depth first, where the
// dictionary has a translation.
void TranslateWindow(HWND window);

// The first-run dialog: the language list of the program folder, changing
// the dialog's language at once; its choice is stored in `settings` and the
// dictionary saved through `save`.
void ShowLanguageDialog(AppSettings& settings, const std::function<void(const AppSettings&)>& save);

// Fills a combo box with the built-in language and every language file of
// the program folder, the current one selected.
void FillLanguageList(HWND combo, const AppSettings& settings);

// Reads programFolder + languageName + ".language" into the current
// dictionary and settings.dictionary (none for a missing file or the
// built-in language).
void LoadLanguage(AppSettings& settings);

}  // namespace pv
