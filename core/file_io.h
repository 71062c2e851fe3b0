#pragma once
#include <cstddef>
#include <cstdint>

namespace pv {

// Paths are at most this many UTF-16 units, terminator included.
inline constexpr size_t kMaxPathUnits = 260;

// A platform file handle (HANDLE or file descriptor); kNoFile when none.
using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;

FileHandle OpenFileForRead(const wchar_t* path);
FileHandle CreateFileForWrite(const wchar_t* path);  // creates or truncates
void CloseFile(FileHandle file);

// Creates or replaces a hidden file with these bytes: the program's own
// companion files in a user's folder.
bool WriteHiddenFile(const wchar_t* path, const uint8_t* data, uint32_t size);
// True when the file is gone afterwards.
bool RemoveFile(const wchar_t* path);

// True only when exactly count bytes were read or written.
bool ReadExact(FileHandle file, void* buffer, uint32_t count);
bool WriteExact(FileHandle file, const void* buffer, uint32_t count);
// Size in bytes, or -1.
int64_t FileSize64(FileHandle file);
// Last-write time in 100 ns units since 1601-01-01 (FILETIME); false when unknown.
bool FileLastWriteTime(FileHandle file, uint64_t* fileTime);

}  // namespace pv
