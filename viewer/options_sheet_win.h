#pragma once
// The options property sheet: a page per group of stored options (viewer,
// browser, slideshow) and the language page.
#include <windows.h>

#include "settings/app_settings.h"

namespace pv {

// Shows the sheet on `startPage`; true when the user confirmed, and then
// `settings` holds the new options (a new language is loaded and saved).
// `shownPage` receives the page the user saw last.
bool RunOptionsSheet(HWND owner, AppSettings& settings, int startPage, int* shownPage);

}  // namespace pv
