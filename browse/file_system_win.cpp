#include <windows.h>
#include <shlwapi.h>

#include "browse/file_names.h"
#include "browse/file_system.h"

namespace pv {

bool SearchFolder(const wchar_t* pattern,
                  const std::function<bool(const wchar_t* name, const FolderEntryInfo& info)>& visit) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    FolderEntryInfo info;
    info.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info.lastWriteTime = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    info.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    if (!visit(data.cFileName, info)) break;
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return true;
}

bool PathExists(const wchar_t* path) {
  if (!path[0]) return false;
  if (path[1] == L':' && path[2] == 0) {
    wchar_t letter = path[0] | 0x20;
    if (letter < L'a' || letter > L'z') return false;
    return (GetLogicalDrives() >> (letter - L'a')) & 1;
  }
  wchar_t search[kMaxPathUnits + 16];
  if (!SearchPathFor(path, search, sizeof search / sizeof search[0])) return false;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(search, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

int CompareLogical(const wchar_t* a, const wchar_t* b) { return StrCmpLogicalW(a, b); }
int CompareOrdinal(const wchar_t* a, const wchar_t* b) { return StrCmpW(a, b); }

uint64_t AvailablePageFileBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
  return status.ullAvailPageFile;
}

}  // namespace pv
