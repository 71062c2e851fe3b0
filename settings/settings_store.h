#pragma once
// The settings in the current user's registry (Windows only). Every registry
// failure is silent: what cannot be read keeps its default, what cannot be
// written stays as it was.
#include <functional>
#include <string>

#include "settings/app_settings.h"

namespace pv {

struct SettingsStoreOptions {
  // The settings key under HKEY_CURRENT_USER; empty for the program's own.
  std::wstring key;
  // The key under HKEY_CURRENT_USER holding the "NoStrCmpLogical" policy;
  // empty for Explorer's.
  std::wstring policyKey;
  // Whether this copy counts as installed (its App Paths entry); by default
  // the local machine is asked.
  enum class Installed { Ask, Yes, No } installed = Installed::Ask;
  // Called at the end of LoadSettings on the first run of an installed copy;
  // start-up shows the language dialog and the help file from here.
  std::function<void(AppSettings&)> onFirstRun;
};

// "Software\Kestrow-Software\Pixvane".
std::wstring SettingsKeyPath();

// Once at start-up, before any window exists.
void LoadSettings(AppSettings& settings, const SettingsStoreOptions& store = {});
// Once at exit; writes nothing for a copy that is not installed.
void SaveSettings(AppSettings& settings, const SettingsStoreOptions& store = {});

// Writes the dictionary as "Dictionary8", or deletes that value when there
// is none. False when nothing could be written.
bool SaveDictionary(const AppSettings& settings, const SettingsStoreOptions& store = {});
// Writes the user's key bindings as "Keys1", or deletes that value when the
// built-in table is active. False when nothing could be written.
bool SaveKeyBindings(const AppSettings& settings, const SettingsStoreOptions& store = {});

}  // namespace pv
