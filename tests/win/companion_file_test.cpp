// The adjustment companion is a hidden file that can be rewritten and removed.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "viewer/adjustment_file.h"

namespace {

TEST(CompanionFile, IsHiddenAndCanBeRewrittenAndRemoved) {
  const std::wstring image = pvtest::Widen(pvtest::ScratchDir("companion-file") + "/shot.bmp");
  const std::wstring companion = image + L".pva";
  pv::ViewAdjustments v;
  v.colour.contrast = 0.5f;
  ASSERT_TRUE(pv::WriteAdjustmentFile(image.c_str(), v, 0));
  const DWORD attributes = GetFileAttributesW(companion.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);

  // Replacing a hidden file needs the hidden attribute asked for again.
  v.colour.contrast = -0.5f;
  ASSERT_TRUE(pv::WriteAdjustmentFile(image.c_str(), v, 0));
  pv::ViewAdjustments read;
  ASSERT_TRUE(pv::ReadAdjustmentFile(image.c_str(), &read));
  EXPECT_EQ(read.colour.contrast, -0.5f);

  ASSERT_TRUE(pv::WriteAdjustmentFile(image.c_str(), pv::ViewAdjustments{}, 0));
  EXPECT_EQ(GetFileAttributesW(companion.c_str()), INVALID_FILE_ATTRIBUTES);
  // Removing a file that is not there is no failure.
  EXPECT_TRUE(pv::WriteAdjustmentFile(image.c_str(), pv::ViewAdjustments{}, 0));
}

}  // namespace
