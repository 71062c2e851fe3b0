#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/byte_reader.h"
#include "core/byte_source.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"

namespace {

TEST(ByteSource, MapsAWholeFileAndKnowsItsTime) {
  std::string dir = pvtest::ScratchDir("bytesource");
  std::vector<uint8_t> bytes(70000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  std::wstring path = pvtest::Widen(dir + "/data.bin");
  ASSERT_TRUE(pv::WriteWholeFile(path, bytes));
  pv::Ref<pv::MappedFileSource> s(new pv::MappedFileSource());
  ASSERT_TRUE(s->Open(path.c_str()));
  ASSERT_EQ(s->Size(), bytes.size());
  EXPECT_EQ(std::memcmp(s->Data(), bytes.data(), bytes.size()), 0);
  // Pages a reader is done with come back unchanged when read again.
  s->DoneWith(100, 60000);
  s->DoneWith(69000, 5000);
  EXPECT_EQ(std::memcmp(s->Data(), bytes.data(), bytes.size()), 0);
  EXPECT_EQ(std::wstring(s->Path()), path);
  uint64_t t = 0;
  ASSERT_TRUE(s->LastWriteTime(&t));
  EXPECT_GT(t, 125911584000000000ull);  // after 2000
  // That others can still read a held file is in the Windows mapped-file test.
}

TEST(ByteSource, MissingAndEmptyFilesFail) {
  std::string dir = pvtest::ScratchDir("bytesource-empty");
  std::wstring empty = pvtest::Widen(dir + "/empty.bin");
  ASSERT_TRUE(pv::WriteWholeFile(empty, {}));
  pv::Ref<pv::MappedFileSource> s(new pv::MappedFileSource());
  EXPECT_FALSE(s->Open(empty.c_str()));
  EXPECT_EQ(s->Data(), nullptr);
  EXPECT_FALSE(s->Open(pvtest::Widen(dir + "/missing.bin").c_str()));
  EXPECT_EQ(s->Data(), nullptr);
}

TEST(ByteReader, ReadsFailCleanlyAtTheEnd) {
  const uint8_t data[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00, 0x08};
  pv::ByteReader r(data, 6);
  uint32_t v32;
  uint16_t v16;
  ASSERT_TRUE(r.U32BE(v32));
  EXPECT_EQ(v32, 0x01020304u);
  EXPECT_FALSE(r.U32BE(v32));  // two bytes left
  EXPECT_EQ(r.Offset(), 4u);   // a failed read leaves the position
  ASSERT_TRUE(r.U16LE(v16));
  EXPECT_EQ(v16, 0x0605);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_FALSE(r.Skip(1));
  EXPECT_FALSE(r.Seek(7));
  EXPECT_EQ(r.Span(5, 2), nullptr);
  EXPECT_EQ(r.Span(~uint64_t{0}, 2), nullptr);  // no wrap-around
  EXPECT_FALSE(r.U16LEAt(~uint64_t{0} - 1, v16));
  EXPECT_EQ(pv::ByteReader(nullptr, 100).Size(), 0u);
}

// A part read through a reader of its own ends where the part ends, even
// where the data around it goes on.
TEST(ByteReader, PartsEndWhereTheyEnd) {
  const uint8_t data[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00, 0x08};
  pv::ByteReader whole(data, sizeof data), part;
  uint8_t v = 0;
  ASSERT_TRUE(whole.Sub(2, 3, &part));
  EXPECT_TRUE(part.U8(v) && part.Skip(2));
  EXPECT_EQ(v, 3);
  EXPECT_FALSE(part.U8(v));
  EXPECT_FALSE(whole.Sub(6, 3, &part));
  EXPECT_FALSE(whole.Sub(~uint64_t{0}, 2, &part));
  // The bytes up to a terminator, and a run from an offset to the end.
  ASSERT_TRUE(whole.Skip(1) && whole.TakeUntil(0, &part));
  EXPECT_EQ(part.Size(), 5u);
  EXPECT_EQ(whole.Offset(), 7u);
  EXPECT_FALSE(whole.TakeUntil(0, &part));
  EXPECT_EQ(whole.Offset(), 7u);
  EXPECT_EQ(whole.From(6).Size(), 2u);
  EXPECT_EQ(whole.From(9).Size(), 0u);
  EXPECT_TRUE(whole.StartsWith("\x01\x02", 2));
  EXPECT_FALSE(whole.From(7).StartsWith("\x08\x09", 2));
  ASSERT_TRUE(whole.Seek(2) && whole.TakeSub(2, &part));
  EXPECT_FALSE(whole.TakeSub(5, &part));
  EXPECT_EQ(whole.Offset(), 4u);
}

}  // namespace
