#include "viewer/view_paint.h"

#include <cwchar>

#include "viewer/render_stages.h"

namespace pv {

namespace {

int32_t Origin(int32_t client, uint32_t displayed, int32_t scroll) {
  return int64_t{displayed} < client ? static_cast<int32_t>((client - int64_t{displayed}) / 2) : -scroll;
}

}  // namespace

ImagePlacement PlaceImage(Extent client, ImageSize displayed, Point scroll) {
  ImagePlacement p;
  p.scroll = {ClampScroll(scroll.x, displayed.width, client.width), ClampScroll(scroll.y, displayed.height, client.height)};
  p.origin = {Origin(client.width, displayed.width, p.scroll.x), Origin(client.height, displayed.height, p.scroll.y)};
  return p;
}

uint32_t ChooseBackground(const BackgroundChoice& choice, const ImageBuffer* image) {
  if (choice.composition) return 0;
  if (choice.useStoredColour || !image) return 0xFF000000u | (choice.storedColour & 0xFFFFFF);
  for (const ImageBuffer* frame = image; frame; frame = frame->Frame().next)
    if (frame->Frame().background != 0) return frame->Frame().background;
  return PickBackgroundColour(*image);
}

std::vector<OverlayText> ChooseOverlays(uint32_t setting, PropertySet& properties) {
  static constexpr uint8_t kProperties[6] = {kPropTitle, kPropCreationDate, kPropComment,
                                             kPropAuthor, kPropPage,         kPropGps};
  std::vector<OverlayText> overlays;
  for (int i = 0; i < 3; ++i) {
    const uint8_t entry = static_cast<uint8_t>(setting >> (8 * i));
    const uint32_t pick = entry >> 4;
    if (pick < 1 || pick > 6) continue;
    const uint32_t id = kProperties[pick - 1];
    const wchar_t* text = properties.Has(id) ? properties.GetText(id) : nullptr;
    // An empty comment gives way to the longest keyword.
    if (id == kPropComment && (!text || !*text)) {
      for (uint32_t k = kPropKeywords; k < kPropKeywords + kKeywordSlotCount; ++k) {
        const wchar_t* keyword = properties.Has(k) ? properties.GetText(k) : nullptr;
        if (keyword && (!text || std::wcslen(keyword) > std::wcslen(text))) text = keyword;
      }
    }
    if (!text || !*text) continue;
    const uint8_t column = entry & 3;
    overlays.push_back({text, column <= 2 ? static_cast<OverlayColumn>(column) : OverlayColumn::Left,
                        ((entry >> 2) & 3) == 1});
  }
  return overlays;
}

}  // namespace pv
