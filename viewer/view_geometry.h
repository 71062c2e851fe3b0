#pragma once
// The arithmetic that ties the zoom, the orientation, the crop and the
// scroll offsets to the window rectangle. Pure functions: the window code
// measures the screen and applies the results.
#include <cstdint>
#include <optional>

#include "core/checked_math.h"
#include "core/image_buffer.h"

namespace pv {

struct Point {
  int32_t x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Extent {
  int32_t width = 0, height = 0;
  bool operator==(const Extent&) const = default;
};

struct Rect {
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t Right() const { return left + width; }
  int32_t Bottom() const { return top + height; }
  bool operator==(const Rect&) const = default;
};

// In pixels of the oriented image; all zero means no crop.
struct Crop {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool Present() const { return left != 0 || top != 0 || width != 0 || height != 0; }
  bool operator==(const Crop&) const = default;
};

// The smallest image shown is 2 × 2 pixels; the largest is what a buffer and
// the resampler can hold.
inline constexpr uint32_t kMinDisplayedSide = 2;
inline constexpr uint32_t kMaxDisplayedSide = kMaxImageDimension;
inline constexpr uint64_t kMaxDisplayedPixels = kMaxImagePixels;

inline constexpr double kZoomStepIn = 1.189207115002721;    // 2^(1/4): four steps double the size
inline constexpr double kZoomStepOut = 0.8408964152537146;  // 2^(-1/4)

// The zoom a zoom command asks for, or none: a command that is not a zoom
// command, or physical size for an image without a resolution (pixels per inch).
std::optional<double> ZoomForCommand(uint32_t command, double zoom, double dpi, double resolution);

// Round as the displayed sizes do: add 0.5 and truncate.
int64_t RoundHalfUp(double v);

// The largest zoom at which neither displayed side passes kMaxDisplayedSide
// and the displayed area stays within kMaxDisplayedPixels.
double MaxZoom(ImageSize base, double secondScale);

// The displayed size of `base` at `zoom`, or none when the zoom is not a
// finite positive number or a side would fall below kMinDisplayedSide. A zoom
// beyond MaxZoom is capped to it; `zoom` receives the value used.
std::optional<ImageSize> DisplayedSize(ImageSize base, double secondScale, double* zoom);

struct ZoomCost {
  bool exceedsArea = false;  // wider or taller than the area
  bool busy = false;         // rebuilding takes long enough to show the busy cursor
};

// What showing an image at `displayed` costs; bytesPerPixel is 1 for final
// images of one byte per pixel, else 4.
ZoomCost EstimateZoom(ImageSize displayed, uint32_t bytesPerPixel, Extent area);

// The scroll offset that keeps the pixel at the client's centre in place
// when the zoom changes.
int32_t KeepCentreScroll(int32_t oldClient, int32_t scroll, double oldZoom, double newZoom, int32_t newClient);

// The client rectangle of a window that follows its image: the displayed
// size within the area, centred on the old client centre.
Rect FollowImage(const Rect& oldClient, Extent area, ImageSize displayed);

// The zoom that fits (or, with fill, fills) `target`; 1 / base width when
// the target is empty.
double FitZoom(ImageSize base, Extent target, bool fill);

// Frame measurements of a framed window.
struct FrameMetrics {
  int32_t border = 0;   // left and right, each
  int32_t frame = 0;    // top and bottom, each
  int32_t caption = 0;
  int32_t minWidth = 0; // of the whole window
};

struct FitRequest {
  Rect area;             // work area (or monitor for maximized and topmost windows)
  bool framed = false;
  FrameMetrics metrics;
  ImageSize displayed;
  bool autoSize = false;         // large images are sized down to the area
  bool fixedZoomExceeds = false; // the zoom was chosen so the image exceeds the screen
  bool autoPosition = true;
  bool keepCentre = false;
  Rect currentClient;            // screen coordinates
};

struct FitResult {
  Rect client;          // screen coordinates
  bool scaled = false;  // the image must be zoomed to fit `client`
};

// Where the window goes and how large its client is, for the image as
// displayed.
FitResult FitWindowToImage(const FitRequest& request);

// Whether a maximized window fits a new image to its client: always when
// images are sized to the screen both ways, else only an image larger than
// the monitor when large ones are shrunk.
bool MaximizedFitsImage(bool autoSize, bool shrinkOnly, bool shrinkLargeWhenMaximized, ImageSize base, Rect monitor);

// What a window knows, before its next image is decoded, of the layout that
// will show it: the decode ahead builds the display at the zoom this guesses,
// and a wrong guess only costs the time it would have saved.
struct LayoutGuess {
  FitRequest fit;  // area, framed, metrics and autoSize of a window that sizes itself
  bool maximized = false;
  bool shrinkOnly = true, shrinkLargeWhenMaximized = true;
  Rect monitor;
  Extent client;
  bool frozen = false;
  Rect frozenPlace;  // width 0 until the first layout placed the frozen window
};
// The zoom the layout after a new image of this (oriented) size will choose.
double GuessLayoutZoom(const LayoutGuess& guess, ImageSize base);

// The orientation after a turn command: bits 0-1 quarter turns, bit 2
// mirror, bit 3 flip. Other commands leave it.
uint8_t TurnOrientation(uint8_t orientation, uint32_t command);

// Whether a turn starts from 100 %: in a maximized window that shrinks large
// images, an image fitted to the client (filling it in one direction) is
// fitted anew after the turn rather than kept at the old fit's zoom.
bool TurnResetsZoom(bool maximized, bool shrinkLargeWhenMaximized, ImageSize displayed, Extent client);

// The orientation (clockwise quarter turns, then mirror 4, flip 8) that
// shows upright an image whose metadata gives this transform code: the
// code tells how the picture lies as stored, the orientation undoes it.
uint8_t OrientationForCode(uint8_t transformCode);

// Crops to what the client shows of an image larger than it; false (nothing
// changed) when the image fits in both directions. The scroll offsets become 0.
bool CropToVisible(Crop* crop, Point* scroll, double zoom, Extent client, ImageSize displayed);

// 0 ... displayed - client, or 0 when the image is smaller than the client.
int32_t ClampScroll(int32_t scroll, uint32_t displayed, int32_t client);

// The step of a numeric-keypad key (1-9, 5 centres): 10 pixels, 100 with Shift.
Point KeypadStep(uint32_t key, bool shift);

// Scroll offsets after a keypad key on an image larger than the client;
// drawing clamps them later.
Point ScrollByKey(Point scroll, uint32_t key, bool shift, Extent client, ImageSize displayed);

// The client rectangle moved by a keypad key (5 centres it in the area),
// kept inside the area.
Rect MoveByKey(const Rect& client, uint32_t key, bool shift, const Rect& area);

// The left and top of a window dragged to `wanted`, kept so that at least
// one pixel of the client stays inside the area.
Point ClampDraggedWindow(Point wanted, Extent client, const Rect& area, const FrameMetrics& metrics);

struct WheelState {
  bool shift = false, ctrl = false;
  bool left = false, right = false, middle = false;  // buttons held
  bool imageWider = false, imageTaller = false;      // than the client
};

struct WheelResult {
  uint32_t command = 0;     // a viewer command to send, or 0
  uint32_t key = 0;         // keypad key (2, 4, 6 or 8) to press `presses` times
  uint32_t presses = 0;
  bool usedWithRight = false;  // the right button's release shows no menu
};

// Turns wheel deltas into image steps, zoom steps or scrolling key presses.
// One notch is 120: it steps one image or one zoom step, or scrolls 20 keypad steps.
class WheelAccumulator {
 public:
  WheelResult Add(int32_t delta, const WheelState& state);

 private:
  int32_t sum_ = 0;
};

// The cursor over the client area. A hand shows that the image can be
// dragged: it is larger than the client in the directions the hand points.
enum class ViewCursor : uint8_t { Arrow, Wait, HandBoth, HandWide, HandTall };

struct CursorState {
  bool busy = false;       // a load or rebuild is running
  bool altHeld = false;    // a drag moves the window instead
  bool moveMode = false;   // the middle button moves the window
  bool frozen = false;
  ImageSize displayed;
  Extent client;
};

ViewCursor ChooseCursor(const CursorState& state);

}  // namespace pv
