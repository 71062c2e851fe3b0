#include "viewer/taskbar_indicator.h"

#include <shobjidl.h>

namespace pv {

namespace {

class ShellTaskbar final : public TaskbarIndicator {
 public:
  explicit ShellTaskbar(ITaskbarList3* list) : list_(list) {}
  ~ShellTaskbar() override { list_->Release(); }
  ShellTaskbar(const ShellTaskbar&) = delete;
  ShellTaskbar& operator=(const ShellTaskbar&) = delete;

  // A value switches a cleared bar back to the normal state.
  void SetProgress(HWND window, uint32_t done, uint32_t total) override {
    list_->SetProgressValue(window, done, total);
  }
  void Clear(HWND window) override { list_->SetProgressState(window, TBPF_NOPROGRESS); }

 private:
  ITaskbarList3* list_;
};

}  // namespace

std::unique_ptr<TaskbarIndicator> CreateShellTaskbar() {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))) ||
      !list) {
    return nullptr;
  }
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  return std::make_unique<ShellTaskbar>(list);
}

}  // namespace pv
