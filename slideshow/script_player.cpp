#include "slideshow/script_player.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "core/text.h"

namespace pv {

namespace {

// Blocks nest at most this deep: a script cannot exhaust the stack.
constexpr int kMaxDepth = 64;

constexpr size_t kMaxVerb = 259;

bool IsOnWord(std::string_view v) {
  for (const char* word : {"on", "1", "true", "yes"}) {
    if (EqualsIgnoringCase(v, word)) return true;
  }
  return false;
}

// Scripts, index files and adjustment companions are never images: showing
// one would play or open it again from inside the show.
bool IsOwnFileType(const std::wstring& path) {
  const size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || path.size() - dot != 4) return false;
  std::wstring ext = path.substr(dot + 1);
  for (wchar_t& c : ext) c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
  return ext == L"pvs" || ext == L"pvi" || ext == L"pva";
}

// Passes a block without running it, nested blocks included.
void SkipBlock(ScriptCursor& cursor) {
  for (int depth = 1; depth > 0;) {
    const ScriptToken t = cursor.NextToken();
    if (!t.Valid()) return;
    if (t.Opens()) ++depth;
    if (t.Closes()) --depth;
  }
}

struct Context {
  ScriptCursor& cursor;
  SlideshowHost& host;
  ScriptRun& run;
  bool lookAhead;
  int depth;
};

// A statement's result: go on with the block, or end it with this value.
enum class Next { Continue, EndTrue, EndFalse };

Next Display(Context& c) {
  const ScriptToken name = c.cursor.NextToken();
  if (!name.Valid()) return Next::EndTrue;
  const std::wstring path = ScriptNameToPath(name.text, [&](const std::wstring& p) { return c.host.Exists(p); });
  if (c.lookAhead) {
    if (!path.empty() && !IsOwnFileType(path)) c.host.Prefetch(path);
    return Next::EndFalse;
  }
  if (IsOwnFileType(path) || !c.host.Show(path)) return Next::EndFalse;
  const size_t after = c.cursor.Position();
  RunScriptBlock(c.cursor, c.host, c.run, true, c.depth);
  c.cursor.SetPosition(after);
  c.cursor.SkipStatement(name);
  return Next::Continue;
}

Next Delay(Context& c) {
  const ScriptToken arg = c.cursor.NextToken();
  if (!arg.Valid()) return Next::EndTrue;
  if (!c.lookAhead) {
    if (arg.text == "key") {
      if (!c.host.WaitForKey()) return Next::EndFalse;
    } else {
      for (uint32_t ticks = DelayTicks(arg.text); ticks > 0; --ticks) {
        const SlideshowHost::Tick t = c.host.DelayTick();
        if (t == SlideshowHost::Tick::Stop) return Next::EndFalse;
        if (t == SlideshowHost::Tick::Skipped) break;
      }
    }
  }
  c.cursor.SkipStatement(arg);
  return Next::Continue;
}

Next Loop(Context& c, const ScriptToken& keyword) {
  long count = -1;
  ScriptToken t = keyword;
  for (;;) {
    t = c.cursor.NextToken();
    if (!t.Valid()) return Next::EndTrue;  // the file ended before "{"
    if (t.Opens()) break;
    if (!t.quoted && t.text[0] >= '0' && t.text[0] <= '9') count = std::strtol(std::string(t.text).c_str(), nullptr, 10);
  }
  const size_t body = t.start + 1;  // just after the "{"
  c.cursor.SetPosition(body);
  if (count == 0) {
    SkipBlock(c.cursor);
    return Next::Continue;
  }
  if (c.lookAhead) {
    // Looks into the body once: its first image is the next one shown.
    return RunScriptBlock(c.cursor, c.host, c.run, true, c.depth + 1) ? Next::Continue : Next::EndFalse;
  }
  for (long pass = 0; count < 0 || pass < count; ++pass) {
    c.cursor.SetPosition(body);
    if (!RunScriptBlock(c.cursor, c.host, c.run, false, c.depth + 1)) return Next::EndFalse;
    // A body that neither shows nor waits must still stop on request.
    if (!c.host.AfterStatement()) return Next::EndFalse;
  }
  return Next::Continue;
}

Next Set(Context& c) {
  const ScriptToken name = c.cursor.NextToken();
  if (!name.Valid()) return Next::EndTrue;
  ScriptToken last = name;
  if (EqualsIgnoringCase(name.text, "SelfDelete")) {
    if (!c.lookAhead) c.run.selfDelete = true;
  } else if (EqualsIgnoringCase(name.text, "AutoSizeImage") && name.separated) {
    last = c.cursor.NextToken();
    if (!last.Valid()) return Next::EndTrue;
    if (!c.lookAhead) c.host.SetAutoSize(IsOnWord(last.text));
  }
  c.cursor.SkipStatement(last);
  return Next::Continue;
}

Next Shell(Context& c) {
  const ScriptToken first = c.cursor.NextToken();
  if (!first.Valid()) return Next::EndTrue;
  ScriptToken second, last = first;
  if (first.separated) {
    second = c.cursor.NextToken();
    if (second.Valid()) last = second;
  }
  if (!c.lookAhead) {
    auto exists = [&](const std::wstring& p) { return c.host.Exists(p); };
    if (second.Valid()) {
      const auto* verb = reinterpret_cast<const uint8_t*>(first.text.data());
      c.host.Shell(std::wstring(TruncateText(Windows1252ToWide(verb, first.text.size()), kMaxVerb)),
                   ScriptNameToPath(second.text, exists));
    } else {
      c.host.Shell(L"", ScriptNameToPath(first.text, exists));
    }
  }
  c.cursor.SkipStatement(last);
  return Next::Continue;
}

}  // namespace

uint32_t DelayTicks(std::string_view seconds) {
  const double s = std::strtod(std::string(seconds).c_str(), nullptr);
  if (!(s > 0)) return 0;
  return s >= 1e8 ? 1000000000u : static_cast<uint32_t>(std::floor(s * 10 + 0.5));
}

bool RunScriptBlock(ScriptCursor& cursor, SlideshowHost& host, ScriptRun& run, bool lookAhead, int depth) {
  if (depth > kMaxDepth) return false;
  Context c{cursor, host, run, lookAhead, depth};
  for (;;) {
    const ScriptToken t = cursor.NextToken();
    if (!t.Valid() || t.Closes()) return true;
    Next next = Next::Continue;
    if (t.Opens()) {
      cursor.SetPosition(t.start + 1);
      if (!RunScriptBlock(cursor, host, run, lookAhead, depth + 1)) return false;
    } else if (!t.separated) {
      // A keyword followed by ";" is an empty statement; others end here too.
    } else if (t.text == "display") {
      next = Display(c);
    } else if (t.text == "delay") {
      next = Delay(c);
    } else if (t.text == "loop") {
      next = Loop(c, t);
    } else if (t.text == "set") {
      next = Set(c);
    } else if (t.text == "shell") {
      next = Shell(c);
    } else {
      cursor.SkipStatement(t);
    }
    if (next != Next::Continue) return next == Next::EndTrue;
    if (!host.AfterStatement()) return false;
  }
}

}  // namespace pv
