// The recent folders: order, duplicates, the 16-entry and 1024-byte limits,
// the dirty mark, and stored lists that cannot be used.
#include "settings/recent_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

Entries EntriesOf(const pv::RecentList& list) {
  Entries out;
  for (uint32_t i = 0; i < list.recentCount(); ++i) out.emplace_back(list.Entry(i));
  return out;
}

// The stored form of a list: each entry and its terminator, then an empty string.
std::vector<uint8_t> Stored(const Entries& entries) {
  std::vector<uint8_t> bytes;
  for (const std::string& e : entries) {
    bytes.insert(bytes.end(), e.begin(), e.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

// The list's bytes must be exactly its entries, with the used count and
// the final empty string where they belong.
void ExpectConsistent(const pv::RecentList& list) {
  const std::vector<uint8_t> expected = Stored(EntriesOf(list));
  ASSERT_EQ(list.recentUsed(), expected.size());
  ASSERT_LE(list.recentUsed(), pv::RecentList::kDirtyMark);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), list.recentBytes()));
}

std::string Folder(int i, size_t length) {
  std::string s = "C:\\f" + std::to_string(i) + "\\";
  s.resize(length, 'x');
  return s;
}

TEST(RecentList, PutInFrontKeepsTheNewestFirst) {
  struct Case { const char* what; Entries puts; Entries expected; };
  Entries seventeen, sixteenNewest;
  for (int i = 0; i < 17; ++i) seventeen.push_back(Folder(i, 10));
  for (int i = 16; i >= 1; --i) sixteenNewest.push_back(Folder(i, 10));
  const Case cases[] = {
      {"order", {"C:\\a", "C:\\b", "C:\\c"}, {"C:\\c", "C:\\b", "C:\\a"}},
      {"moved up, new spelling kept", {"C:\\a", "C:\\b", "c:\\A"}, {"c:\\A", "C:\\b"}},
      {"already first", {"C:\\a", "C:\\b", "c:\\B"}, {"C:\\b", "C:\\a"}},
      {"only ASCII folds", {"C:\\\xC3\xA4", "C:\\\xC3\x84"}, {"C:\\\xC3\x84", "C:\\\xC3\xA4"}},
      {"at most sixteen", seventeen, sixteenNewest},
  };
  for (const Case& c : cases) {
    pv::RecentList list;
    for (const std::string& p : c.puts) ASSERT_TRUE(list.PutInFront(p)) << c.what;
    EXPECT_EQ(EntriesOf(list), c.expected) << c.what;
    ExpectConsistent(list);
  }
}

TEST(RecentList, FullListDropsOldestToLeaveTheDirtyMarkAlone) {
  struct Case { size_t entryLength, count, newLength, expectedCount; };
  const Case cases[] = {
      {99, 10, 50, 10},  // 1001 used: one old entry gives way
      // Exactly 1024 bytes with all entries: the last would land on the dirty mark.
      {97, 10, 42, 10},
      {97, 10, 41, 11},  // 1023: fits
      {700, 1, 500, 1},
  };
  for (const Case& c : cases) {
    pv::RecentList list;
    Entries expected = {Folder(99, c.newLength)};
    for (size_t i = c.count; i-- > 0;) expected.push_back(Folder(static_cast<int>(i), c.entryLength));
    for (size_t i = expected.size(); i-- > 0;) ASSERT_TRUE(list.PutInFront(expected[i]));
    expected.resize(c.expectedCount);
    EXPECT_EQ(EntriesOf(list), expected) << c.entryLength << "/" << c.newLength;
    ExpectConsistent(list);
    EXPECT_TRUE(list.Dirty());
  }
}

TEST(RecentList, DirtyMarkFollowsChanges) {
  pv::RecentList list;
  const std::vector<uint8_t> stored = Stored({"C:\\a", "C:\\b"});
  list.Load(stored.data(), stored.size());
  EXPECT_FALSE(list.Dirty());
  EXPECT_TRUE(list.PutInFront("c:\\a"));
  EXPECT_FALSE(list.Dirty());
  EXPECT_TRUE(list.PutInFront("C:\\b"));
  EXPECT_TRUE(list.Dirty());
  list.ClearDirty();
  EXPECT_FALSE(list.PutInFront(""));
  EXPECT_FALSE(list.PutInFront(std::string(780, 'a')));
  EXPECT_FALSE(list.PutInFront("C:\\a\nb"));
  EXPECT_FALSE(list.Dirty());
  EXPECT_EQ(EntriesOf(list), (Entries{"C:\\b", "C:\\a"}));

  list.Clear();
  EXPECT_TRUE(list.Dirty());
  EXPECT_EQ(list.recentCount(), 0u);
  ExpectConsistent(list);
}

TEST(RecentList, StoredListsAreCheckedWhenLoaded) {
  Entries twenty;
  for (int i = 0; i < 20; ++i) twenty.push_back(Folder(i, 12));
  std::vector<uint8_t> unterminated = Stored({"C:\\a"});
  unterminated.pop_back();
  unterminated.pop_back();
  std::vector<uint8_t> filled(1023, 'a');
  filled[500] = 0;
  filled[1022] = 0;
  std::vector<uint8_t> tooLarge = Stored({"C:\\a"});
  tooLarge.resize(1024, 0);
  struct Case { const char* what; std::vector<uint8_t> stored; Entries expected; };
  const Case cases[] = {
      {"well formed", Stored({"C:\\a", "D:\\b"}), {"C:\\a", "D:\\b"}},
      {"without the final empty string", {'C', ':', 0}, {"C:"}},
      {"cut after sixteen", Stored(twenty), Entries(twenty.begin(), twenty.begin() + 16)},
      {"empty", {}, {}}, {"no terminator", unterminated, {}}, {"no room for the final empty string", filled, {}},
      {"over-long entry", Stored({"C:\\a", std::string(780, 'b')}), {}},
      {"control characters", Stored({"C:\\a", std::string("C:\\\x01")}), {}},
      {"larger than the list", tooLarge, {}}, {"garbage", std::vector<uint8_t>(300, 0xAB), {}},
  };
  for (const Case& c : cases) {
    pv::RecentList list;
    list.PutInFront("C:\\before");
    list.Load(c.stored.data(), c.stored.size());
    EXPECT_EQ(EntriesOf(list), c.expected) << c.what;
    EXPECT_FALSE(list.Dirty()) << c.what;
    ExpectConsistent(list);
  }
}

}  // namespace
