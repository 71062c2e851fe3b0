#pragma once
// The program's top-level windows in this and other Pixvane processes.
#include <windows.h>

#include <string>
#include <vector>

namespace pv {

// Top-level windows of class "muiWindow" whose title holds "Pixvane", in
// the system's z-order.
std::vector<HWND> FindPixvaneWindows();

// Brings the next (or previous) of them after `current`, in the order of
// their titles, to the foreground.
void BringNextPixvaneWindow(HWND current, bool forward);

// Sends WM_CLOSE to every one of them.
void CloseAllPixvaneWindows();

// Opens the help file beside the program in HTML Help; the help windows
// are closed before the program ends.
void OpenHelpFile(HWND owner);
void CloseHelpFiles();

// The bitmap file the user chose in the save dialog, ending in ".bmp",
// first suggested beside `current` under its base name; empty when cancelled.
std::wstring ChooseBitmapTarget(HWND owner, const wchar_t* current);

// The user's choice of image files: one or more full paths, none on cancel.
std::vector<std::wstring> ChooseImageFiles(HWND owner, bool multiple);

}  // namespace pv
