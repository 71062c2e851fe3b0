#pragma once
// Translation of windows and the loading of the chosen language file.
#include <windows.h>

#include "settings/app_settings.h"

namespace pv {

// The window's text and then every child's, depth first, where the
// dictionary has a translation.
void TranslateWindow(HWND window);

// Reads programFolder + languageName + ".language" into the current
// dictionary and settings.dictionary (none for a missing file or the
// built-in language).
void LoadLanguage(AppSettings& settings);

}  // namespace pv
