// The program's icons and cursors, loaded from the test program's own
// module, which carries the same resources as the program.
#include "viewer/program_resources.h"

#include <gtest/gtest.h>

#include "toolkit/resource_ids.h"
#include "tests/win/icon_shape.h"

namespace {

using pvtest::ShapeOf;
using Shape = pvtest::IconShape;

TEST(ProgramResources, IconsAndCursorsLoadAtTheSizeAskedAndOnceAtTheScaleInForce) {
  const int icons[] = {PV_ICON_PROGRAM,  PV_ICON_OPTIONS, PV_ICON_NEW_WINDOW, PV_ICON_STOP_SLIDESHOW, PV_ICON_HELP,
                       PV_ICON_OPEN,     PV_ICON_CLOSE,   PV_ICON_NEXT,       PV_ICON_PREVIOUS,       PV_ICON_ZOOM_IN,
                       PV_ICON_ZOOM_OUT, PV_ICON_FREEZE,  PV_ICON_BROWSE,     PV_ICON_ADJUST};
  for (int size : {32, 48}) {
    for (int id : icons) {
      pv::OwnedIcon icon = pv::LoadProgramIcon(id, size);
      EXPECT_EQ(ShapeOf(icon.get()), (Shape{size, size, DWORD(size / 2), DWORD(size / 2)})) << id << " at " << size;
    }
    // The hot spot lies in the palm, at (16, 19) of 32.
    const DWORD hotX = DWORD(16 * size / 32), hotY = DWORD(19 * size / 32);
    for (int id : {PV_CURSOR_HAND_BOTH, PV_CURSOR_HAND_WIDE, PV_CURSOR_HAND_TALL}) {
      pv::OwnedCursor cursor = pv::LoadProgramCursor(id, size);
      EXPECT_EQ(ShapeOf(cursor.get()), (Shape{size, size, hotX, hotY})) << id << " at " << size;
    }
  }
  EXPECT_FALSE(pv::LoadProgramIcon(2999, 32));
  EXPECT_FALSE(pv::LoadProgramCursor(PV_ICON_HELP + 1, 32));

  SCOPED_TRACE("the viewer's cursors load once at the scale in force");
  pv::ViewerCursors cursors;
  EXPECT_EQ(cursors.Get(pv::ViewCursor::Arrow, 1.0), LoadCursorW(nullptr, IDC_ARROW));
  HCURSOR wide = cursors.Get(pv::ViewCursor::HandWide, 1.5);
  EXPECT_EQ(ShapeOf(wide), (Shape{48, 48, 24, 28}));
  EXPECT_EQ(cursors.Get(pv::ViewCursor::HandWide, 1.5), wide);
  EXPECT_NE(cursors.Get(pv::ViewCursor::HandTall, 1.5), wide);
  EXPECT_EQ(cursors.Get(pv::ViewCursor::Wait, 1.5), LoadCursorW(nullptr, IDC_WAIT));
}

TEST(ProgramResources, MenuBitmapIsTopDownAndPremultiplied) {
  pv::GdiObject<HBITMAP> bitmap = pv::IconBitmap(PV_ICON_ZOOM_IN, 16);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectW(bitmap.get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
  ASSERT_EQ(dib.dsBm.bmBitsPixel, 32);
  ASSERT_EQ(dib.dsBm.bmWidth, 16);
  const auto* pixels = static_cast<const uint8_t*>(dib.dsBm.bmBits);
  auto alphaAt = [&](int x, int y) { return pixels[(y * 16 + x) * 4 + 3]; };
  // The magnifier's handle points to the bottom right: rows run top-down
  // (GetObject reports the height of either kind as positive).
  EXPECT_EQ(alphaAt(14, 14), 255);
  EXPECT_EQ(alphaAt(14, 1), 0);
  int partial = 0;
  for (int i = 0; i < 16 * 16; ++i) {
    const uint8_t* p = pixels + i * 4;
    EXPECT_TRUE(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3]) << "pixel " << i;
    if (p[3] > 0 && p[3] < 255 && (p[0] | p[1] | p[2])) ++partial;
  }
  EXPECT_GT(partial, 0) << "edges are smoothed, so some pixels are partly transparent";
  EXPECT_FALSE(pv::IconBitmap(2999, 16));
}

}  // namespace
