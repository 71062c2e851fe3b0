#include "viewer/window_title.h"

#include <cmath>

#include "core/text.h"

namespace pv {

namespace {

constexpr wchar_t kProgramName[] = L"Pixvane";

const wchar_t* PixelKindMarker(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgba16:
    case PixelFormat::Grey16: return L" | w";
    case PixelFormat::RgbaF:
    case PixelFormat::GreyF: return L" | HDR";
    case PixelFormat::Indexed8: return L" | i";
    default: return L"";
  }
}

}  // namespace

std::optional<int64_t> ZoomThousandths(double zoom) {
  // Far beyond any zoom the geometry allows, and exact in a double.
  constexpr double kLimit = 1e12;
  if (!std::isfinite(zoom) || zoom <= 0 || zoom > kLimit) return std::nullopt;
  return std::llround(zoom * 1000);
}

std::wstring FormatZoomText(double zoom) {
  std::optional<int64_t> n = ZoomThousandths(zoom);
  if (!n) return {};
  std::wstring digits = std::to_wstring(*n % 1000);
  digits.insert(0, 3 - digits.size(), L'0');
  while (digits.size() > 1 && digits.back() == L'0') digits.pop_back();
  return std::to_wstring(*n / 1000) + L'.' + digits + L'x';
}

std::wstring BuildWindowTitle(const TitleParts& parts) {
  // A path of up to 259 units, three short texts of up to 48 and the numbers
  // stay well inside the units other instances search.
  constexpr size_t kNameUnits = 259;
  constexpr size_t kShortUnits = 48;
  static_assert(kNameUnits + 3 * kShortUnits + 100 < kTitleSearchUnits);
  std::wstring title;
  if (!parts.slideshowWord.empty()) {
    title += TruncateText(parts.slideshowWord, kShortUnits);
    title += L" | ";
  }
  title += TruncateText(parts.name, kNameUnits);
  if (!parts.extra.empty()) {
    title += L" [";
    title += TruncateText(parts.extra, kShortUnits);
    title += L']';
  }
  if (parts.details) {
    title += L" | " + std::to_wstring(parts.width) + L'\u2022' + std::to_wstring(parts.height) + L'\u2022';
    title += TruncateText(parts.formatName, kShortUnits);
    title += PixelKindMarker(parts.format);
  }
  if (parts.zoom != 1.0) {
    std::wstring zoom = FormatZoomText(parts.zoom);
    if (!zoom.empty()) title += L" | " + zoom;
  }
  title += L" | ";
  title += kProgramName;
  return title;
}

std::wstring StartTitle(const std::wstring& title) { return title + L" - " + kProgramName; }

bool IsPixvaneWindow(std::wstring_view className, std::wstring_view title) {
  return className == L"muiWindow" && title.find(L"Pixvane") != std::wstring_view::npos;
}

}  // namespace pv
