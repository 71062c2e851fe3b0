#include "app/preferences.h"

#include <gtest/gtest.h>

namespace {

TEST(Preferences, TitleBarChoiceGivesFrameModeAndDetails) {
  struct Case {
    uint8_t choice;
    pv::FrameMode frame;
    bool details;
  } cases[] = {
      {pv::kNoTitleBar, pv::FrameMode::Borderless, false},
      {pv::kTitleWithName, pv::FrameMode::Framed, false},
      {pv::kTitleWithDetails, pv::FrameMode::Framed, true},
      {pv::kTitleWhileMouseOver, pv::FrameMode::Hover, false},
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

TEST(Preferences, BackgroundAndOverlaysFromTheirBytes) {
  pv::Options o;
  const pv::ViewerPreferences defaults = pv::PreferencesFrom(o);
  EXPECT_EQ(defaults.frameMode, pv::FrameMode::Framed);
  EXPECT_EQ(defaults.overlays, 0x040536u) << "the first byte lowest";
  EXPECT_TRUE(defaults.automaticBackground);
  EXPECT_TRUE(defaults.translucent);
  o.viewerBackground = {0x10, 0x20, 0x30, pv::BackgroundColour::kAutomaticColourOff};
  pv::ViewerPreferences p = pv::PreferencesFrom(o);
  EXPECT_EQ(p.backgroundColour, 0x302010u);
  EXPECT_FALSE(p.automaticBackground);
  EXPECT_TRUE(p.translucent);
  o.viewerBackground.flags = pv::BackgroundColour::kTranslucentOff;
  p = pv::PreferencesFrom(o);
  EXPECT_TRUE(p.automaticBackground);
  EXPECT_FALSE(p.translucent);
}

TEST(Preferences, WhatTheViewerChangedIsStored) {
  pv::Options o;
  pv::ViewerPreferences p = pv::PreferencesFrom(o);
  p.autoSize = false;
  p.translucent = false;
  p.frameMode = pv::FrameMode::Hover;  // the viewer never changes it: not stored
  pv::StorePreferences(p, &o);
  EXPECT_FALSE(o.autoSizeToWindow);
  EXPECT_EQ(o.viewerBackground.flags, pv::BackgroundColour::kTranslucentOff);
  EXPECT_EQ(o.viewerTitleMode, pv::kTitleWithName);
  EXPECT_EQ(o.viewerBackground.red, 0x80);
}

}  // namespace
