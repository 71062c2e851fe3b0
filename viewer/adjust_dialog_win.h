#pragma once
// The image-adjustment dialog as a modal Windows dialog.
#include <windows.h>

#include <functional>

#include "viewer/view_state.h"

namespace pv {

// Shows the dialog over `owner` on the view's adjustments; every change is
// set on the view at once and `changed` runs (the window shows it). True
// when the user confirmed; on cancel the view keeps the last values shown
// and the caller restores them.
bool RunAdjustDialog(HWND owner, ViewState& view, const std::function<void()>& changed);

}  // namespace pv
