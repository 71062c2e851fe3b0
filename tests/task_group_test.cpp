#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/cpu.h"
#include "core/task_group.h"
#include "tests/test_support.h"

namespace {

struct ProcessorsGuard : pvtest::ScopedValue<uint32_t> {
  explicit ProcessorsGuard(uint32_t n) : ScopedValue(pv::ProcessorCount, n) {}
};

TEST(TaskGroup, RunsEveryTaskLongRunningOnesTooBeforeWaitReturns) {
  pv::TaskGroup group;
  std::atomic<int> sum{0};
  group.RunLongRunning([&sum] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sum += 1000;
  });
  for (int i = 1; i <= 1000; ++i) group.Run([&sum, i] { sum += i; });
  group.Wait();
  EXPECT_EQ(sum.load(), 501500);
}

TEST(TaskLane, RunsItsTasksOneAtATimeInOrder) {
  std::vector<int> order, expected;
  std::atomic<int> running{0}, most{0};
  pv::TaskLane lane;
  for (int i = 0; i < 300; ++i) {
    lane.Add([&, i] {
      const int now = ++running;
      if (now > most) most = now;
      order.push_back(i);
      --running;
    });
    expected.push_back(i);
    // The lane runs dry now and then and starts again.
    if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (i == 150) {
      lane.Wait();
      EXPECT_EQ(order, expected);
    }
  }
  lane.Wait();
  EXPECT_EQ(order, expected);
  EXPECT_EQ(most.load(), 1);
}

TEST(TaskGroup, CancelDropsQueuedTasksAndMarksTheGroup) {
  ProcessorsGuard p(2);
  pv::TaskGroup blocker, group;
  std::atomic<bool> release{false};
  std::atomic<int> started{0}, ran{0};
  // Occupy the workers so the group's tasks stay queued.
  for (int i = 0; i < 16; ++i) {
    blocker.Run([&] {
      ++started;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  while (started.load() < 2) std::this_thread::yield();
  for (int i = 0; i < 100; ++i) group.Run([&ran] { ++ran; });
  group.Cancel();
  EXPECT_TRUE(group.IsCancelled());
  release = true;
  group.Wait();
  blocker.Wait();
  EXPECT_EQ(ran.load(), 0);
  group.Reset();
  EXPECT_FALSE(group.IsCancelled());
  group.Run([&ran] { ++ran; });
  group.Wait();
  EXPECT_EQ(ran.load(), 1);
}

TEST(TaskGroup, WaitingInsideATaskDoesNotDeadlock) {
  pv::TaskGroup outer;
  std::atomic<int> inner{0};
  for (int i = 0; i < 8; ++i) {
    outer.Run([&inner] {
      pv::TaskGroup g;
      for (int k = 0; k < 8; ++k) g.Run([&inner] { ++inner; });
      g.Wait();
    });
  }
  outer.Wait();
  EXPECT_EQ(inner.load(), 64);
}

TEST(RunBands, NestedParallelJobsRunInOneBand) {
  ProcessorsGuard p(2);
  std::atomic<int> bands{0};
  std::atomic<uint32_t> innerParallel{0};
  uint32_t used = pv::RunBands(4, [&](uint32_t) {
    ++bands;
    innerParallel += pv::RunBands(3, [&](uint32_t) { ++bands; });
  });
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(bands.load(), 4 + 4 * 3);
  EXPECT_EQ(innerParallel.load(), 4u);  // every inner job ran inline
  EXPECT_EQ(pv::ParallelNesting.load(), 0);

  ProcessorsGuard one(1);
  EXPECT_EQ(pv::RunBands(4, [](uint32_t) {}), 1u);
}

}  // namespace
