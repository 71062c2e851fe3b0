#pragma once
// The one road by which every request to open a file in a new window
// arrives: start-up, a second start's hand-over, drops and commands.
#include <windows.h>

#include "app/command_line.h"

namespace pv {

// Opens a viewer window for `file` (the open dialog when there is none)
// with the options of `arguments`, and runs the shared message loop unless
// it already runs. Returns when the window is made (loop running) or when
// the loop ends.
void OpenViewer(const wchar_t* file, const ArgumentList* arguments, HWND owner);

// Opens a browser window on the folder of `path` (a folder, a file in it or
// its ".pvi" index file; null: the current folder), with the title and
// position options of `arguments`; runs the loop like OpenViewer.
void OpenBrowser(const wchar_t* path, const ArgumentList* arguments, HWND owner);

// A second start's WM_COPYDATA: a valid one opens its file.
void ReceiveHandOver(uint32_t tag, const uint8_t* payload, size_t size);

}  // namespace pv
