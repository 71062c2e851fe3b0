#include "viewer/view_geometry.h"

#include <algorithm>
#include <cmath>

#include "toolkit/command_ids.h"

namespace pv {

namespace {

constexpr double kZoomPresets[] = {0.125, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 4.0, 8.0};

int32_t Clamp(int32_t v, int32_t low, int32_t high) { return std::max(low, std::min(v, high)); }

}  // namespace

int64_t RoundHalfUp(double v) { return static_cast<int64_t>(v + 0.5); }

std::optional<double> ZoomForCommand(uint32_t command, double zoom, double dpi, double resolution) {
  if (command >= kCmdZoom12 && command <= kCmdZoom800) return kZoomPresets[command - kCmdZoom12];
  if (command == kCmdZoomIn) return zoom * kZoomStepIn;
  if (command == kCmdZoomOut) return zoom * kZoomStepOut;
  if (command == kCmdZoomPhysical && resolution > 0 && std::isfinite(resolution)) return dpi / resolution;
  return std::nullopt;
}

double MaxZoom(ImageSize base, double secondScale) {
  const double w = base.width * secondScale, h = base.height;
  if (w <= 0 || h <= 0) return 0;
  const double bySide = kMaxDisplayedSide / std::max(w, h);
  const double byArea = std::sqrt(static_cast<double>(kMaxDisplayedPixels) / (w * h));
  return std::min(bySide, byArea);
}

std::optional<ImageSize> DisplayedSize(ImageSize base, double secondScale, double* zoom) {
  // Displayed sides are 32-bit and every buffer has a size limit: a zoom that
  // is not a number, or so large the sides would overflow, is never applied.
  if (!std::isfinite(*zoom) || *zoom <= 0 || !std::isfinite(secondScale) || secondScale <= 0) return std::nullopt;
  *zoom = std::min(*zoom, MaxZoom(base, secondScale));
  const int64_t w = RoundHalfUp(base.width * secondScale * *zoom);
  const int64_t h = RoundHalfUp(base.height * *zoom);
  if (w < kMinDisplayedSide || h < kMinDisplayedSide) return std::nullopt;
  return ImageSize{static_cast<uint32_t>(w), static_cast<uint32_t>(h)};
}

ZoomCost EstimateZoom(ImageSize displayed, uint32_t bytesPerPixel, Extent area) {
  constexpr uint64_t kBusyBytes = 0x7FFFFFF;
  ZoomCost cost;
  cost.exceedsArea = int64_t{displayed.width} > area.width || int64_t{displayed.height} > area.height;
  cost.busy = uint64_t{displayed.width} * displayed.height * bytesPerPixel > kBusyBytes;
  return cost;
}

int32_t KeepCentreScroll(int32_t oldClient, int32_t scroll, double oldZoom, double newZoom, int32_t newClient) {
  const int64_t imagePixel = RoundHalfUp((oldClient / 2 + scroll) * (1 / oldZoom));
  return static_cast<int32_t>(RoundHalfUp(imagePixel * newZoom) - newClient / 2);
}

Rect FollowImage(const Rect& oldClient, Extent area, ImageSize displayed) {
  const int32_t w = static_cast<int32_t>(std::min<int64_t>(area.width, displayed.width));
  const int32_t h = static_cast<int32_t>(std::min<int64_t>(area.height, displayed.height));
  const int32_t cx = oldClient.left + oldClient.width / 2;
  const int32_t cy = oldClient.top + oldClient.height / 2;
  return {cx - w / 2, cy - h / 2, w, h};
}

double FitZoom(ImageSize base, Extent target, bool fill) {
  if (base.width == 0 || base.height == 0) return 1;
  if (target.width <= 0 || target.height <= 0) return 1.0 / base.width;
  const double a = static_cast<double>(base.width) / base.height;
  const double t = static_cast<double>(target.width) / target.height;
  const bool byWidth = (a >= t) != fill;
  return byWidth ? static_cast<double>(target.width) / base.width : static_cast<double>(target.height) / base.height;
}

FitResult FitWindowToImage(const FitRequest& r) {
  int32_t usableW = r.area.width, usableH = r.area.height;
  if (r.framed) {
    usableW -= 2 * r.metrics.border;
    usableH -= 2 * r.metrics.frame + r.metrics.caption;
  }
  const bool mayScale = r.autoSize && !r.fixedZoomExceeds;
  FitResult result;
  int64_t w = r.displayed.width, h = r.displayed.height;
  // The height is limited first, then the width.
  if (h > usableH) {
    if (mayScale) {
      w = RoundHalfUp(double(w) * usableH / h);
      result.scaled = true;
    }
    h = usableH;
  }
  if (w > usableW) {
    if (mayScale) {
      h = RoundHalfUp(double(h) * usableW / w);
      result.scaled = true;
    }
    w = usableW;
  }
  Rect& c = result.client;
  c.width = static_cast<int32_t>(w);
  c.height = static_cast<int32_t>(h);
  if (r.autoPosition) {
    const bool own = r.keepCentre;
    const int32_t cx = own ? r.currentClient.left + r.currentClient.width / 2 : r.area.left + r.area.width / 2;
    const int32_t cy = own ? r.currentClient.top + r.currentClient.height / 2 : r.area.top + r.area.height / 2;
    c.left = cx - c.width / 2;
    c.top = cy - c.height / 2;
  } else {
    c.left = r.currentClient.left;
    c.top = r.currentClient.top;
  }
  // Only a window that would lie wholly outside the area is brought back.
  if (c.left >= r.area.Right()) c.left = r.area.Right() - c.width;
  if (c.left + c.width < r.area.left) c.left = r.area.left;
  if (c.top >= r.area.Bottom()) c.top = r.area.Bottom() - c.height;
  if (c.top + c.height < r.area.top) c.top = r.area.top;
  // A centred window sits half a caption lower; a window placed where it
  // was asked to be (or restored there) must not creep down.
  if (r.framed && r.autoPosition && !r.keepCentre) c.top += r.metrics.caption / 2;
  return result;
}

bool MaximizedFitsImage(bool autoSize, bool shrinkOnly, bool shrinkLargeWhenMaximized, ImageSize base, Rect monitor) {
  const bool larger = base.width > static_cast<uint32_t>(monitor.width) ||
                      base.height > static_cast<uint32_t>(monitor.height);
  return (autoSize && !shrinkOnly) || ((autoSize || shrinkLargeWhenMaximized) && larger);
}

double GuessLayoutZoom(const LayoutGuess& g, ImageSize base) {
  const Rect& place = g.frozenPlace;
  if (g.frozen && place.width > 0 &&
      (base.width > static_cast<uint32_t>(place.width) || base.height > static_cast<uint32_t>(place.height))) {
    return FitZoom(base, {place.width, place.height}, false);
  }
  if (g.maximized && !g.frozen) {
    return MaximizedFitsImage(g.fit.autoSize, g.shrinkOnly, g.shrinkLargeWhenMaximized, base, g.monitor)
               ? FitZoom(base, g.client, false)
               : 1;
  }
  FitRequest request = g.fit;
  request.displayed = base;
  request.fixedZoomExceeds = false;
  const FitResult fit = FitWindowToImage(request);
  return fit.scaled ? FitZoom(base, {fit.client.width, fit.client.height}, false) : 1;
}

uint8_t OrientationForCode(uint8_t code) {
  // By code 0-8. Code 6 (half a turn and a flip) is the same picture as the
  // mirror, code 8.
  constexpr uint8_t kOrientations[9] = {0, 3, 2, 1, 8, 5, 4, 7, 4};
  return code < 9 ? kOrientations[code] : 0;
}

bool TurnResetsZoom(bool maximized, bool shrinkLargeWhenMaximized, ImageSize displayed, Extent client) {
  return maximized && shrinkLargeWhenMaximized &&
         (int64_t{displayed.width} == client.width || int64_t{displayed.height} == client.height);
}

uint8_t TurnOrientation(uint8_t o, uint32_t command) {
  const uint8_t turns = o & 3, flags = o & 0xC;
  switch (command) {
    case kCmdTurnRight: return flags | ((turns + 1) & 3);
    case kCmdTurnHalf: return flags | ((turns + 2) & 3);
    case kCmdTurnLeft: return flags | ((turns + 3) & 3);
    case kCmdMirror: return o ^ 4;
    case kCmdFlip: return o ^ 8;
    default: return o;
  }
}

bool CropToVisible(Crop* crop, Point* scroll, double zoom, Extent client, ImageSize displayed) {
  const bool wider = int64_t{displayed.width} > client.width;
  const bool taller = int64_t{displayed.height} > client.height;
  if (!wider && !taller) return false;
  const double f = 1 / zoom;
  crop->left += wider ? static_cast<int32_t>(scroll->x * f) : 0;
  crop->top += taller ? static_cast<int32_t>(scroll->y * f) : 0;
  crop->width = static_cast<int32_t>((wider ? client.width : int64_t{displayed.width}) * f);
  crop->height = static_cast<int32_t>((taller ? client.height : int64_t{displayed.height}) * f);
  *scroll = {0, 0};
  return true;
}

int32_t ClampScroll(int32_t scroll, uint32_t displayed, int32_t client) {
  const int64_t room = int64_t{displayed} - client;
  if (room <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(scroll, 0, room));
}

Point KeypadStep(uint32_t key, bool shift) {
  const int32_t s = shift ? 100 : 10;
  // Keys 1-9 as the keypad lays them out: 7 8 9 on top, 1 2 3 at the bottom.
  if (key < 1 || key > 9 || key == 5) return {0, 0};
  const int32_t column = static_cast<int32_t>((key - 1) % 3) - 1;
  const int32_t row = 1 - static_cast<int32_t>((key - 1) / 3);
  return {column * s, row * s};
}

Point ScrollByKey(Point scroll, uint32_t key, bool shift, Extent client, ImageSize displayed) {
  if (key == 5)
    return {static_cast<int32_t>((int64_t{displayed.width} - client.width) / 2),
            static_cast<int32_t>((int64_t{displayed.height} - client.height) / 2)};
  const Point step = KeypadStep(key, shift);
  return {scroll.x + step.x, scroll.y + step.y};
}

Rect MoveByKey(const Rect& client, uint32_t key, bool shift, const Rect& area) {
  Rect moved = client;
  if (key == 5) {
    moved.left = area.left + (area.width - client.width) / 2;
    moved.top = area.top + (area.height - client.height) / 2;
  } else {
    const Point step = KeypadStep(key, shift);
    moved.left += step.x;
    moved.top += step.y;
  }
  moved.left = std::max(area.left, std::min(moved.left, area.Right() - client.width));
  moved.top = std::max(area.top, std::min(moved.top, area.Bottom() - client.height));
  return moved;
}

Point ClampDraggedWindow(Point wanted, Extent client, const Rect& area, const FrameMetrics& m) {
  return {Clamp(wanted.x, area.left + 1 + m.border - client.width, area.Right() - m.border - 2),
          Clamp(wanted.y, area.top + 1 + m.frame - client.height, area.Bottom() - m.frame - 2)};
}

WheelResult WheelAccumulator::Add(int32_t delta, const WheelState& state) {
  constexpr int32_t kNotch = 120, kUnitsPerKey = 6;
  WheelResult r;
  if (state.middle) return r;
  const bool images = state.shift || state.left;
  const bool zoom = !images && (state.ctrl || state.right);
  if (images || zoom) {
    sum_ += delta;
    if (sum_ > -kNotch && sum_ < kNotch) return r;
    if (images) {
      r.command = sum_ < 0 ? kCmdNextImage : kCmdPreviousImage;
    } else {
      r.command = sum_ < 0 ? kCmdZoomOut : kCmdZoomIn;
      r.usedWithRight = state.right;
    }
    sum_ = 0;
    return r;
  }
  if (!state.imageWider && !state.imageTaller) return r;
  sum_ += delta;
  r.presses = static_cast<uint32_t>((sum_ < 0 ? -sum_ : sum_) / kUnitsPerKey);
  if (r.presses == 0) return r;
  if (sum_ > 0) {
    r.key = state.imageTaller ? 8 : 6;
  } else {
    r.key = state.imageTaller ? 2 : 4;
  }
  sum_ %= kUnitsPerKey;
  return r;
}

ViewCursor ChooseCursor(const CursorState& state) {
  if (state.busy) return ViewCursor::Wait;
  if (state.altHeld || state.moveMode || state.frozen) return ViewCursor::Arrow;
  const bool wider = int64_t{state.displayed.width} > state.client.width;
  const bool taller = int64_t{state.displayed.height} > state.client.height;
  if (wider && taller) return ViewCursor::HandBoth;
  if (wider) return ViewCursor::HandWide;
  return taller ? ViewCursor::HandTall : ViewCursor::Arrow;
}

}  // namespace pv
