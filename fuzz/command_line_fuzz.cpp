// The command line with its options, as UTF-16LE: split, scanned for the
// start file, options read, and handed over as a second start would.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/endian.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring line;
  for (size_t i = 0; i + 1 < size; i += 2) line.push_back(static_cast<wchar_t>(pv::LoadU16LE(data + i)));
  const pv::ArgumentList args = pv::SplitCommandLine(line.c_str());
  const pv::StartupScan scan = pv::ScanStartup(args);
  const pv::ViewerStartOptions options = pv::ParseViewerOptions(args);
  if (options.title && options.title->size() > pv::kMaxTitleUnits) __builtin_trap();
  if (options.zoom != pv::kNoZoom && !(options.zoom > 0)) __builtin_trap();
  const std::vector<uint8_t> payload = pv::BuildHandOverPayload(scan.fileName, args);
  // A start file that ScanStartup let through is always one a payload can carry.
  if (payload.empty()) __builtin_trap();
  if (!pv::ParseHandOverPayload(pv::kHandOverTag, payload.data(), payload.size())) __builtin_trap();
  if (scan.fileName && options.zoom > 0) {
    static_cast<void>(pv::StartupShortcutArguments(options.x, options.y, options.zoom, *scan.fileName));
  }
  return 0;
}
