#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pv::ArgumentList;

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

std::optional<std::wstring> Text(const wchar_t* s) {
  if (!s) return std::nullopt;
  return s;
}

TEST(CommandLine, Splitting) {
  struct Case {
    std::wstring line;
    ArgumentList expected;
  };
  const std::wstring longTitle = L"-title=" + Repeat(L'x', 400);
  const Case cases[] = {
      {L"Pixvane.exe \"C:\\My Pictures\\a.jpg\" -topmost", {L"C:\\My Pictures\\a.jpg", L"-topmost"}},
      {L"\"C:\\Program Files\\Pixvane\\Pixvane.exe\" a.png", {L"a.png"}},
      {L"PIXVANE.EXE a.png", {L"a.png"}},
      // Without ".exe" the first entry is an ordinary argument.
      {L"pixvane b.png", {L"pixvane", L"b.png"}},
      {L"x.exe -title=\"My picture\" c.gif", {L"-title=My picture", L"c.gif"}},
      {L"x.exe   a\t\tb  ", {L"a", L"b"}},
      {L"x.exe \"\" \"\"  ", {}},
      {L"", {}},
      {L"   ", {}},
      // A closing quote ends the entry even without a blank after it.
      {L"x.exe \"a b\"c", {L"a b", L"c"}},
      // An unterminated quote runs to the end.
      {L"x.exe \"open end  ", {L"open end  "}},
      {L"x.exe " + longTitle, {longTitle}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pv::SplitCommandLine(c.line.c_str()), c.expected) << c.line;
  }
  EXPECT_TRUE(pv::SplitCommandLine(nullptr).empty());
}

TEST(CommandLine, StartupScan) {
  struct Case {
    ArgumentList args;
    bool close, onlyOne, refused;
    const wchar_t* file;  // null: none
  };
  const std::wstring tooLong = L"C:\\" + Repeat(L'a', 257);  // 260 units
  const std::wstring longest = L"C:\\" + Repeat(L'a', 256);  // 259 units
  const Case cases[] = {
      {{L"-close", L"a.jpg"}, true, false, false, L"a.jpg"},
      {{L"/ONLYONE"}, false, true, false, nullptr},
      {{L"/OnlyOne", L"-Close"}, true, true, false, nullptr},
      {{L"-closed", L"-only"}, false, false, false, nullptr},
      {{L"-", L"/", L"b.png", L"c.png"}, false, false, false, L"b.png"},
      {{tooLong, L"c.png"}, false, false, true, nullptr},
      {{longest}, false, false, false, longest.c_str()},
  };
  for (const Case& c : cases) {
    pv::StartupScan scan = pv::ScanStartup(c.args);
    EXPECT_EQ(scan.close, c.close);
    EXPECT_EQ(scan.onlyOne, c.onlyOne);
    EXPECT_EQ(scan.fileNameRefused, c.refused);
    EXPECT_EQ(scan.fileName, Text(c.file));
  }
}

TEST(CommandLine, ViewerOptions) {
  struct Case {
    ArgumentList args;
    int32_t x, y;
    float zoom;
    const wchar_t* title;  // null: none
    bool fullScreen, freeze, topmost, index;
  };
  const int32_t none = pv::kNoPosition;
  const float noZoom = pv::kNoZoom;
  const Case cases[] = {
      {{}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=1.5"}, none, none, 1.5f, nullptr, false, false, false, false},
      {{L"-pos=100,200"}, 100, 200, noZoom, nullptr, false, false, false, false},
      {{L"/POS=-1920,-5x"}, -1920, -5, noZoom, nullptr, false, false, false, false},
      {{L"-pos=,"}, 0, 0, noZoom, nullptr, false, false, false, false},
      {{L"-pos=12"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-pos=12 ,3"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-pos=99999999999,-99999999999"}, INT32_MAX, -INT32_MAX, noZoom, nullptr, false, false, false, false},
      {{L"-pos=-2147483648,0"}, -INT32_MAX, 0, noZoom, nullptr, false, false, false, false},
      {{L"/FullScreen", L"-FREEZE", L"-topmost", L"/index", L"a.jpg"}, none, none, noZoom, nullptr, true, true, true,
       true},
      {{L"-freezer", L"-top", L"index", L"-close"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-title=My picture"}, none, none, noZoom, L"My picture", false, false, false, false},
      {{L"/TITLE="}, none, none, noZoom, L"", false, false, false, false},
      // Zooms that are not finite positive numbers are ignored.
      {{L"-zoom=0"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=-2"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=nan"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=inf"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=1e300"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=1e-300"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=abc"}, none, none, noZoom, nullptr, false, false, false, false},
      {{L"-zoom=2", L"-zoom=-1"}, none, none, 2.0f, nullptr, false, false, false, false},
  };
  for (const Case& c : cases) {
    pv::ViewerStartOptions o = pv::ParseViewerOptions(c.args);
    std::wstring what = c.args.empty() ? L"(none)" : c.args.front();
    EXPECT_EQ(o.x, c.x) << what;
    EXPECT_EQ(o.y, c.y) << what;
    EXPECT_EQ(o.zoom, c.zoom) << what;
    EXPECT_EQ(o.title, Text(c.title)) << what;
    EXPECT_EQ(o.fullScreen, c.fullScreen) << what;
    EXPECT_EQ(o.freeze, c.freeze) << what;
    EXPECT_EQ(o.topmost, c.topmost) << what;
    EXPECT_EQ(o.index, c.index) << what;
  }
}

TEST(CommandLine, TitleIsBounded) {
  pv::ViewerStartOptions o = pv::ParseViewerOptions({L"-title=" + Repeat(L'x', 5000)});
  ASSERT_TRUE(o.title);
  EXPECT_EQ(*o.title, Repeat(L'x', pv::kMaxTitleUnits));
  // A surrogate pair across the bound is dropped whole.
  std::wstring cut = Repeat(L'y', pv::kMaxTitleUnits - 1) + L"\xD83D\xDE00";
  if constexpr (sizeof(wchar_t) == 2) {
    o = pv::ParseViewerOptions({L"-title=" + cut});
    EXPECT_EQ(*o.title, Repeat(L'y', pv::kMaxTitleUnits - 1));
  }
}

std::vector<uint8_t> Utf16(std::initializer_list<const wchar_t*> strings) {
  std::vector<uint8_t> bytes;
  for (const wchar_t* s : strings) {
    for (const wchar_t* p = s;; ++p) {
      bytes.push_back(static_cast<uint8_t>(*p));
      bytes.push_back(static_cast<uint8_t>(*p >> 8));
      if (!*p) break;
    }
  }
  return bytes;
}

TEST(CommandLine, HandOverRoundTrip) {
  struct Case {
    std::optional<std::wstring> file;
    ArgumentList args;
    size_t size;
  };
  const Case cases[] = {
      {std::nullopt, {}, 4},  // two zero characters
      {L"C:\\x\\\u00E9.png", {L"C:\\x\\\u00E9.png", L"-zoom=2"}, 2 * (11 + 11 + 8 + 1)},
      {std::nullopt, {L"-index"}, 2 * (1 + 7 + 1)},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> payload = pv::BuildHandOverPayload(c.file, c.args);
    EXPECT_EQ(payload.size(), c.size);
    auto request = pv::ParseHandOverPayload(pv::kHandOverTag, payload.data(), payload.size());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->fileName, c.file);
    EXPECT_EQ(request->args, c.args.empty() ? std::nullopt : std::optional<ArgumentList>(c.args));
  }
  EXPECT_TRUE(pv::BuildHandOverPayload(L"C:\\" + Repeat(L'a', 300), {}).empty());
}

TEST(CommandLine, HandOverValidation) {
  struct Case {
    const char* what;
    uint32_t tag;
    std::vector<uint8_t> data;
    bool accepted;
  };
  std::vector<uint8_t> good = Utf16({L"a.png", L"a.png", L"-topmost", L""});
  std::vector<uint8_t> odd = good;
  odd.push_back(0);
  std::vector<uint8_t> trailing = good;
  trailing.insert(trailing.end(), {'x', 0});
  const std::wstring tooLong = Repeat(L'n', 260);
  const std::wstring longest = Repeat(L'n', 259);
  const Case cases[] = {
      {"good", pv::kHandOverTag, good, true},
      {"wrong tag", 0x46527671, good, false},
      {"empty", pv::kHandOverTag, {}, false},
      {"odd size", pv::kHandOverTag, odd, false},
      {"one byte", pv::kHandOverTag, {0}, false},
      {"trailing data after the list", pv::kHandOverTag, trailing, true},
      {"truncated inside the file name", pv::kHandOverTag, {good.begin(), good.begin() + 6}, false},
      {"no list after the file name", pv::kHandOverTag, Utf16({L"a.png"}), false},
      {"list without its final zero", pv::kHandOverTag, {good.begin(), good.end() - 2}, false},
      {"last entry unterminated", pv::kHandOverTag, {good.begin(), good.end() - 4}, false},
      {"no zero at all", pv::kHandOverTag, {'a', 0, 'b', 0}, false},
      {"only the empty name", pv::kHandOverTag, {0, 0}, false},
      {"name of 260 units", pv::kHandOverTag, Utf16({tooLong.c_str(), L""}), false},
      {"name of 259 units", pv::kHandOverTag, Utf16({longest.c_str(), L""}), true},
  };
  for (const Case& c : cases) {
    auto request = pv::ParseHandOverPayload(c.tag, c.data.empty() ? nullptr : c.data.data(), c.data.size());
    EXPECT_EQ(request.has_value(), c.accepted) << c.what;
  }
  EXPECT_FALSE(pv::ParseHandOverPayload(pv::kHandOverTag, nullptr, 4));
}

TEST(CommandLine, StartupShortcut) {
  struct Case {
    int32_t x, y;
    float zoom;
    const wchar_t* arguments;  // empty: refused
  };
  const Case cases[] = {
      {10, 20, 0.25f, L"-freeze -pos=10,20 -zoom=0.250 \"C:\\x\\y.png\""},
      {-1280, 0, 1.0f, L"-freeze -pos=-1280,0 -zoom=1.000 \"C:\\x\\y.png\""},
      // Float steps below the decimal value must not lose a digit.
      {0, 0, 0.7f, L"-freeze -pos=0,0 -zoom=0.700 \"C:\\x\\y.png\""},
      {0, 0, 1.9996f, L"-freeze -pos=0,0 -zoom=2.000 \"C:\\x\\y.png\""},
      {0, 0, 12.3456f, L"-freeze -pos=0,0 -zoom=12.346 \"C:\\x\\y.png\""},
      {0, 0, 0.0f, L""},
      {0, 0, -1.0f, L""},
  };
  for (const Case& c : cases) {
    std::wstring arguments = pv::StartupShortcutArguments(c.x, c.y, c.zoom, L"C:\\x\\y.png");
    EXPECT_EQ(arguments, c.arguments);
    if (arguments.empty()) continue;
    // What the shortcut starts must give back the frozen window.
    ArgumentList args = pv::SplitCommandLine((L"\"C:\\Pixvane\\Pixvane.exe\" " + arguments).c_str());
    pv::ViewerStartOptions o = pv::ParseViewerOptions(args);
    EXPECT_TRUE(o.freeze);
    EXPECT_EQ(o.x, c.x);
    EXPECT_EQ(o.y, c.y);
    EXPECT_NEAR(o.zoom, c.zoom, 0.0005);
    EXPECT_EQ(pv::ScanStartup(args).fileName, L"C:\\x\\y.png");
  }
  EXPECT_EQ(pv::StartupShortcutArguments(0, 0, 1.0f, L"C:\\" + Repeat(L'a', 300)), L"");
  EXPECT_EQ(pv::StartupShortcutName(L"C:\\x\\y.png"), L"y.png.lnk");
  EXPECT_EQ(pv::StartupShortcutName(L"D:z.jpg"), L"z.jpg.lnk");
}

}  // namespace
