#include "core/task_group.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <thread>
#include <vector>

#include "core/cpu.h"

namespace pv {

std::atomic<int> ParallelNesting{0};

// One process-wide pool of ProcessorCount workers over one shared queue.
class TaskPool {
 public:
  static TaskPool& Instance() {
    static TaskPool pool;
    return pool;
  }

  void Push(TaskGroup* group, std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      StartWorkersLocked();
      queue_.push_back({group, std::move(task)});
    }
    wake_.notify_one();
  }

  // Takes a queued task of `group` off the queue; false when there is none.
  bool TakeFor(TaskGroup* group, std::function<void()>* task) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      if (it->group == group) {
        *task = std::move(it->task);
        queue_.erase(it);
        return true;
      }
    }
    return false;
  }

  // Removes every queued task of `group`; returns how many. The dropped
  // tasks are destroyed after the queue is unlocked, since what they own
  // may take locks of its own.
  uint32_t Drop(TaskGroup* group) {
    std::vector<std::function<void()>> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end();) {
      if (it->group == group) {
        dropped.push_back(std::move(it->task));
        it = queue_.erase(it);
      } else {
        ++it;
      }
    }
    return static_cast<uint32_t>(dropped.size());
  }

  ~TaskPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
  }

 private:
  struct Item {
    TaskGroup* group;
    std::function<void()> task;
  };

  void StartWorkersLocked() {
    if (!workers_.empty()) return;
    uint32_t n = ProcessorCount > 1 ? ProcessorCount : 2;
    for (uint32_t i = 0; i < n; ++i) workers_.emplace_back([this] { WorkerLoop(); });
  }

  void WorkerLoop() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      item.task();
      // What the task owns is gone before its group may count as idle.
      item.task = nullptr;
      item.group->Finished();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

TaskGroup::~TaskGroup() {
  Cancel();
  Wait();
}

void TaskGroup::Run(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pending_;
  }
  TaskPool::Instance().Push(this, std::move(task));
}

bool TaskGroup::RunLongRunning(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pending_;
  }
  try {
    std::thread([this, task = std::move(task)]() mutable {
      task();
      task = nullptr;
      Finished();
    }).detach();
  } catch (const std::system_error&) {
    // No thread: the task never runs, and Wait must not wait for it.
    Finished();
    return false;
  }
  return true;
}

void TaskGroup::Finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--pending_ == 0) idle_.notify_all();
}

void TaskGroup::Wait() {
  std::function<void()> task;
  while (TaskPool::Instance().TakeFor(this, &task)) {
    task();
    task = nullptr;
    Finished();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return pending_ == 0; });
}

TaskLane::~TaskLane() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
  }
  group_.Wait();
}

void TaskLane::Add(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
    if (draining_) return;
    draining_ = true;
  }
  group_.Run([this] { Drain(); });
}

void TaskLane::Drain() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) {
        draining_ = false;
        return;
      }
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

void TaskGroup::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  uint32_t dropped = TaskPool::Instance().Drop(this);
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ -= dropped;
  if (pending_ == 0) idle_.notify_all();
}

void TaskGroup::Reset() {
  Wait();
  cancelled_.store(false, std::memory_order_release);
}

uint32_t RunBands(uint32_t bands, const std::function<void(uint32_t band)>& body) {
  int idle = 0;
  if (bands <= 1 || ProcessorCount <= 1 ||
      !ParallelNesting.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) {
    for (uint32_t b = 0; b < bands; ++b) body(b);
    return 1;
  }
  {
    TaskGroup group;
    for (uint32_t b = 0; b < bands; ++b) group.Run([&body, b] { body(b); });
    group.Wait();
  }
  ParallelNesting.fetch_sub(1, std::memory_order_acq_rel);
  return bands;
}

uint32_t BandCountFor(uint32_t width, uint32_t height, uint64_t minBandPixels) {
  if (ProcessorCount <= 1 || ParallelNesting.load(std::memory_order_acquire) != 0) return 1;
  const uint64_t byPixels = uint64_t{width} * height / std::max<uint64_t>({minBandPixels, width, 1});
  const uint64_t bands = std::min<uint64_t>({uint64_t{8} * ProcessorCount, 128, byPixels});
  return bands == 0 ? 1 : static_cast<uint32_t>(bands);
}

}  // namespace pv
