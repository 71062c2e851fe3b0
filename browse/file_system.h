#pragma once
#include <cstdint>
#include <functional>

namespace pv {

// What a folder search reports of one entry.
struct FolderEntryInfo {
  uint64_t size = 0;
  uint64_t lastWriteTime = 0;  // FILETIME units
  bool directory = false;
  bool hidden = false;
};

// Runs visit(name, info) for every entry matching `pattern` (a folder path
// followed by a wildcard name such as "*"), until visit returns false.
// False when the search could not start.
bool SearchFolder(const wchar_t* pattern,
                  const std::function<bool(const wchar_t* name, const FolderEntryInfo& info)>& visit);

// Whether a file, folder or drive ("X:") exists.
bool PathExists(const wchar_t* path);

// The shell's logical name order (digit runs as numbers, case ignored) and
// the plain ordinal order; negative, zero or positive.
int CompareLogical(const wchar_t* a, const wchar_t* b);
int CompareOrdinal(const wchar_t* a, const wchar_t* b);

// Free page-file bytes the system reports; UINT64_MAX when unknown.
uint64_t AvailablePageFileBytes();

}  // namespace pv
