#include "browse/folder_listing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "browse/file_names.h"
#include "core/text.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

std::set<std::wstring> Walk(const pv::FolderListing& listing) {
  std::set<std::wstring> names;
  for (const wchar_t* e = listing.NextEntry(nullptr); e; e = listing.NextEntry(e))
    EXPECT_TRUE(names.insert(e).second) << "listed twice";
  return names;
}

class CountingObserver : public pv::FolderObserver {
 public:
  void FolderChanged() override { ++calls; }
  std::atomic<int> calls{0};
};

// Waits until the observer was called, then for the quiet period to pass
// several times over, so a second, wrongly split call would be seen.
int SettledCalls(CountingObserver& o) {
  for (int i = 0; i < 300 && o.calls == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return o.calls;
}

TEST(FolderListing, ManyReadersSeeEveryEntryOnceWhileItIsRead) {
  fs::path dir = pvtest::ScratchDir("listing-many");
  constexpr int kFiles = 2000;  // about 27 chunks
  for (int i = 0; i < kFiles; ++i) Touch(dir / ("file" + std::to_string(i) + ".jpg"));
  std::ofstream(dir / "sized.bin") << std::string(12345, 'z');
  fs::create_directory(dir / "folder");

  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  pv::Ref<pv::FolderListing> listing = manager->OpenListing(dir.wstring().c_str());
  ASSERT_TRUE(listing);
  std::vector<std::set<std::wstring>> seen(8);
  std::vector<std::thread> readers;
  for (auto& s : seen) readers.emplace_back([&] { s = Walk(*listing); });
  for (auto& t : readers) t.join();
  EXPECT_TRUE(listing->IsComplete());
  for (const auto& s : seen) {
    EXPECT_EQ(s.size(), kFiles + 2u + (s.count(L".") + s.count(L"..")));
    EXPECT_EQ(s.count(L"file1999.jpg"), 1u);
    EXPECT_EQ(s, seen[0]);
  }
  pv::FolderEntryInfo info;
  bool sawFolder = false, sawSized = false;
  for (const wchar_t* e = listing->NextEntry(nullptr, &info); e; e = listing->NextEntry(e, &info)) {
    if (std::wstring(e) == L"sized.bin") {
      sawSized = true;
      EXPECT_EQ(info.size, 12345u);
      EXPECT_FALSE(info.directory);
      EXPECT_GT(info.lastWriteTime, 116444736000000000ull);  // after 1970
    }
    if (std::wstring(e) == L"folder") sawFolder = info.directory;
  }
  EXPECT_TRUE(sawSized);
  EXPECT_TRUE(sawFolder);
}

TEST(FolderListing, OneSharedListingPerFolder) {
  fs::path dir = pvtest::ScratchDir("listing-shared");
  Touch(dir / "a.png");
  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  std::wstring path = dir.wstring();
  EXPECT_FALSE(manager->OpenListing(path.c_str(), true)) << "lookup only never starts a reading";
  pv::Ref<pv::FolderListing> first = manager->OpenListing(path.c_str());
  ASSERT_TRUE(first);
  std::wstring upper = path;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  for (const std::wstring& other : {path + pv::kPathSeparator, upper}) {
    pv::Ref<pv::FolderListing> again = manager->OpenListing(other.c_str(), true);
    EXPECT_EQ(again.get(), first.get()) << pv::WideToUtf8(other);
  }
  EXPECT_EQ(std::wstring(first->Pattern()), path + pv::kPathSeparator + L"*");
  // A folder and a pattern inside it are different listings.
  pv::Ref<pv::FolderListing> jpegs = manager->OpenListing((path + pv::kPathSeparator + L"*.jpg").c_str());
  ASSERT_TRUE(jpegs);
  EXPECT_NE(jpegs.get(), first.get());
  EXPECT_TRUE(Walk(*jpegs).empty());
  // Paths that cannot take the wildcard are refused.
  EXPECT_FALSE(manager->OpenListing(std::wstring(259, L'a').c_str()));
  EXPECT_FALSE(manager->OpenListing(L""));
}

TEST(FolderListing, NameTooLongForAPathIsNotListed) {
  fs::path dir = pvtest::ScratchDir("listing-long");
  size_t pattern = dir.wstring().size() + 2;  // folder, separator, "*"
  if (pattern + 20 > 255) GTEST_SKIP() << "scratch folder too deep";
  std::string fits(259 - pattern, 'f'), tooLong(260 - pattern, 'g');
  Touch(dir / fits);
  std::error_code ec;
  std::ofstream(dir / tooLong) << "x";
  if (!fs::exists(dir / tooLong, ec)) GTEST_SKIP() << "the file system refuses the long name";
  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  std::set<std::wstring> names = Walk(*manager->OpenListing(dir.wstring().c_str()));
  EXPECT_EQ(names.count(pvtest::Widen(fits)), 1u);
  EXPECT_EQ(names.count(pvtest::Widen(tooLong)), 0u);
}

TEST(FolderListing, WatchedChangesReachTheObserverOncePerBurst) {
  fs::path dir = pvtest::ScratchDir("listing-watch");
  Touch(dir / "keep.jpg");
  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  pv::Ref<pv::FolderListing> listing = manager->OpenListing(dir.wstring().c_str());
  Walk(*listing);
  CountingObserver observer;
  listing->AddObserver(&observer);
  listing->AddObserver(&observer);  // listed once
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  // A burst: create, rename, delete and a hundred new files.
  Touch(dir / "new.jpg");
  fs::rename(dir / "new.jpg", dir / "renamed.jpg");
  fs::remove(dir / "renamed.jpg");
  for (int i = 0; i < 100; ++i) Touch(dir / ("copy" + std::to_string(i) + ".jpg"));
  EXPECT_EQ(SettledCalls(observer), 1);
  EXPECT_FALSE(listing->IsValid());

  // An invalid listing is never handed out again; the new one sees the files.
  pv::Ref<pv::FolderListing> fresh = manager->OpenListing(dir.wstring().c_str());
  ASSERT_NE(fresh.get(), listing.get());
  EXPECT_EQ(Walk(*fresh).count(L"copy99.jpg"), 1u);

  // Suspended, the program's own change, shown in the listing, keeps the
  // folder's listing current; another program's change in the meantime is
  // not lost.
  CountingObserver quiet;
  fresh->AddObserver(&quiet);
  fresh->Suspend(true);
  fs::rename(dir / "keep.jpg", dir / "kept.jpg");
  ASSERT_TRUE(fresh->ReplaceEntry(L"keep.jpg", L"kept.jpg"));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  fresh->Suspend(false);
  pv::Ref<pv::FolderListing> edited = manager->OpenListing(dir.wstring().c_str(), true);
  ASSERT_TRUE(edited);
  EXPECT_TRUE(edited->IsValid());
  EXPECT_EQ(Walk(*edited).count(L"kept.jpg"), 1u);
  edited->Suspend(true);
  Touch(dir / "theirs.jpg");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  edited->Suspend(false);
  // Seen during the suspension, or, on a loaded machine, just after it.
  for (int i = 0; i < 500 && edited->IsValid(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(edited->IsValid());
  edited->RemoveObserver(&quiet);
  fresh->RemoveObserver(&quiet);
  listing->RemoveObserver(&observer);
  manager->DropUnopenedCopies();
}

TEST(FolderListing, ObserversGetListingsWatchedSinceBeforeTheirReading) {
  fs::path dir = pvtest::ScratchDir("listing-observed");
  Touch(dir / "a.jpg");
  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  const std::wstring path = dir.wstring();
  pv::Ref<pv::FolderListing> unwatched = manager->OpenListing(path.c_str());
  CountingObserver first, second;
  pv::Ref<pv::FolderListing> watched = manager->OpenListing(path.c_str(), false, &first);
  EXPECT_NE(watched.get(), unwatched.get()) << "read before anyone watched: it may have missed a change";
  EXPECT_EQ(manager->OpenListing(path.c_str(), false, &second).get(), watched.get());
  EXPECT_TRUE(manager->OpenListing(path.c_str()));
  EXPECT_EQ(manager->FolderReads(), 2u);
  // Once nobody watches it, it cannot follow the folder any more.
  watched->RemoveObserver(&first);
  EXPECT_TRUE(watched->IsValid());
  watched->RemoveObserver(&second);
  EXPECT_FALSE(watched->IsValid());
  EXPECT_FALSE(watched->ReplaceEntry(L"a.jpg", L"b.jpg")) << "stale content is never revived";
}

TEST(FolderListing, ReplaceEntryLeavesWalkersUndisturbed) {
  fs::path dir = pvtest::ScratchDir("listing-replace");
  for (const char* n : {"a.jpg", "b.jpg", "c.jpg"}) Touch(dir / n);
  pv::Ref<pv::FolderListingManager> manager(new pv::FolderListingManager);
  pv::Ref<pv::FolderListing> listing = manager->OpenListing(dir.wstring().c_str());
  const wchar_t* first = listing->NextEntry(nullptr);
  std::wstring firstName = first;
  CountingObserver observer;
  listing->AddObserver(&observer);

  EXPECT_FALSE(listing->ReplaceEntry(L"missing.jpg", L"x.jpg"));
  EXPECT_TRUE(listing->IsValid());
  ASSERT_TRUE(listing->ReplaceEntry(L"B.JPG", L"renamed.jpg"));
  EXPECT_FALSE(listing->IsValid());
  EXPECT_EQ(observer.calls, 1);
  EXPECT_EQ(std::wstring(first), firstName) << "names already handed out stay put";
  EXPECT_EQ(Walk(*listing).count(L"b.jpg"), 1u);

  pv::Ref<pv::FolderListing> edited = manager->OpenListing(dir.wstring().c_str(), true);
  ASSERT_TRUE(edited) << "the edited copy is the folder's listing";
  std::set<std::wstring> names = Walk(*edited);
  EXPECT_EQ(names.count(L"b.jpg"), 0u);
  EXPECT_EQ(names.count(L"renamed.jpg"), 1u);
  ASSERT_TRUE(edited->ReplaceEntry(L"a.jpg", nullptr));
  pv::Ref<pv::FolderListing> removed = manager->OpenListing(dir.wstring().c_str(), true);
  ASSERT_TRUE(removed);
  names = Walk(*removed);
  EXPECT_EQ(names.count(L"a.jpg"), 0u);
  EXPECT_EQ(names.count(L"c.jpg"), 1u);
  for (pv::FolderListing* l : {listing.get(), edited.get(), removed.get()}) l->RemoveObserver(&observer);
  manager->DropUnopenedCopies();
}

}  // namespace
