// The start-up parsers: the command line with its options, the hand-over
// record a second start sends, and the stored key bindings. The first byte
// chooses the parser; a record that is accepted must be rebuilt byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/endian.h"
#include "settings/key_bindings.h"

namespace {

void CheckRebuild(const uint8_t* payload, size_t size) {
  auto request = pv::ParseHandOverPayload(pv::kHandOverTag, payload, size);
  if (!request) return;
  std::vector<uint8_t> rebuilt = pv::BuildHandOverPayload(request->fileName, request->args.value_or(pv::ArgumentList()));
  // Whatever followed the list is not part of the record.
  if (rebuilt.size() > size || !std::equal(rebuilt.begin(), rebuilt.end(), payload)) __builtin_trap();
}

void CommandLine(const uint8_t* data, size_t size) {
  std::wstring line;
  for (size_t i = 0; i + 1 < size; i += 2) line.push_back(static_cast<wchar_t>(pv::LoadU16LE(data + i)));
  pv::ArgumentList args = pv::SplitCommandLine(line.c_str());
  pv::StartupScan scan = pv::ScanStartup(args);
  pv::ViewerStartOptions options = pv::ParseViewerOptions(args);
  if (options.title && options.title->size() > pv::kMaxTitleUnits) __builtin_trap();
  if (options.zoom != pv::kNoZoom && !(options.zoom > 0)) __builtin_trap();
  std::vector<uint8_t> payload = pv::BuildHandOverPayload(scan.fileName, args);
  if (payload.empty()) __builtin_trap();
  CheckRebuild(payload.data(), payload.size());
  if (scan.fileName && options.zoom > 0) {
    pv::StartupShortcutArguments(options.x, options.y, options.zoom, *scan.fileName);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 3) {
    case 0: CommandLine(data + 1, size - 1); break;
    case 1: CheckRebuild(size > 1 ? data + 1 : nullptr, size - 1); break;
    case 2: pv::ParseKeyBindings(data + 1, size - 1, (size - 1) / pv::kStoredKeyBindingSize); break;
  }
  return 0;
}
