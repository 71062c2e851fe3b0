#include "app/preferences.h"

#include <gtest/gtest.h>

namespace {

TEST(Preferences, TitleBarChoiceGivesFrameModeAndDetails) {
  struct Case { uint8_t choice; pv::FrameMode frame; bool details; } cases[] = {
      {pv::kNoTitleBar, pv::FrameMode::Borderless, false}, {pv::kTitleWithName, pv::FrameMode::Framed, false},
      {pv::kTitleWithDetails, pv::FrameMode::Framed, true}, {pv::kTitleWhileMouseOver, pv::FrameMode::Hover, false},
      {9, pv::FrameMode::Framed, false},
  };
  for (const Case& c : cases) {
    pv::Options o;
    o.viewerTitleMode = c.choice;
    const pv::ViewerPreferences p = pv::PreferencesFrom(o);
    EXPECT_EQ(p.frameMode, c.frame) << int(c.choice);
    EXPECT_EQ(p.detailsInTitle, c.details) << int(c.choice);
  }
}

TEST(Preferences, WhatTheViewerChangedIsStoredAndReadBack) {
  pv::Options o;
  o.viewerBackground = {0x10, 0x20, 0x30, pv::BackgroundColour::kAutomaticColourOff};
  o.viewerLabels[0] = 1;
  o.viewerLabels[2] = 3;
  pv::ViewerPreferences p = pv::PreferencesFrom(o);
  EXPECT_EQ(p.backgroundColour, 0x302010u);  // stored blue first
  EXPECT_EQ(p.overlays & 0xFF00FFu, 0x030001u);
  EXPECT_FALSE(p.automaticBackground);
  p.autoSize = !p.autoSize;
  p.translucent = false;
  p.frameMode = pv::FrameMode::Hover;  // the viewer never changes it: not stored
  pv::StorePreferences(p, &o);
  const pv::ViewerPreferences read = pv::PreferencesFrom(o);
  EXPECT_EQ(read.autoSize, p.autoSize);
  EXPECT_FALSE(read.translucent);
  EXPECT_FALSE(read.automaticBackground);
  EXPECT_EQ(read.frameMode, pv::FrameMode::Framed);
}

}  // namespace
