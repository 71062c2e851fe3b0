#include "browse/image_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "tools/image_writers.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// A width × 1 BMP whose pixels are all `grey`.
void WriteBmp(const fs::path& path, uint32_t width, uint8_t grey, uint32_t height = 1) {
  std::vector<uint8_t> rgba(size_t{width} * height * 4u, grey);
  ASSERT_TRUE(pv::WriteWholeFile(path.wstring(), pv::EncodeBmp32(rgba, width, height)));
}

// Notes that the job's decode has begun, then makes every row report slow,
// so the decode is still under way when the test asks for the file.
class SlowProgress : public pv::ProgressSink {
 public:
  void Progress(int32_t done, int32_t total) override {
    started = true;
    if (done < total) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void WaitUntilStarted() {
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::atomic<bool> started{false};
};

class ImageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::ReadProcessorFeatures();
    pv::RegisterDecoders();
  }
  pv::Ref<pv::ImageBuffer> Load(const fs::path& path) {
    pv::Ref<pv::ImageBuffer> image;
    EXPECT_EQ(cache.LoadImageThroughCache(&image, path.wstring().c_str()), pv::kStatusOk) << path;
    if (image) cache.AddToCache(*image, false);
    return image;
  }
  bool Cached(const fs::path& path) { return cache.IsCached(path.wstring().c_str()); }

  pv::ImageCache cache;
};

TEST(ImageCacheCapacity, FollowsTheNumberOfWindows) {
  const uint32_t expected[][2] = {{0, 3}, {1, 3}, {2, 6}, {3, 7}, {4, 9}, {10, 15}, {11, 16}, {40, 16}};
  for (const auto& e : expected) EXPECT_EQ(pv::ImageCache::CapacityForWindows(e[0]), e[1]) << e[0];
}

TEST_F(ImageCacheTest, MostRecentlyUsedOrderAndCapacity) {
  fs::path dir = pvtest::ScratchDir("cache-mru");
  std::vector<fs::path> files;
  for (int i = 0; i < 5; ++i) {
    files.push_back(dir / ("f" + std::to_string(i) + ".bmp"));
    WriteBmp(files.back(), 2 + i, static_cast<uint8_t>(i * 40));
  }
  pv::Ref<pv::ImageBuffer> first = Load(files[0]);
  Load(files[1]);
  Load(files[2]);
  EXPECT_EQ(cache.Count(), 3u);
  // A cached key gives the very same image back, and makes it the most recent.
  pv::Ref<pv::ImageBuffer> again;
  ASSERT_EQ(cache.LoadImageThroughCache(&again, files[0].wstring().c_str()), pv::kStatusOk);
  EXPECT_EQ(again.get(), first.get());
  Load(files[3]);  // a fourth drops the least recently used: files[1]
  EXPECT_TRUE(Cached(files[0]));
  EXPECT_FALSE(Cached(files[1]));
  EXPECT_TRUE(Cached(files[2]));
  EXPECT_TRUE(Cached(files[3]));

  cache.SetCapacity(6);
  Load(files[1]);
  Load(files[4]);
  EXPECT_EQ(cache.Count(), 5u);
  cache.SetCapacity(2);  // keeps the two most recent
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_TRUE(Cached(files[4]));
  EXPECT_TRUE(Cached(files[1]));
  EXPECT_FALSE(Cached(files[0]));

  std::wstring upper = files[4].wstring();
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  cache.EvictFromCache(upper.c_str());  // paths compare without case
  EXPECT_FALSE(Cached(files[4]));
  cache.ClearImageCache();
  EXPECT_EQ(cache.Count(), 0u);
  again.Reset();
  EXPECT_EQ(first->RefCount(), 1u) << "the cache let go of its references";
}

TEST_F(ImageCacheTest, ChangedFileMissesItsOldEntry) {
  fs::path dir = pvtest::ScratchDir("cache-changed");
  fs::path file = dir / "a.bmp";
  WriteBmp(file, 4, 10);
  pv::Ref<pv::ImageBuffer> old = Load(file);
  ASSERT_TRUE(Cached(file));
  WriteBmp(file, 6, 200);  // a new size
  EXPECT_FALSE(Cached(file));
  pv::Ref<pv::ImageBuffer> fresh = Load(file);
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh.get(), old.get());
  EXPECT_EQ(fresh->Width(), 6u);
  EXPECT_EQ(fresh->Row(0)[0], 200);
}

TEST_F(ImageCacheTest, FrameChainIsCachedByItsHead) {
  fs::path dir = pvtest::ScratchDir("cache-chain");
  WriteBmp(dir / "head.bmp", 3, 50);
  WriteBmp(dir / "tail.bmp", 3, 90);
  pv::Ref<pv::ImageBuffer> head, tail;
  ASSERT_EQ(cache.LoadImageThroughCache(&head, (dir / "head.bmp").wstring().c_str()), pv::kStatusOk);
  ASSERT_EQ(cache.LoadImageThroughCache(&tail, (dir / "tail.bmp").wstring().c_str()), pv::kStatusOk);
  head->SetNext(tail.Detach());
  cache.AddToCache(*head->Frame().next, false);
  EXPECT_TRUE(Cached(dir / "head.bmp"));
  EXPECT_FALSE(Cached(dir / "tail.bmp"));
}

TEST_F(ImageCacheTest, PrefetchDecodesTheNeighbourForTheNextLoad) {
  fs::path dir = pvtest::ScratchDir("cache-prefetch");
  WriteBmp(dir / "a.bmp", 5, 1);
  WriteBmp(dir / "b.bmp", 7, 2);
  Load(dir / "a.bmp");
  pv::Ref<pv::PrefetchCompletion> done(new pv::PrefetchCompletion);
  pv::Ref<pvtest::ProgressLog> progress(new pvtest::ProgressLog);
  ASSERT_TRUE(cache.SchedulePrefetch((dir / "a.bmp").wstring().c_str(), pv::NavContinue, true, done,
                                     pv::Ref<pv::ProgressSink>::Retain(progress.get())));
  ASSERT_TRUE(done->WaitFor(20000));
  EXPECT_FALSE(cache.HasPendingPrefetches());
  ASSERT_TRUE(Cached(dir / "b.bmp"));
  ASSERT_FALSE(progress->calls.empty());
  EXPECT_EQ(progress->calls.back(), std::make_pair(100, 100));
  pv::Ref<pv::ImageBuffer> cached = cache.TakeCachedImage((dir / "b.bmp").wstring().c_str());
  pv::Ref<pv::ImageBuffer> loaded;
  ASSERT_EQ(cache.LoadImageThroughCache(&loaded, (dir / "b.bmp").wstring().c_str()), pv::kStatusOk);
  EXPECT_EQ(loaded.get(), cached.get()) << "the load takes the prefetched image";
  // Prefetch of something already cached, or of nothing, is refused.
  EXPECT_FALSE(cache.SchedulePrefetch((dir / "b.bmp").wstring().c_str(), pv::NavExisting, false));
  EXPECT_FALSE(cache.SchedulePrefetch(L"", pv::NavNext, false));
}

TEST_F(ImageCacheTest, LoadOfTheFileBeingPrefetchedTakesThatJobsResult) {
  fs::path dir = pvtest::ScratchDir("cache-handover");
  WriteBmp(dir / "a.bmp", 5, 1);
  WriteBmp(dir / "b.bmp", 8, 2, 32 * 40);  // forty row reports
  Load(dir / "a.bmp");
  pv::Ref<SlowProgress> slow(new SlowProgress);
  ASSERT_TRUE(cache.SchedulePrefetch((dir / "a.bmp").wstring().c_str(), pv::NavContinue, false, {},
                                     pv::Ref<pv::ProgressSink>::Retain(slow.get())));
  slow->WaitUntilStarted();
  pv::Ref<pvtest::ProgressLog> progress(new pvtest::ProgressLog);
  pv::Ref<pv::ImageBuffer> loaded;
  ASSERT_EQ(cache.LoadImageThroughCache(&loaded, (dir / "b.bmp").wstring().c_str(), progress.get()), pv::kStatusOk);
  // Decoded once: the image is the job's, which the job put into the cache,
  // and the job reported its rows to the waiting load.
  EXPECT_EQ(loaded.get(), cache.TakeCachedImage((dir / "b.bmp").wstring().c_str()).get());
  EXPECT_FALSE(progress->calls.empty());
}

TEST_F(ImageCacheTest, ReloadingTheStartingFileDoesNotWaitForTheNeighbour) {
  fs::path dir = pvtest::ScratchDir("cache-reload");
  WriteBmp(dir / "a.bmp", 5, 1);
  WriteBmp(dir / "b.bmp", 8, 2, 32 * 40);
  Load(dir / "a.bmp");
  cache.ClearImageCache();
  pv::Ref<SlowProgress> slow(new SlowProgress);
  ASSERT_TRUE(cache.SchedulePrefetch((dir / "a.bmp").wstring().c_str(), pv::NavContinue, false, {},
                                     pv::Ref<pv::ProgressSink>::Retain(slow.get())));
  slow->WaitUntilStarted();
  pv::Ref<pv::ImageBuffer> reloaded;
  ASSERT_EQ(cache.LoadImageThroughCache(&reloaded, (dir / "a.bmp").wstring().c_str()), pv::kStatusOk);
  // The neighbour's decode was given up, not awaited to its end.
  EXPECT_FALSE(Cached(dir / "b.bmp"));
  EXPECT_FALSE(cache.HasPendingPrefetches());
}

#ifndef _WIN32
TEST_F(ImageCacheTest, FileThatWillNotOpenHoldsUpNoOtherCaller) {
  fs::path dir = pvtest::ScratchDir("cache-stall");
  WriteBmp(dir / "a.bmp", 5, 1);
  Load(dir / "a.bmp");  // an entry to compare with
  const fs::path fifo = dir / "stuck.bmp";
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opening a pipe with no writer blocks, as an unreachable share does.
  std::thread stuck([&] { EXPECT_FALSE(cache.IsCached(fifo.wstring().c_str())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto other = std::async(std::launch::async, [&] { return cache.Count(); });
  const bool answered = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  const int writer = open(fifo.c_str(), O_WRONLY);  // lets the stuck open end
  stuck.join();
  if (writer >= 0) close(writer);
  EXPECT_TRUE(answered);
}
#endif

TEST_F(ImageCacheTest, PrefetchSkipsWhatItMustNotDecode) {
  fs::path dir = pvtest::ScratchDir("cache-skip");
  WriteBmp(dir / "huge.bmp", 4, 3);
  // 2 GB: 64 times that is more page file than any test machine has free.
  fs::resize_file(dir / "huge.bmp", 2ull << 30);
  WriteBmp(dir / "shot.raw", 4, 3);
  WriteBmp(dir / "broken.bmp", 4, 3);
  fs::resize_file(dir / "broken.bmp", 20);
  struct Case {
    const char* file;
    bool checkMemory;
    bool cached;
  } cases[] = {{"huge.bmp", true, false}, {"huge.bmp", false, true}, {"shot.raw", false, false},
               {"broken.bmp", false, false}, {"missing.bmp", false, false}};
  for (const Case& c : cases) {
    cache.ClearImageCache();
    pv::Ref<pv::PrefetchCompletion> done(new pv::PrefetchCompletion);
    ASSERT_TRUE(cache.SchedulePrefetch((dir / c.file).wstring().c_str(), pv::NavExisting, c.checkMemory, done));
    ASSERT_TRUE(done->WaitFor(20000)) << c.file;
    EXPECT_EQ(cache.Count(), c.cached ? 1u : 0u) << c.file << (c.checkMemory ? " with the memory check" : "");
  }
}

TEST_F(ImageCacheTest, CancelledPrefetchesEndAndSignal) {
  fs::path dir = pvtest::ScratchDir("cache-cancel");
  std::vector<pv::Ref<pv::PrefetchCompletion>> done;
  for (int i = 0; i < 20; ++i) {
    fs::path file = dir / ("p" + std::to_string(i) + ".bmp");
    WriteBmp(file, 300, static_cast<uint8_t>(i));
    done.emplace_back(new pv::PrefetchCompletion);
    ASSERT_TRUE(cache.SchedulePrefetch(file.wstring().c_str(), pv::NavExisting, false, done.back()));
  }
  cache.CancelPrefetches();
  EXPECT_FALSE(cache.HasPendingPrefetches());
  for (auto& d : done) EXPECT_TRUE(d->WaitFor(0));
  // The cache works on after a cancel.
  cache.ClearImageCache();
  pv::Ref<pv::PrefetchCompletion> after(new pv::PrefetchCompletion);
  ASSERT_TRUE(cache.SchedulePrefetch((dir / "p0.bmp").wstring().c_str(), pv::NavExisting, false, after));
  ASSERT_TRUE(after->WaitFor(20000));
  EXPECT_TRUE(Cached(dir / "p0.bmp"));
}

}  // namespace
