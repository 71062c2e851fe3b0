#pragma once
// The viewer's preferences read from the stored options, and what the
// viewer changes while it runs written back.
#include "settings/options_block.h"
#include "viewer/viewer_preferences.h"

namespace pv {

// The viewer page's title-bar choice (`viewerTitleMode`): what the title
// bar shows, and when. Other values count as the name alone.
enum TitleBarChoice : uint8_t {
  kNoTitleBar = 0,
  kTitleWithName = 1,
  kTitleWithDetails = 2,
  kTitleWhileMouseOver = 3,
};

ViewerPreferences PreferencesFrom(const Options& options);

// Auto-size (a key switches it) and the blur once it failed.
void StorePreferences(const ViewerPreferences& preferences, Options* options);

}  // namespace pv
