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
  o.openFullScreen = true;
  o.slideSort = false;
  o.indexSortOrder = 5;

  const Block b = Encode(o);
  struct Probe {
    size_t at;
    std::vector<uint8_t> bytes;
  };
  const Probe probes[] = {{0, {0x44, 0x33, 0x22, 0x11}},     {8, {'D', 'e', 'u', 't', 's', 'c', 'h', 0, 0}},
                          {72, {0x34, 0x12, 0, 0}},          {84, {0, 0, 0, 0, 0, 1, 100, 0, 1, 1}},
                          {95, {1, 1, 1, 0, 0, 1, 0, 0x36, 5, 4, 0}}, {112, {1, 2, 3, 0x80, 1, 0, 1, 1}},
                          {128, {0x23, 0x01, 0, 0, 160, 0, 0, 0, 10, 0}}, {140, {5, 0, 0, 1}},
                          {148, {0x40, 0x40, 0x40, 0, 0xFE, 0xFF}}, {158, {0xEF, 0xBE}},
                          {160, {0x03, 0x02, 0x01, 0, 1, 1, 0, 0, 0, 1, 0, 0}}};
  for (const Probe& p : probes) {
    EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), b.begin() + p.at)) << "offset " << p.at;
  }
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
  const Block defaults = Encode(pv::Options());
  const Block zero{};
  EXPECT_EQ(Encode(Decode(zero)), defaults);
  // Only the CRC set: still nothing stored.
  Block crcOnly{};
  Put32(crcOnly, 0, 0x12345678);
  EXPECT_EQ(Encode(pv::DecodeOptions(crcOnly.data(), crcOnly.size())).at(90), 100);

  pv::Options changed;
  changed.slideLoop = true;
  const Block good = Encode(changed);
  for (size_t size : {size_t{0}, size_t{171}, size_t{173}}) {
    std::vector<uint8_t> stored(good.begin(), good.end());
    stored.resize(size, 0);
    EXPECT_EQ(Encode(pv::DecodeOptions(stored.data(), stored.size())), defaults) << "size " << size;
  }
  EXPECT_EQ(Encode(pv::DecodeOptions(nullptr, pv::kOptionsBlockSize)), defaults);
}

TEST(OptionsBlock, AFieldOutOfRangeGetsItsDefaultAndTheRestIsKept) {
  pv::Options base;
  base.openFullScreen = true;
  base.indexIconHeight = 300;
  base.slideLoop = true;
  base.viewerLabels[1] = 0x99;
  std::strcpy(base.languageName, "Svenska");

  // `expect` names the field that must fall back; where the base holds the
  // default already, the block must simply read as before the damage.
  struct Case {
    const char* what;
    std::function<void(Block&)> damage;
    std::function<void(pv::Options&)> expect;
  };
  const Case cases[] = {
      {"switch of 2", [](Block& b) { b[89] = 2; }, [](pv::Options& o) { o.keepRecent = true; }},
      {"switch of 255", [](Block& b) { b[167] = 255; }, [](pv::Options& o) { o.slideLoop = false; }},
      {"icon width 0", [](Block& b) { Put32(b, 128, 0); }, [](pv::Options&) {}},
      {"icon width 31", [](Block& b) { Put32(b, 128, 31); }, [](pv::Options&) {}},
      {"icon height 1024", [](Block& b) { Put32(b, 132, 1024); },
       [](pv::Options& o) { o.indexIconHeight = 160; }},
      {"negative spacing", [](Block& b) { Put32(b, 136, 0xFFFFFFFF); }, [](pv::Options&) {}},
      {"sort order 0", [](Block& b) { b[140] = 0; }, [](pv::Options&) {}},
      {"sort order 6", [](Block& b) { b[140] = 6; }, [](pv::Options&) {}},
      {"five name lines", [](Block& b) { b[118] = 5; }, [](pv::Options&) {}},
      {"display switch of 2", [](Block& b) { b[122] = 2; }, [](pv::Options&) {}},
      {"delay mode 3", [](Block& b) { b[164] = 3; }, [](pv::Options&) {}},
      {"negative delay", [](Block& b) { Put32(b, 160, 0x80000000); }, [](pv::Options&) {}},
      {"odd dictionary size", [](Block& b) { Put32(b, 72, 1001); }, [](pv::Options& o) { o.dictionaryBytes = 0; }},
      {"huge dictionary size", [](Block& b) { Put32(b, 72, 0x40000000); },
       [](pv::Options& o) { o.dictionaryBytes = 0; }},
      {"unterminated language",
       [](Block& b) { std::memset(b.data() + 8, 'a', 64); },
       [](pv::Options& o) { std::strcpy(o.languageName, "English - US"); }},
      {"language leaving the folder",
       [](Block& b) { std::memcpy(b.data() + 8, "..\\x", 5); },
       [](pv::Options& o) { std::strcpy(o.languageName, "English - US"); }},
      {"empty language", [](Block& b) { b[8] = 0; },
       [](pv::Options& o) { std::strcpy(o.languageName, "English - US"); }},
  };
  Block stored = Encode(base);
  Put32(stored, 72, 600);  // a dictionary size that is kept unless damaged
  for (const Case& c : cases) {
    Block damaged = stored;
    c.damage(damaged);
    pv::Options expected = Decode(stored);
    ASSERT_EQ(expected.dictionaryBytes, 600u);
    c.expect(expected);
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
