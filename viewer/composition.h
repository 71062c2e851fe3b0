#pragma once
// The desktop's blur behind the transparent pixels of a window.
#include <windows.h>

namespace pv {

// Switches the blur on or off: through the window's accent where the system
// has it, else by extending the glass frame over the whole window when
// composition runs. False when it could not be done.
bool SetBlurBehind(HWND window, bool on);

}  // namespace pv
