#include <windows.h>

#include "viewer/companion_file.h"

namespace pv {

bool WriteHiddenFile(const wchar_t* path, const uint8_t* data, uint32_t size) {
  // A hidden file cannot be opened with CREATE_ALWAYS without the hidden
  // attribute, so it is asked for every time.
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

bool RemoveFile(const wchar_t* path) {
  return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace pv
