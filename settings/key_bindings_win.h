#pragma once
// The keyboard accelerator table of a viewer window, made from key bindings.
#include <cstddef>

#include "settings/key_bindings.h"
#include "toolkit/handles.h"

namespace pv {

// One accelerator per usable binding (virtual key, modifiers, command);
// bindings without a key or with an unknown command are left out. Empty
// when nothing is left or the system refuses the table.
AcceleratorTable BuildAcceleratorTable(const KeyBinding* bindings, size_t count);

}  // namespace pv
