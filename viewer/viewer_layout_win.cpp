// How the viewer window follows its image: zoom, fit, turn, crop.
#include <algorithm>

#include "toolkit/command_ids.h"
#include "viewer/viewer_window.h"

namespace pv {

void ViewerWindow::SetZoom(double zoom) {
  if (!view_ || zoom == view_->Zoom()) return;
  const double oldZoom = view_->Zoom();
  double used = zoom;
  std::optional<ImageSize> shown = DisplayedSize(view_->BaseSize(), view_->SecondScale(), &used);
  if (!shown) return;  // below 2 pixels: ignored
  const Rect area = LayoutArea();
  const uint32_t bytes = view_->Source()->BytesPerPixel() == 1 ? 1 : 4;
  const ZoomCost cost = EstimateZoom(*shown, bytes, {area.width, area.height});
  exceedsScreen_ = cost.exceedsArea;
  if (cost.busy) SetBusy(true);
  if (view_->SetZoom(zoom)) view_->BuildDisplayImage();
  if (cost.busy) SetBusy(false);
  if (view_->Zoom() != used) {
    // No memory for that size: the previous zoom comes back, under the
    // not-allowed cursor; only when even that fails is the user told.
    SetCursor(LoadCursorW(nullptr, IDC_NO));
    if (view_->SetZoom(oldZoom)) view_->BuildDisplayImage();
    exceedsScreen_ = false;
    if (view_->Zoom() != oldZoom) ShowError(kStatusOutOfMemory, L"");
  }
  const double newZoom = view_->Zoom();
  const ImageSize displayed = view_->DisplayedSize();
  Rect client = ClientOnScreen();
  // The first layout places the window itself (where -pos put it, or
  // centred): a start zoom only sizes the image.
  const bool follows = hadClient_ && !IsMaximized() && !options_.frozen;
  if (follows) client = FollowImage(client, {area.width, area.height}, displayed);
  scroll_.x = KeepCentreScroll(client_.width, scroll_.x, oldZoom, newZoom, client.width);
  scroll_.y = KeepCentreScroll(client_.height, scroll_.y, oldZoom, newZoom, client.height);
  if (follows) {
    PlaceClient(client);
  } else {
    Redraw(nullptr, false);
  }
  RefreshTitle();
  RefreshCursor();  // the hand follows whether the image is larger than the window
}

void ViewerWindow::ZoomToFit(bool resizeWindow, bool fill, const Rect* client) {
  if (!view_) return;
  const Extent target = client ? Extent{client->width, client->height} : client_;
  if (view_->SetZoom(FitZoom(view_->BaseSize(), target, fill))) view_->BuildDisplayImage();
  if (resizeWindow && !options_.frozen && !IsMaximized()) {
    FitWindowToImage(true);
  } else if (client) {
    PlaceClient(*client);
  } else {
    Redraw(nullptr, false);
  }
  exceedsScreen_ = false;
  RefreshTitle();
}

void ViewerWindow::FitWindowToImage(bool keepCentre) {
  if (!view_) return;
  if (IsMaximized()) Restore();
  FitRequest request;
  request.area = LayoutArea();
  request.framed = !borderless_;
  request.metrics = metrics_;
  request.displayed = view_->DisplayedSize();
  request.autoSize = Viewer().preferences.autoSize;
  request.fixedZoomExceeds = exceedsScreen_;
  request.autoPosition = autoPosition_;
  request.keepCentre = keepCentre;
  request.currentClient = ClientOnScreen();
  const FitResult fit = pv::FitWindowToImage(request);
  if (fit.scaled) {
    ZoomToFit(false, false, &fit.client);
  } else {
    PlaceClient(fit.client);
  }
}

void ViewerWindow::ApplyLayout() {
  if (!view_) return;
  const bool hadClient = hadClient_;  // setting up the frame mode gives it one
  // A frozen picture lies on the desktop, never over it.
  if (!hadClient && options_.fullScreen && !options_.frozen) ShowWindow(Handle(), SW_MAXIMIZE);
  exceedsScreen_ = false;
  if (startZoom_ > 0) {
    const double zoom = startZoom_;
    startZoom_ = -1.0;
    SetZoom(zoom);
  }
  maximizedAtLayout_ = IsMaximized();
  if (maximizedAtLayout_) {
    Maximize();
  } else if (!hadClient) {
    ApplyFrameMode();
  }
  if (options_.frozen) {
    // A frozen window keeps the place it was given: a later image is fitted
    // to it unless it fits in it as it is.
    const ImageSize shown = view_->DisplayedSize();
    if (frozenPlace_.width <= 0) {
      FitWindowToImage(hadClient);
      frozenPlace_ = ClientOnScreen();
    } else if (shown.width <= static_cast<uint32_t>(frozenPlace_.width) &&
               shown.height <= static_cast<uint32_t>(frozenPlace_.height)) {
      FitWindowToImage(true);
    } else {
      ZoomToFit(false, false, &frozenPlace_);
    }
  } else if (!maximizedAtLayout_) {
    FitWindowToImage(hadClient);
  } else if (!FitMaximized()) {
    Redraw(nullptr, false);
  }
  if (!maximizedAtLayout_) UpdateComposition();
  hadClient_ = true;  // a maximized first layout has one too: later loads are not first
  RefreshTitle();
  if (!options_.frozen) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdBringToFront, 0), 0);
  ScheduleAnimation();
}

bool ViewerWindow::FitMaximized() {
  const ViewerPreferences& p = Viewer().preferences;
  if (!MaximizedFitsImage(p.autoSize, p.shrinkOnly, p.shrinkLargeInFullScreen, view_->BaseSize(), Area(true)))
    return false;
  ZoomToFit(false, false);
  return true;
}

LayoutGuess ViewerWindow::NextLayoutGuess() const {
  const ViewerPreferences& p = Viewer().preferences;
  LayoutGuess g;
  g.fit.area = LayoutArea();
  g.fit.framed = !borderless_;
  g.fit.metrics = metrics_;
  g.fit.autoSize = p.autoSize;
  g.maximized = IsMaximized();
  g.shrinkOnly = p.shrinkOnly;
  g.shrinkLargeWhenMaximized = p.shrinkLargeInFullScreen;
  g.monitor = Area(true);
  g.client = client_;
  g.frozen = options_.frozen;
  g.frozenPlace = frozenPlace_;
  return g;
}

void ViewerWindow::ResetZoom() {
  if (!view_) return;
  // 100 % must really show 100 %: no automatic size-down meanwhile.
  ViewerPreferences& p = Viewer().preferences;
  const bool autoSize = p.autoSize;
  p.autoSize = false;
  if (view_->Zoom() != 1.0 && view_->SetZoom(1.0)) view_->BuildDisplayImage();
  if (!IsMaximized() && !options_.frozen) {
    FitWindowToImage(true);
  } else {
    Redraw(nullptr, false);
  }
  p.autoSize = autoSize;
  RefreshTitle();
}

void ViewerWindow::Turn(uint32_t command) {
  if (!view_) return;
  const bool reset = TurnResetsZoom(IsMaximized(), Viewer().preferences.shrinkLargeInFullScreen,
                                    view_->DisplayedSize(), client_);
  SetBusy(true);
  view_->SetOrientation(TurnOrientation(view_->Orientation(), command));
  BuildDisplay();
  SetBusy(false);
  if (reset) ResetZoom();
  ApplyLayout();
}

void ViewerWindow::CropImageToVisible() {
  if (!view_) return;
  Crop crop = view_->CropRect();
  if (!CropToVisible(&crop, &scroll_, view_->Zoom(), client_, view_->DisplayedSize())) return;
  view_->SetCrop(crop);
  BuildDisplay();
  Redraw(nullptr, false);
  RefreshTitle();
}

}  // namespace pv
