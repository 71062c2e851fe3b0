// The viewer's command handler: every menu item, key binding and gesture
// arrives here as a command id.
#include <algorithm>
#include <cwchar>
#include <string>

#include "browse/file_names.h"
#include "browse/file_operations.h"
#include "browse/image_cache.h"
#include "core/text.h"
#include "metadata/resolution_text.h"
#include "slideshow/slideshow_win.h"
#include "viewer/adjust_dialog_win.h"
#include "viewer/image_info.h"
#include "viewer/image_info_win.h"
#include "viewer/options_sheet_win.h"
#include "toolkit/command_ids.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

#include <commdlg.h>

namespace pv {

namespace {

NavigationMode ModeFor(UINT id) {
  switch (id) {
    case kCmdPreviousImage:
    case kCmdPreviousAlt:
      return NavPrevious;
    case kCmdFirst:
      return NavFirst;
    case kCmdLast:
      return NavLast;
    default:
      return NavNext;
  }
}

}  // namespace

void ViewerWindow::Navigate(NavigationMode mode) {
  // A multi-page image steps through its pages first.
  if (!view_->IsAnimated() && (mode == NavNext || mode == NavPrevious) &&
      view_->StepFrame(mode == NavNext ? StepDirection::Next : StepDirection::Previous)) {
    BuildDisplay();
    ApplyLayout();
    return;
  }
  const wchar_t* current = CurrentFileName();
  if (!current || !current[0] || IsPseudoPath(current)) return;
  const std::wstring from = current;
  auto open = [this](const wchar_t* path) { return OpenFile(path, true, false); };
  wchar_t found[kMaxPathUnits];
  ImageCache& cache = *Viewer().cache;
  if (mode == NavFirst || mode == NavLast) {
    // The end of the folder, then onwards from it past files that fail.
    if (!FindNeighbourFile(cache, &listing_, mode, found, from.c_str())) {
      MessageBeep(0);
      return;
    }
    if (open(found)) return;
    const std::wstring end = found;
    mode = mode == NavFirst ? NavNext : NavPrevious;
    if (!StepToImage(cache, &listing_, mode, end.c_str(), open, found).found) MessageBeep(0);
    return;
  }
  const StepResult step = StepToImage(cache, &listing_, mode, from.c_str(), open, found);
  if (step.wrapped) MessageBeep(0);
}

bool ViewerWindow::PlaySlideshow(const wchar_t* path) {
  // One show per window: a script dropped on a playing window waits its turn.
  if (playing_) {
    MessageBeep(0);
    return false;
  }
  playing_ = true;
  // A close handled by the show's own message reading destroys the window
  // but leaves the object to this function.
  BeginHold();
  ViewerPreferences& preferences = Viewer().preferences;
  SlideshowViewer show;
  show.window = Handle();
  const wchar_t* current = CurrentFileName();
  if (current && current[0] && !IsPseudoPath(current)) show.shownPath = current;
  show.open = [this](const std::wstring& image, bool reopen) { return OpenFile(image.c_str(), reopen, true); };
  show.autoSize = &preferences.autoSize;
  show.shrinkOnly = &preferences.shrinkOnly;
  show.shrinkInFullScreen = &preferences.shrinkLargeInFullScreen;
  show.maximise = preferences.slideMaximise;
  show.cache = Viewer().cache;
  const bool played = PlaySlideshowScript(show, path);
  playing_ = false;
  // Closed during a show that no handler held: every caller returns at once.
  if (EndHold()) delete this;
  return played;
}

void ViewerWindow::AdjustImage() {
  const ViewAdjustments before = view_->Adjustments();
  const double zoom = view_->Zoom(), secondScale = view_->SecondScale();
  const Crop crop = view_->CropRect();
  const Ref<ViewState> view = view_;  // the dialog's own, whatever the window shows meanwhile
  const auto show = [this, &view] {
    view->BuildAdjustedImage();
    view->BuildDisplayImage();
    if (view.get() == view_.get()) Redraw(nullptr, false);
  };
  if (RunAdjustDialog(Handle(), *view, show)) {
    const wchar_t* path = view->First()->Properties().GetText(kPropPath);
    if (path && path[0] && !IsPseudoPath(path)) WriteAdjustmentFile(path, view->Adjustments(), view->ImageOrientation());
    return;
  }
  // Cancelled: everything as it was before the dialog, a value a failed
  // rebuild had reset included.
  view->SetAdjustments(before);
  view->SetZoom(zoom);
  view->SetSecondScale(secondScale);
  view->SetCrop(crop);
  if (view.get() == view_.get()) show();
}

CommandContext ViewerWindow::CommandState() const {
  CommandContext c;
  const wchar_t* path = CurrentFileName();
  c.hasFile = path && path[0] && !IsPseudoPath(path);
  c.animated = view_ && view_->IsAnimated();
  c.paused = paused_;
  c.slideshow = slideshow_;
  c.maximized = IsMaximized();
  c.hasDensity = view_ && view_->Source()->Properties().Has(kPropDensity);
  c.clipboardHasImage = ClipboardHasImage();
  return c;
}

void ViewerWindow::OnCommand(UINT id, UINT code, HWND control) {
  (void)control;
  switch (id) {
    case kCmdApplyLayout:
      ApplyLayout();
      return;
    case kCmdBusyCursor:
      if (code != 0) {
        ++busy_;
      } else if (busy_ > 0) {
        --busy_;
      }
      RefreshCursor();
      return;
    case kCmdSlideshowFlag:
      slideshow_ = code != 0;
      RefreshTitle();
      return;
    case kCmdRebuildAccelerators:
      RebuildAccelerators();
      return;
    default:
      break;
  }
  if (!view_ || !IsUserCommand(id)) return;
  if (options_.frozen && !FrozenWindowAccepts(id)) return;
  if (!CommandAvailable(id, CommandState())) {
    MessageBeep(0);
    return;
  }
  if (sizeMove_ > 0 && id != kCmdClose) {
    // Not in the middle of a drag or size-move: run it once that ends.
    // (Posting it again would come straight back from the modal loop.)
    const uint32_t command = MAKEWPARAM(id, code);
    if (std::find(deferred_.begin(), deferred_.end(), command) == deferred_.end()) deferred_.push_back(command);
    return;
  }
  ImageCache& cache = *Viewer().cache;
  switch (id) {
    case kCmdOpen: {
      std::vector<std::wstring> files = ChooseImageFiles(Handle(), true);
      if (files.empty()) {
        cache.CancelPrefetches();
        return;
      }
      OpenFile(files[0].c_str(), true, true);
      for (size_t i = 1; i < files.size(); ++i) {
        if (Viewer().openViewer) Viewer().openViewer(files[i].c_str(), Handle());
      }
      return;
    }
    case kCmdNextImage:
    case kCmdPreviousImage:
    case kCmdFirst:
    case kCmdLast:
    case kCmdNextAlt:
    case kCmdPreviousAlt:
      Navigate(ModeFor(id));
      return;
    case kCmdToggleBorder:
      Viewer().preferences.border = !Viewer().preferences.border;
      RefreshBorder();
      return;
    case kCmdBorderColour: {
      uint32_t& colour = Viewer().preferences.borderColour;
      static COLORREF custom[16];
      CHOOSECOLORW choice{};
      choice.lStructSize = sizeof choice;
      choice.hwndOwner = Handle();
      choice.rgbResult = RGB(colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF);
      choice.lpCustColors = custom;
      choice.Flags = CC_RGBINIT | CC_FULLOPEN;
      if (!ChooseColorW(&choice)) return;
      colour = uint32_t{GetRValue(choice.rgbResult)} << 16 | uint32_t{GetGValue(choice.rgbResult)} << 8 |
               GetBValue(choice.rgbResult);
      RefreshBorder();
      return;
    }
    case kCmdPauseAnimation:
      PauseAnimation(!paused_);
      return;
    case kCmdImageInfo: {
      // An animation's frames share the file's properties, which its first
      // frame carries; each page of a document has its own.
      ImageBuffer& shown = view_->IsAnimated() ? *view_->First() : *view_->Source();
      ShowImageInformation(Handle(), ImageInformationText(shown, view_->FrameIndex(), view_->FrameCount()));
      return;
    }
    case kCmdNextFrame:
    case kCmdPreviousFrame:
      StepAnimation(id == kCmdNextFrame ? StepDirection::Next : StepDirection::Previous);
      return;
    case kCmdOpenNewWindow:
      if (Viewer().openViewer) Viewer().openViewer(nullptr, Handle());
      return;
    case kCmdBrowse: {
      const wchar_t* path = CurrentFileName();
      if (Viewer().openBrowser) Viewer().openBrowser(path && !IsPseudoPath(path) ? path : nullptr, Handle());
      return;
    }
    case kCmdWindowCycle:
    case kCmdWindowCycleBack:
      BringNextPixvaneWindow(Handle(), id == kCmdWindowCycle);
      return;
    case kCmdZoomToWindow:
      ZoomToFit(true, false);
      return;
    case kCmdFitWindow:
      FitWindowToImage(true);
      return;
    case kCmdActualPixels:
      ResetZoom();
      return;
    case kCmdCropToVisible:
      CropImageToVisible();
      return;
    case kCmdToggleMaximize:
      if (IsMaximized()) {
        Restore();
      } else {
        Maximize();
      }
      return;
    case kCmdTurnRight:
    case kCmdTurnHalf:
    case kCmdTurnLeft:
    case kCmdMirror:
    case kCmdFlip:
      Turn(id);
      return;
    case kCmdFreeze:
      Freeze(!options_.frozen);
      return;
    case kCmdAdjust:
      AdjustImage();
      return;
    case kCmdReload: {
      const std::wstring path = CurrentFileName() ? CurrentFileName() : L"";
      if (path.empty() || IsPseudoPath(path)) return;
      cache.EvictFromCache(path.c_str());
      OpenFile(path.c_str(), true, true);
      return;
    }
    case kCmdSaveAs:
    case kCmdRename:
    case kCmdCopyTo:
    case kCmdMoveTo:
    case kCmdDelete:
    case kCmdDeleteAndNext:
    case kCmdWipe:
    case kCmdWipeAndNext:
    case kCmdSetWallpaper:
    case kCmdCopy:
    case kCmdPaste:
    case kCmdCaptureScreen:
    case kCmdCaptureWindow:
      RunFileCommand(id);
      return;
    case kCmdPixelColour: {
      POINT p;
      RECT client;
      GetCursorPos(&p);
      ScreenToClient(Handle(), &p);
      GetClientRect(Handle(), &client);
      if (!PtInRect(&client, p)) return;
      COLORREF colour;
      {
        WindowDc dc(Handle());
        colour = GetPixel(dc.get(), p.x, p.y);
      }
      wchar_t text[96];
      if (FormatText(text, 96, L"     R:\t%d\n     G:\t%d\n     B:\t%d", GetRValue(colour), GetGValue(colour),
                     GetBValue(colour)) > 0)
        MessageBoxW(Handle(), text, L"RGB", MB_TOPMOST);
      return;
    }
    case kCmdOpenFolder: {
      const wchar_t* path = CurrentFileName();
      if (!path || IsPseudoPath(path)) return;
      const std::wstring folder(path, FileNameOffset(path));
      if (!folder.empty()) ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
      return;
    }
    case kCmdOptions:
    case kCmdOptionsAlt: {
      // 20036 opens on the viewer's page; 20056 (the menu's) where the
      // sheet was left last time.
      static int lastPage = 0;
      if (!Viewer().settings) return;
      const bool changed = RunOptionsSheet(Handle(), *Viewer().settings, id == kCmdOptions ? 0 : lastPage, &lastPage);
      if (!changed) return;
      if (Viewer().settingsChanged) Viewer().settingsChanged();
      for (HWND w : FindPixvaneWindows()) PostMessageW(w, kMsgSettingsChanged, 0, 0);
      return;
    }
    case kCmdToggleOption:
      Viewer().preferences.slideMaximise = !Viewer().preferences.slideMaximise;
      return;
    case kCmdSlideshow:
    case kCmdSlideshowAlt: {
      // 20050 asks with the script dialog first; 20051 is the quick show.
      if (!Viewer().settings) return;
      const wchar_t* path = CurrentFileName();
      const std::wstring folder =
          path && !IsPseudoPath(path) && FileNameOffset(path) > 1 ? std::wstring(path, FileNameOffset(path) - 1) : L"";
      std::wstring script;
      if (WriteSlideshowScript(&script, Handle(), folder, id == kCmdSlideshowAlt, *Viewer().settings, cache.Listings()))
        PlaySlideshow(script.c_str());
      return;
    }
    case kCmdStopSlideshow:
      PostMessageW(Handle(), WM_USER, kSlideshowStop, 0);
      return;
    case kCmdMaximize:
      Maximize();
      return;
    case kCmdRestore:
      Restore();
      return;
    case kCmdBringToFront: {
      HWND foreground = GetForegroundWindow();
      const DWORD other = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
      const DWORD self = GetCurrentThreadId();
      const bool attach = other && other != self && AttachThreadInput(self, other, TRUE);
      SetForegroundWindow(Handle());
      BringWindowToTop(Handle());
      if (attach) AttachThreadInput(self, other, FALSE);
      Redraw(nullptr, false);
      return;
    }
    case kCmdSendToBack:
      SetWindowPos(Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return;
    case kCmdToggleTopmost:
      topmost_ = !topmost_;
      SetWindowPos(Handle(), topmost_ ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return;
    case kCmdHelp:
      OpenHelpFile(Handle());
      return;
    case kCmdCloseAll:
      CloseAllPixvaneWindows();
      return;
    case kCmdClose:
      if (slideshow_) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdStopSlideshow, 0), 0);
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      return;
    default:
      break;
  }
  // Physical size needs the image's pixels per inch; without them it leaves the zoom.
  PropertySet& properties = view_->Source()->Properties();
  uint32_t ppiX = 0, ppiY = 0;
  if (properties.Has(kPropDensity))
    ParseResolution(properties.GetText(kPropDensity), ResolutionUnit::PerInch, &ppiX, &ppiY);
  if (const std::optional<double> zoom = ZoomForCommand(id, view_->Zoom(), 96.0 * dpiScale_, ppiX)) SetZoom(*zoom);
}

}  // namespace pv
