#pragma once
// The size and hot spot of an icon or cursor, for the tests that check
// which one they were given.
#include <windows.h>

#include "toolkit/handles.h"

namespace pvtest {

struct IconShape {
  LONG width = 0, height = 0;
  DWORD hotX = 0, hotY = 0;
  bool operator==(const IconShape&) const = default;
};

// Colour icons and cursors only; all zero for anything else.
inline IconShape ShapeOf(HICON icon) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return {};
  pv::GdiObject<HBITMAP> colour(info.hbmColor), mask(info.hbmMask);
  BITMAP bm{};
  if (!colour || !GetObjectW(colour.get(), sizeof bm, &bm)) return {};
  return {bm.bmWidth, bm.bmHeight, info.xHotspot, info.yHotspot};
}

}  // namespace pvtest
