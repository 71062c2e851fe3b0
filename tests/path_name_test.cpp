#include "core/path_name.h"

#include <gtest/gtest.h>

namespace {

// Every place that splits a path asks this one helper, so a drive-relative
// name and a path with forward slashes split alike everywhere.
TEST(PathName, NameFolderAndPseudoImages) {
  struct Case { const wchar_t* path; const wchar_t* name; bool pseudo; };
  const Case cases[] = {
      {L"C:\\a\\b.jpg", L"b.jpg", false}, {L"C:/a/b.png", L"b.png", false}, {L"C:b.gif", L"b.gif", false},
      {L"\\\\server\\share\\x.bmp", L"x.bmp", false}, {L"C:\\a\\", L"", false}, {L"plain", L"plain", false},
      {L"", L"", false}, {L"<clipboard>", L"<clipboard>", true}, {L"<capture>", L"<capture>", true},
  };
  for (const Case& c : cases) {
    const std::wstring_view path(c.path);
    EXPECT_EQ(pv::FileNamePart(path), c.name) << c.path;
    EXPECT_EQ(pv::IsPseudoPath(path), c.pseudo) << c.path;
  }
}

}  // namespace
