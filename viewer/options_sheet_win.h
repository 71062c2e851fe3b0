#pragma once
// The options property sheet: a page per group of stored options (viewer,
// browser, slideshow), the language page and the key page.
#include <windows.h>

#include "settings/app_settings.h"

namespace pv {

// Shows the sheet on `startPage`; true when the user confirmed, and then
// `settings` holds the new options (a new language is loaded and saved; a
// new key set is saved and every Pixvane window told to rebuild its keys).
// `shownPage` receives the page the user saw last.
bool RunOptionsSheet(HWND owner, AppSettings& settings, int startPage, int* shownPage);

}  // namespace pv
