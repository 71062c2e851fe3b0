#include "browse/browser_items.h"

#include <gtest/gtest.h>

#include "codecs/register_decoders.h"

namespace {

using pv::BrowserItem;
using pv::BrowserItemKind;
using pv::FocusMove;

// Entries of one folder as the listing gives them: name, directory, size, time.
std::vector<BrowserItem> Folder(std::initializer_list<std::tuple<const wchar_t*, bool, uint64_t, uint64_t>> entries) {
  pv::RegisterDecoders();
  std::vector<BrowserItem> items;
  for (const auto& [name, dir, size, time] : entries) {
    if (auto item = pv::MakeBrowserItem(L"/pics/", name, {size, time, dir, false})) items.push_back(*item);
  }
  return items;
}

std::wstring Names(const std::vector<BrowserItem>& items) {
  std::wstring out;
  for (const BrowserItem& i : items) out += std::wstring(out.empty() ? L"" : L" ") + i.Name();
  return out;
}

TEST(BrowserItems, KindsAndSortOrders) {
  std::vector<BrowserItem> items = Folder({{L"img10.png", false, 50, 3}, {L"notes.txt", false, 1, 1}, {L".", true, 0, 0},
                                           {L"..", true, 0, 9}, {L"img9.jpg", false, 70, 1}, {L"show.pvs", false, 5, 7},
                                           {L"Sub", true, 0, 2}, {L".git", true, 0, 5}, {L"Pixvane.pvi", false, 2, 2},
                                           {L"big.bmp", false, 10, 8}});
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[5].kind, BrowserItemKind::Folder);
  EXPECT_EQ(items[2].kind, BrowserItemKind::Image);
  EXPECT_EQ(items[3].kind, BrowserItemKind::Script);
  // Thumbnails made: pixel counts and depths.
  for (auto [name, w, h, bpp] :
       {std::tuple{L"img10.png", 10u, 10u, 32u}, {L"img9.jpg", 20u, 5u, 24u}, {L"big.bmp", 100u, 100u, 8u}}) {
    for (BrowserItem& i : items)
      if (std::wstring(i.Name()) == name) std::tie(i.width, i.height, i.bitsPerPixel) = std::tie(w, h, bpp);
  }
  struct Case {
    pv::BrowserSortOrder order;
    const wchar_t* expected;
  } cases[] = {
      {pv::BrowserSortOrder::Name, L".. .git big.bmp img9.jpg img10.png show.pvs Sub"},
      {pv::BrowserSortOrder::PixelCount, L".. img9.jpg img10.png big.bmp .git show.pvs Sub"},
      {pv::BrowserSortOrder::Size, L".. .git Sub show.pvs big.bmp img10.png img9.jpg"},
      {pv::BrowserSortOrder::Time, L".. img9.jpg Sub img10.png .git show.pvs big.bmp"},
      {pv::BrowserSortOrder::Folder, L".. .git big.bmp img9.jpg img10.png show.pvs Sub"},
  };
  for (const Case& c : cases) {
    pv::SortBrowserItems(items, c.order);
    EXPECT_EQ(Names(items), c.expected) << static_cast<int>(c.order);
  }
  EXPECT_EQ(pv::SortOrderFrom(9), pv::BrowserSortOrder::Name);
}

TEST(BrowserItems, MultiFolderOrderGroupsByFolder) {
  pv::RegisterDecoders();
  std::vector<BrowserItem> items;
  for (auto [folder, name, dir] : {std::tuple{L"/p/b/", L"x.png", false}, {L"/p/", L"b", true}, {L"/p/a/", L"z.png", false},
                                   {L"/p/", L"a", true}, {L"/p/a/", L"c.png", false}, {L"/p/", L".hidden", true}})
    items.push_back(*pv::MakeBrowserItem(folder, name, {0, 0, dir, false}));
  pv::SortBrowserItems(items, pv::BrowserSortOrder::Folder);
  EXPECT_EQ(Names(items), L".hidden a c.png z.png b x.png");
}

TEST(BrowserItems, GridLayoutCellsRowsAndHiddenItems) {
  struct Case {
    const char* what;
    pv::DisplaySwitches switches;
    int32_t width;
    int32_t cellWidth, cellHeight, columns, gridHeight;
    size_t visible;
  } cases[] = {
      // Defaults: one name line, the size line and the spaced line: 16 + 16 + 21.
      {"defaults", {}, 800, 175, 225, 4, 12 + 2 * 225 + 2, 7},
      {"no text at all", {{1, 0, 0, 0, 0, 0, 0, 0}}, 800, 175, 175, 4, 12 + 2 * 175 + 2, 7},
      {"four name lines and every line", {{1, 1, 4, 1, 1, 1, 1, 1}}, 800, 175, 172 + 16 * 7 + 21, 4, 12 + 2 * 305 + 2, 8},
      {"no folders", {{0, 0, 1, 0, 0, 0, 0, 0}}, 800, 175, 188, 4, 12 + 2 * 188 + 2, 5},
      {"narrower than a cell", {}, 100, 175, 225, 1, 12 + 7 * 225 + 2, 7},
  };
  std::vector<BrowserItem> items = Folder({{L"a", true, 0, 0}, {L"b", true, 0, 0}, {L"s.pvs", false, 0, 0}});
  for (int i = 0; i < 5; ++i) items.push_back(Folder({{L"p.png", false, 0, 0}})[0]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const pv::GridLayout g = pv::LayoutGrid(items, {160, 160, 10, 16, c.width}, c.switches);
    EXPECT_EQ(std::tie(g.cellWidth, g.cellHeight, g.columns, g.height),
              std::tie(c.cellWidth, c.cellHeight, c.columns, c.gridHeight));
    EXPECT_EQ(g.visible, c.visible);
    // The first visible item sits at the top-left corner; hit tests find it.
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].hidden) continue;
      EXPECT_EQ(std::tie(items[i].x, items[i].y), std::tuple(12, 12));
      EXPECT_EQ(pv::ItemAt(items, g, 13, 13), static_cast<ptrdiff_t>(i));
      break;
    }
  }
  EXPECT_EQ(pv::ItemAt(items, pv::LayoutGrid(items, {160, 160, 10, 16, 800}, {}), 5, 5), -1);
}

TEST(BrowserItems, FocusMovesSkipHiddenItems) {
  std::vector<BrowserItem> items;
  for (int i = 0; i < 12; ++i) items.push_back(Folder({{L"p.png", false, 0, 0}})[0]);
  items[3].hidden = items[4].hidden = true;  // visible: 0 1 2 5 6 7 8 9 10 11
  struct Case {
    ptrdiff_t from;
    FocusMove move;
    ptrdiff_t to;
  } cases[] = {
      {-1, FocusMove::Right, 0},  {-1, FocusMove::End, 11}, {2, FocusMove::Right, 5}, {5, FocusMove::Left, 2},
      {0, FocusMove::Left, 0},    {1, FocusMove::Down, 6},  {6, FocusMove::Up, 1},    {1, FocusMove::PageDown, 9},
      {11, FocusMove::PageUp, 5}, {7, FocusMove::Home, 0},  {0, FocusMove::End, 11},  {10, FocusMove::Down, 11},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pv::MoveFocus(items, c.from, c.move, 3, 2), c.to) << c.from << " move " << static_cast<int>(c.move);
  for (BrowserItem& i : items) i.hidden = true;
  EXPECT_EQ(pv::MoveFocus(items, 0, FocusMove::Right, 3, 2), -1);
}

TEST(BrowserItems, DisplayCommandsOpenOrderAndTitle) {
  pv::DisplaySwitches s;
  for (auto [command, byte, value] : {std::tuple{22028u, 2, 0}, {22028u, 2, 1}, {22030u, 2, 3}, {22026u, 0, 0},
                                      {22027u, 1, 1}, {22033u, 6, 1}, {22036u, 7, 0}}) {
    EXPECT_TRUE(pv::ApplyDisplayCommand(s, command));
    EXPECT_EQ(s.bytes[byte], value) << command;
  }
  EXPECT_FALSE(pv::ApplyDisplayCommand(s, 22037));

  std::vector<BrowserItem> items = Folder(
      {{L"a.png", false, 0, 0}, {L"F", true, 0, 0}, {L"G", true, 0, 0}, {L"b.pvs", false, 0, 0}, {L"c.png", false, 0, 0}});
  EXPECT_EQ(pv::ItemsToOpen(items, 4), std::vector<size_t>{4});
  EXPECT_TRUE(pv::ItemsToOpen(items, -1).empty());
  for (size_t i : {1, 2, 3, 4}) items[i].selected = true;
  EXPECT_EQ(pv::ItemsToOpen(items, 0), (std::vector<size_t>{3, 4, 1}));
  pv::SelectOnly(items, 2);
  EXPECT_EQ(pv::ItemsToOpen(items, 0), std::vector<size_t>{2});

  struct Case {
    pv::BrowserTitleParts parts;
    const wchar_t* expected;
  } cases[] = {
      {{L"C:\\Photos\\2024\\", {}, L"Index", false, false, true, 12}, L"2024 | 12 | Index | Pixvane"},
      {{L"C:\\Photos\\2024", {}, L"Index", true, true, true, 0}, L"C:\\Photos\\2024 + ... | Index | Pixvane"},
      {{L"C:\\", {}, L"Index", false, false, false, 3}, L"C:\\ | Index | Pixvane"},
      {{L"C:\\x", L"Mine", L"Index", false, false, true, 2}, L"Mine | 2 | Index | Pixvane"},
  };
  for (const Case& c : cases) EXPECT_EQ(pv::BrowserTitle(c.parts), c.expected);
}

}  // namespace
