#pragma once
// The key page of the options sheet and the key dialog it opens.
#include <windows.h>

#include <optional>
#include <span>
#include <vector>

#include "settings/key_bindings.h"

namespace pv {

// Fills a page made from the key page's dialog with `active`.
void InitKeyPage(HWND page, std::span<const KeyBinding> active);
// The page's buttons and list notifications; true when the message was the page's.
bool KeyPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// What the page lists now, in its order.
std::vector<KeyBinding> ListedKeyBindings(HWND page);

// Lets the user choose a command and record a key for it, starting from
// `start`. The new binding, or none when cancelled or no key was recorded.
std::optional<KeyBinding> RunKeyDialog(HWND owner, KeyBinding start);

}  // namespace pv
