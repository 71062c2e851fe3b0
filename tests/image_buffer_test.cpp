#include <gtest/gtest.h>

#include <cstdint>

#include "core/image_buffer.h"

namespace {

using pv::CreateImageBuffer;
using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

TEST(ImageBuffer, GeometryLeavesSlackAndAnExtraRow) {
  struct Case { PixelFormat format; uint32_t width, height, minRowBytes, minRows; uint32_t stride, rowCount; };
  const Case cases[] = {
      {PixelFormat::Grey8, 1, 1, 0, 0, 48, 2},           // 1 + 32 rounded up to 48
      {PixelFormat::Rgba8, 3, 5, 0, 0, 12, 6},           // 12 + 32 = 44 -> 48 bytes
      {PixelFormat::Rgba16, 10, 2, 0, 0, 14, 3},         // 80 + 32 = 112 bytes
      {PixelFormat::RgbaF, 1, 1, 0, 0, 3, 2},            // 16 + 32 = 48 bytes
      {PixelFormat::Grey16, 7, 4, 0, 0, 24, 5},          // 14 + 32 = 46 -> 48 bytes
      {PixelFormat::Indexed8, 5, 5, 200, 9, 208, 9},     // the decoder's minimums win
      {PixelFormat::GreyF, 4, 4, 10, 2, 12, 5},          // smaller minimums are ignored
  };
  for (const Case& c : cases) {
    Ref<ImageBuffer> b(CreateImageBuffer(c.format, {c.width, c.height}, false, c.minRowBytes, c.minRows));
    ASSERT_TRUE(b) << int(c.format);
    EXPECT_EQ(b->Stride(), c.stride) << int(c.format);
    EXPECT_EQ(b->RowCount(), c.rowCount) << int(c.format);
    EXPECT_EQ(b->RowBytes(), size_t{c.stride} * pv::BytesPerPixel(c.format));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->Pixels()) % 16, 0u);
    EXPECT_EQ(b->RowBytes() % 16, 0u);
    // Every row and the extra one are writable with their slack (ASan checks).
    for (uint32_t y = 0; y < b->RowCount(); ++y) b->Row(y)[b->RowBytes() - 1] = 1;
  }
}

TEST(ImageBuffer, RefusesEmptySizesBadFormatsAndScreenHighPrecision) {
  EXPECT_EQ(CreateImageBuffer(PixelFormat::Rgba8, {0, 5}, false), nullptr);
  EXPECT_EQ(CreateImageBuffer(PixelFormat::Rgba8, {5, 0}, false), nullptr);
  EXPECT_EQ(CreateImageBuffer(PixelFormat::Undetermined, {5, 5}, false), nullptr);
  EXPECT_EQ(CreateImageBuffer(PixelFormat::Rgba16, {5, 5}, true), nullptr);
  EXPECT_EQ(CreateImageBuffer(PixelFormat::GreyF, {5, 5}, true), nullptr);
  EXPECT_EQ(CreateImageBuffer(PixelFormat::Rgba8, {0x7FFFFFFF, 0x7FFFFFFF}, false), nullptr);
}

TEST(ImageBuffer, ScreenCompatibleKeepsGuardRows) {
  for (PixelFormat f : {PixelFormat::Rgba8, PixelFormat::Grey8, PixelFormat::Indexed8}) {
    Ref<ImageBuffer> b(CreateImageBuffer(f, {9, 4}, true, 0, 0));
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->IsScreenCompatible());
    EXPECT_GE(b->RowCount(), 5u);
    // The row above row 0 and the rows below the image belong to the block.
    b->Row(0)[-1] = 0;
    b->Row(b->RowCount() - 1)[b->RowBytes() - 17] = 0;
    if (f == PixelFormat::Grey8) {
      ASSERT_NE(b->Palette(), nullptr);
      EXPECT_EQ(b->Palette()[0x7F], 0xFF7F7F7Fu);
    }
  }
}

TEST(ImageBuffer, IndexedPalettePresetsAndFormatChanges) {
  Ref<ImageBuffer> b(CreateImageBuffer(PixelFormat::Indexed8, {2, 2}, false));
  ASSERT_TRUE(b && b->Palette());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b->Palette()) % 16, 0u);
  EXPECT_EQ(b->Palette()[255], 0xFF000000u);
  EXPECT_EQ(b->Palette()[254], 0xFFFFFFFFu);
  EXPECT_EQ(b->Palette()[253], 0u);
  EXPECT_NE(b->AsIndexed8(), nullptr);
  b->DropPalette();
  EXPECT_EQ(b->Format(), PixelFormat::Grey8);
  EXPECT_EQ(b->Palette(), nullptr);
  EXPECT_EQ(b->AsIndexed8(), nullptr);
  b->DropPalette();  // does nothing on Grey8
  EXPECT_EQ(b->Format(), PixelFormat::Grey8);
}

// Counts its own destruction, to see what a chain release frees.
struct Tracker : pv::CountedObject {
  explicit Tracker(int* n) : count(n) {}
  ~Tracker() override { ++*count; }
  int* count;
};

TEST(ImageBuffer, ReleasingTheFirstFrameFreesALongChainWithoutRecursion) {
  int auxFreed = 0;
  ImageBuffer* head = CreateImageBuffer(PixelFormat::Grey8, {1, 1}, false);
  ASSERT_TRUE(head);
  ImageBuffer* tail = head;
  const int kFrames = 200000;  // deep enough to overflow a recursive release
  for (int i = 1; i < kFrames; ++i) {
    ImageBuffer* f = CreateImageBuffer(PixelFormat::Grey8, {1, 1}, false);
    ASSERT_TRUE(f);
    f->Frame().auxiliary = new Tracker(&auxFreed);
    tail->SetNext(f);
    tail = f;
  }
  // A frame held elsewhere outlives the release of the chain with its successors.
  ImageBuffer* middle = head->Frame().next->Frame().next;
  middle->AddRef();
  head->Release();
  EXPECT_EQ(middle->Frame().previous, nullptr);
  EXPECT_EQ(auxFreed, 1);  // only the second frame went
  middle->Release();
  EXPECT_EQ(auxFreed, kFrames - 1);
}

}  // namespace
