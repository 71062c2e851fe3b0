#pragma once
// The browser (index) window: one folder as a grid of thumbnails, made in
// the background and kept in the folder's index file when the settings say so.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browse/browser_items.h"
#include "browse/folder_listing.h"
#include "browse/thumbnail_index.h"
#include "core/decoder.h"
#include "core/task_group.h"
#include "settings/options_block.h"
#include "toolkit/window.h"

namespace pv {

// WM_COMMAND identifiers of the browser window.
enum BrowserCommand : uint32_t {
  kBrOpenFile = 22000,
  kBrMultiFolder = 22001,
  kBrNextWindow = 22002,
  kBrPreviousWindow = 22003,
  kBrOpenSelected = 22004,
  kBrCopyTo = 22005,
  kBrMoveTo = 22006,
  kBrDelete = 22007,
  kBrWipe = 22008,
  kBrRename = 22009,
  kBrSavePage = 22010,
  kBrRefill = 22011,
  kBrIgnoreStoredSize = 22012,
  kBrBuildIndex = 22013,
  kBrBuildIndexAlt = 22014,
  kBrDeleteIndex = 22015,
  kBrMaximize = 22016,
  kBrFixedSize = 22017,
  kBrSlideshow = 22018,
  kBrSlideshowAlt = 22019,
  kBrSlideMaximise = 22020,
  kBrSortFolder = 22021,
  kBrSortName = 22022,
  kBrSortSize = 22023,
  kBrSortTime = 22024,
  kBrSortPixels = 22025,
  kBrShowFolders = 22026,
  kBrShowScripts = 22027,
  kBrNameLines1 = 22028,
  kBrNameLines4 = 22031,
  kBrImageSizeLine = 22032,
  kBrSwitch122 = 22033,
  kBrFileSizeLine = 22034,
  kBrTimeLine = 22035,
  kBrFormatLine = 22036,
  kBrOpenSelected2 = 22037,
  kBrOpenSelected3 = 22038,
  kBrEditScript = 22039,
  kBrOpenSelected4 = 22040,
  kBrOptions = 22041,
  kBrHelp = 22042,
  kBrCloseAll = 22043,
  kBrClose = 22044,
};

// Whether the browser carries the command out in this version; the others
// are greyed in its menu and beep on their keys.
bool BrowserCommandAvailable(uint32_t command, bool multiFolder);

// What start-up gives every browser window.
struct BrowserProcess {
  Options* options = nullptr;  // the stored settings, read and written back
};
BrowserProcess& Browser();

struct BrowserWindowOptions {
  const wchar_t* title = nullptr;        // from the command line
  int32_t x = INT32_MIN, y = INT32_MIN;  // INT32_MIN: no position given
  HWND owner = nullptr;
};

class BrowserWindow : public ToolkitWindow, private FolderObserver {
 public:
  // A window showing the folder of `path` (a folder or a file in it; null:
  // the current directory), or null when none could be made.
  static BrowserWindow* Open(const wchar_t* path, const BrowserWindowOptions& options);
  ~BrowserWindow() override;

  const std::wstring& Folder() const { return folder_; }
  const std::vector<BrowserItem>& Items() const { return items_; }
  ptrdiff_t FocusedItem() const { return focus_; }
  // The thumbnail's place in client coordinates; empty while it has none.
  RECT ThumbnailRect(size_t index) const;
  // Every image of the list has its thumbnail (or failed to get one).
  bool ThumbnailsDone() const { return pendingThumbnails_ == 0; }
  // How many thumbnails of the last fill came from the folder's index file.
  size_t ThumbnailsFromIndex() const { return fromIndex_; }
  ThumbnailBox Box() const { return box_; }
  static uint32_t OpenCount();

  void OnCommand(UINT id, UINT code, HWND control) override;
  void OnContextMenu(POINT point, bool fromKeyboard) override;
  void OnDestroy() override;
  bool OnEraseBackground(HDC dc) override;
  void OnKey(UINT key, bool down, bool repeat, bool alt) override;
  bool OnMouseButton(MouseButton button, MouseAction action, POINT point, UINT keys) override;
  void OnMouseWheel(int delta, POINT point, UINT keys) override;
  void OnPaint(HDC dc, const PAINTSTRUCT& paint) override;
  void OnScroll(bool vertical, UINT code, UINT position, HWND control) override;
  void OnSize(UINT kind, SIZE size) override;
  void OnTimer(UINT_PTR id) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  friend class ToolkitWindow;  // MakeHeld
  BrowserWindow(const wchar_t* path, const BrowserWindowOptions& options);

  // A finished thumbnail on its way from a worker to the window.
  struct Made {
    uint32_t generation;
    uint32_t key;
    bool ok;
    ThumbnailEntry entry;
  };

  void Place(const BrowserWindowOptions& options);
  void ShowFolder(const std::wstring& folder);
  // Reads the folder (and in the multi-folder view its sub-folders).
  std::vector<BrowserItem> ReadItems();
  void Fill(bool onlyWhenChanged);
  void StopThumbnails();
  void StartThumbnails();
  void TakeMadeThumbnails();
  void WriteIndexInBackground();
  void Layout();
  void FitWindowToItems();
  void RefreshTitle();
  void SetScroll(int32_t y);
  void EnsureVisible(ptrdiff_t index);
  void SetFocusItem(ptrdiff_t index);
  void OpenItems(const std::vector<size_t>& which);
  void Sort();
  // The selected files (not folders), or the focused one when none is selected.
  std::vector<std::wstring> SelectedFiles() const;
  // After a move or a delete: items whose files are gone leave the list.
  void DropVanishedItems();
  // The whole grid as one bitmap file.
  void SavePage();
  // The items that meet `area` (grid coordinates less `scroll`).
  void DrawItems(HDC dc, const RECT& area, int32_t scroll);
  bool IsMaximized() const { return IsZoomed(Handle()) != 0; }
  int32_t VisibleRows() const;
  // On the watcher's thread: only posts the refill command.
  void FolderChanged() override;

  Options& settings_;
  std::wstring folder_;  // ends in a separator
  std::optional<std::wstring> title_;
  std::vector<BrowserItem> items_;
  std::vector<ThumbnailEntry> thumbs_;  // by item key; shown pixels over the background
  size_t images_ = 0;
  ptrdiff_t focus_ = -1;
  ptrdiff_t pressed_ = -1;
  BrowserSortOrder order_;
  bool multiFolder_ = false;
  bool cacheSizeWins_;
  bool writeIndexWhenDone_ = false;
  bool madeFresh_ = false;
  ThumbnailBox box_;
  DisplaySwitches switches_;
  GridLayout grid_;
  int32_t scroll_ = 0;
  int32_t lineHeight_ = 16;
  Ref<FolderListing> observed_;
  Ref<FolderListingManager> listings_;
  ThumbnailIndex index_;  // what the folder's index file held at the fill
  size_t fromIndex_ = 0;
  size_t pendingThumbnails_ = 0;
  uint32_t generation_ = 0;
  TaskGroup makers_;
  TaskGroup writer_;  // the index file; never cancelled, so a started index is finished
  CancelFlag cancel_{0};
  std::mutex madeLock_;
  std::vector<Made> made_;
  struct HandOver {
    uint32_t tag;
    std::vector<uint8_t> payload;
  };
  std::vector<HandOver> handOvers_;
};

}  // namespace pv
