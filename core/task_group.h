#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <functional>
#include <mutex>

namespace pv {

// Raised by every parallel job while it runs; a job that finds it non-zero
// runs in one band, so parallel operations never nest.
extern std::atomic<int> ParallelNesting;

// A set of tasks on the process-wide pool that can be waited for and
// cancelled together. Destroying a group cancels and waits for it.
class TaskGroup {
 public:
  TaskGroup() = default;
  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;
  ~TaskGroup();

  // Queues a task on the shared pool.
  void Run(std::function<void()> task);
  // Runs a task that may block for long (a watcher, a folder reader) on a
  // thread of its own, so it never holds a pool worker. False when no thread
  // could be made: the task is dropped.
  bool RunLongRunning(std::function<void()> task);
  // Waits until every task has finished; runs queued tasks of this group on
  // the calling thread meanwhile, so waiting from a worker cannot deadlock.
  void Wait();
  // Drops the tasks that have not started and marks the group cancelled;
  // running tasks see IsCancelled() and finish early.
  void Cancel();
  bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }
  // Clears the cancelled mark once the group is idle, for reuse.
  void Reset();

 private:
  friend class TaskPool;
  void Finished();

  std::mutex mutex_;
  std::condition_variable idle_;
  uint32_t pending_ = 0;
  std::atomic<bool> cancelled_{false};
};

// Tasks that run one at a time in the order they were added, on the shared
// pool, while the thread that adds them goes on. Only one thread adds and
// waits. Destroying a lane drops the tasks not started and waits for the
// running one.
class TaskLane {
 public:
  TaskLane() = default;
  TaskLane(const TaskLane&) = delete;
  TaskLane& operator=(const TaskLane&) = delete;
  ~TaskLane();

  void Add(std::function<void()> task);
  // Waits until every task added has run.
  void Wait() { group_.Wait(); }

 private:
  void Drain();

  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  bool draining_ = false;  // a task of the group takes the queue's tasks
  TaskGroup group_;
};

// Runs body(band) for band in [0, bands): on the calling thread when there is
// one band, one processor, or another parallel job is running; otherwise as
// tasks of a fresh group with ParallelNesting raised. Returns the number of
// bands actually used in parallel (1 when it ran inline).
uint32_t RunBands(uint32_t bands, const std::function<void(uint32_t band)>& body);

// How many row bands a width × height operation is worth: 1 on one
// processor or inside another parallel job, else up to 8 per processor
// (at most 128), each band of at least minBandPixels (and at least a row).
uint32_t BandCountFor(uint32_t width, uint32_t height, uint64_t minBandPixels);

}  // namespace pv
