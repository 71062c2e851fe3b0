#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/lzw.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A code stream written by hand: codes of the given widths, least
// significant bit first, cut into sub-blocks of `block` bytes.
struct Code { uint32_t value, width; };
Bytes Stream(uint8_t minimum, const std::vector<Code>& codes, size_t block = 255, bool terminate = true) {
  Bytes packed;
  uint64_t bits = 0;
  uint32_t count = 0;
  for (const Code& c : codes) {
    bits |= uint64_t{c.value} << count;
    count += c.width;
    while (count >= 8) {
      packed.push_back(static_cast<uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  }
  if (count) packed.push_back(static_cast<uint8_t>(bits));
  Bytes out = {minimum};
  for (size_t i = 0; i < packed.size(); i += block) {
    const size_t n = std::min(block, packed.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), packed.begin() + static_cast<long>(i), packed.begin() + static_cast<long>(i + n));
  }
  if (terminate) out.push_back(0);
  return out;
}

pv::LzwResult Decode(const Bytes& stream, Bytes* out, size_t capacity) {
  out->assign(capacity, 0xEE);
  return pv::LzwDecode(out->data(), capacity, stream.data(), stream.size());
}

// The published sample picture of the widely used GIF walkthrough, whose
// strings repeat a few bytes apart, is decoded in the GIF corpus test.
TEST(LzwDecode, HandWrittenStreams) {
  // expected: the bytes written
  struct Case { const char* name; Bytes stream; size_t capacity; Bytes expected; pv::LzwEnd end; };
  // Minimum code size 2: clear 4, end 5, first free code 6, 3-bit codes.
  // Two whole bytes of codes without an end code:
  const Bytes kNoEnd = Stream(2, {{4, 3}, {1, 3}, {2, 3}, {1, 3}, {3, 4}});
  Bytes zeroBlock = Stream(2, {{4, 3}, {1, 3}, {2, 3}, {1, 3}, {3, 4}}, 1);  // 2, 1, b0, 1, b1, 0
  zeroBlock[3] = 0;
  Bytes cutBlock = Stream(2, {{4, 3}, {1, 3}, {2, 3}, {1, 3}, {3, 4}}, 255, false);  // 2, 2, b0, b1
  cutBlock[1] = 9;
  const Case cases[] = {
      // After the entry at 7 codes are 4 bits wide.
      {"literals", Stream(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}), 10, {1, 2, 3}, pv::LzwEnd::EndCode},
      // Code 6 is entered after the second code: "1 2"; reading it repeats them.
      {"entered string", Stream(2, {{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}}), 10, {1, 2, 1, 2}, pv::LzwEnd::EndCode},
      // The code being entered stands for the previous string and its first byte.
      {"code equal to the next free code", Stream(2, {{4, 3}, {3, 3}, {6, 3}, {5, 3}}), 10, {3, 3, 3},
       pv::LzwEnd::EndCode},
      // Above the next free code the table is undefined: stop, keep what came before.
      {"code beyond the next free code", Stream(2, {{4, 3}, {1, 3}, {7, 3}, {2, 3}, {5, 3}}), 10, {1},
       pv::LzwEnd::Damaged},
      {"string code right after clear", Stream(2, {{4, 3}, {6, 3}, {5, 3}}), 10, {}, pv::LzwEnd::Damaged},
      {"no clear code at the start", Stream(2, {{1, 3}, {1, 3}, {6, 3}, {5, 4}}), 10, {1, 1, 1, 1},
       pv::LzwEnd::EndCode},
      {"width grows after the table passes 2^width - 1",
       Stream(2, {{4, 3}, {0, 3}, {1, 3}, {1, 3}, {7, 4}, {5, 4}}), 10, {0, 1, 1, 1, 1}, pv::LzwEnd::EndCode},
      // A clear resets the table: code 6 must be entered anew.
      {"clear resets", Stream(2, {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {0, 3}, {6, 3}, {5, 4}}), 10,
       {1, 2, 3, 0, 3, 0}, pv::LzwEnd::EndCode},
      {"output full", Stream(2, {{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 3}}), 3, {1, 2, 1}, pv::LzwEnd::OutputFull},
      {"no end code", kNoEnd, 10, {1, 2, 1, 3}, pv::LzwEnd::DataEnd},
      // A zero-length sub-block ends the data even when more bytes follow.
      {"zero-length block", zeroBlock, 10, {1}, pv::LzwEnd::DataEnd},
      // A block longer than the data holds what is there.
      {"block cut by the end of the data", cutBlock, 10, {1, 2, 1, 3}, pv::LzwEnd::DataEnd},
      {"empty data", {}, 10, {}, pv::LzwEnd::DataEnd},
      {"minimum code size 0", Stream(0, {{1, 1}}), 10, {}, pv::LzwEnd::Damaged},
      {"minimum code size 12", Stream(12, {{4096, 13}}), 10, {}, pv::LzwEnd::Damaged},
      // Roots above 255 keep their low byte.
      {"minimum code size 11", Stream(11, {{2048, 12}, {0x105, 12}, {2049, 12}}), 10, {5}, pv::LzwEnd::EndCode},
      {"minimum code size 1", Stream(1, {{2, 2}, {1, 2}, {0, 2}, {4, 3}, {3, 3}}), 10, {1, 0, 1, 0},
       pv::LzwEnd::EndCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    const pv::LzwResult r = Decode(c.stream, &out, c.capacity);
    EXPECT_EQ(r.end, c.end);
    ASSERT_EQ(r.written, c.expected.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(r.written)), c.expected);
    // Nothing beyond what was written is touched.
    for (size_t i = r.written; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
  }
}

// Inputs of many shapes: every encoding decodes back to its input, within the bound.
TEST(LzwRoundTrip, RandomisedInputsDecodeToThemselves) {
  std::mt19937 rng(20261206);
  // alphabet: distinct byte values; runs: mean run length
  struct Shape { const char* name; uint32_t alphabet; uint32_t runs; };
  const Shape shapes[] = {{"noise", 256, 1}, {"small alphabet", 4, 1}, {"two values", 2, 1},
                          {"long runs", 16, 200}, {"one value", 1, 1}, {"text-like", 40, 2}};
  const size_t lengths[] = {0, 1, 2, 3, 17, 254, 255, 256, 257, 4095, 4096, 4097, 20000, 150000};
  for (const Shape& s : shapes) {
    for (size_t n : lengths) {
      SCOPED_TRACE(std::string(s.name) + ", " + std::to_string(n) + " bytes");
      Bytes in;
      while (in.size() < n) {
        const uint8_t v = static_cast<uint8_t>(rng() % s.alphabet * (256 / s.alphabet));
        const size_t run = 1 + rng() % (2 * s.runs);
        for (size_t i = 0; i < run && in.size() < n; ++i) in.push_back(v);
      }
      Bytes stream(pv::LzwEncodeBound(n));
      stream.resize(pv::LzwEncode(stream.data(), in.data(), n));
      ASSERT_LE(stream.size(), pv::LzwEncodeBound(n));
      ASSERT_EQ(stream.front(), 8);
      ASSERT_EQ(stream.back(), 0);
      Bytes out;
      const pv::LzwResult r = Decode(stream, &out, n + 1);
      EXPECT_EQ(r.end, pv::LzwEnd::EndCode);
      ASSERT_EQ(r.written, n);
      out.resize(n);
      EXPECT_TRUE(out == in);
    }
  }
}

}  // namespace
