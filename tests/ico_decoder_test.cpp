#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <string>
#include <vector>

#include "codecs/ico/ico_decoder.h"
#include "core/endian.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) { pv::StoreU32LE(&b[at], v); }

// Palette entry i is 0xFF, i, 0x40, 0x20 (A, R, G, B).
constexpr uint32_t Entry(uint32_t i) { return 0xFF004020u | i << 16; }

// A bitmap rendition of `w` x `h`; pixel (x, y) is value(x, y) (an index or
// 0xAARRGGBB); mask bit (x, y) is masked(x, y). Rows are stored bottom-up.
template <class Value, class Masked>
Bytes Bitmap(uint32_t w, uint32_t h, uint16_t bits, Value value, Masked masked) {
  Bytes b(40);
  Put32(b, 0, 40);
  Put32(b, 4, w);
  Put32(b, 8, 2 * h);
  b[12] = 1;
  b[14] = static_cast<uint8_t>(bits);
  for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i) b.insert(b.end(), {0x20, 0x40, uint8_t(i), 0});
  for (int pass = 0; pass < 2; ++pass) {
    const uint32_t depth = pass ? 1 : bits, rowBytes = (w * depth + 31) / 32 * 4;
    for (uint32_t y = h; y-- > 0;) {
      Bytes row(rowBytes);
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t v = pass ? masked(x, y) : value(x, y), bit = x * depth;
        if (depth < 8) row[bit / 8] |= static_cast<uint8_t>(v << (8 - depth - bit % 8));
        for (uint32_t k = 0; depth >= 8 && k < depth / 8; ++k) row[bit / 8 + k] = static_cast<uint8_t>(v >> (8 * k));
      }
      b.insert(b.end(), row.begin(), row.end());
    }
  }
  return b;
}

Bytes Solid(uint32_t size, uint16_t bits, uint32_t value) {
  return Bitmap(size, size, bits, [=](uint32_t, uint32_t) { return value; }, [](uint32_t, uint32_t) { return 0u; });
}

// An 8-bit RGBA PNG of one colour (R, G, B, A bytes).
Bytes Png(uint32_t w, uint32_t h, std::array<uint8_t, 4> rgba) {
  Bytes raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    for (uint32_t x = 0; x < w; ++x) raw.insert(raw.end(), rgba.begin(), rgba.end());
  }
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  Bytes idat(n);
  compress(idat.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
  idat.resize(n);
  Bytes ihdr = {0, 0, 0, uint8_t(w), 0, 0, 0, uint8_t(h), 8, 6, 0, 0, 0};
  Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (auto [type, data] : {std::pair<std::string, Bytes>{"IHDR", ihdr}, {"IDAT", idat}, {"IEND", {}}}) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(data.size() >> (8 * i)));
    const size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start)));
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  }
  return out;
}

// The directory (entries give only byte count and offset) and the images.
Bytes Ico(const std::vector<Bytes>& images) {
  Bytes f = {0, 0, 1, 0, uint8_t(images.size()), 0};
  f.resize(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    Put32(f, 6 + 16 * i + 8, static_cast<uint32_t>(images[i].size()));
    Put32(f, 6 + 16 * i + 12, static_cast<uint32_t>(f.size()));
    f.insert(f.end(), images[i].begin(), images[i].end());
  }
  return f;
}

pvtest::DecodedBytes Decode(const Bytes& f) { return pvtest::DecodeWith(pv::CreateIcoDecoder, L"ico", f); }

TEST(IcoChoice, LargestAndDeepestFirstThenTheOthersInOrder) {
  const Bytes png8 = Png(8, 8, {0x11, 0x22, 0x33, 0x80});
  struct Case {
    const char* name;
    std::vector<Bytes> images;
    std::vector<uint32_t> widths;  // of the frames, in order
    uint32_t firstPixel;
  };
  const Case cases[] = {
      {"16, 48, 32", {Solid(16, 8, 1), Solid(48, 8, 2), Solid(32, 8, 3)}, {48, 16, 32}, Entry(2)},
      {"48, 16, 32", {Solid(48, 8, 2), Solid(16, 8, 1), Solid(32, 8, 3)}, {48, 16, 32}, Entry(2)},
      {"equal renditions: the later", {Solid(4, 8, 5), Solid(4, 8, 6)}, {4, 4}, Entry(6)},
      {"deeper of equal size", {Solid(4, 32, 0xFF010203), Solid(4, 4, 7)}, {4, 4}, 0xFF010203},
      {"bitmap, then a larger PNG", {Solid(4, 32, 0xFF010203), png8}, {4, 8}, 0xFF010203},
      {"PNG, then a smaller bitmap", {png8, Solid(4, 32, 0xFF010203)}, {8, 4}, 0x80112233},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = Decode(Ico(c.images));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    std::vector<uint32_t> widths;
    for (pv::ImageBuffer* b : d.Frames()) widths.push_back(b->Width());
    EXPECT_EQ(widths, c.widths);
    EXPECT_EQ(d.Colour(0, 0), c.firstPixel);
    const std::wstring pages = L"1:" + std::to_wstring(widths.size());
    EXPECT_STREQ(d.buffer->Properties().GetText(pv::kPropPage), pages.c_str());
  }
}

TEST(IcoMask, AndMaskMakesPixelsTransparent) {
  auto second = [](uint32_t x, uint32_t) { return x == 1 ? 1u : 0u; };
  auto all = [](uint32_t, uint32_t) { return 1u; };
  struct Case {
    const char* name;
    Bytes image;
    std::vector<uint32_t> pixels;  // the top row, 0xAARRGGBB
  };
  const Case cases[] = {
      {"4 bits: index 16", Bitmap(2, 1, 4, [](uint32_t x, uint32_t) { return x + 1; }, second), {Entry(1), 0x00FFFFFF}},
      {"8 bits: highest unused index", Bitmap(2, 1, 8, [](uint32_t x, uint32_t) { return x ? 3u : 255u; }, second),
       {Entry(255), 0x00FFFFFF}},
      // Index 0 is masked at (0, 0) but also shows at (0, 16).
      {"8 bits, every index used: opaque",
       Bitmap(16, 17, 8, [](uint32_t x, uint32_t y) { return (y * 16 + x) % 256; },
              [](uint32_t x, uint32_t y) { return x + y == 0 ? 1u : 0u; }),
       {Entry(0), Entry(1)}},
      {"24 bits", Bitmap(2, 1, 24, [](uint32_t, uint32_t) { return 0x010203u; }, second), {0xFF010203, 0x00010203}},
      {"32 bits with alpha: mask unused", Bitmap(2, 1, 32, [](uint32_t x, uint32_t) { return x << 31 | 7; }, all),
       {0x00000007, 0x80000007}},
      {"32 bits, all alpha 0: mask used", Bitmap(2, 1, 32, [](uint32_t, uint32_t) { return 7u; }, second),
       {0xFF000007, 0x00000007}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = Decode(Ico({c.image}));
    ASSERT_EQ(d.decode, pv::kStatusOk);
    for (uint32_t x = 0; x < c.pixels.size(); ++x) EXPECT_EQ(d.Colour(x, 0), c.pixels[x]) << x;
  }
}

TEST(IcoDamaged, ExtentsAreCheckedAgainstTheFile) {
  const Bytes four = Bitmap(2, 2, 4, [](uint32_t, uint32_t) { return 3u; }, [](uint32_t, uint32_t) { return 0u; });
  const Bytes good = Ico({four});
  Bytes headerPastData = good, offsetPastEnd = good, countPastEnd = good, wide = good, reserved = good;
  Put32(headerPastData, 22, 0x7FFFFFFF);
  Put32(offsetPastEnd, 18, 0xFFFFFF00);
  Put32(countPastEnd, 14, 0xFFFFFFF0);
  Put32(wide, 26, 1u << 20);
  reserved[0] = 1;
  const Bytes cutRows(good.begin(), good.begin() + 22 + 40 + 64 + 4);  // the bottom row only
  const Bytes cutMask(good.begin(), good.end() - 8);
  struct Case {
    const char* name;
    Bytes file;
    pv::Status open;
    std::vector<uint32_t> pixels;  // (0, 0) and (0, 1)
  };
  const Case cases[] = {
      {"info header size past the data", headerPastData, pv::kStatusUnknownFormat, {}},
      {"data offset past the end", offsetPastEnd, pv::kStatusUnknownFormat, {}},
      {"width 2^20", wide, pv::kStatusUnknownFormat, {}},
      {"reserved 1", reserved, pv::kStatusUnknownFormat, {}},
      {"byte count past the end", countPastEnd, pv::kStatusOk, {Entry(3), Entry(3)}},
      {"colour rows cut", cutRows, pv::kStatusOk, {0x00FFFFFF, Entry(3)}},
      {"mask cut: opaque", cutMask, pv::kStatusOk, {Entry(3), Entry(3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pvtest::DecodedBytes d = Decode(c.file);
    ASSERT_EQ(d.open, c.open);
    if (pv::Failed(c.open)) continue;
    ASSERT_EQ(d.decode, pv::kStatusOk);
    for (uint32_t y = 0; y < c.pixels.size(); ++y) EXPECT_EQ(d.Colour(0, y), c.pixels[y]) << y;
  }
  // Every prefix opens and decodes, or fails with a status.
  const Bytes whole = Ico({Png(3, 2, {1, 2, 3, 4}), Solid(2, 24, 0x445566), four, Solid(3, 1, 1)});
  for (size_t n = 0; n <= whole.size(); ++n) {
    pvtest::DecodedBytes d = Decode(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
    if (pv::Succeeded(d.open)) {
      EXPECT_EQ(d.decode, pv::kStatusOk) << n;
    }
  }
}

TEST(IcoCorpus, ManifestOutcomesAndReferencePixels) {
  const std::string dir = pvtest::CorpusDir("ico");
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/ico: every ICO corpus case skipped";
  pvtest::CorpusChecks checks;
  checks.compare = [](const pvtest::CorpusCase& c, const std::vector<uint8_t>& ours, const std::vector<uint8_t>& want) {
    // The reference reads this file's pixels from a wrong offset: its
    // picture wraps around sideways.
    if (c.file == "irs-bmp_v5_with_icc.ico") return;
    pvtest::ExpectSamePixels(ours, want);
  };
  EXPECT_GT(pvtest::CheckCorpus(dir, checks), 0u);
}

}  // namespace
