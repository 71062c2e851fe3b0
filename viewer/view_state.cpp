#include "viewer/view_state.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/path_name.h"
#include "core/pixel_convert.h"
#include "core/resample.h"
#include "viewer/render_stages.h"

namespace pv {

namespace {

// An animation has timed frames; a chain of pages waits for the user.
bool IsAnimation(const ImageBuffer& image) {
  return image.Frame().next != nullptr && image.Frame().delay != kDelayWaitForUser;
}

// The frame's rectangle on the canvas; offsets from the file that lie beyond
// the 32-bit range stay beyond the canvas.
Rect FrameRect(const ImageBuffer& frame) {
  const auto coordinate = [](uint32_t v) {
    return static_cast<int32_t>(std::min<uint32_t>(v, std::numeric_limits<int32_t>::max()));
  };
  return {coordinate(frame.Frame().left), coordinate(frame.Frame().top), static_cast<int32_t>(frame.Width()),
          static_cast<int32_t>(frame.Height())};
}

PixelFormat ScreenFormat(PixelFormat f) {
  switch (f) {
    case PixelFormat::Indexed8: return PixelFormat::Indexed8;
    case PixelFormat::Grey8:
    case PixelFormat::Grey16:
    case PixelFormat::GreyF: return PixelFormat::Grey8;
    default: return PixelFormat::Rgba8;
  }
}

}  // namespace

ViewState::ViewState(ImageBuffer* image, uint8_t imageOrientation, const ViewOptions& options)
    : first_(Ref<ImageBuffer>::Retain(image)),
      source_(first_),
      animated_(image && IsAnimation(*image)),
      options_(options),
      imageOrientation_(imageOrientation & kMaxOrientation) {
  values_.orientation = imageOrientation_;
}

void ViewState::LoadAdjustments(const wchar_t* imagePath) {
  if (!imagePath || IsPseudoPath(imagePath)) return;
  ViewAdjustments read = values_;
  if (ReadAdjustmentFile(imagePath, &read)) SetAdjustments(read);
}

ImageBuffer* ViewState::Base() const {
  if (adjusted_) return adjusted_.get();
  if (composed_) return composed_.get();
  return source_.get();
}

ImageSize ViewState::BaseSize() const {
  const ImageBuffer* base = Base();
  return base ? base->Dimensions() : ImageSize{};
}

ImageSize ViewState::DisplayedSize() const { return final_ ? final_->Dimensions() : BaseSize(); }

bool ViewState::SetZoom(double zoom) {
  if (!source_ || !pv::DisplayedSize(BaseSize(), secondScale_, &zoom)) return false;
  if (zoom != zoom_) {
    zoom_ = zoom;
    final_.Reset();
  }
  return true;
}

void ViewState::SetSecondScale(double scale) {
  if (!std::isfinite(scale) || scale <= 0 || scale == secondScale_) return;
  secondScale_ = scale;
  final_.Reset();
}

void ViewState::SetOrientation(uint8_t orientation) {
  orientation &= kMaxOrientation;
  if (orientation == values_.orientation) return;
  values_.orientation = orientation;
  DropAdjusted();
}

void ViewState::SetCrop(const Crop& crop) {
  if (crop == crop_) return;
  crop_ = crop;
  DropAdjusted();
}

void ViewState::SetAdjustments(const ViewAdjustments& values) {
  if (values == values_) return;
  values_ = values;
  values_.orientation &= kMaxOrientation;
  DropAdjusted();
}

void ViewState::DropAdjusted() {
  adjusted_.Reset();
  final_.Reset();
}

void ViewState::ResetToNeutral() {
  zoom_ = 1;
  secondScale_ = 1;
  values_ = ViewAdjustments{};
  crop_ = Crop{};
}

bool ViewState::BuildComposed() {
  if (composed_) return true;
  if (!source_) return false;
  if (!animated_) {
    composed_ = source_;
    return true;
  }
  Ref<ImageBuffer> canvas(CreateCanvas(*source_));
  if (!canvas || Failed(DrawFrame(*canvas, *source_))) return false;
  composed_ = canvas;
  return true;
}

void ViewState::BuildAdjustedImage(const CancelFlag* cancel) {
  final_.Reset();
  if (adjusted_ || IsCancelled(cancel) || !BuildComposed()) return;
  Ref<ImageBuffer> image = composed_;

  if (!options_.renderWithAlpha && !animated_ && image->UsesAlpha()) {
    if (Ref<ImageBuffer> flat{FlattenImage(*image, image->Frame().background)}) image = flat;
  }

  if (ColourCount() > 0) {
    // The palette of an indexed image has no kernel of its own: it is adjusted as colour.
    Ref<ImageBuffer> input = image;
    if (image->Format() == PixelFormat::Indexed8)
      input = Ref<ImageBuffer>(CloneImageBuffer(*image, false, false, PixelFormat::Rgba8));
    Ref<ImageBuffer> adjusted;
    if (input) adjusted = Ref<ImageBuffer>(CreateImageBuffer(input->Format(), input->Dimensions(), false));
    if (!adjusted ||
        Failed(AdjustColours(*adjusted, *input, values_.colour, AdjustmentBandCount(input->Dimensions())))) {
      ResetToNeutral();
    } else {
      CopyDescription(*adjusted, *input);
      image = adjusted;
    }
  }
  if (IsCancelled(cancel)) return;

  if (values_.orientation != 0) {
    Ref<ImageBuffer> turned(OrientImage(*image, values_.orientation));
    if (turned) {
      image = turned;
    } else {
      values_.orientation = 0;
    }
  }

  if (crop_.Present()) {
    Ref<ImageBuffer> cropped(CropImage(*image, crop_));
    if (cropped) {
      image = cropped;
    } else {
      crop_ = Crop{};
      values_.colour = ColourAdjustments{};
    }
  }

  if (const int32_t strength = SharpeningStrength(values_.sharpening)) {
    Ref<ImageBuffer> input = image;
    if (image->Format() == PixelFormat::Indexed8)
      input = Ref<ImageBuffer>(CloneImageBuffer(*image, false, false, PixelFormat::Rgba8));
    Ref<ImageBuffer> sharpened;
    if (input) sharpened = Ref<ImageBuffer>(SharpenImage(*input, strength));
    if (sharpened) {
      image = sharpened;
    } else {
      values_.sharpening = 0;
    }
  }
  adjusted_ = image;
}

void ViewState::BuildDisplayImage(const CancelFlag* cancel) {
  if (!adjusted_) BuildAdjustedImage(cancel);
  if (final_ || !adjusted_ || IsCancelled(cancel)) return;
  Ref<ImageBuffer> image = adjusted_;

  if (zoom_ != 1 || secondScale_ != 1) {
    const ImageSize size{static_cast<uint32_t>(RoundHalfUp(image->Width() * secondScale_ * zoom_)),
                         static_cast<uint32_t>(RoundHalfUp(image->Height() * zoom_))};
    PixelFormat format = image->Format() == PixelFormat::Indexed8 ? PixelFormat::Rgba8 : image->Format();
    const bool screen =
        options_.needScreenBuffer && (format == PixelFormat::Rgba8 || format == PixelFormat::Grey8);
    Ref<ImageBuffer> scaled(CreateImageBuffer(format, size, screen));
    const Status status = scaled ? ResampleInto(*scaled, *image, cancel) : kStatusOutOfMemory;
    if (status == kStatusCancelled) return;
    if (Succeeded(status)) {
      CopyDescription(*scaled, *image);
      image = scaled;
    } else {
      // Shown at 100 %: the caller sees the zoom fall back and restores its own.
      zoom_ = 1;
      secondScale_ = 1;
    }
  }

  if (options_.needScreenBuffer && !image->IsScreenCompatible()) {
    if (Ref<ImageBuffer> converted{CloneImageBuffer(*image, false, true, ScreenFormat(image->Format()))})
      image = converted;
  }
  // Blending on the screen takes colours already multiplied by alpha.
  if (options_.needScreenBuffer && image->Format() == PixelFormat::Rgba8 && image->UsesAlpha() == 1) {
    if (Ref<ImageBuffer> premultiplied{PremultiplyAlpha(*image)}) image = premultiplied;
  }
  final_ = image;
  MarkBorder();
}

void ViewState::SetBorder(bool shown, uint32_t colour) {
  border_ = shown;
  borderColour_ = colour;
  MarkBorder();
}

void ViewState::MarkBorder() { bordered_ = border_ && final_ && DrawBorder(*final_, borderColour_); }

void ViewState::RewindCanvas() {
  source_ = first_;
  composed_.Reset();
  savedArea_.Reset();
  DropAdjusted();
  BuildComposed();
}

void ViewState::Rewind() {
  RewindCanvas();
  BuildDisplayImage();
}

uint32_t ViewState::FrameIndex() const {
  uint32_t index = 0;
  for (const ImageBuffer* f = source_.get(); f && f->Frame().previous; f = f->Frame().previous) ++index;
  return index;
}

uint32_t ViewState::FrameCount() const {
  uint32_t count = 0;
  for (const ImageBuffer* f = first_.get(); f; f = f->Frame().next) ++count;
  return count;
}

bool ViewState::StepFrame(StepDirection direction) {
  if (!source_) return false;
  if (direction == StepDirection::First) {
    Rewind();
    return true;
  }
  if (animated_ && direction == StepDirection::Previous) {
    // A frame is drawn over what the earlier ones left: replay them. Before
    // the first frame of a looping animation comes its last.
    uint32_t target = FrameIndex();
    if (target == 0 && !first_->Frame().loop) return false;
    if (target == 0) target = FrameCount();
    RewindCanvas();
    for (uint32_t i = 1; i < target; ++i) {
      if (!ComposeNext()) {
        Rewind();
        return false;
      }
    }
    BuildDisplayImage();
    return true;
  }
  ImageBuffer* neighbour = direction == StepDirection::Next ? source_->Frame().next : source_->Frame().previous;
  if (!neighbour) {
    if (direction == StepDirection::Next && animated_ && first_->Frame().loop) {
      Rewind();
      return true;
    }
    return false;
  }
  if (!animated_) {
    composed_.Reset();
    DropAdjusted();
    source_ = Ref<ImageBuffer>::Retain(neighbour);
    BuildDisplayImage();
    return true;
  }
  if (!ComposeNext()) {
    // The canvas now holds a half-disposed frame: show the first one rather
    // than a picture the file never had, and let the animation stop.
    Rewind();
    return false;
  }
  BuildDisplayImage();
  return true;
}

bool ViewState::ComposeNext() {
  if (!BuildComposed()) return false;
  Ref<ImageBuffer> next = Ref<ImageBuffer>::Retain(source_->Frame().next);
  ImageBuffer& canvas = *composed_;
  const Rect current = FrameRect(*source_);
  switch (source_->Frame().disposal) {
    case 1:
      FillArea(canvas, current, source_->Frame().background);
      break;
    case 2:
      if (savedArea_) {
        PasteArea(canvas, *savedArea_, {current.left, current.top});
      } else {
        FillArea(canvas, current, 0);
      }
      break;
    default:
      break;
  }
  savedArea_.Reset();
  if (next->Frame().disposal == 2) savedArea_ = Ref<ImageBuffer>(CopyArea(canvas, FrameRect(*next)));
  DropAdjusted();
  source_ = next;
  return Succeeded(DrawFrame(canvas, *source_));
}

}  // namespace pv
