// The stored options block: layout of the defaults, CRC coverage, and the
// range checks that keep a damaged block from becoming the settings.
#include "settings/options_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

using Block = std::array<uint8_t, pv::kOptionsBlockSize>;

Block Encode(const pv::Options& o) {
  Block b;
  pv::EncodeOptions(o, b.data());
  return b;
}

pv::Options Decode(const Block& b) { return pv::DecodeOptions(b.data(), b.size()); }

void Put32(Block& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A few fields of each kind at their stored offsets, defaults and set
// values alike; the round trip covers the rest.
TEST(OptionsBlock, FieldsLieAtTheirOffsetsLittleEndian) {
  pv::Options o;
  o.crc = 0x11223344;
  std::strcpy(o.languageName, "Deutsch");
  o.dictionaryBytes = 0x1234;
  o.indexIconWidth = 0x0123;
  o.indexWindowX = -2;
  o.indexWindowHeight = 0xBEEF;
  o.slideDelayTenths = 0x010203;
  o.viewerBackground = {1, 2, 3, pv::BackgroundColour::kTranslucentOff};
  o.viewerBorder = {7, 8, 9, true};
  o.openFullScreen = true;
  o.slideSort = false;
  o.indexSortOrder = 5;

  const Block b = Encode(o);
  struct Probe { size_t at; std::vector<uint8_t> bytes; };
  const Probe probes[] = {{0, {0x44, 0x33, 0x22, 0x11}},     {8, {'D', 'e', 'u', 't', 's', 'c', 'h', 0, 0}},
                          {72, {0x34, 0x12, 0, 0}},          {84, {0, 0, 0, 0, 0, 1, 100, 0, 1, 1}},
                          {95, {1, 1, 1, 0, 0, 1, 0, 0x36, 5, 4, 0, 0, 0, 7, 8, 9, 1}}, {112, {1, 2, 3, 0x80, 1, 0, 1, 1}},
                          {128, {0x23, 0x01, 0, 0, 160, 0, 0, 0, 10, 0}}, {140, {5, 0, 0, 1}},
                          {148, {0x40, 0x40, 0x40, 0, 0xFE, 0xFF}}, {158, {0xEF, 0xBE}},
                          {160, {0x03, 0x02, 0x01, 0, 1, 1, 0, 0, 0, 1, 0, 0}}};
  for (const Probe& p : probes)
    EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), b.begin() + p.at)) << "offset " << p.at;
  EXPECT_EQ(Encode(Decode(b)), b);
}

TEST(OptionsBlock, CrcCoversExactlyBytesFourOn) {
  const pv::Options base;
  const Block b = Encode(base);
  EXPECT_EQ(pv::OptionsCrc(base), crc32(0, b.data() + 4, pv::kOptionsBlockSize - 4));

  pv::Options stored = base;
  stored.crc = 0xDEADBEEF;  // the CRC field itself is not covered
  EXPECT_EQ(pv::OptionsCrc(stored), pv::OptionsCrc(base));

  const std::function<void(pv::Options&)> changes[] = {
      [](pv::Options& o) { o.languageName[0] = 'e'; },
      [](pv::Options& o) { o.keepRecent = false; },
      [](pv::Options& o) { o.viewerByte90 = 99; },
      [](pv::Options& o) { o.indexWindowHeight = 1; },
      [](pv::Options& o) { o.slideSort = false; },  // the last stored byte
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    pv::Options o = base;
    changes[i](o);
    EXPECT_NE(pv::OptionsCrc(o), pv::OptionsCrc(base)) << "change " << i;
  }
}

TEST(OptionsBlock, UnusableBlocksGiveTheDefaults) {
  pv::Options changed;
  changed.slideLoop = true;
  const Block good = Encode(changed);
  Block crcOnly{};  // only the CRC set: still nothing stored
  Put32(crcOnly, 0, 0x12345678);
  std::vector<std::vector<uint8_t>> blocks = {{crcOnly.begin(), crcOnly.end()}, std::vector<uint8_t>(172, 0)};
  for (size_t size : {0, 171, 173}) blocks.emplace_back(good.begin(), good.end()).resize(size, 0);
  for (const auto& b : blocks) EXPECT_EQ(Encode(pv::DecodeOptions(b.data(), b.size())), Encode(pv::Options())) << b.size();
  EXPECT_EQ(Encode(pv::DecodeOptions(nullptr, pv::kOptionsBlockSize)), Encode(pv::Options()));
}

TEST(OptionsBlock, AFieldOutOfRangeGetsItsDefaultAndTheRestIsKept) {
  pv::Options base;
  base.openFullScreen = true;
  base.indexIconHeight = 300;
  base.slideLoop = true;
  base.viewerLabels[1] = 0x99;
  std::strcpy(base.languageName, "Svenska");

  // The bytes written over the block at `at`; `expect` names the field that
  // must fall back. Without it (the base holds the default already) the
  // block must simply read as before the damage.
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    std::function<void(pv::Options&)> expect = {};
  };
  const auto english = [](pv::Options& o) { std::strcpy(o.languageName, "English - US"); };
  const Case cases[] = {
      {"switch of 2", 89, {2}, [](pv::Options& o) { o.keepRecent = true; }},
      {"switch of 255", 167, {255}, [](pv::Options& o) { o.slideLoop = false; }},
      {"icon width 0", 128, {0, 0, 0, 0}}, {"icon width 31", 128, {31, 0, 0, 0}},
      {"icon height 1024", 132, {0, 4, 0, 0}, [](pv::Options& o) { o.indexIconHeight = 160; }},
      {"negative spacing", 136, {0xFF, 0xFF, 0xFF, 0xFF}}, {"sort order 0", 140, {0}}, {"sort order 6", 140, {6}},
      {"five name lines", 118, {5}}, {"display switch of 2", 122, {2}}, {"delay mode 3", 164, {3}},
      {"negative delay", 160, {0, 0, 0, 0x80}},
      {"odd dictionary size", 72, {0xE9, 3, 0, 0}, [](pv::Options& o) { o.dictionaryBytes = 0; }},
      {"huge dictionary size", 72, {0, 0, 0, 0x40}, [](pv::Options& o) { o.dictionaryBytes = 0; }},
      {"unterminated language", 8, std::vector<uint8_t>(64, 'a'), english},
      {"language leaving the folder", 8, {'.', '.', '\\', 'x', 0}, english},
      {"empty language", 8, {0}, english},
  };
  Block stored = Encode(base);
  Put32(stored, 72, 600);  // a dictionary size that is kept unless damaged
  for (const Case& c : cases) {
    Block damaged = stored;
    std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + c.at);
    pv::Options expected = Decode(stored);
    ASSERT_EQ(expected.dictionaryBytes, 600u);
    if (c.expect) c.expect(expected);
    EXPECT_EQ(Encode(Decode(damaged)), Encode(expected)) << c.what;
  }
}

TEST(OptionsBlock, RandomBlocksDecodeToFieldsInRange) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Block b;
    for (uint8_t& x : b) x = static_cast<uint8_t>(random());
    const pv::Options o = Decode(b);
    ASSERT_TRUE(o.indexIconWidth >= 32 && o.indexIconWidth <= 1023);
    ASSERT_TRUE(o.indexIconHeight >= 32 && o.indexIconHeight <= 1023);
    ASSERT_TRUE(o.indexIconSpacing >= 0 && o.indexIconSpacing <= pv::kMaxIconSpacing);
    ASSERT_TRUE(o.indexSortOrder >= 1 && o.indexSortOrder <= 5);
    ASSERT_LE(o.slideDelayMode, 2);
    ASSERT_GE(o.slideDelayTenths, 0);
    ASSERT_LE(o.indexDisplaySwitches[2], 4);
    ASSERT_LE(o.dictionaryBytes, pv::kMaxDictionaryBytes);
    ASSERT_NE(std::memchr(o.languageName, 0, sizeof o.languageName), nullptr);
    // What was decoded survives being stored and read again.
    ASSERT_EQ(Encode(Decode(Encode(o))), Encode(o));
  }
}

}  // namespace
