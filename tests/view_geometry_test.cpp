#include "viewer/view_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "toolkit/command_ids.h"

namespace {

using pv::Crop;
using pv::Extent;
using pv::FrameMetrics;
using pv::ImageSize;
using pv::Point;
using pv::Rect;

TEST(ViewGeometry, ZoomCommandsGivePresetsStepsAndPhysicalSize) {
  struct Row { uint32_t command; double zoom, dpi, resolution; std::optional<double> expected; };
  const Row rows[] = {
      {20016, 3.0, 96, 0, 0.125}, {20019, 3.0, 96, 0, 0.75}, {20024, 3.0, 96, 0, 8.0},
      {20025, 2.0, 96, 0, 2.0 * 1.189207115002721}, {20026, 2.0, 96, 0, 2.0 * 0.8408964152537146},
      {20027, 2.0, 144, 72, 2.0},   // 144 dpi screen, 72 ppi image: one inch is 144 pixels
      {20027, 2.0, 96, 0, std::nullopt},  // no resolution: the zoom stays
      {20013, 2.0, 96, 0, std::nullopt},
  };
  for (const Row& r : rows)
    EXPECT_EQ(pv::ZoomForCommand(r.command, r.zoom, r.dpi, r.resolution), r.expected) << r.command;
  // Steps multiply without snapping.
  double z = 1.0;
  for (int i = 0; i < 4; ++i) z = *pv::ZoomForCommand(pv::kCmdZoomIn, z, 96, 0);
  EXPECT_EQ(z, 1.9999999999999996);
  EXPECT_EQ(*pv::ZoomForCommand(pv::kCmdZoomOut, *pv::ZoomForCommand(pv::kCmdZoomIn, 1.0, 96, 0), 96, 0), 1.0);
}

TEST(ViewGeometry, DisplayedSizeRefusesTooSmallAndNonFiniteZoomAndCapsTheLargest) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Row { ImageSize base; double secondScale, zoom; std::optional<ImageSize> expected; double usedZoom; };
  const Row rows[] = {
      {{3, 3}, 1, 0.5, ImageSize{2, 2}, 0.5},          // 1.5 rounds up to 2
      {{3, 3}, 1, 0.42044820762685725, std::nullopt, 0.42044820762685725},  // 1.26 rounds to 1
      {{100, 50}, 1, 0.25, ImageSize{25, 13}, 0.25},    // 12.5 rounds half up
      {{100, 50}, 2, 1.0, ImageSize{200, 50}, 1.0},     // second scale widens only
      {{100, 50}, 1, std::nan(""), std::nullopt, std::nan("")}, {{100, 50}, 1, inf, std::nullopt, inf},
      {{100, 50}, 1, -2, std::nullopt, -2}, {{100, 50}, 1, 0, std::nullopt, 0},
      // At most 1 << 18 pixels a side and 1 << 29 in all: 1e9 is capped to
      // 327.68, which shows 32768 × 16384 pixels.
      {{100, 50}, 1, 1e9, ImageSize{32768, 16384}, 327.68},
      {{1000, 2}, 1, 1e9, ImageSize{262144, 524}, 262.144},  // a side limits first
      {{1, 262144}, 1, 3, std::nullopt, 1.0},  // capped at 1, and then refused: 1 pixel wide
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.zoom);
    double zoom = r.zoom;
    const auto size = pv::DisplayedSize(r.base, r.secondScale, &zoom);
    EXPECT_EQ(size, r.expected);
    if (std::isfinite(r.usedZoom)) {
      EXPECT_DOUBLE_EQ(zoom, r.usedZoom);
    }
  }
}

TEST(ViewGeometry, LargeZoomsShowTheBusyCursorAndMarkTheScreenExceeded) {
  struct Row { pv::ImageSize displayed; uint32_t bytes; bool exceeds, busy; };
  const Row rows[] = {
      {{1000, 700}, 4, false, false}, {{1001, 700}, 4, true, false}, {{1000, 701}, 1, true, false},
      {{8192, 4096}, 4, true, true},     // 128 MiB: one byte past the threshold
      {{8192, 4096}, 1, true, false}, {{8191, 4096}, 4, true, false},
  };
  for (const Row& r : rows) {
    const pv::ZoomCost cost = pv::EstimateZoom(r.displayed, r.bytes, {1000, 700});
    EXPECT_EQ(cost.exceedsArea, r.exceeds) << r.displayed.width << "x" << r.displayed.height;
    EXPECT_EQ(cost.busy, r.busy) << r.displayed.width << "x" << r.displayed.height;
  }
}

TEST(ViewGeometry, ZoomChangeKeepsTheCentrePixelAndTheWindowItsCentre) {
  // Client 400 wide, scrolled 100: centre at displayed pixel 300 of zoom 1,
  // image pixel 300; at zoom 2 it is displayed pixel 600, minus half of 400.
  EXPECT_EQ(pv::KeepCentreScroll(400, 100, 1.0, 2.0, 400), 400);
  // Zooming out from 2 to 1 with a client that becomes 300 wide.
  EXPECT_EQ(pv::KeepCentreScroll(400, 400, 2.0, 1.0, 300), 150);
  // Odd clients halve by integer division: 401 / 2 = 200.
  EXPECT_EQ(pv::KeepCentreScroll(401, 0, 1.0, 1.5, 401), 100);
  EXPECT_EQ(pv::FollowImage({100, 100, 200, 100}, {1000, 700}, {400, 300}), (Rect{0, 0, 400, 300}));
  // Limited by the area.
  EXPECT_EQ(pv::FollowImage({100, 100, 200, 100}, {300, 200}, {400, 300}), (Rect{50, 50, 300, 200}));
}

TEST(ViewGeometry, FitAndFillPickTheLimitingSide) {
  struct Row { ImageSize base; Extent target; bool fill; double expected; };
  const Row rows[] = {
      {{400, 200}, {200, 200}, false, 0.5},   // wide image: width limits
      {{400, 200}, {200, 200}, true, 1.0},    // fill: height
      {{100, 400}, {200, 200}, false, 0.5}, {{100, 400}, {200, 200}, true, 2.0},
      {{200, 100}, {400, 200}, false, 2.0},   // equal proportions: width
      {{250, 100}, {0, 200}, false, 1.0 / 250}, {{250, 100}, {300, -1}, true, 1.0 / 250},
  };
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(pv::FitZoom(r.base, r.target, r.fill), r.expected);
}

TEST(ViewGeometry, FitWindowToImageLimitsHeightFirstAndCentres) {
  pv::FitRequest r;
  r.area = {0, 0, 1000, 700};
  r.framed = true;
  r.metrics = {8, 8, 23, 120};
  r.autoSize = true;
  // Usable: 984 × 661. A 1200 × 1000 image: height 661, width 1200 × 661 /
  // 1000 = 793.2 -> 793, which fits.
  r.displayed = {1200, 1000};
  pv::FitResult f = pv::FitWindowToImage(r);
  EXPECT_TRUE(f.scaled);
  EXPECT_EQ(f.client.width, 793);
  EXPECT_EQ(f.client.height, 661);
  // Centred in the area, then moved down by half the caption.
  EXPECT_EQ(f.client.left, 500 - 396);
  EXPECT_EQ(f.client.top, 350 - 330 + 11);

  // Without auto-size the window is clipped and the image scrolls.
  r.autoSize = false;
  f = pv::FitWindowToImage(r);
  EXPECT_FALSE(f.scaled);
  EXPECT_EQ(f.client.width, 984);
  EXPECT_EQ(f.client.height, 661);

  // A zoom chosen to exceed the screen is not undone.
  r.autoSize = true;
  r.fixedZoomExceeds = true;
  EXPECT_FALSE(pv::FitWindowToImage(r).scaled);

  // Keeping the centre: on the current client, and no caption shift.
  r.fixedZoomExceeds = false;
  r.framed = false;
  r.keepCentre = true;
  r.displayed = {100, 60};
  r.currentClient = {300, 200, 50, 40};
  EXPECT_EQ(pv::FitWindowToImage(r).client, (Rect{275, 190, 100, 60}));
  // A centre wholly outside the area is brought back to its edge.
  r.currentClient = {2000, -500, 10, 10};
  EXPECT_EQ(pv::FitWindowToImage(r).client, (Rect{900, 0, 100, 60}));
  // A window placed by the caller keeps its place: no caption shift.
  r.framed = true;
  r.keepCentre = false;
  r.autoPosition = false;
  r.currentClient = {100, 200, 50, 40};
  EXPECT_EQ(pv::FitWindowToImage(r).client, (Rect{100, 200, 100, 60}));
}

// The zoom the decode ahead builds a display for must be the one the next
// layout chooses: a framed window sizes itself, a maximized one fits to its
// client as the settings say, a frozen one keeps its place.
TEST(ViewGeometry, GuessedLayoutZoomIsTheNextLayoutsZoom) {
  pv::LayoutGuess framed;
  framed.fit.area = {0, 0, 1000, 700};
  framed.fit.framed = true;
  framed.fit.metrics = {8, 8, 23, 120};
  framed.fit.autoSize = true;
  pv::LayoutGuess fixed = framed;
  fixed.fit.autoSize = false;
  pv::LayoutGuess maximized = framed;
  maximized.maximized = true;
  maximized.monitor = {0, 0, 1000, 740};
  maximized.client = {1000, 720};
  pv::LayoutGuess maximizedGrow = maximized;
  maximizedGrow.shrinkOnly = false;
  pv::LayoutGuess frozen = framed;
  frozen.frozen = true;
  frozen.frozenPlace = {10, 10, 400, 300};
  struct Row { const char* what; const pv::LayoutGuess& guess; ImageSize base; double zoom; };
  const Row rows[] = {
      {"fits the usable 984 x 661", framed, {900, 600}, 1},
      {"sized down by its height", framed, {1200, 1000}, 793.0 / 1200},
      {"sized down by its width", framed, {4000, 1000}, 984.0 / 4000},
      {"no auto-size: scrolled", fixed, {4000, 3000}, 1},
      {"maximized, smaller than the monitor", maximized, {600, 400}, 1},
      {"maximized, larger than the monitor", maximized, {2000, 1000}, 0.5},
      {"maximized, grown to the client", maximizedGrow, {500, 200}, 2},
      {"frozen, fits its place", frozen, {300, 200}, 1},
      {"frozen, fitted to its place", frozen, {800, 300}, 0.5},
  };
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(pv::GuessLayoutZoom(r.guess, r.base), r.zoom) << r.what;
}

TEST(ViewGeometry, TurnCommandsChangeTheOrientationBits) {
  struct Row { uint8_t o; uint32_t command; uint8_t expected; };
  const Row rows[] = {
      {0, pv::kCmdTurnRight, 1}, {3, pv::kCmdTurnRight, 0}, {1, pv::kCmdTurnHalf, 3},
      {0, pv::kCmdTurnLeft, 3},  {2, pv::kCmdTurnLeft, 1},  {0, pv::kCmdMirror, 4},
      {4, pv::kCmdMirror, 0},    {5, pv::kCmdFlip, 13},     {13, pv::kCmdTurnRight, 14},
      {12, pv::kCmdTurnLeft, 15}, {7, pv::kCmdZoomIn, 7},
  };
  for (const Row& r : rows) EXPECT_EQ(pv::TurnOrientation(r.o, r.command), r.expected) << int(r.o) << " " << r.command;
}

TEST(ViewGeometry, TurnOfAFittedImageInAMaximizedWindowStartsFromFullSize) {
  struct Row { bool maximized, shrink; pv::ImageSize displayed; pv::Extent client; bool reset; };
  const Row rows[] = {
      {true, true, {1280, 700}, {1280, 1000}, true},    // fitted by width
      {true, true, {600, 1000}, {1280, 1000}, true},    // fitted by height
      {true, true, {600, 700}, {1280, 1000}, false},    // smaller than the client: kept
      {true, true, {2000, 1500}, {1280, 1000}, false},  // zoomed past the client by the user
      {true, false, {1280, 700}, {1280, 1000}, false}, {false, true, {1280, 700}, {1280, 1000}, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(pv::TurnResetsZoom(r.maximized, r.shrink, r.displayed, r.client), r.reset)
        << r.displayed.width << "x" << r.displayed.height;
}

TEST(ViewGeometry, CropToVisibleTakesTheShownPartInImagePixels) {
  Crop crop;
  Point scroll{100, 30};
  // Zoom 2: 1000 × 300 displayed in a 400 × 400 client; only wider.
  ASSERT_TRUE(pv::CropToVisible(&crop, &scroll, 2.0, {400, 400}, {1000, 300}));
  EXPECT_EQ(crop, (Crop{50, 0, 200, 150}));
  EXPECT_EQ(scroll, (Point{0, 0}));
  // A second crop adds to the first.
  scroll = {20, 0};
  ASSERT_TRUE(pv::CropToVisible(&crop, &scroll, 1.0, {100, 100}, {200, 150}));
  EXPECT_EQ(crop, (Crop{70, 0, 100, 100}));
  // An image that fits is not cropped.
  Crop none;
  scroll = {5, 5};
  EXPECT_FALSE(pv::CropToVisible(&none, &scroll, 1.0, {400, 400}, {400, 300}));
  EXPECT_FALSE(none.Present());
  EXPECT_EQ(scroll, (Point{5, 5}));
}

TEST(ViewGeometry, KeypadKeysStepScrollAndMoveWithinTheImageAndArea) {
  for (auto [scroll, clamped] : {std::pair{-5, 0}, {250, 250}, {400, 300}})
    EXPECT_EQ(pv::ClampScroll(scroll, 500, 200), clamped);
  EXPECT_EQ(pv::ClampScroll(40, 100, 200), 0);

  struct Row { uint32_t key; Point step; };
  const Row rows[] = {{1, {-10, 10}}, {2, {0, 10}}, {3, {10, 10}}, {4, {-10, 0}}, {6, {10, 0}},
                      {7, {-10, -10}}, {8, {0, -10}}, {9, {10, -10}}};
  for (const Row& r : rows) {
    EXPECT_EQ(pv::KeypadStep(r.key, false), r.step) << r.key;
    EXPECT_EQ(pv::KeypadStep(r.key, true), (Point{r.step.x * 10, r.step.y * 10})) << r.key;
  }
  EXPECT_EQ(pv::ScrollByKey({50, 50}, 3, true, {200, 100}, {800, 600}), (Point{150, 150}));
  EXPECT_EQ(pv::ScrollByKey({50, 50}, 5, false, {200, 100}, {800, 601}), (Point{300, 250}));

  const Rect area{0, 0, 1000, 700};
  EXPECT_EQ(pv::MoveByKey({100, 100, 200, 100}, 6, true, area), (Rect{200, 100, 200, 100}));
  // Clamped inside the area.
  EXPECT_EQ(pv::MoveByKey({790, 5, 200, 100}, 9, true, area), (Rect{800, 0, 200, 100}));
  // Key 5 on a small window centres it in the work area.
  EXPECT_EQ(pv::MoveByKey({10, 10, 200, 100}, 5, false, {0, 40, 1000, 700}), (Rect{400, 340, 200, 100}));
}

TEST(ViewGeometry, DraggedWindowKeepsAPixelInsideTheArea) {
  const FrameMetrics m{8, 8, 23, 120};
  const Rect area{0, 0, 1000, 700};
  EXPECT_EQ(pv::ClampDraggedWindow({5000, 5000}, {300, 200}, area, m), (Point{990, 690}));
  EXPECT_EQ(pv::ClampDraggedWindow({-5000, -5000}, {300, 200}, area, m), (Point{-291, -191}));
  EXPECT_EQ(pv::ClampDraggedWindow({10, 20}, {300, 200}, area, m), (Point{10, 20}));
}

TEST(ViewGeometry, WheelStepsImagesZoomsOrScrolls) {
  struct Step { int32_t delta; uint32_t command, key, presses; };
  struct Row { const char* name; pv::WheelState state; std::vector<Step> steps; };
  const pv::WheelState right{.right = true};
  const Row rows[] = {
      // Half notches add up; a negative sum goes forward.
      {"images", {.shift = true}, {{-60, 0, 0, 0}, {-60, pv::kCmdNextImage, 0, 0}, {120, pv::kCmdPreviousImage, 0, 0}}},
      {"zoom", right, {{-120, pv::kCmdZoomOut, 0, 0}, {90, 0, 0, 0}, {30, pv::kCmdZoomIn, 0, 0}}},
      {"middle held", {.middle = true, .imageTaller = true}, {{120, 0, 0, 0}}},
      // 6 units a key press; the remainder waits for the next delta.
      {"scroll up", {.imageTaller = true}, {{120, 0, 8, 20}, {10, 0, 8, 1}, {2, 0, 8, 1}}},
      {"scroll right", {.imageWider = true}, {{-125, 0, 4, 20}, {-1, 0, 4, 1}}},
      {"image fits", {}, {{120, 0, 0, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    pv::WheelAccumulator wheel;
    for (const Step& s : row.steps) {
      const pv::WheelResult r = wheel.Add(s.delta, row.state);
      EXPECT_EQ(r.command, s.command) << s.delta;
      EXPECT_EQ(r.presses, s.presses) << s.delta;
      if (s.presses) {
        EXPECT_EQ(r.key, s.key) << s.delta;
      }
    }
  }
  pv::WheelAccumulator wheel;
  EXPECT_TRUE(wheel.Add(120, right).usedWithRight);
}

TEST(ViewGeometry, CursorShowsBusyHandsOrTheArrow) {
  using pv::ViewCursor;
  struct Row { const char* name; pv::CursorState state; ViewCursor expected; };
  const Extent client{300, 300};
  const Row rows[] = {
      {"busy wins over a hand", {.busy = true, .displayed = {900, 900}, .client = client}, ViewCursor::Wait},
      {"busy while frozen", {.busy = true, .frozen = true, .displayed = {10, 10}, .client = client}, ViewCursor::Wait},
      {"larger both ways", {.displayed = {301, 301}, .client = client}, ViewCursor::HandBoth},
      {"wider only", {.displayed = {301, 300}, .client = client}, ViewCursor::HandWide},
      {"taller only", {.displayed = {200, 301}, .client = client}, ViewCursor::HandTall},
      {"equal size", {.displayed = {300, 300}, .client = client}, ViewCursor::Arrow},
      {"smaller", {.displayed = {100, 50}, .client = client}, ViewCursor::Arrow},
      {"alt held", {.altHeld = true, .displayed = {900, 900}, .client = client}, ViewCursor::Arrow},
      {"middle-button move", {.moveMode = true, .displayed = {900, 900}, .client = client}, ViewCursor::Arrow},
      {"frozen", {.frozen = true, .displayed = {900, 900}, .client = client}, ViewCursor::Arrow},
      // Compared without narrowing the displayed width to a signed int.
      {"very wide", {.displayed = {0x90000000u, 10}, .client = client}, ViewCursor::HandWide},
  };
  for (const Row& r : rows) EXPECT_EQ(pv::ChooseCursor(r.state), r.expected) << r.name;
}

}  // namespace
