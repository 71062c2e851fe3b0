// The hand-over record of a second start as the receiving window reads it:
// the record, then the open options of its argument list. A record that is
// accepted must be rebuilt byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto request = pv::ParseHandOverPayload(pv::kHandOverTag, size ? data : nullptr, size);
  if (!request) return 0;
  const pv::ArgumentList args = request->args.value_or(pv::ArgumentList());
  const pv::ViewerStartOptions options = pv::ParseViewerOptions(args);
  if (options.title && options.title->size() > pv::kMaxTitleUnits) __builtin_trap();
  if (options.zoom != pv::kNoZoom && !(options.zoom > 0)) __builtin_trap();
  const std::vector<uint8_t> rebuilt = pv::BuildHandOverPayload(request->fileName, args);
  // Whatever followed the list is not part of the record.
  if (rebuilt.size() > size || !std::equal(rebuilt.begin(), rebuilt.end(), data)) __builtin_trap();
  return 0;
}
