#pragma once
// What the browser window shows of a folder, apart from drawing it: the
// items, their order, where each sits in the grid, the focus moves and
// the selection, and the window's title.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browse/file_system.h"

namespace pv {

enum class BrowserItemKind : uint8_t { Folder = 1, Image = 2, Script = 3 };

struct BrowserItem {
  BrowserItemKind kind = BrowserItemKind::Image;
  std::wstring path;
  size_t nameOffset = 0;
  uint64_t size = 0;
  uint64_t time = 0;  // last write, FILETIME units
  // Of an image once its thumbnail was made; 0 before.
  uint32_t width = 0, height = 0, bitsPerPixel = 0;
  bool hidden = false;
  bool selected = false;
  // The cell's top-left corner in the grid.
  int32_t x = 0, y = 0;
  // Given at the fill, kept through sorting: the window finds the item's
  // thumbnail under it.
  uint32_t key = 0;

  const wchar_t* Name() const { return path.c_str() + nameOffset; }
  bool IsParentLink() const { return kind == BrowserItemKind::Folder && path.compare(nameOffset, 3, L"..") == 0; }
};

// The item for one entry of `folder` (which ends in a separator), or none
// for entries the browser does not show ("." and files of other types).
std::optional<BrowserItem> MakeBrowserItem(const std::wstring& folder, const wchar_t* name,
                                           const FolderEntryInfo& info);

enum class BrowserSortOrder : uint8_t { Name = 1, PixelCount = 2, Size = 3, Time = 4, Folder = 5 };
// A stored order outside 1-5 reads as by name.
BrowserSortOrder SortOrderFrom(uint8_t stored);
// The ".." folder stays first in every order.
void SortBrowserItems(std::vector<BrowserItem>& items, BrowserSortOrder order);

// The display bytes of the settings (offsets 116 to 123, byte i = offset 116 + i).
struct DisplaySwitches {
  uint8_t bytes[8] = {1, 0, 1, 1, 0, 0, 0, 1};
  bool ShowsFolders() const { return bytes[0] != 0; }
  bool ShowsScripts() const { return bytes[1] != 0; }
  uint8_t NameLines() const { return bytes[2] > 4 ? 4 : bytes[2]; }
};
// The display commands 22026 to 22036; false for other ids.
bool ApplyDisplayCommand(DisplaySwitches& switches, uint32_t command);

struct GridMetrics {
  int32_t boxWidth = 160, boxHeight = 160;
  int32_t spacing = 10;
  int32_t lineHeight = 16;
  int32_t availableWidth = 800;
};

struct GridLayout {
  int32_t cellWidth = 0, cellHeight = 0;
  int32_t textHeight = 0;
  int32_t width = 0, height = 0;  // of the whole grid
  int32_t columns = 1;
  size_t visible = 0;
};
// Places the visible items row by row and marks the left-out ones hidden.
GridLayout LayoutGrid(std::vector<BrowserItem>& items, const GridMetrics& metrics, const DisplaySwitches& switches);
// The visible item whose cell holds the grid point, or -1.
ptrdiff_t ItemAt(const std::vector<BrowserItem>& items, const GridLayout& layout, int32_t x, int32_t y);

enum class FocusMove : uint8_t { Left, Right, Up, Down, PageUp, PageDown, Home, End };
// The item the focus goes to from `focus` (-1: none yet), skipping hidden
// items; `rows` is the number of rows a page shows. -1 when nothing is visible.
ptrdiff_t MoveFocus(const std::vector<BrowserItem>& items, ptrdiff_t focus, FocusMove move, int32_t columns,
                    int32_t rows);

// The items an open request acts on, in list order: every selected item
// that is not a folder, then the first selected folder; the focused item
// alone when none is selected.
std::vector<size_t> ItemsToOpen(const std::vector<BrowserItem>& items, ptrdiff_t focus);
// Selects one item and clears the selection of every other.
void SelectOnly(std::vector<BrowserItem>& items, size_t index);

struct BrowserTitleParts {
  std::wstring folder;                // the shown folder's path
  std::optional<std::wstring> given;  // from the command line
  std::wstring caption;               // the browser's word
  bool fullPath = false;
  bool multiFolder = false;
  bool showCount = false;
  size_t images = 0;
};
std::wstring BrowserTitle(const BrowserTitleParts& parts);

}  // namespace pv
