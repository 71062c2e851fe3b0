#pragma once
// The image information window: a modal dialog whose text the user can
// select, and copy whole with its button.
#include <windows.h>

#include <string>

namespace pv {

void ShowImageInformation(HWND owner, const std::wstring& text);

}  // namespace pv
