#include "browse/change_watch.h"

#include <system_error>

namespace pv {

bool ChangeWatch::Start(const wchar_t* folder, std::function<void(bool failed)> onChange) {
  Stop();
  notification_ = ChangeNotification::Open(folder);
  if (!notification_) return false;
  onChange_ = std::move(onChange);
  running_.store(true, std::memory_order_release);
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    running_.store(false, std::memory_order_release);
    notification_.reset();
    return false;
  }
  return true;
}

void ChangeWatch::Stop() {
  running_.store(false, std::memory_order_release);
  if (thread_.joinable()) {
    notification_->RequestStop();
    thread_.join();
  }
  notification_.reset();
}

void ChangeWatch::Run() {
  using R = ChangeNotification::WaitResult;
  R r;
  for (;;) {
    if ((r = notification_->Wait(-1)) != R::Changed) break;
    // Swallow the rest of the burst: every change within the quiet period
    // starts it again.
    while ((r = notification_->Wait(kQuietMs)) == R::Changed) {
    }
    if (r != R::Timeout) break;
    onChange_(false);
  }
  if (r == R::Failed) {
    running_.store(false, std::memory_order_release);
    onChange_(true);
  }
}

}  // namespace pv
