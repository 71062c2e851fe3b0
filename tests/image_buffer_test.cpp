#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/image_buffer.h"

namespace {

using pv::CreateImageBuffer;
using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

// Rows are 16-byte aligned with at least 32 bytes of slack for vector
// loops, and there is an extra row; a decoder's larger minimums win.
TEST(ImageBuffer, GeometryLeavesSlackAndAnExtraRow) {
  struct Case { PixelFormat format; uint32_t width, height, minRowBytes, minRows; };
  const Case cases[] = {{PixelFormat::Grey8, 1, 1, 0, 0},     {PixelFormat::Rgba8, 3, 5, 0, 0},
                        {PixelFormat::Rgba16, 10, 2, 0, 0},   {PixelFormat::RgbaF, 1, 1, 0, 0},
                        {PixelFormat::Grey16, 7, 4, 0, 0},    {PixelFormat::Indexed8, 5, 5, 200, 9},
                        {PixelFormat::GreyF, 4, 4, 10, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    Ref<ImageBuffer> b(CreateImageBuffer(c.format, {c.width, c.height}, false, c.minRowBytes, c.minRows));
    ASSERT_TRUE(b);
    EXPECT_GE(b->RowBytes(), std::max<size_t>(size_t{c.width} * pv::BytesPerPixel(c.format) + 32, c.minRowBytes));
    EXPECT_EQ(b->RowCount(), std::max(c.height + 1, c.minRows));
    EXPECT_EQ(b->RowBytes(), size_t{b->Stride()} * pv::BytesPerPixel(c.format));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->Pixels()) % 16 + b->RowBytes() % 16, 0u);
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
    // Screen grey carries the grey ramp; indexed images the presets of the
    // entries a file leaves out: transparent, white, black.
    if (f != PixelFormat::Rgba8) {
      ASSERT_NE(b->Palette(), nullptr);
      using Entries = std::vector<uint32_t>;
      EXPECT_EQ(Entries(b->Palette() + 253, b->Palette() + 256),
                (f == PixelFormat::Grey8 ? Entries{0xFFFDFDFDu, 0xFFFEFEFEu, 0xFFFFFFFFu}
                                         : Entries{0u, 0xFFFFFFFFu, 0xFF000000u}));
    }
  }
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
