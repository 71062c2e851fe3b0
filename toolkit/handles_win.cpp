#include "toolkit/handles.h"

namespace pv {

void AcceleratorTraits::Close(HACCEL h) { DestroyAcceleratorTable(h); }

void GdiObjectTraits::Close(HGDIOBJ h) { DeleteObject(h); }

void MenuTraits::Close(HMENU h) { DestroyMenu(h); }

void IconTraits::Close(HICON h) { DestroyIcon(h); }

void CursorTraits::Close(HCURSOR h) { DestroyCursor(h); }

WindowDc::WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}

WindowDc::~WindowDc() {
  if (dc_) ReleaseDC(window_, dc_);
}

}  // namespace pv
