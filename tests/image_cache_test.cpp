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

// Files in a folder of the test's own.
class ImageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::ReadProcessorFeatures();
    pv::RegisterDecoders();
    dir_ = pvtest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::wstring Path(const char* name) { return (dir_ / name).wstring(); }
  // A width × height BMP whose pixels are all `grey`.
  void Write(const char* name, uint32_t width, uint8_t grey, uint32_t height = 1) {
    std::vector<uint8_t> rgba(size_t{width} * height * 4u, grey);
    ASSERT_TRUE(pv::WriteWholeFile(Path(name), pv::EncodeBmp32(rgba, width, height)));
  }
  pv::Ref<pv::ImageBuffer> Load(const char* name, pv::ProgressSink* progress = nullptr) {
    pv::Ref<pv::ImageBuffer> image;
    EXPECT_EQ(cache.LoadImageThroughCache(&image, Path(name).c_str(), progress), pv::kStatusOk) << name;
    return image;
  }
  // Loaded and put into the cache, as the viewer does.
  pv::Ref<pv::ImageBuffer> Keep(const char* name) {
    pv::Ref<pv::ImageBuffer> image = Load(name);
    if (image) cache.AddToCache(*image, false);
    return image;
  }
  bool Cached(const char* name) { return cache.IsCached(Path(name).c_str()); }
  bool Prefetch(const char* name, pv::NavigationMode mode, bool checkMemory = false,
                pv::Ref<pv::PrefetchCompletion> done = {}, pv::Ref<pv::ProgressSink> progress = {}) {
    return cache.SchedulePrefetch(Path(name).c_str(), mode, checkMemory, done, progress);
  }

  fs::path dir_;
  pv::ImageCache cache;
};

TEST(ImageCacheCapacity, FollowsTheNumberOfWindows) {
  const uint32_t expected[][2] = {{0, 3}, {1, 3}, {2, 6}, {3, 7}, {4, 9}, {10, 15}, {11, 16}, {40, 16}};
  for (const auto& e : expected) EXPECT_EQ(pv::ImageCache::CapacityForWindows(e[0]), e[1]) << e[0];
}

TEST_F(ImageCacheTest, MostRecentlyUsedOrderAndCapacity) {
  const char* files[] = {"f0.bmp", "f1.bmp", "f2.bmp", "f3.bmp", "f4.bmp"};
  for (int i = 0; i < 5; ++i) Write(files[i], 2 + i, static_cast<uint8_t>(i * 40));
  pv::Ref<pv::ImageBuffer> first = Keep(files[0]);
  Keep(files[1]);
  Keep(files[2]);
  EXPECT_EQ(cache.Count(), 3u);
  // A cached key gives the very same image back, and makes it the most recent.
  pv::Ref<pv::ImageBuffer> again = Load(files[0]);
  EXPECT_EQ(again.get(), first.get());
  Keep(files[3]);  // a fourth drops the least recently used: files[1]
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Cached(files[i]), i != 1) << i;

  cache.SetCapacity(6);
  Keep(files[1]);
  Keep(files[4]);
  EXPECT_EQ(cache.Count(), 5u);
  cache.SetCapacity(2);  // keeps the two most recent
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_TRUE(Cached(files[4]) && Cached(files[1]));

  std::wstring upper = Path(files[4]);
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  cache.EvictFromCache(upper.c_str());  // paths compare without case
  EXPECT_FALSE(Cached(files[4]));
  cache.ClearImageCache();
  EXPECT_EQ(cache.Count(), 0u);
  again.Reset();
  EXPECT_EQ(first->RefCount(), 1u) << "the cache let go of its references";
}

TEST_F(ImageCacheTest, ChangedFileMissesItsOldEntry) {
  Write("a.bmp", 4, 10);
  pv::Ref<pv::ImageBuffer> old = Keep("a.bmp");
  ASSERT_TRUE(Cached("a.bmp"));
  Write("a.bmp", 6, 200);  // a new size
  EXPECT_FALSE(Cached("a.bmp"));
  pv::Ref<pv::ImageBuffer> fresh = Keep("a.bmp");
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh.get(), old.get());
  EXPECT_EQ(fresh->Width(), 6u);
  EXPECT_EQ(fresh->Row(0)[0], 200);
}

TEST_F(ImageCacheTest, FrameChainIsCachedByItsHead) {
  Write("head.bmp", 3, 50);
  Write("tail.bmp", 3, 90);
  pv::Ref<pv::ImageBuffer> head = Load("head.bmp");
  head->SetNext(Load("tail.bmp").Detach());
  cache.AddToCache(*head->Frame().next, false);
  EXPECT_TRUE(Cached("head.bmp"));
  EXPECT_FALSE(Cached("tail.bmp"));
}

TEST_F(ImageCacheTest, PrefetchDecodesTheNeighbourForTheNextLoad) {
  Write("a.bmp", 5, 1);
  Write("b.bmp", 7, 2);
  Keep("a.bmp");
  pv::Ref<pv::PrefetchCompletion> done(new pv::PrefetchCompletion);
  pv::Ref<pvtest::ProgressLog> progress(new pvtest::ProgressLog);
  // The preparer sees the decoded image; what it makes waits beside it, once.
  pv::ImageBuffer* seen = nullptr;
  pv::PrefetchPreparer prepare = [&seen](pv::ImageBuffer& image, const pv::CancelFlag*) {
    seen = &image;
    return pv::Ref<pv::CountedObject>(pvtest::SolidImage(1, 1, 0).Detach());
  };
  ASSERT_TRUE(cache.SchedulePrefetch(Path("a.bmp").c_str(), pv::NavContinue, true, done,
                                     pv::Ref<pv::ProgressSink>::Retain(progress.get()), prepare));
  ASSERT_TRUE(done->WaitFor(20000));
  EXPECT_FALSE(cache.HasPendingPrefetches());
  ASSERT_TRUE(Cached("b.bmp"));
  ASSERT_FALSE(progress->calls.empty());
  EXPECT_EQ(progress->calls.back(), std::make_pair(100, 100));
  pv::Ref<pv::ImageBuffer> cached = cache.TakeCachedImage(Path("b.bmp").c_str());
  EXPECT_EQ(Load("b.bmp").get(), cached.get()) << "the load takes the prefetched image";
  EXPECT_EQ(seen, cached.get());
  EXPECT_TRUE(cache.TakePrepared(*cached));
  EXPECT_FALSE(cache.TakePrepared(*cached));
  // Prefetch of something already cached, or of nothing, is refused.
  EXPECT_FALSE(Prefetch("b.bmp", pv::NavExisting));
  EXPECT_FALSE(cache.SchedulePrefetch(L"", pv::NavNext, false));
}

// A slow prefetch of b.bmp, the neighbour after a.bmp, met by a load of
// either file while the job decodes.
TEST_F(ImageCacheTest, LoadsMeetingAPrefetchTakeItsResultOrEndIt) {
  Write("a.bmp", 5, 1);
  Write("b.bmp", 8, 2, 32 * 100);  // a hundred row reports: the load meets the job even on a busy machine
  Keep("a.bmp");
  for (bool neighbour : {true, false}) {
    if (!neighbour) cache.ClearImageCache();
    pv::Ref<SlowProgress> slow(new SlowProgress);
    ASSERT_TRUE(Prefetch("a.bmp", pv::NavContinue, false, {}, pv::Ref<pv::ProgressSink>::Retain(slow.get())));
    slow->WaitUntilStarted();
    pv::Ref<pvtest::ProgressLog> progress(new pvtest::ProgressLog);
    pv::Ref<pv::ImageBuffer> loaded = Load(neighbour ? "b.bmp" : "a.bmp", progress.get());
    if (neighbour) {
      // Decoded once: the image is the job's, which the job put into the cache,
      // and the job reported its rows to the waiting load.
      EXPECT_EQ(loaded.get(), cache.TakeCachedImage(Path("b.bmp").c_str()).get());
      EXPECT_FALSE(progress->calls.empty());
    } else {
      // Reloading the starting file gives the neighbour's decode up, not awaited to its end.
      EXPECT_FALSE(Cached("b.bmp"));
      EXPECT_FALSE(cache.HasPendingPrefetches());
    }
  }
}

#ifndef _WIN32
TEST_F(ImageCacheTest, FileThatWillNotOpenHoldsUpNoOtherCaller) {
  Write("a.bmp", 5, 1);
  Keep("a.bmp");  // an entry to compare with
  const fs::path fifo = dir_ / "stuck.bmp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opening a pipe with no writer blocks, as an unreachable share does.
  std::thread stuck([&] { EXPECT_FALSE(Cached("stuck.bmp")); });
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
  Write("huge.bmp", 4, 3);
  // 2 GB: 64 times that is more page file than any test machine has free.
  fs::resize_file(dir_ / "huge.bmp", 2ull << 30);
  Write("shot.raw", 4, 3);
  Write("broken.bmp", 4, 3);
  fs::resize_file(dir_ / "broken.bmp", 20);
  struct Case {
    const char* file;
    bool checkMemory;
    bool cached;
  } cases[] = {{"huge.bmp", true, false}, {"huge.bmp", false, true}, {"shot.raw", false, false},
               {"broken.bmp", false, false}, {"missing.bmp", false, false}};
  for (const Case& c : cases) {
    cache.ClearImageCache();
    pv::Ref<pv::PrefetchCompletion> done(new pv::PrefetchCompletion);
    ASSERT_TRUE(Prefetch(c.file, pv::NavExisting, c.checkMemory, done));
    ASSERT_TRUE(done->WaitFor(20000)) << c.file;
    EXPECT_EQ(cache.Count(), c.cached ? 1u : 0u) << c.file << (c.checkMemory ? " with the memory check" : "");
  }
}

TEST_F(ImageCacheTest, CancelledPrefetchesEndAndSignal) {
  std::vector<pv::Ref<pv::PrefetchCompletion>> done;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "p" + std::to_string(i) + ".bmp";
    Write(name.c_str(), 300, static_cast<uint8_t>(i));
    done.emplace_back(new pv::PrefetchCompletion);
    ASSERT_TRUE(Prefetch(name.c_str(), pv::NavExisting, false, done.back()));
  }
  cache.CancelPrefetches();
  EXPECT_FALSE(cache.HasPendingPrefetches());
  for (auto& d : done) EXPECT_TRUE(d->WaitFor(0));
  // The cache works on after a cancel.
  cache.ClearImageCache();
  done[0] = pv::Ref<pv::PrefetchCompletion>(new pv::PrefetchCompletion);
  ASSERT_TRUE(Prefetch("p0.bmp", pv::NavExisting, false, done[0]));
  ASSERT_TRUE(done[0]->WaitFor(20000));
  EXPECT_TRUE(Cached("p0.bmp"));
}

}  // namespace
