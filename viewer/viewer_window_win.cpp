#include "viewer/viewer_window.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "browse/file_names.h"
#include "browse/image_cache.h"
#include "core/format_registry.h"
#include "core/text.h"
#include "metadata/exif_reader.h"
#include "viewer/animation_timer.h"
#include "toolkit/command_ids.h"
#include "viewer/composition.h"
#include "viewer/view_paint.h"
#include "viewer/error_text.h"
#include "viewer/window_title.h"
#include "settings/key_bindings_win.h"
#include "settings/language.h"

namespace pv {

namespace {

uint32_t g_windowCount = 0;

// Bits per pixel of the screen: the bits of a plane times the planes.
uint32_t ScreenColourDepth() {
  WindowDc screen(nullptr);
  const int bits = screen.get() ? GetDeviceCaps(screen.get(), BITSPIXEL) * GetDeviceCaps(screen.get(), PLANES) : 0;
  return bits > 0 ? static_cast<uint32_t>(bits) : 32;
}

// The view of a freshly loaded image: upright as its orientation says, with
// its adjustment file's values.
Ref<ViewState> NewView(ImageBuffer& image, const wchar_t* path, uint32_t screenDepth) {
  ViewOptions options;
  options.screenDepth = screenDepth;
  PropertySet& properties = image.Properties();
  const uint8_t start =
      OrientationForCode(OrientationCode(properties.Has(kPropOrientation) ? properties.GetText(kPropOrientation) : nullptr));
  Ref<ViewState> view(new (std::nothrow) ViewState(&image, start, options));
  if (view) view->LoadAdjustments(path);
  return view;
}

// Something to show while the image decodes: the decoder's own preview
// when it is quick (a progressive JPEG's first scans), else an image the
// file embeds (a camera's thumbnail) of the image's shape; null when there
// is neither.
Ref<ImageBuffer> QuickPreviewOf(ImageDecoder& decoder) {
  Ref<ImageBuffer> small;
  if (decoder.HasPreview() && decoder.Header().quickPreview) {
    if (Failed(CreateBufferFor(decoder, true, true, &small)) || Failed(decoder.Decode(*small, false, nullptr, nullptr)))
      return Ref<ImageBuffer>();
    return small;
  }
  Ref<ByteSource> embedded = decoder.EmbeddedImage();
  Ref<ImageDecoder> inner;
  if (!embedded || Failed(OpenImageSource(Formats(), *embedded, L"", true, &inner))) return Ref<ImageBuffer>();
  // Smaller than the image, and not letterboxed (some cameras pad their
  // thumbnails to 4:3): its height within a pixel of the image's shape.
  const uint64_t w = decoder.Width(), h = decoder.Height(), tw = inner->Width(), th = inner->Height();
  if (tw >= w || th >= h || std::max(tw * h, th * w) - std::min(tw * h, th * w) > w) return Ref<ImageBuffer>();
  if (Failed(CreateBufferFor(*inner, true, false, &small)) || Failed(inner->Decode(*small, false, nullptr, nullptr)))
    return Ref<ImageBuffer>();
  // The thumbnail is stored as the image is: the image's orientation turns both.
  if (decoder.Has(kPropOrientation)) small->Properties().SetText(kPropOrientation, decoder.GetText(kPropOrientation));
  return small;
}

// The decode ahead builds the next image's display at the zoom the window's
// layout will choose, so that a step shows it without scaling it first.
PrefetchPreparer DisplayPreparer(const LayoutGuess& guess, uint32_t screenDepth) {
  return [guess, screenDepth](ImageBuffer& image, const CancelFlag* cancel) -> Ref<CountedObject> {
    const wchar_t* path = image.Properties().GetText(kPropPath);
    Ref<ViewState> view = NewView(image, path ? path : L"", screenDepth);
    if (!view || !view->SetZoom(GuessLayoutZoom(guess, view->BaseSize()))) return Ref<CountedObject>();
    view->BuildDisplayImage(cancel);
    if (IsCancelled(cancel) || !view->Final()) return Ref<CountedObject>();
    return Ref<CountedObject>(view.Detach());
  };
}
// Frozen windows are owned by one hidden window, so they stay off the
// taskbar; it lives while any viewer window does.
ToolkitWindow* g_frozenOwner = nullptr;

HWND FrozenOwner() {
  if (!g_frozenOwner) {
    g_frozenOwner = new ToolkitWindow;
    CreateOptions hidden;
    hidden.visible = false;
    g_frozenOwner->Create(hidden);
  }
  return g_frozenOwner->Handle();
}

const wchar_t* NameOf(const wchar_t* path) { return path + FileNameOffset(path); }

// The extension of the name part: after its last "."; a name that only
// begins with "." has none.
const wchar_t* ExtensionOf(const wchar_t* path) {
  const wchar_t* name = NameOf(path);
  const wchar_t* dot = std::wcsrchr(name, L'.');
  return dot && dot != name ? dot + 1 : L"";
}

// Decoders report their rows to the taskbar button. The indicator is an
// apartment-threaded shell object, so reports from other threads (a
// prefetch, decoding bands) are left out.
class TaskbarProgress final : public ProgressSink {
 public:
  explicit TaskbarProgress(HWND window) : window_(window), thread_(GetCurrentThreadId()) {}
  void Progress(int32_t done, int32_t total) override {
    TaskbarIndicator* taskbar = Viewer().taskbar;
    if (!taskbar || total <= 0 || done < 0 || GetCurrentThreadId() != thread_) return;
    taskbar->SetProgress(window_, static_cast<uint32_t>(std::min(done, total)), static_cast<uint32_t>(total));
  }

 private:
  HWND window_;
  DWORD thread_;
};

}  // namespace

ViewerProcess& Viewer() {
  static ViewerProcess process;
  return process;
}

ViewerWindow* ViewerWindow::Open(const wchar_t* file, const ViewerWindowOptions& options) {
  return MakeHeld<ViewerWindow>(file, options);
}

ViewerWindow::ViewerWindow(const wchar_t* file, const ViewerWindowOptions& options)
    : options_(options), startZoom_(options.zoom), autoPosition_(options.x == INT32_MIN || options.y == INT32_MIN) {
  // A close request answered inside the open's error box must not delete
  // the object under this constructor: Open deletes it afterwards.
  BeginHold();
  options_.title = nullptr;
  options_.fullScreen = options.fullScreen || Viewer().preferences.openFullScreen;
  ++g_windowCount;
  if (Viewer().cache) Viewer().cache->SetCapacity(ImageCache::CapacityForWindows(g_windowCount));
  SetSelfOwned(true);
  Style().resizable = true;
  Style().hasCaption = true;
  Style().hasMaximiseBox = true;
  Style().acceptsFiles = 1;
  Style().noActivate = options.frozen;

  const Rect area = Area(options_.fullScreen || options.topmost);
  CreateOptions create;
  create.visible = false;
  create.title = L"Pixvane";
  create.size = {2, 2};
  if (options.frozen) {
    // A frozen window lies on the desktop: at the area's corner unless
    // placed, under every other window, never activated by clicks.
    create.parent = FrozenOwner();
    create.position = autoPosition_ ? POINT{area.left, area.top} : POINT{options.x, options.y};
    autoPosition_ = false;
  } else {
    create.position = autoPosition_ ? POINT{area.left + (area.width - 2) / 2, area.top + (area.height - 2) / 2}
                                    : POINT{options.x, options.y};
  }
  if (!Create(create)) return;
  progress_ = Ref<ProgressSink>(new TaskbarProgress(Handle()));
  ReadFrameMetrics(WindowDpi(Handle()));
  if (options.frozen) {
    ShowWindow(Handle(), SW_SHOWNA);
    SetWindowPos(Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  } else {
    ShowWindow(Handle(), SW_SHOW);
  }
  UpdateWindow(Handle());
  if (!OpenFile(file, !options.frozen, true)) return;
  // The shortcut that brought this frozen window back has done its work.
  if (options.frozen && Viewer().frozenOpened) Viewer().frozenOpened(CurrentFileName());
  autoPosition_ = false;
  if (options.topmost) {
    topmost_ = true;
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOREDRAW);
  }
  if (options.title) SetWindowTextW(Handle(), StartTitle(options.title).c_str());
}

ViewerWindow::~ViewerWindow() {
  // Deleted without WM_DESTROY (the toolkit unhooks first): stop the news.
  if (observed_) observed_->RemoveObserver(this);
  if (--g_windowCount == 0 && g_frozenOwner) {
    delete g_frozenOwner;
    g_frozenOwner = nullptr;
  }
  if (Viewer().cache) Viewer().cache->SetCapacity(ImageCache::CapacityForWindows(g_windowCount));
}

const wchar_t* ViewerWindow::CurrentFileName() const {
  if (!view_ || !view_->First()) return nullptr;
  PropertySet& properties = view_->First()->Properties();
  return properties.Has(kPropPath) ? properties.GetText(kPropPath) : nullptr;
}

Rect ViewerWindow::Area(bool wholeMonitor) const {
  HMONITOR monitor = Handle() ? MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY) : options_.monitor;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT r;
  if (monitor && GetMonitorInfoW(monitor, &info)) {
    r = wholeMonitor ? info.rcMonitor : info.rcWork;
  } else if (wholeMonitor || !SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) {
    r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect ViewerWindow::LayoutArea() const { return Area(IsMaximized() || topmost_); }

bool ViewerWindow::IsMaximized() const { return Handle() && IsZoomed(Handle()); }

Rect ViewerWindow::ClientOnScreen() const {
  RECT r{};
  GetClientRect(Handle(), &r);
  POINT origin{0, 0};
  ClientToScreen(Handle(), &origin);
  return {origin.x, origin.y, r.right, r.bottom};
}

void ViewerWindow::ReadFrameMetrics(UINT dpi) {
  const int padded = SystemMetricForDpi(SM_CXPADDEDBORDER, dpi);
  metrics_.border = SystemMetricForDpi(SM_CXFRAME, dpi) + padded;
  metrics_.frame = SystemMetricForDpi(SM_CYFRAME, dpi) + padded;
  metrics_.caption = SystemMetricForDpi(SM_CYCAPTION, dpi);
  metrics_.minWidth = SystemMetricForDpi(SM_CXMIN, dpi);
  dpiScale_ = dpi / 96.0;
  DropCursors();
}

void ViewerWindow::PlaceClient(const Rect& client) {
  if (borderless_) {
    const POINT position = {client.left, client.top};
    const Extent size = {client.width, client.height};
    PlaceLayered(&position, &size, true);
    return;
  }
  RECT r = {client.left, client.top, client.Right(), client.Bottom()};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
  // A window narrower than the minimum is widened evenly, left half rounded up.
  const LONG extra = metrics_.minWidth - (r.right - r.left);
  if (extra > 0) {
    r.left -= (extra + 1) / 2;
    r.right += extra / 2;
  }
  ++resizing_;
  SetWindowPos(Handle(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  --resizing_;
  RECT c;
  GetClientRect(Handle(), &c);
  client_ = {c.right, c.bottom};
  hadClient_ = true;
  Redraw(nullptr, false);
}

void ViewerWindow::PlaceLayered(const POINT* position, const Extent* size, bool push) {
  if (!view_) return;
  if (size) client_ = *size;
  if (push && !view_->Final()) view_->BuildDisplayImage();
  scroll_ = {std::max(scroll_.x, 0), std::max(scroll_.y, 0)};
  const ImageSize shown = view_->DisplayedSize();
  const auto fit = [](int32_t image, int32_t* scroll, int32_t* client) {
    if (image - *scroll < *client) {
      *scroll = std::max(0, image - *client);
      *client = std::min(*client, image);
    }
  };
  fit(static_cast<int32_t>(shown.width), &scroll_.x, &client_.width);
  fit(static_cast<int32_t>(shown.height), &scroll_.y, &client_.height);
  if (!push) return;
  const SIZE extent = {client_.width, client_.height};
  ++resizing_;
  UpdateLayered(*view_, Handle(), position, &extent, {scroll_.x, scroll_.y});
  --resizing_;
  hadClient_ = true;
}

void ViewerWindow::SetBorderless(bool borderless) {
  // Maximized windows keep their frame; no change under a drag or
  // size-move, nor while minimized (there is no client to keep).
  const bool maximized = IsMaximized();
  if (borderless == borderless_ || !view_ || dragging_ || sizeMove_ > 0 || IsIconic(Handle()) ||
      (borderless && maximized)) {
    return;
  }
  const Rect client = ClientOnScreen();
  // The window's state bits stay; only the frame's change.
  constexpr LONG_PTR kKept = WS_VISIBLE | WS_MAXIMIZE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  const LONG_PTR kept = GetWindowLongPtrW(Handle(), GWL_STYLE) & kKept;
  const LONG_PTR exStyle = GetWindowLongPtrW(Handle(), GWL_EXSTYLE);
  borderless_ = borderless;
  if (borderless) {
    if (composition_) SetBlurBehind(Handle(), false);
    composition_ = false;
    SetWindowLongPtrW(Handle(), GWL_STYLE, BorderlessStyle() | kept);
    SetWindowLongPtrW(Handle(), GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
  } else {
    SetWindowLongPtrW(Handle(), GWL_STYLE, WS_OVERLAPPEDWINDOW | kept);
    SetWindowLongPtrW(Handle(), GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
  }
  ++resizing_;
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  --resizing_;
  view_->SetBorder(borderless && Viewer().preferences.border, Viewer().preferences.borderColour);
  if (borderless) {
    // A small image keeps its place, centred in the old client area.
    const ImageSize shown = view_->DisplayedSize();
    const POINT position = {client.left + std::max(0, (client.width - static_cast<int32_t>(shown.width)) / 2),
                            client.top + std::max(0, (client.height - static_cast<int32_t>(shown.height)) / 2)};
    const Extent size = {client.width, client.height};
    PlaceLayered(&position, &size, true);
  } else if (maximized) {
    Redraw(nullptr, false);
  } else {
    PlaceClient(client);  // the frame grows around the same client
    UpdateComposition();
  }
}

LONG_PTR ViewerWindow::BorderlessStyle() const {
  return WS_POPUP | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | (Viewer().preferences.border ? WS_BORDER : 0);
}

void ViewerWindow::RefreshBorder() {
  if (!view_) return;
  const ViewerPreferences& p = Viewer().preferences;
  view_->SetBorder(borderless_ && p.border, p.borderColour);
  if (!borderless_) return;
  // The frame lies around the same client: the window grows or shrinks by it.
  const Rect client = ClientOnScreen();
  constexpr LONG_PTR kKept = WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  SetWindowLongPtrW(Handle(), GWL_STYLE, BorderlessStyle() | (GetWindowLongPtrW(Handle(), GWL_STYLE) & kKept));
  ++resizing_;
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  --resizing_;
  const POINT position = {client.left, client.top};
  const Extent size = {client.width, client.height};
  PlaceLayered(&position, &size, true);
}

void ViewerWindow::UpdateComposition() {
  if (!view_) return;
  const ImageSize shown = view_->DisplayedSize();
  const bool wanted = Viewer().preferences.translucent && !borderless_ && !IsMaximized() &&
                      view_->Source()->UsesAlpha() && shown.width >= static_cast<uint32_t>(client_.width) &&
                      shown.height >= static_cast<uint32_t>(client_.height);
  if (wanted == composition_) return;
  if (SetBlurBehind(Handle(), wanted)) {
    composition_ = wanted;
  } else if (wanted) {
    Viewer().preferences.translucent = false;  // not tried again
  } else {
    composition_ = false;
  }
  Redraw(nullptr, false);
}

void ViewerWindow::ApplyFrameMode() {
  const FrameMode mode = Viewer().preferences.frameMode;
  SetBorderless(options_.frozen || mode != FrameMode::Framed);
}

void ViewerWindow::Redraw(const RECT* rect, bool now) {
  // A layered window has no paint: its content is pushed.
  if (borderless_) {
    PlaceLayered(nullptr, nullptr, true);
  } else {
    ToolkitWindow::Redraw(rect, now);
  }
}

void ViewerWindow::SetBusy(bool on) {
  SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdBusyCursor, on ? 1 : 0), reinterpret_cast<LPARAM>(Handle()));
}

void ViewerWindow::BuildDisplay() {
  view_->BuildAdjustedImage();
  view_->BuildDisplayImage();
}

void ViewerWindow::ShowError(Status status, const wchar_t* path) {
  std::wstring text = ErrorMessage(status, Translate(ErrorText(status)), path);
  MessageBoxW(Handle(), text.c_str(), L"Pixvane", MB_OK);
}

bool ViewerWindow::OpenFile(const wchar_t* path, bool prefetch, bool reportErrors) {
  if (!path || !path[0] || wcslen(path) >= kMaxPathUnits) return false;
  const wchar_t* ext = ExtensionOf(path);
  if (wcslen(ext) == 3 && (ext[0] | 0x20) == L'p' && (ext[1] | 0x20) == L'v') {
    // The program's own files: a script plays, an index file opens the
    // browser on its folder, an adjustment file stands for its image.
    if ((ext[2] | 0x20) == L's') return PlaySlideshow(path);
    if ((ext[2] | 0x20) == L'i' && Viewer().openBrowser) Viewer().openBrowser(path, Handle());
    if ((ext[2] | 0x20) != L'a') return false;
    std::wstring image(path, static_cast<size_t>(ext - 1 - path));
    return OpenFile(image.c_str(), prefetch, reportErrors);
  }
  ImageCache& cache = *Viewer().cache;
  TaskbarIndicator* taskbar = Viewer().taskbar;
  if (taskbar) taskbar->SetProgress(Handle(), 0, 100);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  const bool busy = !cache.IsCached(path);
  trace_.Begin(path, !busy);
  if (busy) SetBusy(true);
  SetWindowTextW(Handle(), NameOf(path));

  Ref<ImageBuffer> image;
  Status status;
  if (busy && view_ && hadClient_) {
    // A window on the screen may show a preview while the rest decodes.
    Ref<ImageDecoder> decoder;
    status = OpenImage(path, true, &decoder);
    if (Succeeded(status)) {
      ShowQuickPreview(*decoder, path);
      status = cache.LoadImageThroughCache(&image, *decoder, progress_.get(), nullptr);
    }
  } else {
    status = cache.LoadImageThroughCache(&image, path, progress_.get());
  }
  trace_.Decoded();
  if (Succeeded(status)) {
    if (taskbar) taskbar->SetProgress(Handle(), 100, 100);
    cache.AddToCache(*image, false);
    SetImage(*image, path, cache.TakePrepared(*image));
  }
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  if (Failed(status)) {
    if (previewShown_) {
      view_ = std::move(beforePreview_);
      previewShown_ = false;
      ApplyLayout();
    }
    RefreshTitle();  // the name shown while loading is not the image shown
    if (reportErrors) {
      trace_.Abandon();
      ShowError(status, path);
    }
  }
  if (Viewer().fileOpened) Viewer().fileOpened(path, Succeeded(status));
  if (taskbar) taskbar->Clear(Handle());
  if (Succeeded(status) && view_) {
    SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdApplyLayout, 0), reinterpret_cast<LPARAM>(Handle()));
  }
  if (busy) SetBusy(false);
  if (Failed(status) || !view_) return false;

  WatchFolderOf(path);
  if (prefetch && !IsPseudoPath(path))
    cache.SchedulePrefetch(path, NavContinue, true, {}, {}, DisplayPreparer(NextLayoutGuess(), ScreenColourDepth()));
  return true;
}

void ViewerWindow::SetImage(ImageBuffer& image, const wchar_t* path, Ref<CountedObject> prepared) {
  KillTimer(Handle(), kAnimationTimer);
  animationDue_ = 0;
  paused_ = false;
  previewShown_ = false;
  beforePreview_.Reset();
  view_.Reset();
  auto* ready = dynamic_cast<ViewState*>(prepared.get());
  view_ = ready && ready->First() == &image ? Ref<ViewState>::Retain(ready) : NewView(image, path, ScreenColourDepth());
  if (view_) {
    view_->SetBorder(borderless_ && Viewer().preferences.border, Viewer().preferences.borderColour);
    view_->BuildDisplayImage();  // only what a prepared view lacks
    scroll_ = {};
  }
}

void ViewerWindow::ShowQuickPreview(ImageDecoder& decoder, const wchar_t* path) {
  Ref<ImageBuffer> small = QuickPreviewOf(decoder);
  if (!small) return;
  // A pseudo name: the adjustment file's crop is in the whole image's pixels.
  Ref<ViewState> view = NewView(*small, L"<preview>", ScreenColourDepth());
  if (!view) return;
  const ImageSize shown = view->BaseSize();
  const ImageSize whole = shown.width == small->Width() ? ImageSize{decoder.Width(), decoder.Height()}
                                                        : ImageSize{decoder.Height(), decoder.Width()};
  const double zoom = GuessLayoutZoom(NextLayoutGuess(), whole);
  if (zoom >= 1 || !view->SetZoom(zoom * whole.width / shown.width)) return;
  view->SetBorder(borderless_ && Viewer().preferences.border, Viewer().preferences.borderColour);
  view->BuildDisplayImage();
  KillTimer(Handle(), kAnimationTimer);
  animationDue_ = 0;
  beforePreview_ = std::move(view_);
  view_ = std::move(view);
  previewShown_ = true;
  scroll_ = {};
  ApplyLayout();
  SetWindowTextW(Handle(), NameOf(path));
  UpdateWindow(Handle());
}

bool ViewerWindow::ShowPseudoImage(ImageBuffer& image, const wchar_t* name) {
  image.Properties().SetText(kPropPath, name);
  SetImage(image, name);
  if (!view_) return false;
  // No folder to watch or step through.
  if (observed_) observed_->RemoveObserver(this);
  observed_.Reset();
  listing_.Reset();
  RefreshTitle();
  SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdApplyLayout, 0), reinterpret_cast<LPARAM>(Handle()));
  return true;
}

void ViewerWindow::RefreshTitle() {
  if (!Handle()) return;
  if (!view_) return;
  TitleParts parts;
  ImageBuffer* source = view_->Source();
  PropertySet& properties = source->Properties();
  auto text = [&](uint32_t id) { return std::wstring(properties.Has(id) ? properties.GetText(id) : L""); };
  const std::wstring path = CurrentFileName() ? CurrentFileName() : L"";
  if (path.empty()) {
    parts.name = text(kPropTitle);
  } else if (IsPseudoPath(path)) {
    parts.name = path;
  } else {
    parts.name = Viewer().preferences.showFullPath ? path : std::wstring(FileNamePart(path));
  }
  parts.extra = text(kPropPage);
  parts.details = Viewer().preferences.detailsInTitle;
  const ImageSize base = view_->BaseSize();
  parts.width = base.width;
  parts.height = base.height;
  parts.formatName = text(kPropBitsPerPixel);
  parts.format = source->Format();
  parts.zoom = view_->Zoom();
  if (slideshow_) parts.slideshowWord = Translate(L"Slideshow");
  if (paused_) {
    // Words are translated, never formats: a language file cannot change
    // what the numbers are formatted with.
    const std::wstring frame = Translate(L"paused, frame") + L' ' + std::to_wstring(view_->FrameIndex() + 1) + L' ' +
                               Translate(L"of") + L' ' + std::to_wstring(view_->FrameCount());
    parts.extra = parts.extra.empty() ? frame : parts.extra + L", " + frame;
  }
  std::wstring title = BuildWindowTitle(parts);
  SetWindowTextW(Handle(), title.c_str());
}

void ViewerWindow::OnCreate() { RebuildAccelerators(); }

void ViewerWindow::RebuildAccelerators() {
  const std::span<const KeyBinding> bindings = Viewer().ActiveKeyBindings();
  if (options_.frozen) {
    const std::vector<KeyBinding> reduced = FrozenWindowBindings(bindings.data(), bindings.size());
    accelerators_ = BuildAcceleratorTable(reduced.data(), reduced.size());
  } else {
    accelerators_ = BuildAcceleratorTable(bindings.data(), bindings.size());
  }
  SetAccelerators(&accelerators_);
}

void ViewerWindow::WatchFolderOf(const wchar_t* path) {
  const std::wstring folder(path, FileNameOffset(path));
  // Opened before the old one is let go: a step within the same folder
  // keeps its listing instead of reading the folder again.
  Ref<FolderListing> next;
  if (!folder.empty() && !IsPseudoPath(path) && Viewer().cache)
    next = Viewer().cache->Listings().OpenListing(folder.c_str(), false, this);
  if (observed_ && observed_.get() != next.get()) observed_->RemoveObserver(this);
  observed_ = next;
  listing_ = std::move(next);
}

void ViewerWindow::FolderChanged() { PostMessageW(Handle(), kMsgFolderChanged, 0, 0); }

void ViewerWindow::OnDestroy() {
  if (observed_) observed_->RemoveObserver(this);
  observed_.Reset();
  ++sizeMove_;
  KillTimer(Handle(), kAnimationTimer);
  KillTimer(Handle(), kHoverTimer);
  ToolkitWindow::OnDestroy();
}

void ViewerWindow::OnDropFiles(HDROP drop) {
  ++sizeMove_;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    wchar_t path[kMaxPathUnits];
    // Names of a full path's length or more are refused.
    if (DragQueryFileW(drop, i, nullptr, 0) >= kMaxPathUnits) continue;
    DragQueryFileW(drop, i, path, kMaxPathUnits);
    if (i == 0) {
      OpenFile(path, true, true);
    } else if (Viewer().openViewer) {
      Viewer().openViewer(path, Handle());
    }
  }
  DragFinish(drop);
  EndSizeMove();
}

void ViewerWindow::Freeze(bool frozen) {
  options_.frozen = frozen;
  // Frozen: owned by the hidden window (off the taskbar), never activated
  // by clicks, under the other windows.
  Style().noActivate = frozen;
  const LONG_PTR exStyle = GetWindowLongPtrW(Handle(), GWL_EXSTYLE);
  SetWindowLongPtrW(Handle(), GWL_EXSTYLE,
                    frozen ? exStyle | WS_EX_NOACTIVATE : exStyle & ~static_cast<LONG_PTR>(WS_EX_NOACTIVATE));
  SetWindowLongPtrW(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(frozen ? FrozenOwner() : nullptr));
  if (!frozen) {
    // Back to an ordinary window: its keys, its frame mode.
    frozenPlace_ = {};
    RebuildAccelerators();
    ApplyFrameMode();
    return;
  }
  if (IsMaximized()) Restore();
  SetBorderless(true);
  SetWindowPos(Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  frozenPlace_ = ClientOnScreen();
  RebuildAccelerators();
}

void ViewerWindow::EndSizeMove() {
  if (sizeMove_ > 0 && --sizeMove_ > 0) return;
  for (uint32_t command : std::exchange(deferred_, {})) PostMessageW(Handle(), WM_COMMAND, command, 0);
}

void ViewerWindow::Maximize() {
  SetBorderless(false);
  ShowWindow(Handle(), SW_MAXIMIZE);
}

void ViewerWindow::Restore() {
  ShowWindow(Handle(), SW_RESTORE);  // the size handler brings the frame mode back
}

void ViewerWindow::OnKey(UINT key, bool down, bool repeat, bool alt) {
  (void)repeat;
  // With Alt a drag moves the window: the hand gives way to the arrow.
  if (key == VK_MENU) RefreshCursor();
  if (!down || !view_) return;
  if (key == VK_ESCAPE) {
    SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdClose, 0), reinterpret_cast<LPARAM>(Handle()));
    return;
  }
  if (key < VK_NUMPAD1 || key > VK_NUMPAD9) return;
  const uint32_t pad = key - VK_NUMPAD0;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const ImageSize shown = view_->DisplayedSize();
  const bool larger = shown.width > static_cast<uint32_t>(client_.width) ||
                      shown.height > static_cast<uint32_t>(client_.height);
  if ((larger && !alt) || options_.frozen) {
    scroll_ = ScrollByKey(scroll_, pad, shift, client_, shown);
    Redraw(nullptr, false);
  } else {
    PlaceClient(MoveByKey(ClientOnScreen(), pad, shift, LayoutArea()));
  }
}

void ViewerWindow::OnKillFocus(HWND next) {
  (void)next;
  // Another window of the program may have taken the top: stay above it.
  if (topmost_) {
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_NOSENDCHANGING);
  }
}

void ViewerWindow::OnMouseMove(POINT point, UINT keys) {
  (void)keys;
  if (borderless_ && !options_.frozen && Viewer().preferences.frameMode == FrameMode::Hover && !dragging_) {
    // The frame shows while the mouse is over the window.
    SetBorderless(false);
    if (!borderless_) SetTimer(Handle(), kHoverTimer, 250, nullptr);
    return;
  }
  if (!dragging_ || !view_) return;
  const int dx = point.x - lastDrag_.x, dy = point.y - lastDrag_.y;
  const ImageSize shown = view_->DisplayedSize();
  const bool larger = shown.width > static_cast<uint32_t>(client_.width) ||
                      shown.height > static_cast<uint32_t>(client_.height);
  if (larger && !moveMode_ && GetKeyState(VK_MENU) >= 0) {
    scroll_.x -= dx;
    scroll_.y -= dy;
    lastDrag_ = point;
    Redraw(nullptr, false);
  } else if (!IsMaximized()) {
    const Rect client = ClientOnScreen();
    Point moved = ClampDraggedWindow({client.left + dx, client.top + dy}, client_, LayoutArea(), metrics_);
    PlaceClient({moved.x, moved.y, client.width, client.height});
  }
}

bool ViewerWindow::OnMouseButton(MouseButton button, MouseAction action, POINT point, UINT keys) {
  (void)keys;
  if (action == MouseAction::DoubleClick && button <= MouseButton::Middle) {
    SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdToggleMaximize, 0), 0);
    return true;
  }
  if (action == MouseAction::Down && (button == MouseButton::Extra1 || button == MouseButton::Extra2)) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    UINT id = button == MouseButton::Extra1 ? (ctrl ? kCmdNextAlt : kCmdNextImage)
                                            : (ctrl ? kCmdPreviousAlt : kCmdPreviousImage);
    SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
  }
  if (button == MouseButton::Right && action == MouseAction::Up && wheelWithRight_) {
    // The right button zoomed with the wheel: its release opens no menu.
    wheelWithRight_ = false;
    return true;
  }
  if (button == MouseButton::Left || button == MouseButton::Middle) {
    if (action == MouseAction::Down && !options_.frozen) {
      dragging_ = true;
      moveMode_ = button == MouseButton::Middle;
      lastDrag_ = point;
      SetCapture(Handle());
      return true;
    }
    if (action == MouseAction::Up && dragging_) {
      dragging_ = false;
      moveMode_ = false;
      ReleaseCapture();
      return true;
    }
  }
  return false;
}

void ViewerWindow::OnMouseWheel(int delta, POINT point, UINT keys) {
  (void)point;
  if (options_.frozen || !view_) return;
  WheelState state;
  state.shift = (keys & MK_SHIFT) != 0;
  state.ctrl = (keys & MK_CONTROL) != 0;
  state.left = (keys & MK_LBUTTON) != 0;
  state.right = (keys & MK_RBUTTON) != 0;
  state.middle = (keys & MK_MBUTTON) != 0;
  const ImageSize shown = view_->DisplayedSize();
  state.imageWider = shown.width > static_cast<uint32_t>(client_.width);
  state.imageTaller = shown.height > static_cast<uint32_t>(client_.height);
  const WheelResult r = wheel_.Add(delta, state);
  if (r.usedWithRight) wheelWithRight_ = true;
  if (r.command) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(r.command, 0), 0);
  for (uint32_t i = 0; i < r.presses; ++i) PostMessageW(Handle(), WM_KEYDOWN, VK_NUMPAD0 + r.key, 0x1000000);
}

void ViewerWindow::OnPaint(HDC dc, const PAINTSTRUCT& paint) {
  if (!view_) return;
  if (!view_->Final()) view_->BuildDisplayImage();
  BackgroundChoice choice;
  choice.composition = composition_;
  choice.useStoredColour = !Viewer().preferences.automaticBackground;
  choice.storedColour = Viewer().preferences.backgroundColour;
  PaintRequest request;
  request.client = client_;
  request.scroll = scroll_;
  request.background = ChooseBackground(choice, view_->Source());
  scroll_ = PaintView(*view_, dc, paint.rcPaint, request, brush_);
  const std::vector<OverlayText> overlays =
      ChooseOverlays(Viewer().preferences.overlays, view_->Source()->Properties());
  if (!overlays.empty()) DrawOverlays(dc, overlays, client_);
  trace_.Painted(!previewShown_);
}

bool ViewerWindow::OnPosChanging(WINDOWPOS* pos) {
  if (pos->hwnd != Handle() || (pos->flags & SWP_NOMOVE)) return false;
  // At least a strip of the window stays inside the work area.
  const Rect area = Area(false);
  RECT now;
  GetWindowRect(Handle(), &now);
  const int width = (pos->flags & SWP_NOSIZE) ? now.right - now.left : pos->cx;
  const int height = (pos->flags & SWP_NOSIZE) ? now.bottom - now.top : pos->cy;
  pos->x = std::max(std::min(pos->x, area.Right() - (2 * metrics_.border + 2)),
                    area.left + 1 + 2 * metrics_.border - width);
  pos->y = std::max(std::min(pos->y, area.Bottom() - (2 * metrics_.frame + 2) - metrics_.caption),
                    area.top + 1 + 2 * metrics_.frame - height);
  return false;
}

bool ViewerWindow::OnSizing(UINT edge, RECT* rect) {
  // The user's drag keeps the image's proportions while the image follows
  // the window.
  const ViewerPreferences& p = Viewer().preferences;
  if (!view_ || !p.autoSize || exceedsScreen_) return false;
  const ImageSize base = view_->BaseSize();
  if (p.shrinkOnly && base.width < static_cast<uint32_t>(client_.width) &&
      base.height < static_cast<uint32_t>(client_.height)) {
    return false;
  }
  // The frame as the window has it now.
  RECT window, client;
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  const LONG frameW = (window.right - window.left) - client.right;
  const LONG frameH = (window.bottom - window.top) - client.bottom;
  const LONG width = rect->right - rect->left - frameW, height = rect->bottom - rect->top - frameH;
  if (edge == WMSZ_TOP || edge == WMSZ_BOTTOM) {
    rect->right = rect->left + static_cast<LONG>(RoundHalfUp(double(base.width) * height / base.height)) + frameW;
  } else {
    // Side edges and corners: the width leads.
    const LONG h = static_cast<LONG>(RoundHalfUp(double(base.height) * width / base.width)) + frameH;
    if (edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT) {
      rect->top = rect->bottom - h;
    } else {
      rect->bottom = rect->top + h;
    }
  }
  const Rect area = LayoutArea();
  rect->right = std::min<LONG>(rect->right, area.Right());
  rect->bottom = std::min<LONG>(rect->bottom, area.Bottom());
  rect->left = std::max<LONG>(rect->left, area.left);
  rect->top = std::max<LONG>(rect->top, area.top);
  return true;
}

void ViewerWindow::OnActivateApp(bool active) {
  if (active || !IsMaximized()) return;
  // A maximized window gives way to the application the user turned to;
  // with several monitors only when that one covers it.
  if (GetSystemMetrics(SM_CMONITORS) > 1) {
    HWND foreground = nullptr;
    for (int i = 0; i < 50 && !(foreground = GetForegroundWindow()); ++i) Sleep(10);
    RECT mine, theirs, common;
    if (foreground && GetWindowRect(Handle(), &mine) && GetWindowRect(foreground, &theirs) &&
        (!IntersectRect(&common, &mine, &theirs) || common.right - common.left <= 10 ||
         common.bottom - common.top <= 10)) {
      return;
    }
  }
  ShowWindow(Handle(), SW_MINIMIZE);
}

void ViewerWindow::OnSize(UINT kind, SIZE size) {
  if (kind == SIZE_MINIMIZED) return;  // the client comes back with the window
  client_ = {size.cx, size.cy};
  if (resizing_ || !view_) return;
  const ViewerPreferences& p = Viewer().preferences;
  const ImageSize base = view_->BaseSize();
  const bool baseFills = base.width == static_cast<uint32_t>(size.cx) && base.height == static_cast<uint32_t>(size.cy);
  if (kind == SIZE_MAXIMIZED) {
    wasMaximized_ = true;
    SetBorderless(false);
    UpdateComposition();
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if ((p.autoSize && !p.shrinkOnly && baseFills) || !FitMaximized()) Redraw(nullptr, false);
    return;
  }
  if (!topmost_) SetWindowPos(Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (wasMaximized_) {
    // Back from full screen: the image is laid out for the window again.
    wasMaximized_ = false;
    if (p.autoSize && maximizedAtLayout_) {
      ResetZoom();
      ZoomToFit(true, false);
    } else {
      Redraw(nullptr, false);
    }
    ApplyFrameMode();
    UpdateComposition();
    return;
  }
  // The user drags the window's border: the image follows it.
  const ImageSize shown = view_->DisplayedSize();
  const bool shownFills = shown.width == static_cast<uint32_t>(size.cx) && shown.height == static_cast<uint32_t>(size.cy);
  const bool baseFits = base.width <= static_cast<uint32_t>(size.cx) && base.height <= static_cast<uint32_t>(size.cy);
  if (p.autoSize && sizeMove_ > 0 && !options_.frozen && !shownFills && !(p.shrinkOnly && baseFits)) {
    ZoomToFit(false, false);
  } else {
    Redraw(nullptr, false);
  }
}

void ViewerWindow::ScheduleAnimation() {
  if (!view_ || !view_->IsAnimated() || !view_->Source() || paused_) return;
  const FrameSchedule s = ScheduleNextFrame(view_->Source()->Frame().delay, animationDue_, GetTickCount64());
  if (s.stop) {
    animationDue_ = 0;
    return;
  }
  animationDue_ = s.due;
  SetTimer(Handle(), kAnimationTimer, s.wait, nullptr);
}

void ViewerWindow::AdvanceAnimation() {
  KillTimer(Handle(), kAnimationTimer);
  if (!view_ || !view_->StepFrame(StepDirection::Next)) return;
  BuildDisplay();
  Redraw(nullptr, false);
  ScheduleAnimation();
}

void ViewerWindow::PauseAnimation(bool pause) {
  paused_ = pause;
  animationDue_ = 0;  // resumed, the frame shown gets its whole delay
  if (pause) {
    KillTimer(Handle(), kAnimationTimer);
  } else {
    ScheduleAnimation();
  }
  RefreshTitle();
}

void ViewerWindow::StepAnimation(StepDirection direction) {
  if (!view_->StepFrame(direction)) {
    MessageBeep(0);
    return;
  }
  BuildDisplay();
  Redraw(nullptr, false);
  RefreshTitle();
}

void ViewerWindow::OnTimer(UINT_PTR id) {
  if (id == kAnimationTimer) {
    AdvanceAnimation();
  } else if (id == kHoverTimer) {
    // The timer repeats while the mouse stays or a drag goes on. A
    // maximized or minimized window keeps its frame; the restore applies
    // the mode again.
    if (IsMaximized() || IsIconic(Handle())) {
      KillTimer(Handle(), kHoverTimer);
      return;
    }
    if (CursorOverWindow(Handle()) || dragging_ || sizeMove_ > 0) return;
    KillTimer(Handle(), kHoverTimer);
    if (Viewer().preferences.frameMode == FrameMode::Hover) SetBorderless(true);
  }
}

void ViewerWindow::OnDpiChanged(UINT dpi, const RECT* suggested) {
  (void)suggested;  // the frame is adjusted around the same client instead
  const FrameMetrics old = metrics_;
  ReadFrameMetrics(dpi);
  if (!view_) return;
  if (borderless_ || IsMaximized()) {
    Redraw(nullptr, false);
    return;
  }
  RECT r;
  GetWindowRect(Handle(), &r);
  const LONG dx = metrics_.border - old.border;
  const LONG dy = metrics_.frame - old.frame, dc = metrics_.caption - old.caption;
  ++resizing_;
  SetWindowPos(Handle(), nullptr, r.left - dx, r.top - dy - dc, r.right - r.left + 2 * dx,
               r.bottom - r.top + 2 * dy + dc, SWP_NOZORDER | SWP_NOACTIVATE);
  --resizing_;
  PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kCmdZoomToWindow, 0), 0);
}

bool ViewerWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_COPYDATA: {
      // Every hand-over is answered as handled, valid or not, and at once:
      // the open (its dialog, decode or error box) runs after the answer.
      *result = 1;
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data && data->lpData && data->cbData) {
        const auto* bytes = static_cast<const uint8_t*>(data->lpData);
        handOvers_.push_back({static_cast<uint32_t>(data->dwData), std::vector<uint8_t>(bytes, bytes + data->cbData)});
        PostMessageW(Handle(), kMsgHandOver, 0, 0);
      }
      return true;
    }
    case kMsgSettingsChanged:
      RebuildAccelerators();
      RefreshBorder();
      RefreshTitle();
      if (Viewer().preferences.autoSize) ZoomToFit(true, false);
      Redraw(nullptr, false);
      *result = 0;
      return true;
    case kMsgFolderChanged:
      // The listing went stale: read the folder again now, watched from
      // before the reading, so the next step finds what is there.
      if (observed_ && !observed_->IsValid()) {
        if (const wchar_t* path = CurrentFileName()) WatchFolderOf(path);
      }
      *result = 0;
      return true;
    case kMsgHandOver: {
      if (handOvers_.empty()) return true;
      const HandOver next = std::move(handOvers_.front());
      handOvers_.erase(handOvers_.begin());
      if (Viewer().receiveHandOver) Viewer().receiveHandOver(next.tag, next.payload.data(), next.payload.size());
      *result = 0;
      return true;
    }
    case WM_ENDSESSION: {
      // A frozen picture comes back at the next logon.
      const wchar_t* path = CurrentFileName();
      if (options_.frozen && path && !IsPseudoPath(path) && Viewer().frozenSessionEnd) {
        RECT r;
        GetWindowRect(Handle(), &r);
        Viewer().frozenSessionEnd(path, r.left, r.top, static_cast<float>(view_->Zoom()));
      }
      return false;
    }
    case WM_DISPLAYCHANGE:
    case WM_DWMCOMPOSITIONCHANGED:
      ReadFrameMetrics(WindowDpi(Handle()));
      if (message == WM_DWMCOMPOSITIONCHANGED && composition_) {
        // The blur may be gone with the composition: ask anew.
        SetBlurBehind(Handle(), false);
        composition_ = false;
        UpdateComposition();
      }
      Redraw(nullptr, false);
      return false;
    case WM_ENTERSIZEMOVE:
      ++sizeMove_;
      return false;
    case WM_EXITSIZEMOVE:
      EndSizeMove();
      return false;
    case WM_GETMINMAXINFO: {
      // Maximized, only the client area shows: the frame lies off the monitor.
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      const Rect monitor = Area(true);
      info->ptMaxPosition = {-metrics_.border, -(metrics_.frame + metrics_.caption)};
      info->ptMaxSize = {monitor.width + 2 * metrics_.border, monitor.height + 2 * metrics_.frame + metrics_.caption};
      return false;
    }
    default:
      (void)wParam;
      return false;
  }
}

}  // namespace pv
