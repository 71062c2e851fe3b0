#include "viewer/program_resources.h"

#include <cstdint>

#include "toolkit/resource_ids.h"
#include "viewer/render_stages.h"

namespace pv {

namespace {

// The program and its test program carry the same resources in their exe.
HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

}  // namespace

OwnedIcon LoadProgramIcon(int id, int size) {
  return OwnedIcon(static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
}

OwnedCursor LoadProgramCursor(int id, int size) {
  return OwnedCursor(
      static_cast<HCURSOR>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_CURSOR, size, size, 0)));
}

GdiObject<HBITMAP> IconBitmap(int iconId, int size) {
  OwnedIcon icon = LoadProgramIcon(iconId, size);
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon.get(), &info)) return {};
  // GetIconInfo hands over copies of both bitmaps; the alpha channel of the
  // colour one is all the menu needs.
  GdiObject<HBITMAP> colour(info.hbmColor), mask(info.hbmMask);
  if (!colour) return {};
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  GdiObject<HBITMAP> dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib) return {};
  WindowDc screen(nullptr);
  if (GetDIBits(screen.get(), colour.get(), 0, static_cast<UINT>(size), bits, &bi, DIB_RGB_COLORS) != size) {
    return {};
  }
  auto* row = static_cast<uint8_t*>(bits);
  for (int y = 0; y < size; ++y, row += size * 4) PremultiplyRow(row, row, static_cast<uint32_t>(size));
  return dib;
}

HCURSOR ViewerCursors::Get(ViewCursor which, double dpiScale) {
  if (which == ViewCursor::Arrow) return LoadCursorW(nullptr, IDC_ARROW);
  // The system's shared wait cursor as it is: a copy would lose its
  // animation and the user's cursor scheme.
  if (which == ViewCursor::Wait) return LoadCursorW(nullptr, IDC_WAIT);
  // The hands are in the order of their resource ids.
  const int index = static_cast<int>(which) - static_cast<int>(ViewCursor::HandBoth);
  OwnedCursor& hand = hands_[index];
  if (!hand) hand = LoadProgramCursor(PV_CURSOR_HAND_BOTH + index, static_cast<int>(RoundHalfUp(32 * dpiScale)));
  return hand ? hand.get() : LoadCursorW(nullptr, IDC_ARROW);
}

void IconMenu::SetItemIcon(HMENU menu, UINT id, int iconId) {
  GdiObject<HBITMAP> bitmap = IconBitmap(iconId, GetSystemMetrics(SM_CXSMICON));
  if (!bitmap) return;
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_BITMAP;
  item.hbmpItem = bitmap.get();
  if (SetMenuItemInfoW(menu, id, FALSE, &item)) bitmaps_.push_back(std::move(bitmap));
}

}  // namespace pv
