#pragma once
// The program's own icons and cursors, loaded from the resources of the
// running module, and the bitmaps a menu shows beside its items.
#include <windows.h>

#include <vector>

#include "toolkit/handles.h"
#include "viewer/view_geometry.h"

namespace pv {

// Resources at size × size pixels; empty when the module lacks them.
OwnedIcon LoadProgramIcon(int id, int size);
OwnedCursor LoadProgramCursor(int id, int size);

// The icon resource drawn into a 32-bit top-down DIB section of
// size × size, colours premultiplied by alpha as menus and AlphaBlend
// expect; empty on failure.
GdiObject<HBITMAP> IconBitmap(int iconId, int size);

// The cursors a viewer window shows: the system's arrow and wait cursor,
// and the hands, each loaded when first needed at the DPI scale then in
// force (32 pixels at scale 1). A new scale takes a new set; destroying a
// set frees what it loaded.
class ViewerCursors {
 public:
  HCURSOR Get(ViewCursor which, double dpiScale);

 private:
  OwnedCursor hands_[3];  // both directions, wider, taller
};

// A popup menu with the bitmaps beside its items: menus do not free item
// bitmaps, so they live as long as the menu and go after it. Windows blends
// 32-bit item bitmaps by their alpha; Wine 8 copies them, so there the
// transparent parts show black.
class IconMenu {
 public:
  IconMenu() : menu_(CreatePopupMenu()) {}
  HMENU get() const { return menu_.get(); }
  // Shows the icon resource beside the item `id` of `menu` (this menu or
  // one of its submenus).
  void SetItemIcon(HMENU menu, UINT id, int iconId);

 private:
  std::vector<GdiObject<HBITMAP>> bitmaps_;  // declared first: freed last
  MenuHandle menu_;
};

}  // namespace pv
