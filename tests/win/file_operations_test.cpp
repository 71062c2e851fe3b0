// The file operations on real folders: after each, the folders hold exactly
// what the user asked for, and nothing else is lost or overwritten.
#include "browse/file_operations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "browse/image_cache.h"
#include "toolkit/resource_ids.h"
#include "tests/test_support.h"
#include "tests/win/window_test_support.h"

namespace fs = std::filesystem;

namespace {

// Relative path ("s/a.bmp") to contents.
using Files = std::map<std::string, std::string>;

Files ReadTree(const fs::path& root) {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::ifstream in(e.path(), std::ios::binary);
    if (e.is_regular_file()) files[fs::relative(e.path(), root).generic_string()] = {std::istreambuf_iterator<char>(in), {}};
  }
  return files;
}

enum class Op { Delete, Wipe, Copy, Move, Rename, RenameDialog, Save };

struct Case {
  const char* name;
  Op op;
  std::vector<const char*> files;
  const char* arg;  // target folder, new base name, typed name or saved file
  bool result;
  std::vector<const char*> gone;
  Files added;                  // files after it, beside those not gone
  Files extra = {};             // there before and after
  size_t boxes = 0;             // dialog boxes answered (No, else OK)
  const char* readOnly = "";    // made read-only before
  const char* heldOpen = "";    // open without sharing meanwhile
  const char* trashed = "";
};

TEST(FileOperationsOnDisk, EachOperationLeavesExactlyWhatWasAsked) {
  const Files three = {{"s/a.bmp", "A"}, {"s/a.bmp.pva", "a-adj"}, {"s/b.bmp", "B"}, {"s/c.bmp", "C"}, {"t/x", "X"}};
  const Files aInT = {{"t/a.bmp", "A"}, {"t/a.bmp.pva", "a-adj"}};
  const std::vector<const char*> a = {"s/a.bmp", "s/a.bmp.pva"};
  const std::vector<Case> cases = {
      {"delete with companion", Op::Delete, {"s/a.bmp"}, "", true, a, {}, {}, 0, "", "", "s/a.bmp"},
      {"delete several", Op::Delete, {"s/a.bmp", "s/b.bmp"}, "", true, {"s/a.bmp", "s/a.bmp.pva", "s/b.bmp"}, {}},
      {"delete read-only", Op::Delete, {"s/b.bmp"}, "", true, {"s/b.bmp"}, {}, {}, 0, "s/b.bmp", "", "s/b.bmp"},
      {"delete refused is told", Op::Delete, {"s/b.bmp"}, "", false, {}, {}, {}, 1, "", "s/b.bmp"},
      {"wipe with companion", Op::Wipe, {"s/a.bmp"}, "", true, a, {}},
      {"wipe several, read-only", Op::Wipe, {"s/b.bmp", "s/c.bmp"}, "", true, {"s/b.bmp", "s/c.bmp"}, {}, {}, 0, "s/c.bmp"},
      {"wipe refused keeps the file", Op::Wipe, {"s/b.bmp"}, "", false, {}, {}, {}, 1, "", "s/b.bmp"},
      {"copy with companion", Op::Copy, {"s/a.bmp"}, "t", true, {}, aInT},
      {"copy onto a name taken, No", Op::Copy, {"s/b.bmp"}, "t", true, {}, {}, {{"t/b.bmp", "old"}}, 1},
      {"move several", Op::Move, {"s/a.bmp", "s/c.bmp"}, "t", true, {"s/a.bmp", "s/a.bmp.pva", "s/c.bmp"},
       {{"t/a.bmp", "A"}, {"t/a.bmp.pva", "a-adj"}, {"t/c.bmp", "C"}}},
      {"move onto a read-only name, No", Op::Move, {"s/c.bmp"}, "t", true, {}, {}, {{"t/c.bmp", "old"}}, 1, "t/c.bmp"},
      {"rename with companion", Op::Rename, {"s/a.bmp"}, "z", true, a, {{"s/z.bmp", "A"}, {"s/z.bmp.pva", "a-adj"}}},
      {"rename in the dialog", Op::RenameDialog, {"s/b.bmp"}, "typed", true, {"s/b.bmp"}, {{"s/typed.bmp", "B"}}, {}, 1},
      {"rename onto a name taken", Op::Rename, {"s/a.bmp"}, "b", false, {}, {}, {}, 1},
      {"save over a read-only file", Op::Save, {}, "t/s.bmp", false, {}, {}, {{"t/s.bmp", "old"}}, 0, "t/s.bmp"},
      {"save into a missing folder", Op::Save, {}, "none/s.bmp", false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path root = pvtest::ScratchDir("file-operations");
    Files before = three, after;
    before.insert(c.extra.begin(), c.extra.end());
    for (const auto& [name, contents] : before) {
      fs::create_directories((root / name).parent_path());
      std::ofstream(root / name, std::ios::binary) << contents;
    }
    auto path = [&](const char* name) { return (root / name).make_preferred().wstring(); };
    std::vector<std::wstring> files;
    for (const char* f : c.files) files.push_back(path(f));
    if (c.readOnly[0]) SetFileAttributesW(path(c.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE held = c.heldOpen[0] ? CreateFileW(path(c.heldOpen).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                              nullptr) : INVALID_HANDLE_VALUE;
    pv::ImageCache cache;
    // A window watches the source folder: what it sees next is the folder as it now is.
    struct : pv::FolderObserver {
      void FolderChanged() override {}
    } observer;
    pv::Ref<pv::FolderListing> watched = cache.Listings().OpenListing(path("s").c_str(), false, &observer);
    watched->NextEntry(nullptr);
    bool result = false;
    std::vector<std::wstring> boxes;
    {
      pvtest::DialogAnswerer answer(IDNO, pvtest::Widen(c.arg).c_str(), PV_RENAME_NEW);
      const std::wstring arg = c.op == Op::Rename ? pvtest::Widen(c.arg) : path(c.arg);
      pv::Ref<pv::ImageBuffer> image = pvtest::SolidImage(3, 2, 0xFF112233);
      const pv::FileOp transfer = c.op == Op::Copy ? pv::FileOp::Copy : pv::FileOp::Move;
      switch (c.op) {
        case Op::Delete: case Op::Wipe: result = pv::DeleteFiles(nullptr, &cache, files, c.op == Op::Wipe); break;
        case Op::Copy: case Op::Move: result = pv::CopyFileToFolder(nullptr, &cache, transfer, arg, files); break;
        case Op::Rename: result = !pv::RenameImageTo(nullptr, &cache, files[0], arg).empty(); break;
        case Op::RenameDialog: result = !pv::RenameImageFile(nullptr, &cache, files[0]).empty(); break;
        case Op::Save: result = pv::SaveBitmapFile(*image, nullptr, arg); break;
      }
      boxes = answer.Captions();
    }
    std::set<std::wstring> listed, wanted;
    pv::Ref<pv::FolderListing> now = cache.Listings().OpenListing(path("s").c_str());
    for (const wchar_t* e = now->NextEntry(nullptr); e; e = now->NextEntry(e))
      if (e[0] != L'.') listed.insert(e);
    watched->RemoveObserver(&observer);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    after = before;
    for (const char* g : c.gone) after.erase(g);
    after.insert(c.added.begin(), c.added.end());
    for (const auto& f : after)
      if (f.first.starts_with("s/")) wanted.insert(pvtest::Widen(f.first.substr(2)));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(ReadTree(root), after);
    EXPECT_EQ(listed, wanted);
    EXPECT_EQ(boxes.size(), c.boxes);
    if (c.trashed[0]) {
      EXPECT_TRUE(pvtest::InTrash(root / c.trashed, before.at(c.trashed)));
    }
    for (const auto& f : before) SetFileAttributesW(path(f.first.c_str()).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
