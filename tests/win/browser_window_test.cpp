// A browser window inside the test process on folders the test makes.
#include "viewer/browser_window_win.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/text.h"
#include "tests/test_support.h"
#include "tests/win/window_test_support.h"
#include "tools/image_writers.h"
#include "viewer/pixvane_windows.h"
#include "viewer/viewer_window.h"

namespace fs = std::filesystem;

namespace {

using pvtest::PumpMessages;

std::vector<std::wstring> opened;

class BrowserWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::ReadProcessorFeatures();
    pv::RegisterDecoders();
    pv::Viewer().cache = &cache_;
    pv::Browser().options = &options_;
    // Opening an image makes a real viewer window beside the browser.
    opened.clear();
    pv::Viewer().openViewer = [](const wchar_t* file, HWND) {
      opened.push_back(file);
      pv::ViewerWindow::Open(file, {});
    };
    dir_ = pvtest::ScratchDir("browser-window");
    Write("b.bmp", 40, 30, 10);
    Write("a10.bmp", 50, 20, 20);
    Write("a9.bmp", 30, 60, 30);
    fs::create_directory(fs::path(dir_) / "sub");
    pv::WriteWholeFile(Path("show.pvs"), {'x'});
  }
  void TearDown() override {
    for (HWND w : pv::FindPixvaneWindows()) DestroyWindow(w);
    cache_.CancelPrefetches();
    pv::Viewer().cache = nullptr;
    pv::Viewer().openViewer = nullptr;
    pv::Viewer().openBrowser = nullptr;
    pv::Browser().options = nullptr;
  }
  void Write(const char* name, uint32_t w, uint32_t h, uint8_t blue) {
    images_[name] = pvtest::Gradient(w, h, blue);
    ASSERT_TRUE(pv::WriteWholeFile(Path(name), pv::EncodeBmp32(images_[name], w, h)));
  }
  std::wstring Path(const char* name) { return (fs::path(dir_) / name).wstring(); }
  pv::BrowserWindow* Open() {
    pv::BrowserWindow* w = pv::BrowserWindow::Open(pvtest::Widen(dir_).c_str(), {});
    if (w) {
      EXPECT_TRUE(pvtest::WaitFor([&] { return w->ThumbnailsDone(); })) << "thumbnails never finished";
    }
    return w;
  }
  std::wstring Names(const pv::BrowserWindow& w) {
    std::wstring out;
    for (const pv::BrowserItem& i : w.Items())
      if (!i.hidden) out += std::wstring(out.empty() ? L"" : L" ") + i.Name();
    return out;
  }
  size_t IndexOf(const pv::BrowserWindow& w, const wchar_t* name) {
    for (size_t i = 0; i < w.Items().size(); ++i)
      if (std::wstring(w.Items()[i].Name()) == name) return i;
    return SIZE_MAX;
  }
  void Key(HWND w, WPARAM key) { SendMessageW(w, WM_KEYDOWN, key, 1); }
  // Whether the screen comes to show the file's own pixels in its thumbnail.
  bool ShowsThumbnail(const pv::BrowserWindow& w, const char* name) {
    RECT r = w.ThumbnailRect(IndexOf(w, pvtest::Widen(name).c_str()));
    MapWindowPoints(w.Handle(), nullptr, reinterpret_cast<POINT*>(&r), 2);
    return pvtest::WaitFor([&] { return pvtest::ScreenPixels(r) == images_[name]; }, 5000);
  }

  pv::ImageCache cache_;
  pv::Options options_;
  std::string dir_;
  std::map<std::string, std::vector<uint8_t>> images_;
};

TEST_F(BrowserWindowTest, GridShowsTheFolderSortedWithTheImagesOwnPixels) {
  pv::BrowserWindow* w = Open();
  ASSERT_TRUE(w);
  const HWND window = w->Handle();
  EXPECT_EQ(Names(*w), L".. a9.bmp a10.bmp b.bmp sub") << "scripts are left out by default";
  EXPECT_EQ(pvtest::TitleOf(window), L"browser-window | 3 | Index | Pixvane");
  for (const char* name : {"a9.bmp", "a10.bmp", "b.bmp"}) EXPECT_TRUE(ShowsThumbnail(*w, name)) << name;
  // Sorting by file size puts the smallest file first; folders weigh nothing.
  SendMessageW(window, WM_COMMAND, pv::kBrSortSize, 0);
  EXPECT_EQ(Names(*w), L".. sub a10.bmp b.bmp a9.bmp");
  EXPECT_EQ(options_.indexSortOrder, 3);
  SendMessageW(window, WM_COMMAND, pv::kBrShowScripts, 0);
  EXPECT_EQ(Names(*w), L".. sub show.pvs a10.bmp b.bmp a9.bmp");

  // A deleted file goes to the recycle bin and leaves the list and the
  // count; Ctrl and a click select it.
  const pv::BrowserItem& b = w->Items()[IndexOf(*w, L"b.bmp")];
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(b.x + 20, b.y + 20));
  const std::vector<uint8_t> bytes = pvtest::ReadFileBytes(pv::WideToUtf8(Path("b.bmp")));
  {
    pvtest::DialogAnswerer yes(IDYES);
    SendMessageW(window, WM_COMMAND, pv::kBrDelete, 0);
  }
  EXPECT_EQ(Names(*w), L".. sub show.pvs a10.bmp a9.bmp");
  EXPECT_EQ(pvtest::TitleOf(window), L"browser-window | 2 | Index | Pixvane");
  EXPECT_FALSE(fs::exists(Path("b.bmp")));
  EXPECT_TRUE(pvtest::InTrash(Path("b.bmp"), std::string(bytes.begin(), bytes.end())));

  // The whole page as one bitmap holds a thumbnail where the grid has it.
  const size_t a9 = IndexOf(*w, L"a9.bmp");
  RECT r = w->ThumbnailRect(a9);
  {
    pvtest::DialogAnswerer save(IDOK, Path("page.bmp").c_str(), 1148);
    SendMessageW(window, WM_COMMAND, pv::kBrSavePage, 0);
  }
  std::vector<uint8_t> page;
  uint32_t pw = 0, ph = 0;
  pv::Status status;
  ASSERT_TRUE(pvtest::DecodeToRgba(Path("page.bmp"), &page, &pw, &ph, &status));
  std::vector<uint8_t> thumb;
  for (LONG y = r.top; y < r.bottom; ++y)
    thumb.insert(thumb.end(), page.begin() + (y * pw + r.left) * 4, page.begin() + (y * pw + r.right) * 4);
  EXPECT_EQ(thumb, images_["a9.bmp"]);
}

TEST_F(BrowserWindowTest, KeysMoveTheFocusEnterOpensAViewerAndCloseOnOpenLeavesIt) {
  pv::BrowserWindow* w = Open();
  ASSERT_TRUE(w);
  HWND window = w->Handle();
  struct Step {
    WPARAM key;
    const wchar_t* focused;
  } steps[] = {{VK_RIGHT, L".."}, {VK_RIGHT, L"a9.bmp"}, {VK_END, L"sub"}, {VK_LEFT, L"b.bmp"}, {VK_HOME, L".."}};
  for (const Step& s : steps) {
    Key(window, s.key);
    ASSERT_GE(w->FocusedItem(), 0);
    EXPECT_EQ(std::wstring(w->Items()[static_cast<size_t>(w->FocusedItem())].Name()), s.focused);
  }
  Key(window, VK_RIGHT);
  Key(window, VK_RETURN);
  ASSERT_TRUE(pvtest::WaitFor([] { return !opened.empty(); }));
  EXPECT_EQ(opened, std::vector<std::wstring>{Path("a9.bmp")});
  EXPECT_TRUE(pvtest::WaitFor([] { return pv::FindPixvaneWindows().size() == 2; })) << "a viewer window beside the browser";

  // A click on a folder walks into it.
  const pv::BrowserItem& sub = w->Items()[IndexOf(*w, L"sub")];
  const LPARAM at = MAKELPARAM(sub.x + 20, sub.y + 20);
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(window, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(w->Folder(), Path("sub") + L"\\");
  EXPECT_EQ(Names(*w), L"..");

  SCOPED_TRACE("close on open leaves the viewer, and an index file opens the browser");
  options_.indexCloseOnOpen = true;
  opened.clear();
  for (HWND v : pv::FindPixvaneWindows()) DestroyWindow(v);
  w = Open();
  ASSERT_TRUE(w);
  window = w->Handle();
  for (WPARAM key : {VK_RIGHT, VK_RIGHT, VK_RETURN}) Key(window, key);
  EXPECT_TRUE(pvtest::WaitFor([&] { return !IsWindow(window); }, 5000)) << "the browser closes after the open";
  EXPECT_EQ(opened, std::vector<std::wstring>{Path("a9.bmp")});
  EXPECT_EQ(pv::FindPixvaneWindows().size(), 1u) << "the viewer stays";
  EXPECT_EQ(pv::BrowserWindow::OpenCount(), 0u);

  pv::Viewer().openBrowser = [](const wchar_t* path, HWND) { pv::BrowserWindow::Open(path, {}); };
  pv::ViewerWindow* v = pv::ViewerWindow::Open(Path("Pixvane.pvi").c_str(), {});
  EXPECT_TRUE(!v || !v->HasImage());
  EXPECT_EQ(pv::BrowserWindow::OpenCount(), 1u);
}

TEST_F(BrowserWindowTest, FolderChangesRefillAndTheIndexFileServesTheSecondOpening) {
  options_.indexAutoCache = true;
  pv::BrowserWindow* w = Open();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ThumbnailsFromIndex(), 0u);
  Write("c.bmp", 20, 20, 40);
  EXPECT_TRUE(pvtest::WaitFor([&] { return Names(*w) == L".. a9.bmp a10.bmp b.bmp c.bmp sub" && w->ThumbnailsDone(); }))
      << pv::WideToUtf8(Names(*w));
  const std::wstring index = Path("Pixvane.pvi");
  EXPECT_TRUE(pvtest::WaitFor([&] { return fs::exists(index); })) << "the index file is written when the thumbnails are made";
  DestroyWindow(w->Handle());
  PumpMessages();

  w = Open();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ThumbnailsFromIndex(), 4u);
  EXPECT_TRUE(ShowsThumbnail(*w, "c.bmp"));
  // A browser asking for another box size makes its thumbnails anew.
  DestroyWindow(w->Handle());
  options_.indexCacheSizeWins = false;
  options_.indexIconWidth = 128;
  w = Open();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ThumbnailsFromIndex(), 0u);
  EXPECT_EQ(w->Box(), (pv::ThumbnailBox{128, 160}));

  // The multi-folder view reads the sub-folders into the list and builds no index file.
  Write("sub/d.bmp", 8, 8, 50);
  SendMessageW(w->Handle(), WM_COMMAND, pv::kBrMultiFolder, 0);
  EXPECT_EQ(Names(*w), L"a9.bmp a10.bmp b.bmp c.bmp d.bmp");
  EXPECT_EQ(pvtest::TitleOf(w->Handle()), L"browser-window + ... | 5 | Index | Pixvane");
  pvtest::DialogAnswerer ok(IDOK);
  SendMessageW(w->Handle(), WM_COMMAND, pv::kBrBuildIndex, 0);
  EXPECT_EQ(ok.Captions(), std::vector<std::wstring>{L"Pixvane"});
}

}  // namespace
