#pragma once
// Shortcuts in the user's Startup folder that bring frozen windows back at
// the next logon.
#include <cstdint>
#include <string>

namespace pv {

// The user's Startup folder, or empty.
std::wstring StartupFolder();

// Writes "<file name>.lnk" into `folder`: target `program`, arguments that
// reopen `file` frozen at (x, y) and `zoom`. False when it could not.
bool WriteStartupShortcut(const std::wstring& folder, const std::wstring& program, const std::wstring& file,
                          int32_t x, int32_t y, float zoom);

// Deletes that shortcut once the frozen window is back, but only when it is
// ours: its target is `program` and its arguments name `file` in full. A
// shortcut of the user's that happens to bear the name stays.
bool RemoveStartupShortcut(const std::wstring& folder, const std::wstring& program, const std::wstring& file);

}  // namespace pv
