// The screen-compatible buffer is a real DIB section that GDI can draw from.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/image_buffer.h"

namespace {

TEST(ScreenBuffer, IsATopDownDibSectionWithRowZeroBelowAGuardRow) {
  pv::Ref<pv::ImageBuffer> b(pv::CreateImageBuffer(pv::PixelFormat::Rgba8, {5, 3}, true));
  ASSERT_TRUE(b);
  const pv::ScreenBitmap* bitmap = b->AsScreenBitmap();
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION section = {};
  ASSERT_EQ(GetObjectW(static_cast<HBITMAP>(bitmap->bitmap), sizeof section, &section), int(sizeof section));
  EXPECT_EQ(section.dsBmih.biWidth, static_cast<LONG>(b->Stride()));
  EXPECT_EQ(std::abs(section.dsBmih.biHeight), static_cast<LONG>(b->RowCount() + 1));  // top-down: see GetPixel below
  EXPECT_EQ(section.dsBmih.biBitCount, 32);
  // Row 0 starts one row and 16 bytes into the section.
  EXPECT_EQ(b->Pixels(), static_cast<uint8_t*>(section.dsBm.bmBits) + b->RowBytes() + 16);

  // A pixel written into the buffer is what GDI reads from the DC.
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF000000u | (x * 40) << 16 | y * 60;
  GdiFlush();
  HDC dc = static_cast<HDC>(bitmap->deviceContext);
  // GetPixel sees the section's own coordinates: row 0 of the image is section row 1, 16 bytes in.
  const int left = 16 / 4;
  EXPECT_EQ(GetPixel(dc, left + 2, 1 + 1), RGB(80, 0, 60));
  EXPECT_EQ(GetPixel(dc, left + 4, 1 + 2), RGB(160, 0, 120));
}

TEST(ScreenBuffer, PaletteChangesReachTheColourTable) {
  pv::Ref<pv::ImageBuffer> b(pv::CreateImageBuffer(pv::PixelFormat::Indexed8, {4, 2}, true));
  ASSERT_TRUE(b);
  const pv::ScreenBitmap* bitmap = b->AsScreenBitmap();
  ASSERT_NE(bitmap, nullptr);
  const uint32_t red = 0xFFFF0000u;
  b->SetPalette(&red, 1);
  RGBQUAD table[2] = {};
  ASSERT_EQ(GetDIBColorTable(static_cast<HDC>(bitmap->deviceContext), 0, 2, table), 2u);
  EXPECT_EQ(table[0].rgbRed, 0xFF);
  EXPECT_EQ(table[0].rgbBlue, 0);

  pv::Ref<pv::ImageBuffer> grey(pv::CreateImageBuffer(pv::PixelFormat::Grey8, {4, 2}, true));
  ASSERT_TRUE(grey && grey->AsScreenBitmap());
  ASSERT_EQ(GetDIBColorTable(static_cast<HDC>(grey->AsScreenBitmap()->deviceContext), 0, 2, table), 2u);
  EXPECT_EQ(table[1].rgbGreen, 1);  // the grey ramp
}

}  // namespace
