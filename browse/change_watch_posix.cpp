#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "browse/change_watch.h"
#include "core/text.h"

namespace pv {

namespace {

class InotifyNotification final : public ChangeNotification {
 public:
  InotifyNotification(int inotify, int stop) : inotify_(inotify), stop_(stop) {}
  ~InotifyNotification() override {
    close(inotify_);
    close(stop_);
  }
  WaitResult Wait(int32_t timeoutMs) override {
    pollfd fds[2] = {{stop_, POLLIN, 0}, {inotify_, POLLIN, 0}};
    int n = poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0) return WaitResult::Failed;
    if (fds[0].revents) return WaitResult::Stopped;
    if (n == 0) return WaitResult::Timeout;
    // Re-arm: drain the queued events.
    char buffer[4096];
    while (read(inotify_, buffer, sizeof buffer) > 0) {
    }
    return WaitResult::Changed;
  }
  void RequestStop() override {
    uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
  }

 private:
  int inotify_;
  int stop_;
};

}  // namespace

std::unique_ptr<ChangeNotification> ChangeNotification::Open(const wchar_t* folder) {
  int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) return nullptr;
  constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE;
  int stop = eventfd(0, EFD_CLOEXEC);
  if (stop < 0 || inotify_add_watch(inotify, WideToUtf8(folder).c_str(), kMask) < 0) {
    close(inotify);
    if (stop >= 0) close(stop);
    return nullptr;
  }
  return std::make_unique<InotifyNotification>(inotify, stop);
}

}  // namespace pv
