// The viewer window's cursor and icon, from the program's resources.
#include <utility>

#include "toolkit/resource_ids.h"
#include "viewer/viewer_window.h"

namespace pv {

HCURSOR ViewerWindow::ChosenCursor() {
  CursorState state;
  state.busy = busy_ > 0;
  state.altHeld = GetKeyState(VK_MENU) < 0;
  state.moveMode = moveMode_;
  state.frozen = options_.frozen;
  if (view_) state.displayed = view_->DisplayedSize();
  state.client = client_;
  return cursors_.Get(ChooseCursor(state), dpiScale_);
}

bool ViewerWindow::OnSetCursor(HWND window, UINT hitTest, UINT message) {
  (void)window;
  (void)message;
  if (hitTest != HTCLIENT) return false;
  SetCursor(ChosenCursor());
  return true;
}

void ViewerWindow::RefreshCursor() {
  POINT p;
  if (!CursorOverWindow(Handle()) || !GetCursorPos(&p)) return;
  ScreenToClient(Handle(), &p);
  RECT client;
  GetClientRect(Handle(), &client);
  if (PtInRect(&client, p)) SetCursor(ChosenCursor());
}

void ViewerWindow::DropCursors() {
  // The cursor on screen may be one of the old set: its successor is shown
  // before the old set is destroyed.
  ViewerCursors old = std::exchange(cursors_, ViewerCursors());
  RefreshCursor();
}

HICON ViewerWindow::OnGetIcon(bool big, UINT dpi) {
  (void)dpi;  // the icon follows the system metrics
  OwnedIcon& icon = icons_[big ? 1 : 0];
  if (!icon) icon = LoadProgramIcon(PV_ICON_PROGRAM, GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON));
  return icon.get();
}

}  // namespace pv
