#pragma once
// Copying a view's final image to the screen: into a device context for
// framed windows, into a layered window for borderless ones.
#include <windows.h>

#include "toolkit/handles.h"
#include "viewer/view_paint.h"
#include "viewer/view_state.h"

namespace pv {

// A width or height that means "as large as the image".
inline constexpr LONG kWholeImage = -1;

// Copies the final image from `source` (image pixels) to `destination` in
// `dc`; blended when the image has alpha or the constant alpha is below 255,
// except for images with a palette, which are always copied. False when the
// view has no screen-compatible final image or GDI fails.
bool DrawView(const ViewState& view, HDC dc, POINT destination, POINT source, SIZE size, BYTE constantAlpha);

// Pushes the final image into a layered window, per-pixel alpha included
// when it has some. Without a size only the position changes.
bool UpdateLayered(const ViewState& view, HWND window, const POINT* screenPosition, const SIZE* size,
                   POINT sourceOffset);

// The brush behind the image, made again only when its colour changes. A
// colour with alpha below 255 keeps it, through a one-pixel 32-bit pattern.
class BackgroundBrush {
 public:
  HBRUSH Get(uint32_t argb);

 private:
  GdiObject<HBRUSH> brush_;
  uint32_t colour_ = 0;
};

struct PaintRequest {
  Extent client;
  Point scroll;
  uint32_t background = 0;      // 0xAARRGGBB
  bool fullBackground = false;  // fill the whole client even under an opaque image
};

// Paints a framed window's client: the background where the image is not
// (everywhere under an image with alpha), then the visible part of the
// final image. Returns the scroll offsets clamped to the image.
Point PaintView(const ViewState& view, HDC dc, const RECT& update, const PaintRequest& request,
                BackgroundBrush& brush);

// Draws text overlays over the client, inside a margin: white, then black
// one pixel right and below. A text that needs more than half the client's
// height is left out.
void DrawOverlays(HDC dc, const std::vector<OverlayText>& overlays, Extent client);

}  // namespace pv
