#include <windows.h>

#include "core/file_io.h"

namespace pv {

namespace {
HANDLE H(FileHandle f) { return reinterpret_cast<HANDLE>(f); }
}  // namespace

FileHandle OpenFileForRead(const wchar_t* path) {
  return reinterpret_cast<FileHandle>(
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
}

FileHandle CreateFileForWrite(const wchar_t* path) {
  return reinterpret_cast<FileHandle>(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

void CloseFile(FileHandle file) {
  if (H(file) != INVALID_HANDLE_VALUE) CloseHandle(H(file));
}

bool ReadExact(FileHandle file, void* buffer, uint32_t count) {
  DWORD done = 0;
  return ReadFile(H(file), buffer, count, &done, nullptr) && done == count;
}

bool WriteExact(FileHandle file, const void* buffer, uint32_t count) {
  DWORD done = 0;
  return WriteFile(H(file), buffer, count, &done, nullptr) && done == count;
}

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

bool RemoveFile(const wchar_t* path) { return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND; }

bool FileLastWriteTime(FileHandle file, uint64_t* fileTime) {
  FILETIME ft;
  if (!GetFileTime(H(file), nullptr, nullptr, &ft)) return false;
  *fileTime = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return true;
}

int64_t FileSize64(FileHandle file) {
  DWORD high = 0;
  DWORD low = GetFileSize(H(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

}  // namespace pv
