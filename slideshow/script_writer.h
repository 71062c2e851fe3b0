#pragma once
// The text of a slideshow script for the images of a folder.
#include <string>
#include <vector>

#include "settings/options_block.h"

namespace pv {

// The script for these names (in listing order) with the stored slideshow
// choices of `options`: loop, self-deletion, delay mode and tenths, sorting
// and full paths. Names are one byte per character unless one of them needs
// more, then all are UTF-8.
std::string FormatSlideshowScript(std::vector<std::wstring> names, const Options& options);

}  // namespace pv
