#include "app/command_line.h"

#include <cfloat>
#include <cmath>
#include <cwchar>

#include "core/endian.h"
#include "core/path_name.h"
#include "core/text.h"
#include "viewer/window_title.h"

namespace pv {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// Option names are ASCII; folding only ASCII keeps the match independent of
// the user's locale.
bool StartsWithNoCase(std::wstring_view text, std::wstring_view upperPrefix) {
  if (text.size() < upperPrefix.size()) return false;
  for (size_t i = 0; i < upperPrefix.size(); ++i) {
    if (AsciiUpper(text[i]) != upperPrefix[i]) return false;
  }
  return true;
}

bool EqualsNoCase(std::wstring_view text, std::wstring_view upperWord) {
  return text.size() == upperWord.size() && StartsWithNoCase(text, upperWord);
}

bool ContainsNoCase(std::wstring_view text, std::wstring_view upperWord) {
  for (size_t i = 0; i + upperWord.size() <= text.size(); ++i) {
    if (StartsWithNoCase(text.substr(i), upperWord)) return true;
  }
  return false;
}

// Decimal with an optional sign, up to the first non-digit; no digits read
// as 0. Saturates short of kNoPosition, which means "not given".
int32_t ReadInteger(std::wstring_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > INT32_MAX) {
      value = INT32_MAX;
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Length in UTF-16 units, whatever the width of wchar_t here.
size_t Utf16Length(std::wstring_view text) {
  size_t n = text.size();
  for (wchar_t c : text) {
    uint32_t cp = static_cast<uint32_t>(c);
    n += cp > 0xFFFF;
  }
  return n;
}

void AppendUtf16(std::vector<uint8_t>& out, std::wstring_view text) {
  auto unit = [&out](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (wchar_t c : text) {
    uint32_t cp = static_cast<uint32_t>(c);
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      unit(0xD800 | (cp >> 10));
      unit(0xDC00 | (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  unit(0);
}

// Reads the zero-terminated UTF-16 string at unit `pos` of `units`; false
// when no terminator lies inside.
bool ReadUtf16String(const uint8_t* data, size_t units, size_t& pos, std::wstring& out) {
  out.clear();
  for (; pos < units; ++pos) {
    uint32_t u = LoadU16LE(data + 2 * pos);
    if (u == 0) {
      ++pos;
      return true;
    }
    if constexpr (sizeof(wchar_t) > 2) {
      if (u >= 0xD800 && u < 0xDC00 && pos + 1 < units) {
        uint32_t low = LoadU16LE(data + 2 * (pos + 1));
        if (low >= 0xDC00 && low < 0xE000) {
          u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          ++pos;
        }
      }
    }
    out.push_back(static_cast<wchar_t>(u));
  }
  return false;
}

}  // namespace

bool IsAcceptablePath(std::wstring_view name) { return Utf16Length(name) < kMaxPathUnits; }

ArgumentList SplitCommandLine(const wchar_t* commandLine) {
  ArgumentList args;
  std::wstring entry;
  bool copied = false;
  bool quoted = false;
  auto finish = [&] {
    if (copied) args.push_back(entry);
    entry.clear();
    copied = false;
  };
  for (const wchar_t* p = commandLine; p && *p; ++p) {
    wchar_t c = *p;
    if (!quoted && IsBlank(c)) {
      finish();
    } else if (c == L'"') {
      // Opening quotes join the current entry (-title="a b"); closing ones end it.
      if (quoted) finish();
      quoted = !quoted;
    } else {
      entry.push_back(c);
      copied = true;
    }
  }
  finish();
  // File names are matched without regard to case on Windows, so is the
  // program's own ("PIXVANE.EXE" typed at a prompt).
  if (!args.empty() && ContainsNoCase(args.front(), L".EXE")) args.erase(args.begin());
  return args;
}

bool IsOption(std::wstring_view entry) { return !entry.empty() && (entry[0] == L'-' || entry[0] == L'/'); }

StartupScan ScanStartup(const ArgumentList& args) {
  StartupScan scan;
  bool named = false;
  for (const std::wstring& entry : args) {
    if (IsOption(entry)) {
      std::wstring_view name = std::wstring_view(entry).substr(1);
      scan.close |= EqualsNoCase(name, L"CLOSE");
      scan.onlyOne |= EqualsNoCase(name, L"ONLYONE");
    } else if (!named && !entry.empty()) {
      named = true;
      if (IsAcceptablePath(entry)) {
        scan.fileName = entry;
      } else {
        scan.fileNameRefused = true;
      }
    }
  }
  return scan;
}

ViewerStartOptions ParseViewerOptions(const ArgumentList& args) {
  ViewerStartOptions options;
  for (const std::wstring& entry : args) {
    if (!IsOption(entry)) continue;
    std::wstring_view name = std::wstring_view(entry).substr(1);
    if (EqualsNoCase(name, L"INDEX")) {
      options.index = true;
    } else if (EqualsNoCase(name, L"FREEZE")) {
      options.freeze = true;
    } else if (EqualsNoCase(name, L"FULLSCREEN")) {
      options.fullScreen = true;
    } else if (EqualsNoCase(name, L"TOPMOST")) {
      options.topmost = true;
    } else if (StartsWithNoCase(name, L"POS=")) {
      std::wstring_view value = name.substr(4);
      size_t comma = value.find_first_of(L", \t");
      // Without a comma there is no y; a position needs both.
      if (comma == std::wstring_view::npos || value[comma] != L',') continue;
      options.x = ReadInteger(value);
      options.y = ReadInteger(value.substr(comma + 1));
    } else if (StartsWithNoCase(name, L"ZOOM=")) {
      const wchar_t* start = entry.c_str() + 6;
      wchar_t* end = nullptr;
      double zoom = std::wcstod(start, &end);
      // Zero, negative, infinite or NaN zooms would break every size derived
      // from them; such values are ignored.
      if (end == start || !std::isfinite(zoom) || zoom <= 0 || zoom > FLT_MAX) continue;
      float value = static_cast<float>(zoom);
      if (value > 0) options.zoom = value;
    } else if (StartsWithNoCase(name, L"TITLE=")) {
      options.title = std::wstring(TruncateText(name.substr(6), kMaxTitleUnits));
    }
  }
  return options;
}

std::vector<uint8_t> BuildHandOverPayload(const std::optional<std::wstring>& fileName, const ArgumentList& args) {
  if (fileName && !IsAcceptablePath(*fileName)) return {};
  std::vector<uint8_t> payload;
  AppendUtf16(payload, fileName ? *fileName : std::wstring());
  for (const std::wstring& entry : args) {
    // An empty entry would end the list early.
    if (!entry.empty()) AppendUtf16(payload, entry);
  }
  AppendUtf16(payload, {});
  return payload;
}

std::optional<HandOverRequest> ParseHandOverPayload(uint32_t tag, const uint8_t* data, size_t size) {
  if (tag != kHandOverTag || !data || size == 0 || size % 2 != 0) return std::nullopt;
  const size_t units = size / 2;
  size_t pos = 0;
  std::wstring text;
  if (!ReadUtf16String(data, units, pos, text) || !IsAcceptablePath(text)) return std::nullopt;
  HandOverRequest request;
  if (!text.empty()) request.fileName = text;
  ArgumentList args;
  for (;;) {
    if (!ReadUtf16String(data, units, pos, text)) return std::nullopt;
    if (text.empty()) break;
    args.push_back(std::move(text));
  }
  if (!args.empty()) request.args = std::move(args);
  return request;
}

std::wstring StartupShortcutArguments(int32_t x, int32_t y, float zoom, std::wstring_view path) {
  std::optional<int64_t> n = ZoomThousandths(zoom);
  if (!n || path.empty() || !IsAcceptablePath(path)) return {};
  // The three decimals come from one rounding of the whole value, so 0.7
  // (0.69999... as a float) is written as 0.700 and 1.9996 as 2.000.
  std::wstring decimals = std::to_wstring(*n % 1000);
  decimals.insert(0, 3 - decimals.size(), L'0');
  return L"-freeze -pos=" + std::to_wstring(x) + L',' + std::to_wstring(y) + L" -zoom=" + std::to_wstring(*n / 1000) +
         L'.' + decimals + L" \"" + std::wstring(path) + L'"';
}

std::wstring StartupShortcutName(std::wstring_view path) { return std::wstring(FileNamePart(path)) + L".lnk"; }

}  // namespace pv
