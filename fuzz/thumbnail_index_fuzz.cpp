// The thumbnail index file read from bytes; what reads back is written and
// must read back as itself.
#include <cstring>
#include <vector>

#include "browse/thumbnail_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pv::ThumbnailBox box;
  std::vector<pv::ThumbnailEntry> entries;
  if (!pv::DecodeThumbnailIndex(data, size, &box, &entries) || entries.empty()) return 0;
  const std::vector<uint8_t> again = pv::EncodeThumbnailIndex(entries, box);
  pv::ThumbnailBox box2 = box;
  std::vector<pv::ThumbnailEntry> entries2;
  if (!pv::DecodeThumbnailIndex(again.data(), again.size(), &box2, &entries2) || entries2.size() != entries.size())
    __builtin_trap();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].pixels != entries2[i].pixels || entries[i].extraText != entries2[i].extraText) __builtin_trap();
  }
  return 0;
}
