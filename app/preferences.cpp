#include "app/preferences.h"

namespace pv {

ViewerPreferences PreferencesFrom(const Options& o) {
  ViewerPreferences p;
  p.autoSize = o.autoSizeToWindow;
  p.shrinkOnly = o.shrinkOnly;
  p.shrinkLargeInFullScreen = o.shrinkLargeInFullScreen;
  p.openFullScreen = o.openFullScreen;
  p.showFullPath = o.showFullPath;
  p.detailsInTitle = o.viewerTitleMode == kTitleWithDetails;
  p.frameMode = o.viewerTitleMode == kNoTitleBar             ? FrameMode::Borderless
                : o.viewerTitleMode == kTitleWhileMouseOver ? FrameMode::Hover
                                                            : FrameMode::Framed;
  const BackgroundColour& b = o.viewerBackground;
  p.backgroundColour = uint32_t{b.red} << 16 | uint32_t{b.green} << 8 | b.blue;
  p.automaticBackground = !(b.flags & BackgroundColour::kAutomaticColourOff);
  p.translucent = !(b.flags & BackgroundColour::kTranslucentOff);
  p.border = o.viewerBorder.shown;
  p.borderColour = uint32_t{o.viewerBorder.red} << 16 | uint32_t{o.viewerBorder.green} << 8 | o.viewerBorder.blue;
  p.slideMaximise = o.slideMaximise;
  p.overlays = uint32_t{o.viewerLabels[0]} | uint32_t{o.viewerLabels[1]} << 8 | uint32_t{o.viewerLabels[2]} << 16;
  return p;
}

void StorePreferences(const ViewerPreferences& p, Options* o) {
  o->autoSizeToWindow = p.autoSize;
  o->slideMaximise = p.slideMaximise;
  o->viewerBorder = {static_cast<uint8_t>(p.borderColour), static_cast<uint8_t>(p.borderColour >> 8),
                     static_cast<uint8_t>(p.borderColour >> 16), p.border};
  if (!p.translucent) o->viewerBackground.flags |= BackgroundColour::kTranslucentOff;
}

}  // namespace pv
