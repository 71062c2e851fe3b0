#include "viewer/browser_window_win.h"

#include <algorithm>
#include <new>
#include <tuple>

#include "browse/file_names.h"
#include "browse/file_operations.h"
#include "browse/file_system.h"
#include "browse/image_cache.h"
#include "browse/thumbnail_maker.h"
#include "core/image_buffer.h"
#include "core/text.h"
#include "settings/language.h"
#include "slideshow/slideshow_win.h"
#include "toolkit/command_ids.h"
#include "viewer/options_pages.h"
#include "viewer/options_sheet_win.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

namespace pv {

namespace {

uint32_t g_openBrowsers = 0;
constexpr UINT_PTR kCloseTimer = 1;

// The folder a path shows: itself when it is a folder, else the one it lies in.
std::wstring FolderOf(const wchar_t* path) {
  std::wstring folder;
  if (!path || !*path) {
    wchar_t current[kMaxPathUnits];
    const DWORD n = GetCurrentDirectoryW(kMaxPathUnits, current);
    folder.assign(current, n < kMaxPathUnits ? n : 0);
  } else {
    const DWORD attributes = GetFileAttributesW(path);
    folder = path;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      folder.resize(FileNameOffset(path));
  }
  if (!folder.empty() && !IsPathSeparator(folder.back())) folder += L'\\';
  return folder;
}

// A thumbnail as the grid shows it: composed over the background.
void ComposeOver(std::vector<uint32_t>& pixels, uint32_t background) {
  for (uint32_t& p : pixels) {
    const uint32_t a = p >> 24;
    if (a == 255) continue;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
      const uint32_t f = (p >> shift) & 0xFF, b = (background >> shift) & 0xFF;
      out |= ((f * a + b * (255 - a) + 127) / 255) << shift;
    }
    p = out;
  }
}

struct MenuItem {
  UINT id;
  const wchar_t* text;
};

}  // namespace

bool BrowserCommandAvailable(uint32_t command, bool multiFolder) {
  switch (command) {
    case kBrDeleteIndex:
      return !multiFolder;
    default:
      return command >= kBrOpenFile && command <= kBrClose;
  }
}

BrowserProcess& Browser() {
  static BrowserProcess process;
  return process;
}

uint32_t BrowserWindow::OpenCount() { return g_openBrowsers; }

BrowserWindow* BrowserWindow::Open(const wchar_t* path, const BrowserWindowOptions& options) {
  return Browser().options ? MakeHeld<BrowserWindow>(path, options) : nullptr;
}

BrowserWindow::BrowserWindow(const wchar_t* path, const BrowserWindowOptions& options)
    : settings_(*Browser().options),
      order_(SortOrderFrom(settings_.indexSortOrder)),
      cacheSizeWins_(settings_.indexCacheSizeWins) {
  BeginHold();
  SetSelfOwned(true);
  Style().resizable = true;
  Style().hasCaption = true;
  Style().hasMaximiseBox = true;
  Style().hasVScroll = true;
  std::copy(std::begin(settings_.indexDisplaySwitches), std::end(settings_.indexDisplaySwitches), switches_.bytes);
  if (options.title) title_ = options.title;
  listings_ = Viewer().cache ? Ref<FolderListingManager>::Retain(&Viewer().cache->Listings())
                             : Ref<FolderListingManager>(new FolderListingManager);
  CreateOptions create;
  create.visible = false;
  create.title = L"Pixvane";
  create.parent = nullptr;
  if (!Create(create)) return;
  ++g_openBrowsers;
  {
    WindowDc dc(Handle());
    SelectObject(dc.get(), GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics;
    if (GetTextMetricsW(dc.get(), &metrics)) lineHeight_ = metrics.tmHeight;
  }
  folder_ = FolderOf(path);
  Place(options);
  ShowWindow(Handle(), SW_SHOW);
  Fill(false);
  UpdateWindow(Handle());
}

BrowserWindow::~BrowserWindow() { StopThumbnails(); }

void BrowserWindow::Place(const BrowserWindowOptions& options) {
  const bool given = options.x != INT32_MIN && options.y != INT32_MIN;
  POINT at{given ? options.x : settings_.indexWindowX, given ? options.y : settings_.indexWindowY};
  if (!given && g_openBrowsers > 1) {
    // Later windows step down and right so that none hides another.
    const LONG step = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CXSIZEFRAME);
    at.x += step * static_cast<LONG>(g_openBrowsers - 1);
    at.y += step * static_cast<LONG>(g_openBrowsers - 1);
  }
  HMONITOR monitor = MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  if (!given && options.owner && MonitorFromWindow(options.owner, MONITOR_DEFAULTTONEAREST) != monitor) {
    GetMonitorInfoW(MonitorFromWindow(options.owner, MONITOR_DEFAULTTONEAREST), &info);
    at = {info.rcWork.left, info.rcWork.top};
  }
  const RECT& work = info.rcWork;
  LONG width = settings_.indexWindowWidth, height = settings_.indexWindowHeight;
  if (!width || !height) {
    width = 4 * (settings_.indexIconWidth + 5 + settings_.indexIconSpacing) + 60;
    height = 3 * (settings_.indexIconHeight + 60) + 40;
    at = {work.left + 20, work.top + 20};
  }
  width = std::min<LONG>(width, work.right - work.left);
  height = std::min<LONG>(height, work.bottom - work.top);
  at.x = std::max(at.x, work.left);
  at.y = std::max(at.y, work.top);
  if (at.x + width >= work.right + 16 || at.y >= work.bottom) at = {work.left, work.top};
  SetWindowPos(Handle(), nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void BrowserWindow::FolderChanged() { PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrRefill, 0), 0); }

void BrowserWindow::StopThumbnails() {
  cancel_.store(1);
  makers_.Cancel();
  makers_.Wait();
  makers_.Reset();
  cancel_.store(0);
  ++generation_;
  std::lock_guard<std::mutex> hold(madeLock_);
  made_.clear();
}

void BrowserWindow::ShowFolder(const std::wstring& folder) {
  folder_ = folder;
  multiFolder_ = false;
  scroll_ = 0;
  focus_ = -1;
  Fill(false);
}

std::vector<BrowserItem> BrowserWindow::ReadItems() {
  std::vector<BrowserItem> items;
  Ref<FolderListing> listing = listings_->OpenListing(folder_.c_str(), false, this);
  if (observed_ && observed_.get() != listing.get()) observed_->RemoveObserver(this);
  observed_ = listing;
  std::vector<std::wstring> folders{folder_};
  auto readFolder = [&](std::wstring folder, FolderListing& listing, bool top) {
    FolderEntryInfo info;
    for (const wchar_t* name = listing.NextEntry(nullptr, &info); name; name = listing.NextEntry(name, &info)) {
      if (info.hidden && !info.directory) continue;
      if (multiFolder_ && info.directory) {
        // Sub-folders are read into the one list instead of being shown.
        if (top && name[0] != L'.') folders.push_back(folder + name + L'\\');
        continue;
      }
      if (auto item = MakeBrowserItem(folder, name, info)) {
        item->key = static_cast<uint32_t>(items.size());
        items.push_back(std::move(*item));
      }
    }
  };
  if (observed_) readFolder(folder_, *observed_, true);
  for (size_t i = 1; i < folders.size(); ++i) {
    if (Ref<FolderListing> sub = listings_->OpenListing(folders[i].c_str())) readFolder(folders[i], *sub, false);
  }
  return items;
}

namespace {

// Whether two lists hold the same files, whatever their order.
bool SameEntries(const std::vector<BrowserItem>& a, const std::vector<BrowserItem>& b) {
  if (a.size() != b.size()) return false;
  auto entries = [](const std::vector<BrowserItem>& items) {
    std::vector<std::tuple<std::wstring_view, uint64_t, uint64_t>> out;
    for (const BrowserItem& i : items) out.emplace_back(i.path, i.size, i.time);
    std::sort(out.begin(), out.end());
    return out;
  };
  return entries(a) == entries(b);
}

}  // namespace

void BrowserWindow::Fill(bool onlyWhenChanged) {
  std::vector<BrowserItem> fresh = ReadItems();
  // The program's own index file, or a change that was undone, leaves the list as it is.
  if (onlyWhenChanged && SameEntries(fresh, items_)) return;
  StopThumbnails();
  MSG message;
  while (PeekMessageW(&message, Handle(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
  }
  items_ = std::move(fresh);
  images_ = static_cast<size_t>(std::count_if(items_.begin(), items_.end(),
                                              [](const BrowserItem& i) { return i.kind == BrowserItemKind::Image; }));
  pressed_ = -1;
  focus_ = std::min<ptrdiff_t>(focus_, static_cast<ptrdiff_t>(items_.size()) - 1);
  thumbs_.clear();
  thumbs_.resize(items_.size());
  // The folder's index file, when it fits the box asked for.
  box_ = {static_cast<uint32_t>(std::clamp(settings_.indexIconWidth, 16, 1023)),
          static_cast<uint32_t>(std::clamp(settings_.indexIconHeight, 16, 1023))};
  ThumbnailBox asked = cacheSizeWins_ ? ThumbnailBox{} : box_;
  index_ = {};
  writer_.Wait();
  if (!multiFolder_ && ReadThumbnailIndex(&index_, folder_, &asked)) box_ = asked;
  Sort();
  FitWindowToItems();
  RefreshTitle();
  StartThumbnails();
  Redraw(nullptr, false);
}

void BrowserWindow::Sort() {
  SortBrowserItems(items_, order_);
  Layout();
}

void BrowserWindow::StartThumbnails() {
  fromIndex_ = 0;
  pendingThumbnails_ = 0;
  madeFresh_ = false;
  const uint32_t background =
      settings_.indexBackground.red << 16 | settings_.indexBackground.green << 8 | settings_.indexBackground.blue;
  // Stored thumbnails that still match their files serve at once.
  for (const BrowserItem& item : items_) {
    if (item.kind != BrowserItemKind::Image) continue;
    auto stored = std::find_if(index_.entries.begin(), index_.entries.end(), [&](const ThumbnailEntry& e) {
      return e.fileSize == static_cast<uint32_t>(item.size) && e.fileTime == item.time &&
             CompareFileNames(e.name.c_str(), item.Name()) == 0;
    });
    if (stored != index_.entries.end()) {
      thumbs_[item.key] = std::move(*stored);
      ComposeOver(thumbs_[item.key].pixels, background);
      ++fromIndex_;
      continue;
    }
    ++pendingThumbnails_;
    const uint32_t generation = generation_, key = item.key;
    const ThumbnailBox box = box_;
    makers_.Run([this, generation, key, box, path = item.path, background] {
      Made made{generation, key, false, {}};
      made.ok = Succeeded(MakeThumbnail(path.c_str(), box, &cancel_, &made.entry));
      if (made.ok) ComposeOver(made.entry.pixels, background);
      if (cancel_.load()) return;
      bool first;
      {
        std::lock_guard<std::mutex> hold(madeLock_);
        first = made_.empty();
        made_.push_back(std::move(made));
      }
      if (first) PostMessageW(Handle(), kMsgThumbnailsMade, 0, 0);
    });
  }
  // Items sorted by image size learn their sizes from their thumbnails.
  for (BrowserItem& item : items_) {
    const ThumbnailEntry& t = thumbs_[item.key];
    if (!t.pixels.empty())
      std::tie(item.width, item.height, item.bitsPerPixel) = std::tuple(t.imageWidth, t.imageHeight, t.bitsPerPixel);
  }
  if (order_ == BrowserSortOrder::PixelCount) Sort();
  index_.entries.clear();
}

void BrowserWindow::TakeMadeThumbnails() {
  std::vector<Made> made;
  {
    std::lock_guard<std::mutex> hold(madeLock_);
    made.swap(made_);
  }
  bool any = false;
  for (Made& m : made) {
    if (m.generation != generation_ || m.key >= thumbs_.size()) continue;
    --pendingThumbnails_;
    if (!m.ok) continue;
    auto item = std::find_if(items_.begin(), items_.end(), [&](const BrowserItem& i) { return i.key == m.key; });
    if (item == items_.end()) continue;
    m.entry.name = item->Name();
    m.entry.fileSize = static_cast<uint32_t>(item->size);
    m.entry.fileTime = item->time;
    std::tie(item->width, item->height, item->bitsPerPixel) =
        std::tuple(m.entry.imageWidth, m.entry.imageHeight, m.entry.bitsPerPixel);
    thumbs_[m.key] = std::move(m.entry);
    madeFresh_ = true;
    any = true;
  }
  if (!any && pendingThumbnails_ > 0) return;
  if (pendingThumbnails_ == 0) {
    if (order_ == BrowserSortOrder::PixelCount) Sort();
    if (!multiFolder_ && (writeIndexWhenDone_ || (settings_.indexAutoCache && madeFresh_))) WriteIndexInBackground();
    writeIndexWhenDone_ = false;
  }
  Redraw(nullptr, false);
}

void BrowserWindow::WriteIndexInBackground() {
  ThumbnailIndex index;
  index.folder = folder_;
  for (const BrowserItem& item : items_) {
    if (item.kind == BrowserItemKind::Image && !thumbs_[item.key].pixels.empty())
      index.entries.push_back(thumbs_[item.key]);
  }
  writer_.Wait();
  writer_.Run([index = std::move(index), box = box_] { WriteThumbnailIndex(index, box); });
}

void BrowserWindow::Layout() {
  SIZE client{};
  GetClientSize(&client);
  GridMetrics metrics{static_cast<int32_t>(box_.width), static_cast<int32_t>(box_.height), settings_.indexIconSpacing,
                      lineHeight_, std::max<int32_t>(client.cx, 1)};
  grid_ = LayoutGrid(items_, metrics, switches_);
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMax = grid_.height;
  info.nPage = static_cast<UINT>(std::max<LONG>(client.cy, 1));
  scroll_ = std::clamp(scroll_, 0, std::max(0, grid_.height - static_cast<int32_t>(client.cy)));
  info.nPos = scroll_;
  SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
}

void BrowserWindow::FitWindowToItems() {
  if (settings_.indexFixedWindowSize || IsMaximized() || grid_.visible == 0) return;
  RECT window, client;
  GetWindowRect(Handle(), &window);
  GetClientRect(Handle(), &client);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST), &info);
  const RECT& work = info.rcWork;
  const LONG frameX = (window.right - window.left) - client.right;
  const LONG frameY = (window.bottom - window.top) - client.bottom;
  const int32_t left = settings_.indexIconSpacing + 2;
  // The columns follow the window's width, the rows the item count.
  const int32_t columns = std::min<int32_t>(grid_.columns, static_cast<int32_t>(grid_.visible));
  const int32_t rows = static_cast<int32_t>((grid_.visible + columns - 1) / columns);
  LONG width = std::min<LONG>(frameX + 2 * left + columns * grid_.cellWidth + GetSystemMetrics(SM_CXVSCROLL),
                              work.right - work.left);
  LONG height = std::min<LONG>(frameY + left + rows * grid_.cellHeight + 2, work.bottom - work.top);
  LONG x = std::clamp<LONG>(window.left, work.left, std::max(work.left, work.right - width));
  LONG y = std::clamp<LONG>(window.top, work.top, std::max(work.top, work.bottom - height));
  SetWindowPos(Handle(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  settings_.indexWindowX = static_cast<int16_t>(x);
  settings_.indexWindowY = static_cast<int16_t>(y);
  settings_.indexWindowWidth = static_cast<uint16_t>(width);
  settings_.indexWindowHeight = static_cast<uint16_t>(height);
  Layout();
}

void BrowserWindow::RefreshTitle() {
  BrowserTitleParts parts;
  parts.folder = folder_;
  parts.given = title_;
  parts.caption = Translate(L"Index");
  parts.fullPath = settings_.indexShowFullFolder;
  parts.multiFolder = multiFolder_;
  parts.showCount = settings_.indexShowCount;
  parts.images = images_;
  SetWindowTextW(Handle(), BrowserTitle(parts).c_str());
}

RECT BrowserWindow::ThumbnailRect(size_t index) const {
  if (index >= items_.size() || items_[index].hidden) return {};
  const BrowserItem& item = items_[index];
  const ThumbnailEntry& t = thumbs_[item.key];
  if (t.pixels.empty()) return {};
  const LONG x = item.x + 2 + static_cast<LONG>(box_.width - t.width) / 2;
  const LONG y = item.y + 1 + static_cast<LONG>(box_.height - t.height) / 2 - scroll_;
  return {x, y, x + static_cast<LONG>(t.width), y + static_cast<LONG>(t.height)};
}

int32_t BrowserWindow::VisibleRows() const {
  SIZE client{};
  GetClientSize(&client);
  return std::max<int32_t>(1, client.cy / std::max(grid_.cellHeight, 1));
}

void BrowserWindow::SetScroll(int32_t y) {
  SIZE client{};
  GetClientSize(&client);
  y = std::clamp(y, 0, std::max(0, grid_.height - static_cast<int32_t>(client.cy)));
  if (y == scroll_) return;
  scroll_ = y;
  SetScrollPos(Handle(), SB_VERT, y, TRUE);
  Redraw(nullptr, false);
}

void BrowserWindow::EnsureVisible(ptrdiff_t index) {
  if (index < 0) return;
  SIZE client{};
  GetClientSize(&client);
  const BrowserItem& item = items_[static_cast<size_t>(index)];
  if (item.y < scroll_) {
    SetScroll(item.y);
  } else if (item.y + grid_.cellHeight > scroll_ + client.cy) {
    SetScroll(item.y + grid_.cellHeight - client.cy);
  }
}

void BrowserWindow::SetFocusItem(ptrdiff_t index) {
  if (index == focus_) return;
  focus_ = index;
  EnsureVisible(index);
  Redraw(nullptr, false);
}

void BrowserWindow::OpenItems(const std::vector<size_t>& which) {
  bool openedFile = false;
  std::optional<std::wstring> folder;
  for (size_t i : which) {
    const BrowserItem& item = items_[i];
    switch (item.kind) {
      case BrowserItemKind::Folder:
        if (item.IsParentLink()) {
          std::wstring parent = folder_.substr(0, folder_.size() - 1);
          parent.resize(FileNameOffset(parent.c_str()));
          folder = parent;
        } else {
          folder = item.path + L'\\';
        }
        break;
      case BrowserItemKind::Image:
        if (Viewer().openViewer) Viewer().openViewer(item.path.c_str(), Handle());
        openedFile = true;
        break;
      case BrowserItemKind::Script:
        ShellExecuteW(Handle(), L"open", item.path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        openedFile = true;
        break;
    }
  }
  if (folder && !folder->empty()) {
    ShowFolder(*folder);
  } else if (openedFile && settings_.indexCloseOnOpen) {
    SetTimer(Handle(), kCloseTimer, 200, nullptr);
  }
}

std::vector<std::wstring> BrowserWindow::SelectedFiles() const {
  std::vector<std::wstring> files;
  for (const BrowserItem& item : items_) {
    if (item.selected && item.kind != BrowserItemKind::Folder) files.push_back(item.path);
  }
  if (files.empty() && focus_ >= 0 && items_[static_cast<size_t>(focus_)].kind != BrowserItemKind::Folder)
    files.push_back(items_[static_cast<size_t>(focus_)].path);
  return files;
}

void BrowserWindow::DropVanishedItems() {
  std::erase_if(items_, [](const BrowserItem& item) { return !PathExists(item.path.c_str()); });
  images_ = static_cast<size_t>(std::count_if(items_.begin(), items_.end(),
                                              [](const BrowserItem& i) { return i.kind == BrowserItemKind::Image; }));
  focus_ = std::min<ptrdiff_t>(focus_, static_cast<ptrdiff_t>(items_.size()) - 1);
  pressed_ = -1;
  Layout();
  RefreshTitle();
  Redraw(nullptr, false);
}

void BrowserWindow::OnTimer(UINT_PTR id) {
  if (id != kCloseTimer) return;
  KillTimer(Handle(), kCloseTimer);
  PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrClose, 0), 0);
}

void BrowserWindow::OnCommand(UINT id, UINT code, HWND control) {
  (void)code;
  (void)control;
  if (id < kBrOpenFile || id > kBrClose) return;
  if (!BrowserCommandAvailable(id, multiFolder_)) {
    MessageBeep(0);
    return;
  }
  if (ApplyDisplayCommand(switches_, id)) {
    std::copy(std::begin(switches_.bytes), std::end(switches_.bytes), settings_.indexDisplaySwitches);
    Layout();
    Redraw(nullptr, false);
    return;
  }
  switch (id) {
    case kBrOpenFile:
      if (Viewer().openViewer) Viewer().openViewer(nullptr, Handle());
      return;
    case kBrMultiFolder:
      multiFolder_ = true;
      order_ = BrowserSortOrder::Folder;
      Fill(false);
      return;
    case kBrNextWindow:
    case kBrPreviousWindow:
      BringNextPixvaneWindow(Handle(), id == kBrNextWindow);
      return;
    case kBrOpenSelected:
    case kBrOpenSelected2:
    case kBrOpenSelected3:
    case kBrOpenSelected4:
      OpenItems(ItemsToOpen(items_, focus_));
      return;
    case kBrRefill:
      Fill(true);
      return;
    case kBrCopyTo:
    case kBrMoveTo: {
      const std::vector<std::wstring> files = SelectedFiles();
      const bool move = id == kBrMoveTo;
      const std::wstring target =
          files.empty() ? std::wstring()
                        : ChooseFolder(Handle(), move ? FileText::ChooseMoveFolder : FileText::ChooseCopyFolder);
      if (target.empty()) return;
      CopyFileToFolder(Handle(), Viewer().cache, move ? FileOp::Move : FileOp::Copy, target, files);
      if (move) {
        DropVanishedItems();
      } else {
        for (BrowserItem& item : items_) item.selected = false;
        Redraw(nullptr, false);
      }
      return;
    }
    case kBrDelete:
    case kBrWipe: {
      const std::vector<std::wstring> files = SelectedFiles();
      if (files.empty() || !ConfirmFileOperation(Handle(), files)) return;
      DeleteFiles(Handle(), Viewer().cache, files, id == kBrWipe);
      DropVanishedItems();
      return;
    }
    case kBrRename:
      // The dialogs may let a refill in, so the series works on paths, not items.
      for (const std::wstring& path : SelectedFiles()) {
        if (RenameImageFile(Handle(), Viewer().cache, path).empty()) break;
      }
      Fill(true);
      return;
    case kBrSavePage:
      SavePage();
      return;
    case kBrSlideshow:
    case kBrSlideshowAlt: {
      // 22018 asks with the script dialog first; 22019 writes at once.
      std::wstring script;
      if (Viewer().settings && Viewer().openViewer &&
          WriteSlideshowScript(&script, Handle(), folder_.substr(0, folder_.size() - 1), id == kBrSlideshowAlt,
                               *Viewer().settings, *listings_))
        Viewer().openViewer(script.c_str(), Handle());
      return;
    }
    case kBrSlideMaximise:
      settings_.slideMaximise = !settings_.slideMaximise;
      return;
    case kBrIgnoreStoredSize:
      cacheSizeWins_ = false;
      Fill(false);
      return;
    case kBrBuildIndex:
    case kBrBuildIndexAlt:
      if (multiFolder_) {
        MessageBoxW(Handle(), Translate(L"The index file cannot be built in the view of several folders.").c_str(),
                    L"Pixvane", MB_OK | MB_ICONINFORMATION);
      } else if (pendingThumbnails_ == 0) {
        WriteIndexInBackground();
      } else {
        writeIndexWhenDone_ = true;
      }
      return;
    case kBrDeleteIndex: {
      writer_.Wait();
      const std::wstring path = ThumbnailIndexPath(folder_);
      if (!path.empty()) RemoveFile(path.c_str());
      return;
    }
    case kBrMaximize:
      ShowWindow(Handle(), IsMaximized() ? SW_RESTORE : SW_MAXIMIZE);
      return;
    case kBrFixedSize:
      settings_.indexFixedWindowSize = !settings_.indexFixedWindowSize;
      if (!settings_.indexFixedWindowSize) settings_.indexWindowWidth = settings_.indexWindowHeight = 0;
      return;
    case kBrSortFolder:
    case kBrSortName:
    case kBrSortSize:
    case kBrSortTime:
    case kBrSortPixels: {
      static constexpr BrowserSortOrder kOrders[] = {BrowserSortOrder::Folder, BrowserSortOrder::Name,
                                                     BrowserSortOrder::Size, BrowserSortOrder::Time,
                                                     BrowserSortOrder::PixelCount};
      order_ = kOrders[id - kBrSortFolder];
      settings_.indexSortOrder = static_cast<uint8_t>(order_);
      const uint32_t focusKey = focus_ >= 0 ? items_[static_cast<size_t>(focus_)].key : UINT32_MAX;
      Sort();
      auto at = std::find_if(items_.begin(), items_.end(), [&](const BrowserItem& i) { return i.key == focusKey; });
      focus_ = at == items_.end() ? -1 : at - items_.begin();
      Redraw(nullptr, false);
      return;
    }
    case kBrEditScript: {
      auto script = std::find_if(items_.begin(), items_.end(),
                                 [](const BrowserItem& i) { return i.selected && i.kind == BrowserItemKind::Script; });
      wchar_t notepad[kMaxPathUnits];
      const UINT n = GetSystemDirectoryW(notepad, kMaxPathUnits - 16);
      if (script == items_.end() || n == 0 || n >= kMaxPathUnits - 16) {
        MessageBeep(0);
        return;
      }
      wcscpy(notepad + n, L"\\Notepad.exe");
      const std::wstring quoted = L"\"" + script->path + L"\"";
      ShellExecuteW(Handle(), L"open", notepad, quoted.c_str(), nullptr, SW_SHOWNORMAL);
      return;
    }
    case kBrOptions: {
      if (!Viewer().settings) return;
      const Options before = settings_;
      int page = 0;
      if (!RunOptionsSheet(Handle(), *Viewer().settings, static_cast<int>(OptionPage::Browser), &page)) return;
      if (Viewer().settingsChanged) Viewer().settingsChanged();
      for (HWND w : FindPixvaneWindows()) PostMessageW(w, kMsgSettingsChanged, 0, 0);
      const BackgroundColour& was = before.indexBackground, &now = settings_.indexBackground;
      if (was.red != now.red || was.green != now.green || was.blue != now.blue || was.flags != now.flags)
        PostMessageW(Handle(), WM_DWMCOMPOSITIONCHANGED, 0, 0);
      if (before.indexIconWidth != settings_.indexIconWidth || before.indexIconHeight != settings_.indexIconHeight) {
        cacheSizeWins_ = false;
        Fill(false);
      } else if (settings_.indexAutoCache && !multiFolder_ && !PathExists(ThumbnailIndexPath(folder_).c_str())) {
        SendMessageW(Handle(), WM_COMMAND, kBrBuildIndex, 0);
      }
      RefreshTitle();
      return;
    }
    case kBrHelp:
      OpenHelpFile(Handle());
      return;
    case kBrCloseAll:
      CloseAllPixvaneWindows();
      return;
    case kBrClose:
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      return;
    default:
      return;
  }
}

void BrowserWindow::OnContextMenu(POINT point, bool fromKeyboard) {
  if (fromKeyboard) {
    point = {0, 0};
    ClientToScreen(Handle(), &point);
  }
  MenuHandle menu(CreatePopupMenu());
  auto add = [&](HMENU to, std::initializer_list<MenuItem> items) {
    for (const MenuItem& i : items) {
      if (!i.id) {
        AppendMenuW(to, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      bool checked = false;
      if (i.id >= kBrSortFolder && i.id <= kBrSortPixels) {
        static constexpr uint8_t kValue[] = {5, 1, 3, 4, 2};
        checked = static_cast<uint8_t>(order_) == kValue[i.id - kBrSortFolder];
      } else if (i.id >= kBrNameLines1 && i.id <= kBrNameLines4) {
        checked = switches_.bytes[2] == i.id - kBrNameLines1 + 1;
      } else if (i.id >= kBrShowFolders && i.id <= kBrFormatLine) {
        DisplaySwitches probe = switches_;
        ApplyDisplayCommand(probe, i.id);
        checked = std::mismatch(std::begin(probe.bytes), std::end(probe.bytes), switches_.bytes).first[0] == 0;
      } else if (i.id == kBrFixedSize) {
        checked = settings_.indexFixedWindowSize;
      } else if (i.id == kBrSlideMaximise) {
        checked = settings_.slideMaximise;
      }
      AppendMenuW(
          to, MF_STRING | (BrowserCommandAvailable(i.id, multiFolder_) ? 0u : MF_GRAYED) | (checked ? MF_CHECKED : 0u),
          i.id, Translate(i.text).c_str());
    }
  };
  auto sub = [&](const wchar_t* title, std::initializer_list<MenuItem> items) {
    HMENU s = CreatePopupMenu();
    add(s, items);
    AppendMenuW(menu.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(s), Translate(title).c_str());
  };
  add(menu.get(), {{kBrOpenSelected, L"Open\tEnter"}, {kBrOpenFile, L"Open file..."}, {0, nullptr}});
  sub(L"File", {{kBrCopyTo, L"Copy to..."},
                {kBrMoveTo, L"Move to..."},
                {kBrRename, L"Rename..."},
                {kBrDelete, L"Delete"},
                {kBrWipe, L"Wipe"},
                {0, nullptr},
                {kBrSavePage, L"Save page as bitmap..."}});
  sub(L"Sort", {{kBrSortName, L"By name"},
                {kBrSortPixels, L"By image size"},
                {kBrSortSize, L"By file size"},
                {kBrSortTime, L"By date"},
                {kBrSortFolder, L"By folder"}});
  sub(L"Show", {{kBrShowFolders, L"Folders"},
                {kBrShowScripts, L"Slideshow scripts"},
                {0, nullptr},
                {kBrNameLines1, L"One name line"},
                {kBrNameLines1 + 1, L"Two name lines"},
                {kBrNameLines1 + 2, L"Three name lines"},
                {kBrNameLines4, L"Four name lines"},
                {0, nullptr},
                {kBrImageSizeLine, L"Image size"},
                {kBrFileSizeLine, L"File size"},
                {kBrTimeLine, L"Date"},
                {kBrFormatLine, L"Type"}});
  sub(L"Index file",
      {{kBrBuildIndex, L"Build"}, {kBrDeleteIndex, L"Delete"}, {kBrIgnoreStoredSize, L"Ignore its size"}});
  sub(L"Slideshow", {{kBrSlideshow, L"Play folder"},
                     {kBrSlideshowAlt, L"Play folder (variant)"},
                     {kBrSlideMaximise, L"Maximised"},
                     {kBrEditScript, L"Edit script"}});
  add(menu.get(), {{kBrMultiFolder, L"Include sub-folders"},
                   {kBrRefill, L"Refresh"},
                   {0, nullptr},
                   {kBrMaximize, L"Maximize"},
                   {kBrFixedSize, L"Keep window size"},
                   {kBrOptions, L"Options..."},
                   {kBrHelp, L"Help\tF1"},
                   {0, nullptr},
                   {kBrClose, L"Close\tEsc"}});
  const UINT id = static_cast<UINT>(
      TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, Handle(), nullptr));
  if (id != 0) SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void BrowserWindow::OnDestroy() {
  StopThumbnails();
  writer_.Wait();
  KillTimer(Handle(), kCloseTimer);
  if (observed_) observed_->RemoveObserver(this);
  observed_.Reset();
  if (g_openBrowsers > 0) --g_openBrowsers;
  ToolkitWindow::OnDestroy();
}

bool BrowserWindow::OnEraseBackground(HDC) { return true; }

void BrowserWindow::OnKey(UINT key, bool down, bool repeat, bool alt) {
  (void)repeat;
  if (!down || alt) return;
  const bool shift = GetKeyState(VK_SHIFT) < 0, control = GetKeyState(VK_CONTROL) < 0;
  std::optional<FocusMove> move;
  switch (key) {
    case VK_ESCAPE:
      PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrClose, 0), 0);
      return;
    case VK_RETURN:
      if (focus_ < 0) return;
      if (shift || control) {
        items_[static_cast<size_t>(focus_)].selected ^= true;
        Redraw(nullptr, false);
      } else {
        PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrOpenSelected, 0), 0);
      }
      return;
    case VK_F1:
      PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrHelp, 0), 0);
      return;
    case VK_F5:
      PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(kBrRefill, 0), 0);
      return;
    case VK_LEFT:
      move = FocusMove::Left;
      break;
    case VK_RIGHT:
      move = FocusMove::Right;
      break;
    case VK_UP:
      move = FocusMove::Up;
      break;
    case VK_DOWN:
      move = FocusMove::Down;
      break;
    case VK_PRIOR:
      move = FocusMove::PageUp;
      break;
    case VK_NEXT:
    case VK_SPACE:
      move = FocusMove::PageDown;
      break;
    case VK_HOME:
      move = FocusMove::Home;
      break;
    case VK_END:
      move = FocusMove::End;
      break;
    default:
      return;
  }
  SetFocusItem(MoveFocus(items_, focus_, *move, grid_.columns, VisibleRows()));
}

bool BrowserWindow::OnMouseButton(MouseButton button, MouseAction action, POINT point, UINT keys) {
  // The release of the right button brings the context menu.
  if (button == MouseButton::Right && action == MouseAction::Up) return false;
  if (action != MouseAction::Down && action != MouseAction::Up && action != MouseAction::DoubleClick) return false;
  const ptrdiff_t hit = ItemAt(items_, grid_, point.x, point.y + scroll_);
  const bool toggle = (keys & (MK_SHIFT | MK_CONTROL)) != 0 || button == MouseButton::Middle;
  if (hit < 0) {
    if (action == MouseAction::Down && (button == MouseButton::Left || button == MouseButton::Middle) &&
        !IsMaximized()) {
      // Empty space moves the window, as its caption would.
      ReleaseCapture();
      SendMessageW(Handle(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
    } else if (action == MouseAction::DoubleClick && button == MouseButton::Left) {
      ShowWindow(Handle(), IsMaximized() ? SW_RESTORE : SW_MAXIMIZE);
    } else if (action == MouseAction::Up && button == MouseButton::Extra1 && !items_.empty() &&
               items_.front().IsParentLink()) {
      OpenItems({0});
    }
    return true;
  }
  const size_t index = static_cast<size_t>(hit);
  if (toggle) {
    if (action == MouseAction::Down) {
      items_[index].selected ^= true;
      focus_ = hit;
      Redraw(nullptr, false);
    }
    return true;
  }
  if (button == MouseButton::Extra1 && action == MouseAction::Up && !items_.empty() && items_.front().IsParentLink()) {
    OpenItems({0});
    return true;
  }
  if (button != MouseButton::Left && button != MouseButton::Right) return true;
  if (action == MouseAction::DoubleClick) return true;  // the first click has opened it
  if (action == MouseAction::Down) {
    focus_ = hit;
    SelectOnly(items_, index);
    pressed_ = button == MouseButton::Left ? hit : -1;
    if (items_[index].kind == BrowserItemKind::Image && Viewer().cache)
      Viewer().cache->SchedulePrefetch(items_[index].path.c_str(), NavExisting, true);
    Redraw(nullptr, false);
  } else if (button == MouseButton::Left) {
    const ptrdiff_t pressed = std::exchange(pressed_, -1);
    if (pressed == hit) {
      // A single click opens.
      OpenItems({index});
    } else if (pressed >= 0) {
      items_[static_cast<size_t>(pressed)].selected = false;
      Redraw(nullptr, false);
    }
  }
  return true;
}

void BrowserWindow::OnMouseWheel(int delta, POINT, UINT) {
  SetScroll(scroll_ - delta * std::max(grid_.cellHeight, 1) / WHEEL_DELTA);
}

void BrowserWindow::OnScroll(bool vertical, UINT code, UINT position, HWND) {
  if (!vertical) return;
  SIZE client{};
  GetClientSize(&client);
  switch (code) {
    case SB_LINEUP:
      SetScroll(scroll_ - grid_.cellHeight / 4);
      break;
    case SB_LINEDOWN:
      SetScroll(scroll_ + grid_.cellHeight / 4);
      break;
    case SB_PAGEUP:
      SetScroll(scroll_ - client.cy);
      break;
    case SB_PAGEDOWN:
      SetScroll(scroll_ + client.cy);
      break;
    case SB_TOP:
      SetScroll(0);
      break;
    case SB_BOTTOM:
      SetScroll(grid_.height);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      SetScroll(static_cast<int32_t>(position));
      break;
    default:
      break;
  }
}

void BrowserWindow::OnSize(UINT kind, SIZE size) {
  (void)size;
  if (kind == SIZE_MINIMIZED) return;
  Layout();
  Redraw(nullptr, false);
}

void BrowserWindow::OnPaint(HDC dc, const PAINTSTRUCT& paint) {
  const RECT& area = paint.rcPaint;
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  // Drawn off screen and put on at once, so nothing flickers.
  HDC memory = CreateCompatibleDC(dc);
  GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(dc, width, height));
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap.get());
  SetViewportOrgEx(memory, -area.left, -area.top, nullptr);
  DrawItems(memory, area, scroll_);
  SetViewportOrgEx(memory, 0, 0, nullptr);
  BitBlt(dc, area.left, area.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldBitmap);
  DeleteDC(memory);
}

void BrowserWindow::SavePage() {
  const std::wstring target = ChooseBitmapTarget(Handle(), (folder_ + L"index.bmp").c_str());
  if (target.empty()) return;
  // The whole grid, not only what the window shows.
  const ImageSize size{static_cast<uint32_t>(std::max(grid_.width, 1)),
                       static_cast<uint32_t>(std::max(grid_.height, 1))};
  Ref<ImageBuffer> page(CreateImageBuffer(PixelFormat::Rgba8, size, true));
  const ScreenBitmap* screen = page ? page->AsScreenBitmap() : nullptr;
  bool saved = false;
  if (screen) {
    // The buffer's first pixel lies a row and 16 bytes into its bitmap.
    const HDC dc = static_cast<HDC>(screen->deviceContext);
    SetViewportOrgEx(dc, 4, 1, nullptr);
    DrawItems(dc, RECT{0, 0, static_cast<LONG>(size.width), static_cast<LONG>(size.height)}, 0);
    GdiFlush();
    for (uint32_t y = 0; y < size.height; ++y) {
      uint8_t* row = page->Row(y);
      for (uint32_t x = 0; x < size.width; ++x) row[x * 4 + 3] = 255;  // GDI leaves alpha at 0
    }
    saved = SaveBitmapFile(*page, nullptr, target);
  }
  if (!saved) TellFileProblem(Handle(), FileText::CannotSave);
}

void BrowserWindow::DrawItems(HDC memory, const RECT& area, int32_t scroll) {
  const BackgroundColour& bg = settings_.indexBackground;
  const COLORREF background = RGB(bg.red, bg.green, bg.blue);
  const COLORREF text = (bg.red * 3 + bg.green * 6 + bg.blue) / 10 > 128 ? RGB(0, 0, 0) : RGB(255, 255, 255);
  GdiObject<HBRUSH> backgroundBrush(CreateSolidBrush(background));
  GdiObject<HBRUSH> selectedBrush(CreateSolidBrush(RGB(51, 153, 255)));
  FillRect(memory, &area, backgroundBrush.get());
  SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(memory, TRANSPARENT);
  SetTextColor(memory, text);
  for (size_t i = 0; i < items_.size(); ++i) {
    const BrowserItem& item = items_[i];
    if (item.hidden) continue;
    const RECT cell{item.x, item.y - scroll, item.x + grid_.cellWidth - settings_.indexIconSpacing,
                    item.y - scroll + grid_.cellHeight - settings_.indexIconSpacing};
    RECT visible;
    if (!IntersectRect(&visible, &cell, &area)) continue;
    if (item.selected) FillRect(memory, &cell, selectedBrush.get());
    const ThumbnailEntry& t = thumbs_[item.key];
    RECT thumb = ThumbnailRect(i);
    OffsetRect(&thumb, 0, scroll_ - scroll);
    if (!t.pixels.empty()) {
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      info.bmiHeader.biWidth = static_cast<LONG>(t.width);
      info.bmiHeader.biHeight = -static_cast<LONG>(t.height);  // top-down rows
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      SetDIBitsToDevice(memory, thumb.left, thumb.top, t.width, t.height, 0, 0, 0, t.height, t.pixels.data(), &info,
                        DIB_RGB_COLORS);
    } else if (item.kind != BrowserItemKind::Image) {
      // Folders and scripts: a plain tile with their kind.
      RECT tile{cell.left + 2 + static_cast<LONG>(box_.width) / 4, cell.top + 1 + static_cast<LONG>(box_.height) / 4,
                cell.left + 2 + static_cast<LONG>(box_.width) * 3 / 4,
                cell.top + 1 + static_cast<LONG>(box_.height) * 3 / 4};
      GdiObject<HBRUSH> tileBrush(
          CreateSolidBrush(item.kind == BrowserItemKind::Folder ? RGB(230, 190, 80) : RGB(120, 170, 120)));
      FillRect(memory, &tile, tileBrush.get());
    }
    // The text lines below the box.
    RECT line{cell.left, cell.top + static_cast<LONG>(box_.height) + 2, cell.right, 0};
    if (switches_.NameLines() > 0) {
      line.bottom = line.top + switches_.NameLines() * lineHeight_;
      DrawTextW(memory, item.Name(), -1, &line,
                DT_CENTER | DT_WORDBREAK | DT_END_ELLIPSIS | DT_EDITCONTROL | DT_NOPREFIX);
      line.top = line.bottom;
    }
    wchar_t buffer[64];
    auto textLine = [&](const wchar_t* s) {
      line.bottom = line.top + lineHeight_;
      DrawTextW(memory, s, -1, &line, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
      line.top = line.bottom;
    };
    if (switches_.bytes[3]) {
      const bool known = item.width && item.height;
      FormatText(buffer, 64, L"%u x %u x %u", item.width, item.height, item.bitsPerPixel);
      textLine(known ? buffer : L"");
    }
    if (switches_.bytes[4]) {
      FormatText(buffer, 64, L"%llu KB", static_cast<unsigned long long>((item.size + 1023) / 1024));
      textLine(item.kind == BrowserItemKind::Folder ? L"" : buffer);
    }
    if (switches_.bytes[5]) textLine(FormatFileTime(buffer, 64, item.time) ? buffer : L"");
    if (switches_.bytes[7]) {
      line.top += 5;
      const wchar_t* dot = std::wcsrchr(item.Name(), L'.');
      textLine(item.kind == BrowserItemKind::Folder ? L"Folder" : dot ? dot + 1 : L"");
    }
    if (static_cast<ptrdiff_t>(i) == focus_) DrawFocusRect(memory, &cell);
  }
}

bool BrowserWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  (void)wParam;
  switch (message) {
    case kMsgThumbnailsMade:
      TakeMadeThumbnails();
      *result = 0;
      return true;
    case WM_COPYDATA: {
      // Answered at once; the open runs after the answer, as in the viewer.
      *result = 1;
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data && data->lpData && data->cbData) {
        const auto* bytes = static_cast<const uint8_t*>(data->lpData);
        handOvers_.push_back({static_cast<uint32_t>(data->dwData), std::vector<uint8_t>(bytes, bytes + data->cbData)});
        PostMessageW(Handle(), kMsgHandOver, 0, 0);
      }
      return true;
    }
    case kMsgHandOver: {
      if (handOvers_.empty()) return true;
      const HandOver next = std::move(handOvers_.front());
      handOvers_.erase(handOvers_.begin());
      if (Viewer().receiveHandOver) Viewer().receiveHandOver(next.tag, next.payload.data(), next.payload.size());
      *result = 0;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace pv
