#include "browse/change_watch.h"

namespace pv {

bool ChangeWatch::Start(const wchar_t* folder, std::function<void()> onChange) {
  Stop();
  notification_ = ChangeNotification::Open(folder);
  if (!notification_) return false;
  onChange_ = std::move(onChange);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ChangeWatch::Stop() {
  if (thread_.joinable()) {
    notification_->RequestStop();
    thread_.join();
  }
  notification_.reset();
}

void ChangeWatch::Run() {
  using R = ChangeNotification::WaitResult;
  for (;;) {
    if (notification_->Wait(-1) != R::Changed) return;
    // Swallow the rest of the burst: every change within the quiet period
    // starts it again.
    R r;
    while ((r = notification_->Wait(kQuietMs)) == R::Changed) {
    }
    if (r != R::Timeout) return;
    onChange_();
  }
}

}  // namespace pv
