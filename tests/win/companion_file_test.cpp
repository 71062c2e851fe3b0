// The adjustment companion is a hidden file; the platform-neutral test
// rewrites and removes it.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "viewer/adjustment_file.h"

namespace {

TEST(CompanionFile, IsHidden) {
  const std::wstring image = pvtest::Widen(pvtest::ScratchDir("companion-file") + "/shot.bmp");
  pv::ViewAdjustments v;
  v.colour.contrast = 0.5f;
  ASSERT_TRUE(pv::WriteAdjustmentFile(image.c_str(), v, 0));
  const DWORD attributes = GetFileAttributesW((image + L".pva").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace
