#include "viewer/draw_view.h"

#include <algorithm>


namespace pv {

namespace {

struct Source {
  HDC dc;
  POINT origin;  // of image pixel (0, 0) within the DIB section
  const ImageBuffer* image;
};

bool FindSource(const ViewState& view, Source* out) {
  const ImageBuffer* image = view.Final();
  const ScreenBitmap* bitmap = image ? image->AsScreenBitmap() : nullptr;
  if (!bitmap) return false;
  // Row 0 lies one row and 16 bytes into the section.
  *out = {static_cast<HDC>(bitmap->deviceContext), {static_cast<LONG>(16 / image->BytesPerPixel()), 1}, image};
  return true;
}

// The part of the image that exists from `from` on.
SIZE Clamp(SIZE size, POINT from, const ImageBuffer& image) {
  const LONG w = static_cast<LONG>(image.Width()) - from.x;
  const LONG h = static_cast<LONG>(image.Height()) - from.y;
  return {std::clamp(size.cx == kWholeImage ? w : size.cx, LONG{0}, std::max(w, LONG{0})),
          std::clamp(size.cy == kWholeImage ? h : size.cy, LONG{0}, std::max(h, LONG{0}))};
}

bool HasPalette(const ImageBuffer& image) { return image.Format() != PixelFormat::Rgba8; }

// An image that carries its one-pixel frame is copied from one pixel up and
// left, two pixels larger, to one pixel up and left of where it goes.
void TakeBorder(const ViewState& view, POINT* from, POINT* to, SIZE* part) {
  if (!view.HasBorder()) return;
  --from->x;
  --from->y;
  if (to) {
    --to->x;
    --to->y;
  }
  part->cx += 2;
  part->cy += 2;
}

}  // namespace

bool DrawView(const ViewState& view, HDC dc, POINT destination, POINT source, SIZE size, BYTE constantAlpha) {
  Source s;
  if (!FindSource(view, &s) || source.x < 0 || source.y < 0) return false;
  SIZE part = Clamp(size, source, *s.image);
  if (part.cx == 0 || part.cy == 0) return true;
  POINT from = {s.origin.x + source.x, s.origin.y + source.y};
  TakeBorder(view, &from, &destination, &part);
  if (HasPalette(*s.image)) {
    // Copied, never blended; a palette screen shows it through its own palette.
    const auto palette = static_cast<HPALETTE>(s.image->AsScreenBitmap()->logicalPalette);
    if (!view.OnPaletteScreen() || !palette) {
      return BitBlt(dc, destination.x, destination.y, part.cx, part.cy, s.dc, from.x, from.y, SRCCOPY);
    }
    HPALETTE old = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    const bool copied = BitBlt(dc, destination.x, destination.y, part.cx, part.cy, s.dc, from.x, from.y, SRCCOPY);
    SelectPalette(dc, old, FALSE);
    return copied;
  }
  const bool alpha = s.image->UsesAlpha() != 0;
  if (alpha || constantAlpha < 255) {
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, constantAlpha, static_cast<BYTE>(alpha ? AC_SRC_ALPHA : 0)};
    return AlphaBlend(dc, destination.x, destination.y, part.cx, part.cy, s.dc, from.x, from.y, part.cx, part.cy,
                      blend);
  }
  return BitBlt(dc, destination.x, destination.y, part.cx, part.cy, s.dc, from.x, from.y, SRCCOPY);
}

bool UpdateLayered(const ViewState& view, HWND window, const POINT* screenPosition, const SIZE* size,
                   POINT sourceOffset) {
  if (!size) {
    POINT position = screenPosition ? *screenPosition : POINT{};
    return UpdateLayeredWindow(window, nullptr, screenPosition ? &position : nullptr, nullptr, nullptr, nullptr, 0,
                               nullptr, 0);
  }
  Source s;
  if (!FindSource(view, &s) || sourceOffset.x < 0 || sourceOffset.y < 0) return false;
  SIZE part = Clamp(*size, sourceOffset, *s.image);
  if (part.cx == 0 || part.cy == 0) return false;
  POINT from = {s.origin.x + sourceOffset.x, s.origin.y + sourceOffset.y};
  POINT position = screenPosition ? *screenPosition : POINT{};
  TakeBorder(view, &from, screenPosition ? &position : nullptr, &part);
  const bool alpha = s.image->UsesAlpha() != 0 && !HasPalette(*s.image);
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  return UpdateLayeredWindow(window, nullptr, screenPosition ? &position : nullptr, &part, s.dc, &from, 0,
                             alpha ? &blend : nullptr, alpha ? ULW_ALPHA : ULW_OPAQUE);
}

HBRUSH BackgroundBrush::Get(uint32_t argb) {
  if (brush_ && argb == colour_) return brush_.get();
  if ((argb >> 24) == 255) {
    brush_.Reset(CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)));
  } else {
    struct {
      BITMAPINFOHEADER header;
      uint32_t pixel;
    } dib = {};
    dib.header.biSize = sizeof dib.header;
    dib.header.biWidth = 1;
    dib.header.biHeight = 1;
    dib.header.biPlanes = 1;
    dib.header.biBitCount = 32;
    dib.pixel = argb;
    brush_.Reset(CreateDIBPatternBrushPt(&dib, DIB_RGB_COLORS));
  }
  colour_ = argb;
  return brush_.get();
}

Point PaintView(const ViewState& view, HDC dc, const RECT& update, const PaintRequest& r, BackgroundBrush& brush) {
  const ImageBuffer* image = view.Final();
  const ImageSize displayed = view.DisplayedSize();
  const ImagePlacement place = PlaceImage(r.client, displayed, r.scroll);
  const RECT shown = {place.origin.x, place.origin.y, static_cast<LONG>(place.origin.x + int64_t{displayed.width}),
                      static_cast<LONG>(place.origin.y + int64_t{displayed.height})};
  HBRUSH background = brush.Get(r.background);
  if (!image || image->UsesAlpha() || r.fullBackground) {
    FillRect(dc, &update, background);
  } else {
    // Only the bands around the image: above, below, and left and right of it.
    const RECT bands[4] = {{update.left, update.top, update.right, std::min(update.bottom, shown.top)},
                           {update.left, std::max(update.top, shown.bottom), update.right, update.bottom},
                           {update.left, std::max(update.top, shown.top), std::min(update.right, shown.left),
                            std::min(update.bottom, shown.bottom)},
                           {std::max(update.left, shown.right), std::max(update.top, shown.top), update.right,
                            std::min(update.bottom, shown.bottom)}};
    for (const RECT& band : bands)
      if (band.left < band.right && band.top < band.bottom) FillRect(dc, &band, background);
  }
  if (image) {
    const POINT to = {std::max<LONG>(place.origin.x, 0), std::max<LONG>(place.origin.y, 0)};
    const POINT from = {to.x - place.origin.x, to.y - place.origin.y};
    const SIZE size = {std::min<LONG>(static_cast<LONG>(displayed.width) - from.x, r.client.width - to.x),
                       std::min<LONG>(static_cast<LONG>(displayed.height) - from.y, r.client.height - to.y)};
    DrawView(view, dc, to, from, size, 255);
  }
  return place.scroll;
}

void DrawOverlays(HDC dc, const std::vector<OverlayText>& overlays, Extent client) {
  const LONG margin = (LOWORD(GetDialogBaseUnits()) * 3) >> 2;
  const RECT area = {margin, margin, client.width - margin, client.height - margin};
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = GetTextColor(dc);
  for (const OverlayText& o : overlays) {
    const UINT plain = DT_SINGLELINE | DT_NOPREFIX;
    // Only the size is measured: placed at the bottom, some measure from there.
    RECT measured = area;
    DrawTextW(dc, o.text.c_str(), -1, &measured, plain | DT_CALCRECT);
    if (measured.bottom - measured.top > client.height / 2 ||
        measured.right - measured.left > 2 * (area.right - area.left))
      continue;
    UINT flags = plain | (o.bottom ? DT_BOTTOM : 0);
    if (o.column == OverlayColumn::Right) flags |= DT_RIGHT;
    if (o.column == OverlayColumn::Centre) flags |= DT_CENTER;
    RECT white = {area.left, area.top, area.right - 1, area.bottom - 1};
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextW(dc, o.text.c_str(), -1, &white, flags);
    RECT black = {white.left + 1, white.top + 1, white.right + 1, white.bottom + 1};
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTextW(dc, o.text.c_str(), -1, &black, flags);
  }
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
}

}  // namespace pv
