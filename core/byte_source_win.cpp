#include <windows.h>

#include "core/byte_source.h"
#include "core/file_io.h"

namespace pv {

MappedFileSource::~MappedFileSource() { Close(); }

void MappedFileSource::Close() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  if (mapping_) CloseHandle(mapping_);
  mapping_ = nullptr;
  if (reinterpret_cast<HANDLE>(file_) != INVALID_HANDLE_VALUE) CloseHandle(reinterpret_cast<HANDLE>(file_));
  file_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
}

bool MappedFileSource::Open(const wchar_t* path) {
  Close();
  path_ = path ? path : L"";
  size_ = 0;
  // Delete sharing lets the user rename or delete a file that is being shown.
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  file_ = reinterpret_cast<intptr_t>(file);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    size_ = ~uint64_t{0};
  } else {
    size_ = (uint64_t{high} << 32) | low;
  }
  mapping_ = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping_) return false;
  view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
  mappedFile_ = view_ != nullptr;
  return mappedFile_;
}

void ByteSource::ReleaseMappedPages(const uint8_t* p, uint64_t n) {
  // Unlocking pages that are not locked takes them out of the working set.
  VirtualUnlock(const_cast<uint8_t*>(p), static_cast<SIZE_T>(n));
}

bool MappedFileSource::LastWriteTime(uint64_t* fileTime) const { return FileLastWriteTime(file_, fileTime); }

}  // namespace pv
