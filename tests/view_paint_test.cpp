#include "viewer/view_paint.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "viewer/animation_timer.h"

namespace {

using pv::ImageBuffer;
using pv::Point;
using pv::Ref;

TEST(ViewPaint, ImageIsCentredWhenSmallerAndScrolledWhenLarger) {
  struct Row { pv::Extent client; pv::ImageSize displayed; Point scroll, origin, clamped; };
  const Row rows[] = {
      {{400, 300}, {100, 50}, {30, 30}, {150, 125}, {0, 0}}, {{401, 300}, {100, 300}, {0, 7}, {150, 0}, {0, 0}},
      {{200, 100}, {500, 400}, {120, 50}, {-120, -50}, {120, 50}},
      {{200, 100}, {500, 400}, {900, -5}, {-300, 0}, {300, 0}},
  };
  for (const Row& r : rows) {
    const pv::ImagePlacement p = pv::PlaceImage(r.client, r.displayed, r.scroll);
    EXPECT_EQ(p.origin, r.origin);
    EXPECT_EQ(p.scroll, r.clamped);
  }
}

TEST(ViewPaint, BackgroundComesFromCompositionTheSettingOrTheImage) {
  Ref<ImageBuffer> first = pvtest::ImageOf(pv::PixelFormat::Grey8, 4, 4, std::vector<double>(16, 0x22));
  pv::BackgroundChoice choice;
  choice.storedColour = 0x123456;
  // No frame declares a colour: picked from the pixels.
  EXPECT_EQ(pv::ChooseBackground(choice, first.get()), 0xFF222222u);
  ImageBuffer* second = pv::CreateImageBuffer(pv::PixelFormat::Grey8, {4, 4}, false);
  second->Frame().background = 0x80ABCDEFu;
  first->SetNext(second);
  EXPECT_EQ(pv::ChooseBackground(choice, first.get()), 0x80ABCDEFu);
  EXPECT_EQ(pv::ChooseBackground(choice, nullptr), 0xFF123456u);
  choice.useStoredColour = true;
  EXPECT_EQ(pv::ChooseBackground(choice, first.get()), 0xFF123456u);
  choice.composition = true;
  EXPECT_EQ(pv::ChooseBackground(choice, first.get()), 0u);
}

TEST(AnimationTimer, DueTimesAccumulateWithoutDrift) {
  struct Row { uint32_t delay; uint64_t previous, now; bool stop; uint64_t due; uint32_t wait; };
  const Row rows[] = {
      {100, 0, 5000, false, 5100, 100},     // first frame: from now
      {100, 5100, 5130, false, 5200, 70},   // painting took 30 ms: the next comes sooner
      {0, 1000, 1000, false, 1033, 33},     // delay 0 is 33 ms
      {20, 1000, 1500, false, 1510, 10},    // late: never sooner than 10 ms
      {pv::kDelayWaitForUser, 1000, 1000, true, 0, 0}, {0x80000000u, 1000, 1000, true, 0, 0},
  };
  for (const Row& r : rows) {
    const pv::FrameSchedule s = pv::ScheduleNextFrame(r.delay, r.previous, r.now);
    EXPECT_EQ(s.stop, r.stop) << r.delay;
    if (!r.stop) {
      EXPECT_EQ(s.due, r.due) << r.delay;
      EXPECT_EQ(s.wait, r.wait) << r.delay;
    }
  }
}

TEST(ViewPaint, OverlaysPickTheirPropertyAndPlace) {
  pv::PropertySet p;
  p.SetText(pv::kPropTitle, L"Harbour");
  p.SetText(pv::kPropCreationDate, L"2024:05:01");
  p.SetText(pv::kPropGps, L"N 59");
  p.SetText(pv::kPropKeywords + 2, L"sea");
  p.SetText(pv::kPropKeywords + 5, L"lighthouse");
  using pv::OverlayColumn;
  struct Row { uint32_t setting; std::vector<pv::OverlayText> expected; };
  const Row rows[] = {
      {0x000010, {{L"Harbour", OverlayColumn::Left, false}}},
      // Bytes in order; right and bottom; centre and top.
      {0x602521, {{L"2024:05:01", OverlayColumn::Right, false}, {L"2024:05:01", OverlayColumn::Right, true},
                  {L"N 59", OverlayColumn::Left, false}}},
      {0x000016, {{L"Harbour", OverlayColumn::Centre, true}}},
      // No comment: the longest keyword instead.
      {0x000030, {{L"lighthouse", OverlayColumn::Left, false}}},
      // Author and page have no text; 0 and 7 pick nothing.
      {0x405070, {}}, {0x000000, {}},
  };
  for (const Row& r : rows) EXPECT_EQ(pv::ChooseOverlays(r.setting, p), r.expected) << std::hex << r.setting;
  p.SetText(pv::kPropComment, L"hi");
  EXPECT_EQ(pv::ChooseOverlays(0x30, p), (std::vector<pv::OverlayText>{{L"hi", OverlayColumn::Left, false}}));
}

}  // namespace
