// The stored settings values read from bytes: the options block, the recent
// folders and their updates, and the last file's name. Key bindings and the
// packed dictionary have targets of their own.
#include <cstring>
#include <string>
#include <vector>

#include "core/text.h"
#include "settings/app_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pv::DecodeOptions(data, size);
  if (size >= pv::kOptionsBlockSize) {
    // A decoded block is in range, so it reads back as itself.
    const pv::Options o = pv::DecodeOptions(data, pv::kOptionsBlockSize);
    uint8_t once[pv::kOptionsBlockSize], twice[pv::kOptionsBlockSize];
    pv::EncodeOptions(o, once);
    pv::EncodeOptions(pv::DecodeOptions(once, sizeof once), twice);
    if (std::memcmp(once, twice, sizeof once) != 0) __builtin_trap();
    pv::OptionsCrc(o);
  }

  pv::AppSettings settings;
  settings.recent.Load(data, size);
  settings.lastPath = pv::LastPathFromRecent(settings.recent);
  pv::PutLastPathInFront(settings);
  // Every entry moved to the front in turn, then the input itself as a path.
  for (uint32_t i = settings.recent.recentCount(); i-- > 0;) {
    settings.recent.PutInFront(std::string(settings.recent.Entry(i)));
  }
  settings.recent.PutInFront(std::string_view(reinterpret_cast<const char*>(data), size));
  // The list ends with its empty string before the dirty mark.
  const pv::RecentList& recent = settings.recent;
  if (recent.recentUsed() > pv::RecentList::kDirtyMark || recent.recentBytes()[recent.recentUsed() - 1] != 0 ||
      recent.recentCount() > recent.recentMax()) {
    __builtin_trap();
  }

  const std::wstring text = pv::Utf8ToWide(data, size);
  std::wstring path = settings.lastPath;
  pv::AppendLastFile(path, text);
  return 0;
}
