#include "settings/key_bindings_win.h"

#include <vector>

namespace pv {

AcceleratorTable BuildAcceleratorTable(const KeyBinding* bindings, size_t count) {
  std::vector<ACCEL> entries;
  for (size_t i = 0; i < count && i < kMaxKeyBindings; ++i) {
    const KeyBinding& b = bindings[i];
    if (b.key == 0 || !IsValidKeyBinding(b)) continue;
    BYTE flags = FVIRTKEY;
    if (b.modifiers & kKeyShift) flags |= FSHIFT;
    if (b.modifiers & kKeyCtrl) flags |= FCONTROL;
    if (b.modifiers & kKeyAlt) flags |= FALT;
    entries.push_back({flags, b.key, b.command});
  }
  if (entries.empty()) return AcceleratorTable();
  return AcceleratorTable(CreateAcceleratorTableW(entries.data(), static_cast<int>(entries.size())));
}

}  // namespace pv
