#include "viewer/view_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/checked_math.h"
#include "test_support.h"

namespace {

using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;
using pv::StepDirection;
using pv::ViewState;

using pvtest::PixelAt;

ImageBuffer* Frame(uint32_t w, uint32_t h, uint32_t colour, uint32_t left, uint32_t top, uint8_t disposal) {
  Ref<ImageBuffer> f = pvtest::SolidImage(w, h, colour);
  f->Frame().left = left;
  f->Frame().top = top;
  f->Frame().disposal = disposal;
  f->Frame().delay = 100;
  f->Frame().background = 0xFF0000FFu;
  return f.Detach();
}

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kWhite = 0xFFFFFFFFu, kBackground = 0xFF0000FFu;

// A 4 × 4 animation: a red frame, a green square that is undone, a white
// pixel that is cleared to the background, and a frame hanging off the canvas.
Ref<ImageBuffer> Animation(uint8_t loop) {
  Ref<ImageBuffer> first(Frame(4, 4, kRed, 0, 0, 0));
  first->Frame().canvasWidth = 4;
  first->Frame().canvasHeight = 4;
  first->Frame().loop = loop;
  ImageBuffer* second = Frame(2, 2, kGreen, 1, 1, 2);
  ImageBuffer* third = Frame(1, 1, kWhite, 0, 0, 1);
  ImageBuffer* fourth = Frame(2, 2, 0xFF123456u, 3, 3, 0);
  first->SetNext(second);
  second->SetNext(third);
  third->SetNext(fourth);
  return first;
}

TEST(ViewState, AnimationDisposesEachFrameAsItSays) {
  Ref<ImageBuffer> image = Animation(1);
  Ref<ViewState> view(new ViewState(image.get(), 0));
  ASSERT_TRUE(view->IsAnimated());
  view->BuildDisplayImage();
  ASSERT_TRUE(view->Final());
  EXPECT_TRUE(view->Final()->IsScreenCompatible());
  // The frame index and the canvas's diagonal, (0, 0) to (3, 3), after each step.
  struct Step { StepDirection direction; uint32_t frame; std::vector<uint32_t> diagonal; };
  const uint32_t last = 0xFF123456u;  // the rest of that frame lies off the canvas
  const Step steps[] = {
      {StepDirection::Next, 1, {kRed, kGreen, kGreen, kRed}},
      {StepDirection::Next, 2, {kWhite, kRed, kRed, kRed}},         // the green square is undone
      {StepDirection::Next, 3, {kBackground, kRed, kRed, last}},    // the white pixel becomes background
      {StepDirection::Previous, 2, {kWhite, kRed, kRed, kRed}},     // replayed: the same as on the way forward
      {StepDirection::Next, 3, {kBackground, kRed, kRed, last}},
      // Past the last frame a looping animation starts again on a fresh
      // canvas, and before its first comes its last.
      {StepDirection::Next, 0, {kRed, kRed, kRed, kRed}},
      {StepDirection::Previous, 3, {kBackground, kRed, kRed, last}},
  };
  for (const Step& s : steps) {
    ASSERT_TRUE(view->StepFrame(s.direction));
    EXPECT_EQ(view->FrameIndex(), s.frame);
    std::vector<uint32_t> diagonal;
    for (uint32_t i = 0; i < 4; ++i) diagonal.push_back(PixelAt(*view->Final(), i, i));
    EXPECT_EQ(diagonal, s.diagonal) << "frame " << s.frame;
    EXPECT_EQ(view->Final()->Dimensions(), (pv::ImageSize{4, 4}));
    if (s.frame == 0) {
      EXPECT_EQ(view->Source(), image.get());
    }
  }
  EXPECT_EQ(view->FrameCount(), 4u);
}

TEST(ViewState, AnimationWithoutLoopStopsAtItsLastFrame) {
  Ref<ImageBuffer> image = Animation(0);
  Ref<ViewState> view(new ViewState(image.get(), 0));
  view->BuildDisplayImage();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(view->StepFrame(StepDirection::Next));
  EXPECT_FALSE(view->StepFrame(StepDirection::Next));
  ASSERT_TRUE(view->StepFrame(StepDirection::First));
  EXPECT_EQ(view->Source(), image.get());
  EXPECT_FALSE(view->StepFrame(StepDirection::Previous));
}

TEST(ViewState, FrameWithoutMemoryToDrawItReturnsToTheFirstFrame) {
  Ref<ImageBuffer> image = Animation(1);
  // A grey frame is converted before it is drawn; that copy is what fails.
  Ref<ImageBuffer> grey(pv::CreateImageBuffer(PixelFormat::Grey8, {64, 64}, false));
  ASSERT_TRUE(grey);
  grey->Frame().delay = 100;
  image->Frame().next->SetNext(grey.Detach());
  Ref<ViewState> view(new ViewState(image.get(), 0));
  view->BuildDisplayImage();
  ASSERT_TRUE(view->StepFrame(StepDirection::Next));
  const uint64_t limit = pv::ImagePixelLimit();
  pv::SetImagePixelLimit(1000);
  const bool stepped = view->StepFrame(StepDirection::Next);
  pv::SetImagePixelLimit(limit);
  EXPECT_FALSE(stepped);
  EXPECT_EQ(view->Source(), image.get());
  ASSERT_TRUE(view->Final());
  EXPECT_EQ(PixelAt(*view->Final(), 1, 1), kRed) << "not the green square left half disposed";
}

TEST(ViewState, PagesAreShownOneAtATime) {
  Ref<ImageBuffer> first = pvtest::SolidImage(3, 2, kRed);
  first->Frame().delay = pv::kDelayWaitForUser;
  ImageBuffer* second = pvtest::SolidImage(5, 7, kGreen).Detach();
  second->Frame().delay = pv::kDelayWaitForUser;
  first->SetNext(second);
  Ref<ViewState> view(new ViewState(first.get(), 0));
  EXPECT_FALSE(view->IsAnimated());
  view->BuildDisplayImage();
  EXPECT_EQ(view->DisplayedSize(), (pv::ImageSize{3, 2}));
  EXPECT_FALSE(view->StepFrame(StepDirection::Previous));
  ASSERT_TRUE(view->StepFrame(StepDirection::Next));
  EXPECT_EQ(view->Source(), second);
  EXPECT_EQ(view->DisplayedSize(), (pv::ImageSize{5, 7}));
  EXPECT_EQ(PixelAt(*view->Final(), 4, 6), kGreen);
  EXPECT_FALSE(view->StepFrame(StepDirection::Next));
  ASSERT_TRUE(view->StepFrame(StepDirection::Previous));
  EXPECT_EQ(view->Source(), first.get());
}

TEST(ViewState, AdjustmentsThenOrientationThenCrop) {
  Ref<ImageBuffer> grey = pvtest::ImageOf(PixelFormat::Grey8, 3, 2, {0, 10, 20, 30, 40, 50});
  Ref<ViewState> view(new ViewState(grey.get(), 0));
  view->SetAdjustments({.colour = {.invert = true}, .orientation = 1});
  view->SetCrop({0, 1, 2, 1});
  EXPECT_EQ(view->ColourCount(), 1);
  view->BuildDisplayImage();
  const ImageBuffer* final = view->Final();
  ASSERT_TRUE(final);
  // Turned: 30 0 / 40 10 / 50 20; cropped to the middle row; inverted.
  ASSERT_EQ(final->Dimensions(), (pv::ImageSize{2, 1}));
  EXPECT_EQ(final->Format(), PixelFormat::Grey8);
  EXPECT_TRUE(final->IsScreenCompatible());
  EXPECT_EQ(pvtest::SamplesOf(*final), (std::vector<double>{255 - 40, 255 - 10}));
  EXPECT_EQ(view->BaseSize(), (pv::ImageSize{2, 1}));

  // Changing the orientation drops the derived stages.
  view->SetOrientation(0);
  EXPECT_EQ(view->Final(), nullptr);
  view->BuildDisplayImage();
  EXPECT_EQ(view->Final()->Row(0)[1], 255 - 40);  // row 1 of the unturned image
}

TEST(ViewState, ZoomScalesTheFinalImageAndRefusesImpossibleValues) {
  Ref<ImageBuffer> image = pvtest::SolidImage(2, 2, 0xFF336699u);
  Ref<ViewState> view(new ViewState(image.get(), 0));
  view->BuildDisplayImage();
  ASSERT_TRUE(view->SetZoom(2));
  EXPECT_EQ(view->Final(), nullptr);
  view->BuildDisplayImage();
  ASSERT_TRUE(view->Final());
  EXPECT_EQ(view->Final()->Dimensions(), (pv::ImageSize{4, 4}));
  EXPECT_TRUE(view->Final()->IsScreenCompatible());
  EXPECT_EQ(PixelAt(*view->Final(), 3, 3), 0xFF336699u);

  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1.0, 0.0, 0.5}) {
    EXPECT_FALSE(view->SetZoom(bad)) << bad;
    EXPECT_EQ(view->Zoom(), 2.0);
  }
  ASSERT_TRUE(view->SetZoom(1e12));
  EXPECT_LE(view->Zoom(), pv::MaxZoom({2, 2}, 1));
  EXPECT_GT(view->Zoom(), 1000);

  // Without memory for the scaled image the view shows the image at 100 %
  // and says so through its zoom, so the window can restore its own.
  ASSERT_TRUE(view->SetZoom(3));
  const uint64_t limit = pv::ImagePixelLimit();
  pv::SetImagePixelLimit(20);
  view->BuildDisplayImage();
  pv::SetImagePixelLimit(limit);
  EXPECT_EQ(view->Zoom(), 1.0);
  ASSERT_TRUE(view->Final());
  EXPECT_EQ(view->Final()->Dimensions(), (pv::ImageSize{2, 2}));
}

TEST(ViewState, WideSamplesAreConvertedForTheScreen) {
  Ref<ImageBuffer> wide(pv::CreateImageBuffer(PixelFormat::Rgba16, {2, 1}, false));
  Ref<ViewState> view(new ViewState(wide.get(), 0));
  view->BuildDisplayImage();
  ASSERT_TRUE(view->Final());
  EXPECT_EQ(view->Final()->Format(), PixelFormat::Rgba8);
  EXPECT_TRUE(view->Final()->IsScreenCompatible());

  pv::ViewOptions offscreen;
  offscreen.needScreenBuffer = false;
  Ref<ViewState> plain(new ViewState(wide.get(), 0, offscreen));
  plain->BuildDisplayImage();
  EXPECT_EQ(plain->Final(), wide.get());
}

TEST(ViewState, TransparentImagesAreFlattenedOnlyWhenNotRenderedWithAlpha) {
  Ref<ImageBuffer> image = pvtest::SolidImage(2, 2, 0x80204060u);
  image->SetUsesAlpha(1);
  image->Frame().background = kGreen;
  pv::ViewOptions flat;
  flat.renderWithAlpha = false;
  Ref<ViewState> flattened(new ViewState(image.get(), 0, flat));
  flattened->BuildDisplayImage();
  // Half of each colour over half green: green 64 × 128 / 255 + 255 × 127 / 255 = 159.
  EXPECT_EQ(PixelAt(*flattened->Final(), 1, 1), 0xFF109F30u);
  EXPECT_EQ(flattened->Final()->UsesAlpha(), 0);
  // Kept, the colours are multiplied by alpha for blending: 0x20 × 128 / 255 = 16.
  Ref<ViewState> kept(new ViewState(image.get(), 0));
  kept->BuildDisplayImage();
  EXPECT_EQ(PixelAt(*kept->Final(), 1, 1), 0x80102030u);
  EXPECT_EQ(kept->Final()->UsesAlpha(), 2);
}

TEST(ViewState, IndexedImagesAreAdjustedThroughTheirColoursAndSharpenedAsColour) {
  Ref<ImageBuffer> indexed = pvtest::ImageOf(PixelFormat::Indexed8, 3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0});
  indexed->Palette()[0] = 0xFF0A141Eu;
  indexed->Palette()[1] = 0xFF0A1482u;  // blue 100 more
  Ref<ViewState> view(new ViewState(indexed.get(), 0));
  view->SetAdjustments({.colour = {.invert = true}});
  view->BuildDisplayImage();
  EXPECT_EQ(PixelAt(*view->Final(), 2, 0), 0xFFF5EBE1u);
  // Sharpened as colour: inverted, the dot's blue is 125 among 225, and the
  // blur keeps a quarter of it: 125 + (125 - 200).
  view->SetAdjustments({.colour = {.invert = true}, .sharpening = 1});
  view->BuildDisplayImage();
  EXPECT_EQ(view->Final()->Format(), PixelFormat::Rgba8);
  EXPECT_EQ(PixelAt(*view->Final(), 1, 1), 0xFFF5EB32u);
}

TEST(ViewState, CancelledBuildLeavesTheStagesMissing) {
  Ref<ImageBuffer> image = pvtest::SolidImage(2, 2, kRed);
  Ref<ViewState> view(new ViewState(image.get(), 0));
  pv::CancelFlag cancel{1};
  view->BuildDisplayImage(&cancel);
  EXPECT_EQ(view->Final(), nullptr);
}

TEST(ViewState, CompanionFileOverridesTheImagesOrientation) {
  const std::string dir = pvtest::ScratchDir("view-state");
  const std::wstring path = pvtest::Widen(dir + "/a.png");
  pv::ViewAdjustments stored;
  stored.orientation = 2;
  stored.colour.gamma = 1.5f;
  ASSERT_TRUE(pv::WriteAdjustmentFile(path.c_str(), stored, 6));
  Ref<ImageBuffer> image = pvtest::SolidImage(2, 2, kRed);
  Ref<ViewState> view(new ViewState(image.get(), 6));
  EXPECT_EQ(view->Orientation(), 6);
  view->LoadAdjustments(L"<clipboard>");
  EXPECT_EQ(view->Orientation(), 6);
  view->LoadAdjustments(path.c_str());
  EXPECT_EQ(view->Orientation(), 2);
  EXPECT_EQ(view->ColourCount(), 1);
}

}  // namespace
