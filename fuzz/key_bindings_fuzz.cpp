// A stored "Keys1" value: the first byte is the stored count, the rest the
// records. Accepted bindings store back as the same bytes, are named as the
// key page and the menus name them, and are filtered as a frozen window does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/key_bindings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto bindings = pv::ParseKeyBindings(data + 1, size - 1, data[0]);
  if (!bindings) return 0;
  if (bindings->size() != data[0]) __builtin_trap();
  const std::vector<uint8_t> stored = pv::SerializeKeyBindings(*bindings);
  if (stored != std::vector<uint8_t>(data + 1, data + size)) __builtin_trap();
  if (!pv::SameKeyBindingSet(*bindings, *bindings)) __builtin_trap();
  for (const pv::KeyBinding& b : *bindings) {
    if (!pv::IsValidKeyBinding(b)) __builtin_trap();
    constexpr size_t kUnits = 32;
    wchar_t name[kUnits];
    const wchar_t* command = pv::CommandName(b.command);
    const size_t length = pv::ComposeKeyName(b.modifiers, command ? command : L"", name, kUnits, true);
    if (length >= kUnits || name[length] != 0) __builtin_trap();
  }
  for (const pv::KeyBinding& b : pv::FrozenWindowBindings(bindings->data(), bindings->size())) {
    if (!pv::FrozenWindowAccepts(b.command)) __builtin_trap();
  }
  return 0;
}
