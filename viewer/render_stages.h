#pragma once
// The stages of the displayed image that only touch buffers: composing
// animation frames, flattening, colour adjustments, orientation, crop and
// the automatic background colour.
#include <cstdint>

#include "core/image_buffer.h"
#include "core/status.h"
#include "viewer/view_geometry.h"

namespace pv {

// Alpha is never changed by the adjustments; neutral is all 0 with gamma 1.
struct ColourAdjustments {
  float contrast = 0, brightness = 0, hue = 0, saturation = 0, luminance = 0;
  float red = 0, green = 0, blue = 0;
  float gamma = 1;
  bool invert = false;

  // How many of the values differ from neutral.
  int Count() const;
  bool operator==(const ColourAdjustments&) const = default;
};

// The arithmetic of one pixel on samples in 0...1 (grey: r = g = b); used by
// every format's kernel, exposed for tests.
struct ColourKernel {
  explicit ColourKernel(const ColourAdjustments& a);
  void Apply(float* r, float* g, float* b) const;
  void ApplyGrey(float* v) const;
  // Colour values run through the hue or gamma steps, which round half up;
  // the others round half to even.
  bool exactPath;

 private:
  ColourAdjustments a_;
  float offsetR_, offsetG_, offsetB_;
};

// The bands a colour adjustment of this size splits into.
uint32_t AdjustmentBandCount(ImageSize size);

// Writes the adjusted pixels of `source` into `target` (same format and
// size; formats 0-5) in `bands` row bands.
Status AdjustColours(ImageBuffer& target, const ImageBuffer& source, const ColourAdjustments& adjustments,
                     uint32_t bands);

// Copies what a derived image keeps of its source: the frame fields, the
// uses-alpha flag and the palette.
void CopyDescription(ImageBuffer& target, const ImageBuffer& source);

// A new image of the source turned (bits 0-1, clockwise quarter turns),
// then mirrored (bit 2, left-right) and flipped (bit 3, top-bottom); null
// when it cannot be allocated.
ImageBuffer* OrientImage(const ImageBuffer& source, uint8_t orientation);

// A new image of the crop rectangle, clipped to the source; null when
// nothing is left or it cannot be allocated.
ImageBuffer* CropImage(const ImageBuffer& source, const Crop& crop);

// The strength of a sharpening amount, in 1/256 units; 0 changes nothing.
int32_t SharpeningStrength(float amount);

// A new image of the source (any format but Indexed8) sharpened by adding
// its difference from a 3 × 3 blur, times the strength / 256; alpha is kept.
// Null on allocation failure or for Indexed8.
ImageBuffer* SharpenImage(const ImageBuffer& source, int32_t strength);

// A new opaque copy of an image with alpha, composited over `background`
// (0xAARRGGBB); null for formats without alpha or on allocation failure.
ImageBuffer* FlattenImage(const ImageBuffer& source, uint32_t background);

// A screen-compatible Rgba8 copy with the colours multiplied by alpha, as
// alpha blending on the screen expects (uses-alpha 2); null on failure.
ImageBuffer* PremultiplyAlpha(const ImageBuffer& source);

// One row of 4-byte pixels with alpha last, colours multiplied by alpha
// (rounded); source and target may be the same row.
void PremultiplyRow(const uint8_t* source, uint8_t* target, uint32_t width);

// The animation canvas for a first frame: screen-compatible Rgba8, as large
// as the canvas and the frame, filled with the frame's background.
ImageBuffer* CreateCanvas(const ImageBuffer& frame);

// Draws a frame onto the canvas at its offset: replacing the area, or with
// blend 1 composited over it. Clipped to the canvas.
Status DrawFrame(ImageBuffer& canvas, ImageBuffer& frame);

// Fills a rectangle of an Rgba8 image with a 0xAARRGGBB colour, clipped.
void FillArea(ImageBuffer& canvas, const Rect& area, uint32_t colour);

// Copies `from` (an Rgba8 image) onto the canvas with its top-left at `at`,
// clipped.
void PasteArea(ImageBuffer& canvas, const ImageBuffer& from, Point at);

// A new Rgba8 image of the canvas area, clipped to the canvas (transparent
// black outside it); null on allocation failure.
ImageBuffer* CopyArea(const ImageBuffer& canvas, const Rect& area);

// The pixel at (x, y) as 0xAARRGGBB, from any format.
uint32_t SamplePixel(const ImageBuffer& image, uint32_t x, uint32_t y);

// The median of the opaque-enough corner and centre samples (or of inner
// samples when too few are), opaque; grey when the image is mostly transparent.
uint32_t PickBackgroundColour(const ImageBuffer& image);

// Writes a one-pixel frame of the colour (0xRRGGBB) just outside the image,
// into the guard rows and row margins of a screen-compatible buffer, so that
// the image drawn from one pixel up and left and two pixels larger carries
// it. A palette image takes its nearest entry, a grey one the colour's
// brightness. False (nothing written) for other buffers.
bool DrawBorder(ImageBuffer& image, uint32_t colour);

}  // namespace pv
