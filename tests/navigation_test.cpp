#include "browse/navigation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browse/file_names.h"
#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/text.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class Navigation : public ::testing::Test {
 protected:
  void SetUp() override { pv::RegisterDecoders(); }
  void TearDown() override { pv::SetOrdinalNameOrder(false); }

  fs::path MakeFolder(const char* name, std::initializer_list<const char*> files) {
    fs::path dir = pvtest::ScratchDir(name);
    for (const char* f : files) std::ofstream(dir / f) << "x";
    return dir;
  }
  // The name found from `current`, or "-" when the search fails.
  std::string Find(const fs::path& dir, pv::NavigationMode mode, const char* current) {
    wchar_t out[pv::kMaxPathUnits];
    std::wstring path = (dir / current).wstring();
    if (!pv::FindNeighbourFile(cache, &slot, mode, out, path.c_str())) return "-";
    return pv::WideToUtf8(out + pv::FileNameOffset(out));
  }

  pv::ImageCache cache;
  pv::Ref<pv::FolderListing> slot;
};

TEST_F(Navigation, OneScanFindsTheNearestImageInNameOrder) {
  fs::path dir = MakeFolder("nav-order", {"img2.jpg", "img10.jpg", "Img1.JPG", "notes.pvs", "x.toolong",
                                          "noext", "photo.jpeg", "readme.txt", "clip.lnk"});
  fs::create_directory(dir / "sub.jpg");  // folders never count
  struct Case { bool ordinal; pv::NavigationMode mode; const char* current; const char* expected; } cases[] = {
      {false, pv::NavNext, "Img1.JPG", "img2.jpg"}, {false, pv::NavNext, "img2.jpg", "img10.jpg"},
      {false, pv::NavNext, "img10.jpg", "photo.jpeg"}, {false, pv::NavNext, "photo.jpeg", "-"},
      {false, pv::NavPrevious, "img10.jpg", "img2.jpg"}, {false, pv::NavPrevious, "Img1.JPG", "-"},
      {false, pv::NavFirst, "Img1.JPG", "img2.jpg"},  // never the current file
      {false, pv::NavFirst, "photo.jpeg", "Img1.JPG"}, {false, pv::NavLast, "photo.jpeg", "img10.jpg"},
      {false, pv::NavNext, "notes.pvs", "photo.jpeg"},  // from a name that is not an image
      {false, pv::NavExisting, "img2.jpg", "img2.jpg"}, {false, pv::NavExisting, "gone.jpg", "-"},
      {true, pv::NavNext, "Img1.JPG", "img10.jpg"},  // ordinal: "I" < "i", "1" < "2"
      {true, pv::NavNext, "img10.jpg", "img2.jpg"}, {true, pv::NavPrevious, "img10.jpg", "Img1.JPG"},
      {true, pv::NavLast, "Img1.JPG", "photo.jpeg"},
  };
  for (const Case& c : cases) {
    pv::SetOrdinalNameOrder(c.ordinal);
    EXPECT_EQ(Find(dir, c.mode, c.current), c.expected)
        << "mode " << int(c.mode) << " from " << c.current << (c.ordinal ? " ordinal" : "");
  }
  EXPECT_EQ(Find(dir, static_cast<pv::NavigationMode>(6), "img2.jpg"), "-");
}

TEST_F(Navigation, ContinueFollowsTheLastDirectionThenTurns) {
  fs::path dir = MakeFolder("nav-continue", {"a.png", "b.png", "c.png"});
  EXPECT_EQ(Find(dir, pv::NavPrevious, "b.png"), "a.png");
  EXPECT_EQ(cache.LastDirection(), pv::NavPrevious);
  EXPECT_EQ(Find(dir, pv::NavContinue, "b.png"), "a.png");
  EXPECT_EQ(Find(dir, pv::NavContinue, "a.png"), "b.png") << "nothing before a: the other way";
  EXPECT_EQ(Find(dir, pv::NavNext, "c.png"), "-");
  EXPECT_EQ(cache.LastDirection(), pv::NavNext) << "stored even when the search fails";
}

TEST_F(Navigation, StepWrapsAndGivesUpAfterOnePassOrWithNothingToStepTo) {
  fs::path dir = MakeFolder("nav-step", {"a.bmp", "b.bmp", "c.bmp", "d.bmp"});
  struct Case {
    pv::NavigationMode direction;
    const char* current;
    std::vector<std::string> refused;
    const char* expected;
    bool wrapped;
    size_t tries;
  } cases[] = {
      {pv::NavNext, "b.bmp", {}, "c.bmp", false, 1}, {pv::NavNext, "d.bmp", {}, "a.bmp", true, 1},
      {pv::NavPrevious, "a.bmp", {}, "d.bmp", true, 1}, {pv::NavNext, "b.bmp", {"c.bmp"}, "d.bmp", false, 2},
      {pv::NavNext, "c.bmp", {"d.bmp", "a.bmp"}, "b.bmp", true, 3},
      {pv::NavPrevious, "b.bmp", {"a.bmp", "d.bmp"}, "c.bmp", true, 3},
      // Every other file fails: each is tried once, then the step gives up.
      {pv::NavNext, "b.bmp", {"a.bmp", "c.bmp", "d.bmp"}, "-", true, 3},
      {pv::NavPrevious, "b.bmp", {"a.bmp", "c.bmp", "d.bmp"}, "-", true, 3},
  };
  for (const Case& c : cases) {
    std::vector<std::string> tried;
    auto open = [&](const wchar_t* path) {
      std::string name = pv::WideToUtf8(path + pv::FileNameOffset(path));
      tried.push_back(name);
      return std::find(c.refused.begin(), c.refused.end(), name) == c.refused.end();
    };
    wchar_t out[pv::kMaxPathUnits] = L"";
    std::wstring current = (dir / c.current).wstring();
    pv::StepResult r = pv::StepToImage(cache, &slot, c.direction, current.c_str(), open, out);
    std::string got = r.found ? pv::WideToUtf8(out + pv::FileNameOffset(out)) : "-";
    EXPECT_EQ(got, c.expected) << c.current;
    EXPECT_EQ(r.wrapped, c.wrapped) << c.current;
    EXPECT_EQ(tried.size(), c.tries) << c.current;
  }
  // A folder of one image: no neighbour, nothing to step to, and nothing is tried.
  fs::path single = MakeFolder("nav-single", {"only.gif", "script.pvs"});
  for (auto mode : {pv::NavNext, pv::NavPrevious, pv::NavFirst, pv::NavLast, pv::NavContinue})
    EXPECT_EQ(Find(single, mode, "only.gif"), "-") << int(mode);
  wchar_t out[pv::kMaxPathUnits];
  int calls = 0;
  auto count = [&](const wchar_t*) { return ++calls > 0; };
  EXPECT_FALSE(pv::StepToImage(cache, &slot, pv::NavNext, (single / "only.gif").wstring().c_str(), count, out).found);
  EXPECT_EQ(calls, 0);
}

TEST(FileNames, SearchPathPrefixes) {
  const std::wstring longPath = L"C:\\" + std::wstring(260, L'a');
  struct Case { std::wstring path, expected; } cases[] = {
      {L"C:\\pics\\a.jpg", L"C:\\pics\\a.jpg"},
      {L"\\\\server\\share\\a.jpg", L"\\\\?\\UNC\\server\\share\\a.jpg"},
      {L"\\\\?\\C:\\a.jpg", L"\\\\?\\C:\\a.jpg"}, {L"\\\\.\\pipe", L"\\\\.\\pipe"},
      {L"\\rooted\\" + std::wstring(300, L'b'), L"\\rooted\\" + std::wstring(300, L'b')},
      {std::wstring(259, L'c'), std::wstring(259, L'c')},
      {std::wstring(260, L'c'), L"\\\\?\\" + std::wstring(260, L'c')},  // 261 units with the terminator
  };
  for (const Case& c : cases) {
    wchar_t out[400];
    ASSERT_TRUE(pv::SearchPathFor(c.path.c_str(), out, 400)) << pv::WideToUtf8(c.path);
    EXPECT_EQ(std::wstring(out), c.expected) << pv::WideToUtf8(c.path);
  }
  wchar_t small[8];
  EXPECT_FALSE(pv::SearchPathFor(L"C:\\pics\\a.jpg", small, 8));
}

TEST(FileNames, WhichNamesAreImages) {
  pv::RegisterDecoders();
  for (const wchar_t* yes : {L"a.jpg", L"A.JPEG", L"x.y.png", L"noext.bmp"}) EXPECT_GE(pv::IsImageName(yes), 0);
  for (const wchar_t* no : {L"a.pvs", L"a.pvi", L"a.jpgxyz", L"jpg.", L"a.txt", L"a.lnk", L"."})
    EXPECT_LT(pv::IsImageName(no), 0) << pv::WideToUtf8(no);
}

}  // namespace
