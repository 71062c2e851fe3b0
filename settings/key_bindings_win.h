#pragma once
// The keyboard accelerator table of a viewer window, made from key bindings,
// and the names of keys as this keyboard layout calls them.
#include <cstddef>

#include "settings/key_bindings.h"
#include "toolkit/handles.h"

namespace pv {

// One accelerator per usable binding (virtual key, modifiers, command);
// bindings without a key or with an unknown command are left out. Empty
// when nothing is left or the system refuses the table.
AcceleratorTable BuildAcceleratorTable(const KeyBinding* bindings, size_t count);

// The binding's modifiers and key name (ComposeKeyName); keys other than
// digits and letters take the system's name. Returns the text's length.
size_t FormatKeyName(const KeyBinding& binding, wchar_t* buffer, size_t capacity, bool longForm);

}  // namespace pv
