#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace pv {

// The operating system's change notification on one folder (names, folders
// and last writes, no sub-tree), with a stop signal that ends any wait.
class ChangeNotification {
 public:
  enum class WaitResult { Changed, Timeout, Stopped, Failed };
  static std::unique_ptr<ChangeNotification> Open(const wchar_t* folder);
  virtual ~ChangeNotification() = default;
  // Waits for a change (then re-arms for the next one) or the stop signal;
  // timeoutMs < 0 waits without limit.
  virtual WaitResult Wait(int32_t timeoutMs) = 0;
  // Safe from any thread; makes the current and every later Wait return Stopped.
  virtual void RequestStop() = 0;
};

// Watches a folder on a thread of its own and calls onChange once per burst
// of changes, after the folder has been quiet for the quiet period.
class ChangeWatch {
 public:
  static constexpr int32_t kQuietMs = 100;
  ChangeWatch() = default;
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;
  ~ChangeWatch() { Stop(); }

  // False when the folder cannot be watched. onChange(false) reports a
  // burst of changes; onChange(true) that the notification failed and the
  // watch has ended, so changes from then on go unseen.
  bool Start(const wchar_t* folder, std::function<void(bool failed)> onChange);
  // Ends the thread and joins it before the notification is closed, so no
  // wait is ever pending on a closed handle.
  void Stop();
  // False once the watch has ended, by Stop or by a failure.
  bool IsWatching() const { return running_.load(std::memory_order_acquire); }

 private:
  void Run();
  std::unique_ptr<ChangeNotification> notification_;
  std::function<void(bool failed)> onChange_;
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace pv
