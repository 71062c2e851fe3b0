#include "settings/key_bindings_win.h"

#include <iterator>
#include <vector>

#include "core/text.h"

namespace pv {

namespace {

// Keys whose scan codes the system shares with the numeric pad; without the
// extended flag they would be named as pad keys.
bool IsExtendedKey(uint8_t key) {
  return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE;
}

}  // namespace

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

size_t FormatKeyName(const KeyBinding& binding, wchar_t* buffer, size_t capacity, bool longForm) {
  wchar_t name[64] = {};
  if (IsCharacterKey(binding.key)) {
    name[0] = binding.key;
  } else {
    LONG scan = static_cast<LONG>(MapVirtualKeyW(binding.key, MAPVK_VK_TO_VSC));
    LONG flags = (scan << 16) | (IsExtendedKey(binding.key) ? 1L << 24 : 0);
    if (GetKeyNameTextW(flags, name, static_cast<int>(std::size(name))) > 0) {
      NormaliseKeyName(name);
    } else {
      // A key the layout has no name for is still told apart by its code.
      FormatText(name, std::size(name), L"0x%02X", binding.key);
    }
  }
  return ComposeKeyName(binding.modifiers, name, buffer, capacity, longForm);
}

}  // namespace pv
