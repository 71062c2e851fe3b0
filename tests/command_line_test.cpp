#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pv::ArgumentList;

std::wstring Join(const ArgumentList& args) {
  std::wstring s;
  for (const std::wstring& a : args) s += (s.empty() ? L"" : L"|") + a;
  return s;
}

// What one open request receives, as one line.
std::wstring Describe(const pv::ViewerStartOptions& o) {
  std::wstring s;
  if (o.x != pv::kNoPosition || o.y != pv::kNoPosition) s += L"pos " + std::to_wstring(o.x) + L',' + std::to_wstring(o.y) + L' ';
  if (o.zoom != pv::kNoZoom) s += L"zoom " + std::to_wstring(o.zoom) + L' ';
  if (o.title) s += L"title '" + *o.title + L"' ";
  if (o.fullScreen) s += L"fullscreen ";
  if (o.freeze) s += L"freeze ";
  if (o.topmost) s += L"topmost ";
  if (o.index) s += L"index ";
  return s;
}

TEST(CommandLine, SplittingAndStartFile) {
  // scan: close, only-one, start file
  struct Case { std::wstring line; std::wstring args; std::wstring scan; };
  const std::wstring title = L"-title=" + std::wstring(400, L'x');
  const std::wstring longest(259, L'n');
  const Case cases[] = {
      {L"Pixvane.exe \"C:\\My Pictures\\a.jpg\" -topmost", L"C:\\My Pictures\\a.jpg|-topmost", L"00 C:\\My Pictures\\a.jpg"},
      {L"\"C:\\Program Files\\Pixvane\\PIXVANE.EXE\" -close a.png", L"-close|a.png", L"10 a.png"},
      {L"pixvane b.png /OnlyOne", L"pixvane|b.png|/OnlyOne", L"01 pixvane"},
      {L"x.exe -title=\"My picture\" - / c.gif", L"-title=My picture|-|/|c.gif", L"00 c.gif"},
      {L"x.exe   a\t\tb  ", L"a|b", L"00 a"}, {L"x.exe \"\" \"\"  -Closed", L"-Closed", L"00 "}, {L"   ", L"", L"00 "},
      {L"x.exe \"a b\"c \"open end  ", L"a b|c|open end  ", L"00 a b"},
      {L"x.exe " + title, title, L"00 "}, {L"x.exe " + longest, longest, L"00 " + longest},
      {L"x.exe " + longest + L"n b.png", longest + L"n|b.png", L"00 refused"},
  };
  for (const Case& c : cases) {
    ArgumentList args = pv::SplitCommandLine(c.line.c_str());
    EXPECT_EQ(Join(args), c.args);
    pv::StartupScan scan = pv::ScanStartup(args);
    std::wstring got = std::to_wstring(scan.close) + std::to_wstring(scan.onlyOne) + L' ' +
                       (scan.fileNameRefused ? L"refused" : scan.fileName.value_or(L""));
    EXPECT_EQ(got, c.scan);
  }
  EXPECT_TRUE(pv::SplitCommandLine(nullptr).empty());
}

TEST(CommandLine, ViewerOptions) {
  struct Case { ArgumentList args; std::wstring options; };
  const Case cases[] = {
      {{L"-zoom=1.5", L"a.jpg"}, L"zoom 1.500000 "}, {{L"-pos=100,200"}, L"pos 100,200 "},
      {{L"/POS=-1920,-5x"}, L"pos -1920,-5 "}, {{L"-pos=,"}, L"pos 0,0 "}, {{L"-pos=12"}, L""}, {{L"-pos=12 ,3"}, L""},
      // Beyond 32 bits saturates, short of the value that means "no position".
      {{L"-pos=99999999999,-2147483648"}, L"pos 2147483647,-2147483647 "},
      {{L"/FullScreen", L"-FREEZE", L"-topmost", L"/index"}, L"fullscreen freeze topmost index "},
      {{L"-freezer", L"-top", L"index", L"-close"}, L""}, {{L"-title=My picture", L"/TITLE="}, L"title '' "},
      {{L"-title=" + std::wstring(5000, L'x')}, L"title '" + std::wstring(pv::kMaxTitleUnits, L'x') + L"' "},
      {{L"-zoom=0", L"-zoom=-2", L"-zoom=nan", L"-zoom=inf", L"-zoom=1e300", L"-zoom=1e-300", L"-zoom=abc"}, L""},
      {{L"-zoom=2", L"-zoom=-1"}, L"zoom 2.000000 "},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(pv::ParseViewerOptions(c.args)), c.options) << c.args[0];
  if constexpr (sizeof(wchar_t) == 2) {
    // A surrogate pair across the bound is dropped whole.
    std::wstring title = std::wstring(pv::kMaxTitleUnits - 1, L'y') + L"\xD83D\xDE00";
    EXPECT_EQ(*pv::ParseViewerOptions({L"-title=" + title}).title, title.substr(0, pv::kMaxTitleUnits - 1));
  }
}

std::vector<uint8_t> Utf16(std::initializer_list<std::wstring> strings) {
  std::vector<uint8_t> bytes;
  for (const std::wstring& s : strings) {
    for (wchar_t c : s + L'\0') bytes.insert(bytes.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  }
  return bytes;
}

TEST(CommandLine, HandOver) {
  // Built, then received.
  EXPECT_EQ(pv::BuildHandOverPayload(std::nullopt, {}), Utf16({L"", L""}));
  const ArgumentList args = {L"C:\\x\\\u00E9.png", L"-zoom=2"};
  std::vector<uint8_t> payload = pv::BuildHandOverPayload(args[0], args);
  EXPECT_EQ(payload, Utf16({args[0], args[0], args[1], L""}));
  auto request = pv::ParseHandOverPayload(pv::kHandOverTag, payload.data(), payload.size());
  ASSERT_TRUE(request);
  EXPECT_EQ(request->fileName, args[0]);
  EXPECT_EQ(request->args, args);
  EXPECT_TRUE(pv::BuildHandOverPayload(std::wstring(260, L'a'), {}).empty());

  // received: file and arguments joined; none when refused
  struct Case { const char* what; std::vector<uint8_t> data; std::optional<std::wstring> received; };
  const std::vector<uint8_t> good = Utf16({L"a.png", L"a.png", L"-topmost", L""});
  std::vector<uint8_t> odd = good, trailing = good;
  odd.push_back(0);
  trailing.insert(trailing.end(), {'x', 0});
  const Case cases[] = {
      {"good", good, L"a.png|a.png|-topmost"}, {"no file, no arguments", Utf16({L"", L""}), L"|"},
      {"odd size", odd, std::nullopt},
      {"trailing data after the list", trailing, L"a.png|a.png|-topmost"},
      {"truncated inside the file name", {good.begin(), good.begin() + 6}, std::nullopt},
      {"no list after the file name", Utf16({L"a.png"}), std::nullopt},
      {"list without its final zero", {good.begin(), good.end() - 2}, std::nullopt},
      {"last entry unterminated", {good.begin(), good.end() - 4}, std::nullopt},
      {"no zero at all", {'a', 0, 'b', 0}, std::nullopt}, {"empty", {}, std::nullopt},
      {"name of 260 units", Utf16({std::wstring(260, L'n'), L""}), std::nullopt},
      {"name of 259 units", Utf16({std::wstring(259, L'n'), L""}), std::wstring(259, L'n') + L'|'},
  };
  for (const Case& c : cases) {
    auto r = pv::ParseHandOverPayload(pv::kHandOverTag, c.data.empty() ? nullptr : c.data.data(), c.data.size());
    std::optional<std::wstring> received;
    if (r) received = r->fileName.value_or(L"") + L'|' + Join(r->args.value_or(ArgumentList()));
    EXPECT_EQ(received, c.received) << c.what;
  }
  EXPECT_FALSE(pv::ParseHandOverPayload(pv::kHandOverTag + 1, good.data(), good.size()));
}

TEST(CommandLine, StartupShortcut) {
  // arguments: empty when refused
  struct Case { int32_t x, y; float zoom; const wchar_t* arguments; };
  const Case cases[] = {
      {10, 20, 0.25f, L"-freeze -pos=10,20 -zoom=0.250 \"C:\\x\\y.png\""},
      {-1280, 0, 1.0f, L"-freeze -pos=-1280,0 -zoom=1.000 \"C:\\x\\y.png\""},
      // Floats just below the decimal value must not lose a digit.
      {0, 0, 0.7f, L"-freeze -pos=0,0 -zoom=0.700 \"C:\\x\\y.png\""},
      {0, 0, 1.9996f, L"-freeze -pos=0,0 -zoom=2.000 \"C:\\x\\y.png\""},
      {0, 0, 12.3456f, L"-freeze -pos=0,0 -zoom=12.346 \"C:\\x\\y.png\""},
      {0, 0, 0.0f, L""}, {0, 0, -1.0f, L""},
  };
  for (const Case& c : cases) {
    std::wstring arguments = pv::StartupShortcutArguments(c.x, c.y, c.zoom, L"C:\\x\\y.png");
    EXPECT_EQ(arguments, c.arguments);
    if (arguments.empty()) continue;
    // What the shortcut starts must give back the frozen window.
    ArgumentList args = pv::SplitCommandLine((L"\"C:\\Pixvane\\Pixvane.exe\" " + arguments).c_str());
    pv::ViewerStartOptions o = pv::ParseViewerOptions(args);
    EXPECT_TRUE(o.freeze && o.x == c.x && o.y == c.y);
    EXPECT_NEAR(o.zoom, c.zoom, 0.0005);
    EXPECT_EQ(pv::ScanStartup(args).fileName, L"C:\\x\\y.png");
  }
  EXPECT_EQ(pv::StartupShortcutArguments(0, 0, 1.0f, std::wstring(300, L'a')), L"");
  EXPECT_EQ(pv::StartupShortcutName(L"C:\\x\\y.png"), L"y.png.lnk");
}

}  // namespace
