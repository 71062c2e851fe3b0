// Slideshow scripts: the header, then every statement played against a host
// that shows everything and stops the show after a bounded amount of work
// (a script may loop for ever by design; the user's Esc ends it).
#include "slideshow/script_player.h"

namespace {

class Host : public pv::SlideshowHost {
 public:
  bool Exists(const std::wstring& path) override { return !path.empty() && path[0] < L'm'; }
  bool Show(const std::wstring& path) override { return !path.empty(); }
  void Prefetch(const std::wstring&) override {}
  bool AfterStatement() override { return --work_ > 0; }
  bool WaitForKey() override { return --work_ > 0; }
  Tick DelayTick() override { return --work_ > 0 ? Tick::Waited : Tick::Stop; }
  void SetAutoSize(bool) override {}
  void Shell(const std::wstring&, const std::wstring&) override {}

 private:
  int work_ = 20000;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pv::ScriptCursor cursor(data, size);
  if (!pv::ReadScriptHeader(cursor)) return 0;
  Host host;
  pv::ScriptRun run;
  static_cast<void>(pv::RunScriptBlock(cursor, host, run, false));
  return 0;
}
