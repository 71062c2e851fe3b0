#pragma once
#include <cstdint>
#include <string>

#include "core/counted.h"

namespace pv {

// The whole content of one file as one read-only block of memory.
class ByteSource : public CountedObject {
 public:
  virtual const uint8_t* Data() const = 0;
  virtual uint64_t Size() const = 0;
  virtual const wchar_t* Path() const = 0;
  // Last-write time in 100 ns units since 1601-01-01.
  virtual bool LastWriteTime(uint64_t* fileTime) const = 0;

  // The bytes [offset, offset + n) are read for the last time for now: a
  // mapped file lets the system take those pages out of the process (a
  // later read brings them back from the file), so a decoder that copied
  // them does not hold them twice. Sources over other memory keep it.
  void DoneWith(uint64_t offset, uint64_t n) const {
    if (mappedFile_ && offset < Size()) ReleaseMappedPages(Data() + offset, n < Size() - offset ? n : Size() - offset);
  }

 protected:
  bool mappedFile_ = false;

 private:
  // Platform part of DoneWith; only whole pages inside the range go.
  static void ReleaseMappedPages(const uint8_t* p, uint64_t n);
};

// A file mapped into memory (a file mapping on Windows, mmap elsewhere).
class MappedFileSource final : public ByteSource {
 public:
  MappedFileSource() = default;
  ~MappedFileSource() override;

  // Opens and maps the whole file; false when it cannot be opened or mapped
  // (an empty file cannot be mapped).
  bool Open(const wchar_t* path);

  const uint8_t* Data() const override { return view_; }
  uint64_t Size() const override { return size_; }
  const wchar_t* Path() const override { return path_.c_str(); }
  bool LastWriteTime(uint64_t* fileTime) const override;

 private:
  void Close();

  intptr_t file_ = -1;       // HANDLE or file descriptor
  uint64_t size_ = 0;
  void* mapping_ = nullptr;  // the file-mapping handle, or the mapped region where mmap is used
  const uint8_t* view_ = nullptr;
  std::wstring path_;
};

// A range inside memory that outlives it, such as an image embedded in a
// container file's mapped view.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* address, uint32_t length) : data_(address), size_(length) {}
  const uint8_t* Data() const override { return data_; }
  uint64_t Size() const override { return size_; }
  const wchar_t* Path() const override { return L""; }
  bool LastWriteTime(uint64_t*) const override { return false; }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

}  // namespace pv
