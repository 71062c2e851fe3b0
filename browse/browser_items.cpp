#include "browse/browser_items.h"

#include <algorithm>

#include "browse/file_names.h"
#include "core/path_name.h"
#include "core/text.h"

namespace pv {

std::optional<BrowserItem> MakeBrowserItem(const std::wstring& folder, const wchar_t* name,
                                           const FolderEntryInfo& info) {
  BrowserItem item;
  if (info.directory) {
    if (name[0] == L'.' && name[1] == 0) return std::nullopt;
    item.kind = BrowserItemKind::Folder;
  } else if (PathEndsWithNoCase(name, L".pvs")) {
    item.kind = BrowserItemKind::Script;
  } else if (IsImageName(name) >= 0) {
    item.kind = BrowserItemKind::Image;
  } else {
    return std::nullopt;
  }
  item.path = folder + name;
  if (item.path.size() >= kMaxPathUnits) return std::nullopt;
  item.nameOffset = folder.size();
  item.size = info.size;
  item.time = info.lastWriteTime;
  return item;
}

BrowserSortOrder SortOrderFrom(uint8_t stored) {
  return stored >= 1 && stored <= 5 ? static_cast<BrowserSortOrder>(stored) : BrowserSortOrder::Name;
}

namespace {

// The folder part a path sorts under in the by-folder order: a folder item
// stands for its whole path.
std::wstring_view FolderKey(const BrowserItem& item) {
  std::wstring_view path(item.path);
  return item.kind == BrowserItemKind::Folder ? path : path.substr(0, item.nameOffset);
}

int CompareNames(const BrowserItem& a, const BrowserItem& b) { return CompareFileNames(a.Name(), b.Name()); }

// Negative when a goes before b.
int CompareItems(const BrowserItem& a, const BrowserItem& b, BrowserSortOrder order) {
  auto three = [](auto x, auto y) { return x < y ? -1 : y < x ? 1 : 0; };
  switch (order) {
    case BrowserSortOrder::PixelCount: {
      const bool ai = a.kind == BrowserItemKind::Image, bi = b.kind == BrowserItemKind::Image;
      if (ai != bi) return ai ? -1 : 1;
      if (!ai) break;
      if (int c = three(uint64_t{a.width} * a.height, uint64_t{b.width} * b.height)) return c;
      if (int c = three(a.bitsPerPixel, b.bitsPerPixel)) return c;
      break;
    }
    case BrowserSortOrder::Size:
      if (int c = three(a.size, b.size)) return c;
      break;
    case BrowserSortOrder::Time:
      if (int c = three(a.time, b.time)) return c;
      break;
    case BrowserSortOrder::Folder: {
      const bool ad = a.kind == BrowserItemKind::Folder && a.Name()[0] == L'.';
      const bool bd = b.kind == BrowserItemKind::Folder && b.Name()[0] == L'.';
      if (ad != bd) return ad ? -1 : 1;
      const std::wstring fa(FolderKey(a)), fb(FolderKey(b));
      if (int c = CompareFileNames(fa.c_str(), fb.c_str())) return c;
      break;
    }
    case BrowserSortOrder::Name:
      break;
  }
  return CompareNames(a, b);
}

}  // namespace

void SortBrowserItems(std::vector<BrowserItem>& items, BrowserSortOrder order) {
  std::stable_sort(items.begin(), items.end(), [order](const BrowserItem& a, const BrowserItem& b) {
    if (a.IsParentLink() != b.IsParentLink()) return a.IsParentLink();
    return CompareItems(a, b, order) < 0;
  });
}

bool ApplyDisplayCommand(DisplaySwitches& switches, uint32_t command) {
  uint8_t* b = switches.bytes;
  switch (command) {
    case 22026:
      b[0] = !b[0];
      return true;
    case 22027:
      b[1] = !b[1];
      return true;
    case 22028:
    case 22029:
    case 22030:
    case 22031: {
      // Choosing the number of name lines it already has turns the names off.
      const uint8_t lines = static_cast<uint8_t>(command - 22027);
      b[2] = b[2] == lines ? 0 : lines;
      return true;
    }
    case 22032:
      b[3] = !b[3];
      return true;
    case 22033:
      b[6] = !b[6];
      return true;
    case 22034:
      b[4] = !b[4];
      return true;
    case 22035:
      b[5] = !b[5];
      return true;
    case 22036:
      b[7] = !b[7];
      return true;
    default:
      return false;
  }
}

GridLayout LayoutGrid(std::vector<BrowserItem>& items, const GridMetrics& m, const DisplaySwitches& switches) {
  GridLayout g;
  const int32_t line = m.lineHeight;
  g.textHeight = switches.NameLines() * line + (switches.bytes[7] ? line + 5 : 0);
  for (int i : {3, 4, 5}) g.textHeight += switches.bytes[i] ? line : 0;
  if (g.textHeight == 0) g.textHeight = line / 5;
  g.cellWidth = m.boxWidth + 5 + m.spacing;
  g.cellHeight = m.boxHeight + 2 + m.spacing + g.textHeight;
  const int32_t left = m.spacing + 2;
  int32_t x = left, y = left, columns = 0, rowColumns = 0;
  bool any = false;
  for (BrowserItem& item : items) {
    item.hidden = (item.kind == BrowserItemKind::Folder && !switches.ShowsFolders()) ||
                  (item.kind == BrowserItemKind::Script && !switches.ShowsScripts());
    if (item.hidden) continue;
    if (any && x + g.cellWidth > m.availableWidth) {
      x = left;
      y += g.cellHeight;
      rowColumns = 0;
    }
    item.x = x;
    item.y = y;
    x += g.cellWidth;
    columns = std::max(columns, ++rowColumns);
    g.width = std::max(g.width, std::min(x, m.availableWidth));
    any = true;
    ++g.visible;
  }
  g.columns = std::max(columns, 1);
  g.height = any ? y + g.cellHeight + 2 : left;
  return g;
}

ptrdiff_t ItemAt(const std::vector<BrowserItem>& items, const GridLayout& layout, int32_t x, int32_t y) {
  for (size_t i = 0; i < items.size(); ++i) {
    const BrowserItem& item = items[i];
    if (!item.hidden && x >= item.x && x < item.x + layout.cellWidth && y >= item.y && y < item.y + layout.cellHeight)
      return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

ptrdiff_t MoveFocus(const std::vector<BrowserItem>& items, ptrdiff_t focus, FocusMove move, int32_t columns,
                    int32_t rows) {
  // Moves count visible items only; positions are taken among them.
  std::vector<size_t> visible;
  ptrdiff_t at = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].hidden) continue;
    if (static_cast<ptrdiff_t>(i) == focus) at = static_cast<ptrdiff_t>(visible.size());
    visible.push_back(i);
  }
  if (visible.empty()) return -1;
  const ptrdiff_t last = static_cast<ptrdiff_t>(visible.size()) - 1;
  const ptrdiff_t page = ptrdiff_t{std::max(columns, 1)} * std::max(rows, 1);
  ptrdiff_t to;
  if (at < 0) {
    to = move == FocusMove::End ? last : 0;
  } else {
    switch (move) {
      case FocusMove::Left:
        to = at - 1;
        break;
      case FocusMove::Right:
        to = at + 1;
        break;
      case FocusMove::Up:
        to = at - std::max(columns, 1);
        break;
      case FocusMove::Down:
        to = at + std::max(columns, 1);
        break;
      case FocusMove::PageUp:
        to = at - page;
        break;
      case FocusMove::PageDown:
        to = at + page;
        break;
      case FocusMove::Home:
        to = 0;
        break;
      default:
        to = last;
        break;
    }
  }
  return static_cast<ptrdiff_t>(visible[static_cast<size_t>(std::clamp<ptrdiff_t>(to, 0, last))]);
}

std::vector<size_t> ItemsToOpen(const std::vector<BrowserItem>& items, ptrdiff_t focus) {
  std::vector<size_t> out;
  std::optional<size_t> folder;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].selected) continue;
    if (items[i].kind != BrowserItemKind::Folder) {
      out.push_back(i);
    } else if (!folder) {
      folder = i;
    }
  }
  if (folder) out.push_back(*folder);
  if (out.empty() && focus >= 0 && static_cast<size_t>(focus) < items.size()) out.push_back(static_cast<size_t>(focus));
  return out;
}

void SelectOnly(std::vector<BrowserItem>& items, size_t index) {
  for (size_t i = 0; i < items.size(); ++i) items[i].selected = i == index;
}

std::wstring BrowserTitle(const BrowserTitleParts& p) {
  std::wstring title;
  if (p.given) {
    title = *p.given;
  } else if (p.fullPath) {
    title = p.folder;
  } else {
    std::wstring_view folder(p.folder);
    // A drive root keeps its whole path; other folders show their last name.
    while (folder.size() > 1 && IsPathSeparator(folder.back()) && folder[folder.size() - 2] != L':')
      folder.remove_suffix(1);
    title = std::wstring(FileNamePart(folder).empty() ? folder : FileNamePart(folder));
  }
  if (p.multiFolder) title += L" + ...";
  if (p.showCount && p.images > 0) {
    wchar_t count[32];
    if (FormatText(count, 32, L" | %u", static_cast<unsigned>(p.images)) > 0) title += count;
  }
  return title + L" | " + p.caption + L" | Pixvane";
}

}  // namespace pv
