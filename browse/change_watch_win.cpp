#include <windows.h>

#include "browse/change_watch.h"

namespace pv {

namespace {

class WinChangeNotification final : public ChangeNotification {
 public:
  WinChangeNotification(HANDLE change, HANDLE stop) : change_(change), stop_(stop) {}
  ~WinChangeNotification() override {
    FindCloseChangeNotification(change_);
    CloseHandle(stop_);
  }
  WaitResult Wait(int32_t timeoutMs) override {
    // The stop event comes first so that it wins over a pending change.
    HANDLE handles[2] = {stop_, change_};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_OBJECT_0) return WaitResult::Stopped;
    if (r == WAIT_TIMEOUT) return WaitResult::Timeout;
    if (r != WAIT_OBJECT_0 + 1) return WaitResult::Failed;
    return FindNextChangeNotification(change_) ? WaitResult::Changed : WaitResult::Failed;
  }
  void RequestStop() override { SetEvent(stop_); }

 private:
  HANDLE change_;
  HANDLE stop_;
};

}  // namespace

std::unique_ptr<ChangeNotification> ChangeNotification::Open(const wchar_t* folder) {
  HANDLE change = FindFirstChangeNotificationW(
      folder, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (change == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stop) {
    FindCloseChangeNotification(change);
    return nullptr;
  }
  return std::make_unique<WinChangeNotification>(change, stop);
}

}  // namespace pv
