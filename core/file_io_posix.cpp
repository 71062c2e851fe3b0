#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_io.h"
#include "core/text.h"

namespace pv {

FileHandle OpenFileForRead(const wchar_t* path) {
  return open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
}

FileHandle CreateFileForWrite(const wchar_t* path) {
  return open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void CloseFile(FileHandle file) {
  if (file >= 0) close(static_cast<int>(file));
}

bool ReadExact(FileHandle file, void* buffer, uint32_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = read(static_cast<int>(file), p + done, count - done);
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool WriteExact(FileHandle file, const void* buffer, uint32_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(static_cast<int>(file), p + done, count - done);
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

// There is no hidden attribute here; the file is written plainly.
bool WriteHiddenFile(const wchar_t* path, const uint8_t* data, uint32_t size) {
  const FileHandle file = CreateFileForWrite(path);
  if (file == kNoFile) return false;
  const bool ok = WriteExact(file, data, size);
  CloseFile(file);
  return ok;
}

bool RemoveFile(const wchar_t* path) { return unlink(WideToUtf8(path).c_str()) == 0 || errno == ENOENT; }

int64_t FileSize64(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool FileLastWriteTime(FileHandle file, uint64_t* fileTime) {
  // 100 ns units from 1601-01-01 to 1970-01-01.
  constexpr uint64_t kUnixEpochInFileTime = 11644473600ull * 10000000ull;
  struct stat st;
  if (file < 0 || fstat(static_cast<int>(file), &st) != 0) return false;
  *fileTime = kUnixEpochInFileTime + static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000ull +
              static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  return true;
}

}  // namespace pv
