#pragma once
// The viewer window's title text, built from what the window knows about the
// shown image.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/pixel_format.h"

namespace pv {

// A zoom as a whole number of thousandths, rounded; none when the zoom is
// not a finite positive number or too large to count this way.
std::optional<int64_t> ZoomThousandths(double zoom);

// The zoom as the title shows it: up to three decimals, trailing zeros
// dropped but one kept ("0.5x", "1.25x", "2.0x", "0.333x").
std::wstring FormatZoomText(double zoom);

struct TitleParts {
  // Translated word for a running slideshow; empty when none runs.
  std::wstring slideshowWord;
  // The file name (or the full path when the user asked for it), or the
  // display name of an image without a file, such as "<clipboard>".
  std::wstring name;
  std::wstring extra;  // shown in brackets when not empty
  bool details = false;
  uint32_t width = 0;
  uint32_t height = 0;
  std::wstring formatName;
  PixelFormat format = PixelFormat::Undetermined;
  double zoom = 1.0;
};

// "name [extra] | w•h•format | marker | zoom | Pixvane", each piece only when
// it applies. Other instances find the window by "Pixvane" within the first
// kTitleSearchUnits of its title, so every piece of free text is bounded.
inline constexpr size_t kTitleSearchUnits = 512;
std::wstring BuildWindowTitle(const TitleParts& parts);

// The window text for a TITLE= option until the first refresh replaces it.
std::wstring StartTitle(const std::wstring& title);

// Other Pixvane windows are told apart from other programs' windows by both
// their window class and their title.
bool IsPixvaneWindow(std::wstring_view className, std::wstring_view title);


}  // namespace pv
