// The file operations on real folders: after each, the folders hold exactly
// what the user asked for, and nothing else is lost or overwritten.
#include "browse/file_operations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "browse/image_cache.h"
#include "core/text.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "resources/resource_ids.h"
#include "tests/test_support.h"
#include "tests/win/window_test_support.h"
#include "tools/image_writers.h"
#include "toolkit/command_ids.h"
#include "viewer/viewer_window.h"

namespace fs = std::filesystem;

namespace {

// Relative path ("s/a.bmp") to contents.
using Files = std::map<std::string, std::string>;

Files ReadTree(const fs::path& root) {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[fs::relative(e.path(), root).generic_string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

struct Case {
  const char* name;
  Files before;
  std::function<bool(const std::function<std::wstring(const char*)>& path, pv::ImageCache& cache)> run;
  bool result;
  Files after;
  size_t boxes = 0;             // dialog boxes answered (No, else OK)
  const char* readOnly = "";    // made read-only before
  const char* heldOpen = "";    // open without sharing while the operation runs
  const wchar_t* typed = nullptr;  // the rename dialog's answer
  const char* trashed = "";        // to be found in Wine's trash, when it keeps one
};

// Wine moves deleted files to the desktop's trash ($HOME/.local/share/Trash)
// where there is one. True when the trash holds the file with these
// contents (its entry is then removed), or when there is no trash.
bool InTrash(const fs::path& file, const std::string& contents) {
  // Wine gives the Linux home as \??\Z:\root.
  wchar_t home[512];
  const DWORD n = GetEnvironmentVariableW(L"WINEHOMEDIR", home, 512);
  const fs::path trash = fs::path(n > 4 && n < 512 ? home + 4 : L"") / ".local/share/Trash";
  if (!fs::exists(trash / "info")) {
    std::printf("no trash: deletions are not followed there\n");
    return true;
  }
  // Its origin as a Linux path ends like the file's Windows path.
  const std::string tail = fs::relative(file, file.parent_path().parent_path().parent_path().parent_path()).generic_string();
  for (const auto& e : fs::directory_iterator(trash / "info")) {
    std::ifstream in(e.path());
    const std::string info(std::istreambuf_iterator<char>(in), {});
    const fs::path kept = trash / "files" / e.path().stem();
    if (info.find(tail + "\n") == std::string::npos || !fs::exists(kept)) continue;
    std::ifstream data(kept, std::ios::binary);
    const bool same = std::string(std::istreambuf_iterator<char>(data), {}) == contents;
    in.close(), data.close();
    fs::permissions(kept, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(kept), fs::remove(e.path());
    return same;
  }
  return false;
}

TEST(FileOperationsOnDisk, EachOperationLeavesExactlyWhatWasAsked) {
  using pv::FileOp;
  const Files three = {{"s/a.bmp", "A"}, {"s/a.bmp.pva", "a-adj"}, {"s/b.bmp", "B"}, {"s/c.bmp", "C"}, {"t/x", "X"}};
  auto with = [](Files f, std::initializer_list<std::pair<const std::string, std::string>> more, 
                 std::initializer_list<std::string> gone = {}) {
    for (const auto& g : gone) f.erase(g);
    for (const auto& m : more) f[m.first] = m.second;
    return f;
  };
  const std::vector<Case> cases = {
      {"delete with companion", three, [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/a.bmp")}, false); },
       true, with(three, {}, {"s/a.bmp", "s/a.bmp.pva"}), 0, "", "", nullptr, "s/a.bmp"},
      {"delete several", three,
       [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/a.bmp"), p("s/b.bmp")}, false); }, true,
       with(three, {}, {"s/a.bmp", "s/a.bmp.pva", "s/b.bmp"})},
      {"delete read-only", three, [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/b.bmp")}, false); },
       true, with(three, {}, {"s/b.bmp"}), 0, "s/b.bmp", "", nullptr, "s/b.bmp"},
      {"delete refused is reported", three,
       [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/b.bmp")}, false); }, false, three, 1, "",
       "s/b.bmp"},
      {"wipe with companion", three, [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/a.bmp")}, true); },
       true, with(three, {}, {"s/a.bmp", "s/a.bmp.pva"})},
      {"wipe several, read-only", three,
       [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/b.bmp"), p("s/c.bmp")}, true); }, true,
       with(three, {}, {"s/b.bmp", "s/c.bmp"}), 0, "s/c.bmp"},
      {"wipe refused keeps the file", three,
       [](auto& p, auto& c) { return pv::DeleteFiles(nullptr, &c, {p("s/b.bmp")}, true); }, false, three, 1, "",
       "s/b.bmp"},
      {"copy with companion", three,
       [](auto& p, auto& c) { return pv::CopyFileToFolder(nullptr, &c, FileOp::Copy, p("t"), {p("s/a.bmp")}); }, true,
       with(three, {{"t/a.bmp", "A"}, {"t/a.bmp.pva", "a-adj"}})},
      {"copy into its own folder", three,
       [](auto& p, auto& c) { return pv::CopyFileToFolder(nullptr, &c, FileOp::Copy, p("s"), {p("s/b.bmp")}); }, false,
       three},
      {"copy onto a name taken, answered No", with(three, {{"t/b.bmp", "old"}}),
       [](auto& p, auto& c) { return pv::CopyFileToFolder(nullptr, &c, FileOp::Copy, p("t"), {p("s/b.bmp")}); }, true,
       with(three, {{"t/b.bmp", "old"}}), 1},
      {"move several", three,
       [](auto& p, auto& c) {
         return pv::CopyFileToFolder(nullptr, &c, FileOp::Move, p("t"), {p("s/a.bmp"), p("s/c.bmp")});
       },
       true, with(three, {{"t/a.bmp", "A"}, {"t/a.bmp.pva", "a-adj"}, {"t/c.bmp", "C"}}, {"s/a.bmp", "s/a.bmp.pva", "s/c.bmp"})},
      {"move onto a read-only name, answered No", with(three, {{"t/c.bmp", "old"}}),
       [](auto& p, auto& c) { return pv::CopyFileToFolder(nullptr, &c, FileOp::Move, p("t"), {p("s/c.bmp")}); }, true,
       with(three, {{"t/c.bmp", "old"}}), 1, "t/c.bmp"},
      {"rename with companion", three,
       [](auto& p, auto& c) { return pv::RenameImageTo(nullptr, &c, p("s/a.bmp"), L"z") == p("s/z.bmp"); }, true,
       with(three, {{"s/z.bmp", "A"}, {"s/z.bmp.pva", "a-adj"}}, {"s/a.bmp", "s/a.bmp.pva"})},
      {"rename through the dialog", three,
       [](auto& p, auto& c) { return pv::RenameImageFile(nullptr, &c, p("s/b.bmp")) == p("s/typed.bmp"); }, true,
       with(three, {{"s/typed.bmp", "B"}}, {"s/b.bmp"}), 1, "", "", L"typed"},
      {"rename onto a name taken", three,
       [](auto& p, auto& c) { return pv::RenameImageTo(nullptr, &c, p("s/a.bmp"), L"b").empty(); }, true, three, 1},
      {"save over a read-only file", with(three, {{"t/s.bmp", "old"}}),
       [](auto& p, auto&) {
         pv::Ref<pv::ImageBuffer> image = pvtest::SolidImage(3, 2, 0xFF112233);
         return pv::SaveBitmapFile(*image, nullptr, p("t/s.bmp"));
       },
       false, with(three, {{"t/s.bmp", "old"}}), 0, "t/s.bmp"},
      {"save into a missing folder", three,
       [](auto& p, auto&) {
         pv::Ref<pv::ImageBuffer> image = pvtest::SolidImage(3, 2, 0xFF112233);
         return pv::SaveBitmapFile(*image, nullptr, p("none/s.bmp"));
       },
       false, three},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path root = pvtest::ScratchDir("file-operations");
    for (const auto& [name, contents] : c.before) {
      fs::create_directories((root / name).parent_path());
      std::ofstream(root / name, std::ios::binary) << contents;
    }
    auto path = [&](const char* name) { return (root / name).make_preferred().wstring(); };
    if (c.readOnly[0]) SetFileAttributesW(path(c.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE held = c.heldOpen[0] ? CreateFileW(path(c.heldOpen).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                : INVALID_HANDLE_VALUE;
    pv::ImageCache cache;
    // A window watches the source folder: what it sees next is the folder
    // as it now is.
    struct : pv::FolderObserver {
      void FolderChanged() override {}
    } observer;
    pv::Ref<pv::FolderListing> watched = cache.Listings().OpenListing(path("s").c_str(), false, &observer);
    watched->NextEntry(nullptr);
    bool result;
    std::vector<std::wstring> boxes;
    {
      pvtest::DialogAnswerer answer(IDNO, c.typed, PV_RENAME_NEW);
      result = c.run(path, cache);
      boxes = answer.Captions();
    }
    std::set<std::wstring> listed, wanted;
    pv::Ref<pv::FolderListing> now = cache.Listings().OpenListing(path("s").c_str());
    for (const wchar_t* e = now->NextEntry(nullptr); e; e = now->NextEntry(e))
      if (e[0] != L'.') listed.insert(e);
    for (const auto& f : c.after)
      if (f.first.starts_with("s/")) wanted.insert(pvtest::Widen(f.first.substr(2)));
    EXPECT_EQ(listed, wanted);
    watched->RemoveObserver(&observer);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(ReadTree(root), c.after);
    EXPECT_EQ(boxes.size(), c.boxes);
    if (c.trashed[0]) {
      EXPECT_TRUE(InTrash(root / c.trashed, c.before.at(c.trashed)));
    }
    for (const auto& f : c.before) SetFileAttributesW(path(f.first.c_str()).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(FileCommands, ClipboardDeleteAndCaptureInAViewerWindow) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  pv::ImageCache cache;
  pv::Viewer().cache = &cache;
  const fs::path dir = pvtest::ScratchDir("file-commands");
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
    const uint32_t w = name[0] == 'a' ? 61 : 40;
    ASSERT_TRUE(pv::WriteWholeFile((dir / name).wstring(), pv::EncodeBmp32(pvtest::Gradient(w, 30, 90), w, 30)));
  }
  pv::ViewerWindow* w = pv::ViewerWindow::Open((dir / "a.bmp").c_str(), {});
  ASSERT_TRUE(w);
  const HWND window = w->Handle();
  auto command = [&](UINT id) { SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); };
  auto exists = [&](const char* name) { return fs::exists(dir / name); };
  pvtest::PumpMessages(200);
  const std::vector<uint8_t> shown = pvtest::ClientPixels(window);
  command(pv::kCmdCopy);
  command(pv::kCmdNextImage);
  EXPECT_EQ(w->View()->BaseSize().width, 40u);
  command(pv::kCmdPaste);
  pvtest::PumpMessages(200);
  EXPECT_EQ(std::wstring(w->CurrentFileName()), L"<clipboard>");
  EXPECT_NE(pvtest::TitleOf(window).find(L"<clipboard>"), std::wstring::npos);
  EXPECT_EQ(pvtest::ClientPixels(window), shown) << "the pasted image shows the copied pixels";
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "pvclipb.bmp")) << "the file it came through is gone";
  {
    pvtest::DialogAnswerer yes(IDYES);
    command(pv::kCmdDelete);  // greyed for an image that is no file
    EXPECT_TRUE(yes.Captions().empty());
  }
  // A damaged block on the clipboard is refused and told; the image stays.
  ASSERT_TRUE(OpenClipboard(window));
  EmptyClipboard();
  HGLOBAL bad = GlobalAlloc(GMEM_MOVEABLE, 20);
  std::memset(GlobalLock(bad), 0x28, 20);
  GlobalUnlock(bad);
  SetClipboardData(CF_DIB, bad);
  CloseClipboard();
  {
    pvtest::DialogAnswerer ok(IDOK);
    command(pv::kCmdPaste);
    EXPECT_EQ(ok.Captions(), std::vector<std::wstring>{L"Pixvane"});
  }
  EXPECT_EQ(std::wstring(w->CurrentFileName()), L"<clipboard>");

  ASSERT_TRUE(w->OpenFile((dir / "a.bmp").c_str(), false, false));
  {
    pvtest::DialogAnswerer no(IDNO);
    command(pv::kCmdDeleteAndNext);
  }
  EXPECT_TRUE(exists("a.bmp")) << "answered No";
  {
    pvtest::DialogAnswerer yes(IDYES);
    command(pv::kCmdDeleteAndNext);
  }
  EXPECT_FALSE(exists("a.bmp"));
  EXPECT_EQ(std::wstring(w->CurrentFileName()), (dir / "b.bmp").wstring()) << "the next image is shown";
  {
    pvtest::DialogAnswerer yes(IDYES);
    command(pv::kCmdWipe);
  }
  EXPECT_EQ(ReadTree(dir).size(), 1u) << "c.bmp only";
  EXPECT_EQ(w->CurrentFileName(), nullptr) << "the wiped file is no longer named";

  // The wallpaper is the shown image, written as a bitmap in the Pictures folder.
  command(pv::kCmdSetWallpaper);
  wchar_t wallpaper[MAX_PATH] = L"";
  SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, wallpaper, 0);
  EXPECT_TRUE(std::wstring(wallpaper).ends_with(L"\\Pixvane desktop.bmp")) << pv::WideToUtf8(wallpaper);
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  pv::Status status;
  EXPECT_TRUE(pvtest::DecodeToRgba(wallpaper, &rgba, &width, &height, &status));
  EXPECT_EQ(rgba, pvtest::Gradient(40, 30, 90));

  command(pv::kCmdCaptureScreen);
  EXPECT_EQ(std::wstring(w->CurrentFileName()), L"<capture>");
  EXPECT_EQ(w->View()->BaseSize(), (pv::ImageSize{uint32_t(GetSystemMetrics(SM_CXSCREEN)), uint32_t(GetSystemMetrics(SM_CYSCREEN))}));
  DestroyWindow(window);
  cache.CancelPrefetches();
  pv::Viewer().cache = nullptr;
}

}  // namespace
