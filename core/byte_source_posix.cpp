#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/byte_source.h"
#include "core/file_io.h"
#include "core/text.h"

namespace pv {

MappedFileSource::~MappedFileSource() { Close(); }

void MappedFileSource::Close() {
  if (mapping_) munmap(mapping_, static_cast<size_t>(size_));
  mapping_ = nullptr;
  view_ = nullptr;
  if (file_ >= 0) close(static_cast<int>(file_));
  file_ = -1;
}

bool MappedFileSource::Open(const wchar_t* path) {
  Close();
  path_ = path ? path : L"";
  size_ = 0;
  int fd = open(WideToUtf8(path_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  file_ = fd;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    size_ = ~uint64_t{0};
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  if (size_ == 0) return false;
  void* view = mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) return false;
  mapping_ = view;
  view_ = static_cast<const uint8_t*>(view);
  mappedFile_ = true;
  return true;
}

void ByteSource::ReleaseMappedPages(const uint8_t* p, uint64_t n) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  // The view is a private, never written mapping: dropped pages are read
  // again from the file, not lost.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

bool MappedFileSource::LastWriteTime(uint64_t* fileTime) const { return FileLastWriteTime(file_, fileTime); }

}  // namespace pv
