#pragma once
// One shown image and its chain of derived images: the source frame or
// page, the composed animation frame, the adjusted image (flattened, colour
// adjusted, turned, cropped) and the final image, scaled to the zoom and
// ready for the screen. Each stage is rebuilt only when what feeds it changes.
#include <cstdint>

#include "core/counted.h"
#include "core/decoder.h"
#include "core/image_buffer.h"
#include "viewer/adjustment_file.h"
#include "viewer/view_geometry.h"

namespace pv {

enum class StepDirection : uint8_t { Next = 1, Previous = 2, First = 4 };

struct ViewOptions {
  bool renderWithAlpha = true;   // else transparent images are flattened over their background
  bool needScreenBuffer = true;  // the final image is screen-compatible
  uint32_t screenDepth = 32;     // bits per pixel of the screen, read when the view is made
};

class ViewState : public CountedObject {
 public:
  // Keeps a reference to `image`, the first frame or page of its chain.
  ViewState(ImageBuffer* image, uint8_t imageOrientation, const ViewOptions& options = {});

  // Reads the image's adjustment companion, unless the path names no file ("<...>").
  void LoadAdjustments(const wchar_t* imagePath);

  bool IsAnimated() const { return animated_; }
  // A screen of 8 bits or fewer shows colours through a realized palette.
  bool OnPaletteScreen() const { return options_.screenDepth <= 8; }
  ImageBuffer* Source() const { return source_.get(); }
  // The first frame or page: the one that carries the file's path.
  ImageBuffer* First() const { return first_.get(); }
  ImageBuffer* Final() const { return final_.get(); }
  // The adjusted image (else the composed, else the source): what is shown
  // before the zoom, and what is saved.
  ImageBuffer* Base() const;
  ImageSize BaseSize() const;
  // Size of the final image, else the base size.
  ImageSize DisplayedSize() const;

  double Zoom() const { return zoom_; }
  double SecondScale() const { return secondScale_; }
  // Refused (false) for a zoom that is not finite and positive or that
  // shows a side below 2 pixels; capped to what a buffer can hold. Drops
  // the final image when the zoom changes.
  bool SetZoom(double zoom);
  void SetSecondScale(double scale);
  uint8_t Orientation() const { return values_.orientation; }
  // The orientation the image itself asks for.
  uint8_t ImageOrientation() const { return imageOrientation_; }
  void SetOrientation(uint8_t orientation);
  const Crop& CropRect() const { return crop_; }
  void SetCrop(const Crop& crop);
  const ViewAdjustments& Adjustments() const { return values_; }
  void SetAdjustments(const ViewAdjustments& values);

  // The one-pixel frame around the image of a borderless window (colour
  // 0xRRGGBB); the final image carries it when it is screen-compatible.
  void SetBorder(bool shown, uint32_t colour);
  bool HasBorder() const { return bordered_ && final_; }

  // Colour values away from neutral.
  int ColourCount() const { return values_.colour.Count(); }

  // Fill the missing stages; a set cancel flag stops them early without
  // error. A stage that cannot be built returns its settings to neutral and
  // passes its input on.
  void BuildAdjustedImage(const CancelFlag* cancel = nullptr);
  void BuildDisplayImage(const CancelFlag* cancel = nullptr);

  // Steps to the next or previous frame or page, or rewinds to the first;
  // false when there is nowhere to go, or when the frame could not be drawn
  // (the view is then back on the first frame).
  bool StepFrame(StepDirection direction);
  // The shown frame or page, counted from 0, and how many the image has.
  uint32_t FrameIndex() const;
  uint32_t FrameCount() const;

 private:
  bool BuildComposed();
  // Disposes of the shown frame and draws its successor (which must exist)
  // on the canvas; false when it could not be drawn.
  bool ComposeNext();
  void RewindCanvas();
  void Rewind();
  void DropAdjusted();
  void ResetToNeutral();
  void MarkBorder();

  Ref<ImageBuffer> first_;
  Ref<ImageBuffer> source_;
  Ref<ImageBuffer> composed_;
  Ref<ImageBuffer> adjusted_;
  Ref<ImageBuffer> final_;
  // The canvas under the current frame, saved before a frame that restores it.
  Ref<ImageBuffer> savedArea_;
  bool animated_;
  ViewOptions options_;
  uint8_t imageOrientation_;
  double zoom_ = 1;
  double secondScale_ = 1;
  Crop crop_;
  ViewAdjustments values_;
  bool border_ = false;
  bool bordered_ = false;
  uint32_t borderColour_ = 0;
};

}  // namespace pv
