#pragma once
// The statements of a slideshow script, played against a host that shows
// images, waits and reads the user's input. The Windows viewer is the host;
// the tests give one of their own.
#include <string>

#include "slideshow/script_reader.h"

namespace pv {

class SlideshowHost {
 public:
  enum class Tick { Waited, Skipped, Stop };

  virtual ~SlideshowHost() = default;
  virtual bool Exists(const std::wstring& path) = 0;
  // A display statement: false when the image cannot be shown (the show ends).
  virtual bool Show(const std::wstring& path) = 0;
  // The image the show will display next, decoded ahead.
  virtual void Prefetch(const std::wstring& path) = 0;
  // The poll after every statement: false when the show must stop.
  virtual bool AfterStatement() = 0;
  // "delay key": false when the show must stop.
  virtual bool WaitForKey() = 0;
  // One 100 ms tick of a timed delay; Skipped when a key or click ends it.
  virtual Tick DelayTick() = 0;
  virtual void SetAutoSize(bool on) = 0;
  // verb is empty when the script gave none.
  virtual void Shell(const std::wstring& verb, const std::wstring& target) = 0;
};

struct ScriptRun {
  bool selfDelete = false;  // "set SelfDelete" was met
};

// Runs the block at the cursor. True when it reached its "}" or the end of
// the file; false when the show must stop, or, looking ahead, once the next
// image was found and prefetched.
bool RunScriptBlock(ScriptCursor& cursor, SlideshowHost& host, ScriptRun& run, bool lookAhead, int depth = 0);

// Delay ticks of 100 ms for a "delay" argument; a negative or unreadable
// number waits not at all.
uint32_t DelayTicks(std::string_view seconds);

}  // namespace pv
