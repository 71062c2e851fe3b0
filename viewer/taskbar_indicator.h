#pragma once
// The progress bar of a window's taskbar button.
#include <windows.h>

#include <cstdint>
#include <memory>

namespace pv {

// Used on the thread that owns the windows only.
class TaskbarIndicator {
 public:
  virtual ~TaskbarIndicator() = default;
  virtual void SetProgress(HWND window, uint32_t done, uint32_t total) = 0;
  virtual void Clear(HWND window) = 0;
};

// The shell's taskbar; null when the shell offers none. Needs COM on the
// calling thread, and goes before COM does.
std::unique_ptr<TaskbarIndicator> CreateShellTaskbar();

}  // namespace pv
