#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/text.h"
#include "slideshow/script_player.h"
#include "slideshow/script_writer.h"

namespace {

using pv::ScriptCursor;

ScriptCursor Cursor(const std::string& text) {
  return ScriptCursor(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Tokens as text, a "|" after those that ended their statement.
std::string Tokens(const std::string& text) {
  ScriptCursor cursor = Cursor(text);
  std::string out;
  for (pv::ScriptToken t = cursor.NextToken(); t.Valid(); t = cursor.NextToken()) {
    out += "[" + std::string(t.text) + "]" + (t.separated ? "" : "|");
  }
  return out;
}

TEST(SlideshowScript, TokensCommentsAndQuotes) {
  const struct {
    const char* text;
    const char* tokens;
  } cases[] = {
      {"display a.jpg;", "[display][a.jpg]|"},
      {"a=b\tc\r\nd", "[a][b][c][d]|"},
      {"a // to the end of the line; b\nc", "[a][c]|"},
      {"a /* one; two */ b", "[a][b]|"},
      {"a /*/ b", "[a][b]|"},                   // slash, star, slash is a whole comment
      {"a/b c", "[a/b][c]|"},                   // a slash alone is part of a word
      {"x\"y z", "[x\"y][z]|"},                 // a quote inside a word closes nothing
      {"display \"My Pictures;old/a b.jpg\";", "[display][My Pictures;old/a b.jpg]|"},
      {"\"a\" b", "[a][b]|"},
      {"\"unclosed to the end", "[unclosed to the end]|"},
      {"\"\" b", "[\"\"][b]|"},                 // two quotes are a word, not an empty name
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(SlideshowScript, HeaderIsCheckedWithoutCase) {
  const struct {
    const char* text;
    bool accepted;
    const char* body;  // the first body token
  } cases[] = {
      {"Pixvane SlideShow { display a;", true, "display"},
      {"pixvane slideshow {\ndisplay a;", true, "display"},
      {"Pixvane SlideShow {display a; b", true, "b"},  // "{display" is not the "{"
      {"Pixvane SlideShow ignored words { b", true, "b"},
      {"Pixvane SlideShow ends; c", true, "c"},
      {"Pixvane SlideShow ", true, ""},
      {"Pixvane SlideShow", false, ""},
      {"Pixvane;SlideShow {", false, ""},
      {"Pixvane Slides {", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    const std::string text = c.text;
    ScriptCursor cursor = Cursor(text);
    ASSERT_EQ(pv::ReadScriptHeader(cursor), c.accepted) << text;
    if (c.accepted) {
      EXPECT_EQ(std::string(cursor.NextToken().text), c.body) << text;
    }
  }
}

// Records what the player asks of the viewer.
class Host : public pv::SlideshowHost {
 public:
  std::set<std::wstring> files;
  std::vector<std::string> log;
  int statementsLeft = 10000;  // the poll asks to stop when this runs out
  std::vector<Tick> ticks;     // results of the delay ticks, Waited when used up
  size_t tick = 0;

  bool Exists(const std::wstring& path) override { return files.count(path) > 0; }
  bool Show(const std::wstring& path) override { return log.push_back("show " + pv::WideToUtf8(path)), files.count(path); }
  void Prefetch(const std::wstring& path) override { log.push_back("ahead " + pv::WideToUtf8(path)); }
  bool AfterStatement() override { return --statementsLeft > 0; }
  bool WaitForKey() override { return log.push_back("key"), true; }
  // Ticks in a row are counted in one entry.
  Tick DelayTick() override {
    if (log.empty() || log.back().rfind("tick", 0) != 0) log.push_back("tick 0");
    log.back() = "tick " + std::to_string(std::stoi(log.back().substr(5)) + 1);
    return ++tick <= ticks.size() ? ticks[tick - 1] : Tick::Waited;
  }
  void SetAutoSize(bool on) override { log.push_back(on ? "autosize on" : "autosize off"); }
  void Shell(const std::wstring& verb, const std::wstring& target) override {
    log.push_back("shell " + pv::WideToUtf8(verb) + "|" + pv::WideToUtf8(target));
  }
};

std::string Play(Host& host, const std::string& script) {
  ScriptCursor cursor = Cursor(script);
  pv::ScriptRun run;
  if (!pv::ReadScriptHeader(cursor)) return "not a script";
  std::string out = pv::RunScriptBlock(cursor, host, run, false) ? "" : "stopped: ";
  for (const std::string& line : host.log) out += line + "; ";
  return out + (run.selfDelete ? "deletes itself" : "");
}

TEST(SlideshowScript, PlayerStatements) {
  using Tick = pv::SlideshowHost::Tick;
  const struct {
    std::string script;
    std::vector<Tick> ticks;
    int statements;
    const char* played;
  } cases[] = {
      {"Pixvane SlideShow { display a; delay 2.5; display b; }", {}, 10000,
       "show a; ahead b; tick 25; show b; "},
      {"Pixvane SlideShow { display a; delay 0; delay -3; display b; }", {}, 10000, "show a; ahead b; show b; "},
      {"Pixvane SlideShow { display a; delay key; }", {}, 10000, "show a; key; "},
      // A key during a delay ends it; the stop request ends the show.
      {"Pixvane SlideShow { delay 9; display a; }", {Tick::Waited, Tick::Skipped}, 10000, "tick 2; show a; "},
      {"Pixvane SlideShow { delay 9; display a; }", {Tick::Stop}, 10000, "stopped: tick 1; "},
      {"Pixvane SlideShow { loop 3 { display a; delay 1; } display b; }", {}, 10000,
       "show a; tick 10; show a; tick 10; show a; tick 10; show b; "},
      {"Pixvane SlideShow { loop 0 { display a; { display b; } } display c; }", {}, 10000, "show c; "},
      // Without a count the loop runs until the poll says stop, empty or not.
      {"Pixvane SlideShow { loop { display a; } }", {}, 6, "stopped: show a; show a; show a; "},
      {"Pixvane SlideShow { loop { } }", {}, 50, "stopped: "},
      // The end of the show at the first image that cannot be shown.
      {"Pixvane SlideShow { display missing; display a; }", {}, 10000, "stopped: show missing; "},
      {"Pixvane SlideShow { display self.pvs; display a; }", {}, 10000, "stopped: "},
      // Keywords are exact; a keyword followed by ";" does nothing.
      {"Pixvane SlideShow { Display a; display; delay; display b; }", {}, 10000, "show b; "},
      {"Pixvane SlideShow { set AutoSizeImage Yes; set autosizeimage 2; set Other 1; }", {}, 10000,
       "autosize on; autosize off; "},
      {"Pixvane SlideShow { shell \"a b.txt\"; shell print a; }", {}, 10000, "shell |a b.txt; shell print|a; "},
      // The look-ahead finds the next image inside a loop, and nothing past the block.
      {"Pixvane SlideShow { display a; loop 1 { display b; } }", {}, 10000, "show a; ahead b; show b; "},
      {"Pixvane SlideShow { { display a; } display b; }", {}, 10000, "show a; show b; "},
      {"Pixvane SlideShow { set SelfDelete; }", {}, 10000, "deletes itself"},
      // Nesting far past any real script ends the show instead of the stack.
      {"Pixvane SlideShow { " + std::string(100000, '{') + " display a; }", {}, 10000, "stopped: "},
  };
  for (const auto& c : cases) {
    Host host;
    host.files = {L"a", L"b", L"c", L"self.pvs"};
    host.ticks = c.ticks;
    host.statementsLeft = c.statements;
    EXPECT_EQ(Play(host, c.script), c.played) << c.script.substr(0, 80);
  }
}

TEST(SlideshowScript, WrittenScriptsReadBackToTheSameFiles) {
  pv::Options options;
  options.slideLoop = true;
  options.slideSelfDelete = true;
  options.slideDelayMode = 2;
  options.slideDelayTenths = 25;
  options.slideSort = true;
  const std::vector<std::wstring> latin = {L"img10.jpg", L"sub\\img2.jpg", L"caf\u00E9.png"};
  const std::vector<std::wstring> greek = {L"b.jpg", L"\u03B1\u03B2.jpg"};
  EXPECT_EQ(pv::FormatSlideshowScript(latin, options),
            "Pixvane SlideShow {\r\nloop {\r\n\tset SelfDelete;\r\n"
            "\tdisplay \"caf\xE9.png\"; delay 2.5;\r\n\tdisplay \"img2.jpg\"; delay 2.5;\r\n"
            "\tdisplay \"img10.jpg\"; delay 2.5;\r\n} // loop\r\n}\r\n");
  options.slideLoop = options.slideSelfDelete = options.slideSort = false;
  options.slideDelayMode = 0;
  EXPECT_EQ(pv::FormatSlideshowScript({}, options), "Pixvane SlideShow {\r\n}\r\n");
  EXPECT_EQ(pv::FormatSlideshowScript(greek, options),
            "Pixvane SlideShow {\r\n\tdisplay \"b.jpg\";\r\n\tdisplay \"\xCE\xB1\xCE\xB2.jpg\";\r\n}\r\n");
  for (const auto& names : {latin, greek}) {
    Host host;
    host.files = {L"img10.jpg", L"img2.jpg", L"caf\u00E9.png", L"b.jpg", L"\u03B1\u03B2.jpg"};
    options.slideDelayMode = 1;
    const std::string played = Play(host, pv::FormatSlideshowScript(names, options));
    for (const std::wstring& name : names) {
      const std::wstring bare = name.substr(name.find_last_of(L'\\') + 1);
      EXPECT_NE(played.find("show " + pv::WideToUtf8(bare) + "; "), std::string::npos) << played;
    }
  }
}

}  // namespace
