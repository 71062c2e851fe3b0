#pragma once
// The command line of the viewer, the hand-over of a second start to the
// running process, and the arguments of the Startup shortcuts of frozen
// windows. No system calls: the entry point feeds in GetCommandLineW and the
// WM_COPYDATA fields.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_io.h"

namespace pv {

// Entries of the command line, in order, without the program's own path.
using ArgumentList = std::vector<std::wstring>;

// A path must leave room for its terminator in a MAX_PATH buffer.
bool IsAcceptablePath(std::wstring_view name);

// Blanks separate entries; a quote outside quotes opens a quoted stretch
// (blanks kept), a quote inside one ends the entry. Entries into which nothing
// was copied are dropped. A first entry containing ".exe" is the program's
// own path and is dropped too.
ArgumentList SplitCommandLine(const wchar_t* commandLine);

// Entries beginning with '-' or '/' are options.
bool IsOption(std::wstring_view entry);

// What the program entry needs before anything else: the instance options
// and the start file (the first entry that is not an option).
struct StartupScan {
  bool close = false;
  bool onlyOne = false;
  std::optional<std::wstring> fileName;
  // A start file was named but is too long to be a path; the caller reports
  // it as a file that cannot be opened instead of opening anything.
  bool fileNameRefused = false;
};
StartupScan ScanStartup(const ArgumentList& args);

inline constexpr int32_t kNoPosition = INT32_MIN;
inline constexpr float kNoZoom = -1.0f;
// Longest TITLE= text kept. Running instances are recognised by "Pixvane" in
// the first 512 units of a window title, and the window text is the title
// plus " - Pixvane": a bounded title keeps that suffix inside what is read.
inline constexpr size_t kMaxTitleUnits = 256;

// The options of one open request.
struct ViewerStartOptions {
  std::optional<std::wstring> title;
  int32_t x = kNoPosition;
  int32_t y = kNoPosition;
  float zoom = kNoZoom;  // 1.0 is 100 %
  bool fullScreen = false;
  bool freeze = false;
  bool topmost = false;
  bool index = false;
};
// Options are matched without regard to case; unknown ones and non-options
// are skipped; a later option overrides an earlier one.
ViewerStartOptions ParseViewerOptions(const ArgumentList& args);

// WM_COPYDATA's dwData of a hand-over: "pvRF" as a little-endian number.
inline constexpr uint32_t kHandOverTag = 0x46527670;

// The hand-over data as UTF-16LE: the start file name (empty when none) and
// its zero, every argument with its zero, and one more zero. Empty when the
// file name is not an acceptable path.
std::vector<uint8_t> BuildHandOverPayload(const std::optional<std::wstring>& fileName, const ArgumentList& args);

struct HandOverRequest {
  std::optional<std::wstring> fileName;  // none when the first string is empty
  std::optional<ArgumentList> args;      // none when the list is empty
};
// Checks a received WM_COPYDATA. Refused unless the tag matches and the file
// name and the whole argument list, ended by an empty entry, lie inside the
// `size` bytes, which come in whole UTF-16 units; a file name that is not an
// acceptable path is refused as well.
std::optional<HandOverRequest> ParseHandOverPayload(uint32_t tag, const uint8_t* data, size_t size);

// The arguments of the Startup shortcut that restores a frozen window at the
// next logon, the zoom with three decimals; empty when the path is not
// acceptable.
std::wstring StartupShortcutArguments(int32_t x, int32_t y, float zoom, std::wstring_view path);
// "name.ext.lnk" for the file `path`.
std::wstring StartupShortcutName(std::wstring_view path);

}  // namespace pv
