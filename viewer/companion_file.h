#pragma once
// What the adjustment file needs of the file system beyond core/file_io.h.
#include <cstdint>

namespace pv {

// Creates or replaces a hidden file with these bytes.
bool WriteHiddenFile(const wchar_t* path, const uint8_t* data, uint32_t size);
// True when the file is gone afterwards.
bool RemoveFile(const wchar_t* path);

}  // namespace pv
