#include "browse/thumbnail_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <tuple>

#include "core/endian.h"
#include "test_support.h"

namespace {

using pv::ThumbnailBox;
using pv::ThumbnailEntry;

// A thumbnail of smooth (compressible) or noisy (incompressible) pixels.
ThumbnailEntry Thumb(std::wstring name, uint32_t w, uint32_t h, bool noisy, uint32_t seed = 1) {
  ThumbnailEntry e;
  e.name = std::move(name);
  e.width = w;
  e.height = h;
  e.bitsPerPixel = 24;
  e.imageWidth = static_cast<uint16_t>(w * 8);
  e.imageHeight = static_cast<uint16_t>(h * 8);
  e.fileSize = 1000 + seed;
  e.fileTime = 0x01D9'0000'0000'0000ull + seed;
  e.flags = seed & 3;
  uint32_t state = seed * 2654435761u;
  for (uint32_t i = 0; i < w * h; ++i) {
    state = state * 1664525u + 1013904223u;
    e.pixels.push_back(noisy ? state : 0xFF000000u | (i % w) * 0x010203u);
  }
  return e;
}

uint32_t Coding(const std::vector<uint8_t>& file) { return pv::LoadU32LE(file.data() + 24) >> 28; }
uint32_t NameFlags(const std::vector<uint8_t>& file) { return pv::LoadU32LE(file.data() + 28) >> 30; }

TEST(ThumbnailIndex, RoundTripsAndChoosesNameTableAndCoding) {
  ThumbnailEntry withText = Thumb(L"b.png", 5, 7, true, 2);
  withText.hasExtraText = true;
  withText.extraText = "caption";
  struct Case {
    const char* what;
    std::vector<ThumbnailEntry> entries;
    uint32_t coding, nameFlags;
  } cases[] = {
      {"latin-1 names, smooth", {Thumb(L"caf\u00e9.jpg", 40, 30, false), Thumb(L"b.bmp", 16, 16, false, 3)}, 2, 0},
      {"one wide name", {Thumb(L"a.jpg", 40, 30, false), Thumb(L"\u65e5.png", 20, 10, false, 4)}, 2, 1},
      {"noise stays plain", {Thumb(L"n.tga", 32, 32, true), Thumb(L"m.tga", 9, 3, true, 5)}, 0, 0},
      {"extra texts", {Thumb(L"a.gif", 3, 3, true), withText}, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> file = pv::EncodeThumbnailIndex(c.entries, {160, 120});
    ASSERT_GT(file.size(), 48u);
    EXPECT_EQ(file.size() % 2, 0u);
    EXPECT_EQ(pv::LoadU32LE(file.data() + 4), file.size() - 8);
    EXPECT_EQ(Coding(file), c.coding);
    EXPECT_EQ(NameFlags(file), c.nameFlags);
    ThumbnailBox box;
    std::vector<ThumbnailEntry> back;
    ASSERT_TRUE(pv::DecodeThumbnailIndex(file.data(), file.size(), &box, &back));
    EXPECT_EQ(box, (ThumbnailBox{160, 120}));
    ASSERT_EQ(back.size(), c.entries.size());
    for (size_t i = 0; i < back.size(); ++i) {
      const ThumbnailEntry &a = c.entries[i], &b = back[i];
      EXPECT_EQ(a.name, b.name);
      EXPECT_EQ(a.pixels, b.pixels);
      EXPECT_EQ(std::tie(a.width, a.height, a.flags, a.bitsPerPixel, a.imageWidth, a.imageHeight, a.fileSize,
                         a.fileTime, a.hasExtraText, a.extraText),
                std::tie(b.width, b.height, b.flags, b.bitsPerPixel, b.imageWidth, b.imageHeight, b.fileSize,
                         b.fileTime, b.hasExtraText, b.extraText));
    }
  }
}

TEST(ThumbnailIndex, BoxMismatchAndDamageAreRefusedInBounds) {
  const std::vector<uint8_t> good =
      pv::EncodeThumbnailIndex({Thumb(L"a.jpg", 30, 20, false), Thumb(L"b.jpg", 10, 10, false, 2)}, {160, 160});
  const size_t fref = 40, firstName = fref + 24;
  const size_t data = 48 + pv::LoadU32LE(good.data() + 36);  // after the FREF data and DATA's header
  struct Case {
    const char* what;
    ThumbnailBox asked;
    std::function<void(std::vector<uint8_t>&)> damage;
  } cases[] = {
      {"asked for 128 x 128", {128, 128}, nullptr},
      {"asked for another height", {0, 100}, nullptr},
      {"not RIFF", {}, [](auto& f) { f[0] = 'X'; }},
      {"truncated in DATA", {}, [](auto& f) { f.resize(f.size() - 9); }},
      {"truncated in FREF", {}, [](auto& f) { f.resize(fref + 20); }},
      {"unknown coding", {}, [](auto& f) { f[27] = (f[27] & 0x0F) | 0x30; }},
      {"zero box", {}, [](auto& f) { pv::StoreU32LE(f.data() + 24, pv::LoadU32LE(f.data() + 24) & 0xF00000FF); }},
      {"count beyond the names", {}, [](auto& f) { pv::StoreU32LE(f.data() + 20, 3); }},
      {"oversized count", {}, [](auto& f) { pv::StoreU32LE(f.data() + 20, 0x3FFFFF); }},
      {"offset past DATA", {}, [](auto& f) { pv::StoreU32LE(f.data() + fref, 0xFC000000u); }},
      {"size past DATA", {}, [](auto& f) { pv::StoreU32LE(f.data() + fref + 4, 0x3FF | (0x3FFu << 10)); }},
      {"names without terminator", {}, [&](auto& f) { std::memset(f.data() + firstName, 'x', data - 8 - firstName); }},
      {"uncoded size too large", {}, [](auto& f) { pv::StoreU32LE(f.data() + 28, 0x3FFFFFFF); }},
      {"chunk size overflows", {}, [](auto& f) { pv::StoreU32LE(f.data() + 36, 0xFFFFFFF8u); }},
      {"LZW data damaged", {}, [&](auto& f) { std::memset(f.data() + data, 0xFF, f.size() - data); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    if (c.damage) c.damage(file);
    // An exact-size copy, so a read past the end trips the sanitizer.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[file.size()]);
    std::memcpy(bytes.get(), file.data(), file.size());
    ThumbnailBox box = c.asked;
    std::vector<ThumbnailEntry> entries;
    EXPECT_FALSE(pv::DecodeThumbnailIndex(bytes.get(), file.size(), &box, &entries));
  }
  ThumbnailBox any;
  std::vector<ThumbnailEntry> entries;
  EXPECT_TRUE(pv::DecodeThumbnailIndex(good.data(), good.size(), &any, &entries));
}

TEST(ThumbnailIndex, FileIsWrittenReadAndDeletedWhenEmpty) {
  pv::ThumbnailIndex index;
  index.folder = pvtest::Widen(pvtest::ScratchDir("thumbnail_index"));
  index.entries = {Thumb(L"x.png", 12, 8, false), Thumb(L"no-thumbnail.png", 0, 0, false)};
  ASSERT_TRUE(pv::WriteThumbnailIndex(index, {64, 48}));
  pv::ThumbnailIndex back;
  ThumbnailBox box{64, 0};
  ASSERT_TRUE(pv::ReadThumbnailIndex(&back, index.folder, &box));
  EXPECT_EQ(box, (ThumbnailBox{64, 48}));
  ASSERT_EQ(back.entries.size(), 1u);
  EXPECT_EQ(back.entries[0].pixels, index.entries[0].pixels);

  index.entries.clear();
  ASSERT_TRUE(pv::WriteThumbnailIndex(index, {64, 48}));
  box = {};
  EXPECT_FALSE(pv::ReadThumbnailIndex(&back, index.folder, &box));
  EXPECT_FALSE(pv::WriteThumbnailIndex(pv::ThumbnailIndex{}, {64, 48}));
}

}  // namespace
