#include "viewer/composition.h"

#include <dwmapi.h>

#include <cstdint>

#include "toolkit/window.h"

namespace pv {

namespace {

// The accent of a window, as user32 takes it.
struct AccentPolicy {
  int32_t state;  // 0 off, 3 blur behind
  int32_t flags;
  uint32_t gradientColour;
  int32_t animation;
};

struct CompositionAttribute {
  DWORD attribute;
  void* data;
  SIZE_T size;
};

constexpr DWORD kAccentPolicyAttribute = 19;

}  // namespace

bool SetBlurBehind(HWND window, bool on) {
  using SetAttribute = BOOL(WINAPI*)(HWND, CompositionAttribute*);
  if (const auto set = User32Function<SetAttribute>("SetWindowCompositionAttribute")) {
    AccentPolicy accent = {on ? 3 : 0, 0, 0, 0};
    CompositionAttribute data = {kAccentPolicyAttribute, &accent, sizeof accent};
    return set(window, &data) != FALSE;
  }
  BOOL enabled = FALSE;
  if (FAILED(DwmIsCompositionEnabled(&enabled)) || !enabled) return false;
  const MARGINS margins = on ? MARGINS{-1, -1, -1, -1} : MARGINS{0, 0, 0, 0};
  return SUCCEEDED(DwmExtendFrameIntoClientArea(window, &margins));
}

}  // namespace pv
