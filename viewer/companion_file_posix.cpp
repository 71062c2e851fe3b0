#include <cerrno>
#include <unistd.h>

#include "core/file_io.h"
#include "core/text.h"
#include "viewer/companion_file.h"

namespace pv {

// There is no hidden attribute here; the file is written plainly.
bool WriteHiddenFile(const wchar_t* path, const uint8_t* data, uint32_t size) {
  const FileHandle file = CreateFileForWrite(path);
  if (file == kNoFile) return false;
  const bool ok = WriteExact(file, data, size);
  CloseFile(file);
  return ok;
}

bool RemoveFile(const wchar_t* path) { return unlink(WideToUtf8(path).c_str()) == 0 || errno == ENOENT; }

}  // namespace pv
