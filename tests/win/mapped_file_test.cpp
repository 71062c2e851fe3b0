// A mapped file can be read, renamed and deleted by others but not written meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/byte_source.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"

namespace {

TEST(MappedFile, HeldFilesCanBeReadRenamedAndDeletedButNotWritten) {
  const std::string dir = pvtest::ScratchDir("mapped");
  std::wstring path = pvtest::Widen(dir + "/held.bin");
  const std::wstring renamed = pvtest::Widen(dir + "/renamed.bin");
  ASSERT_TRUE(pv::WriteWholeFile(path, std::vector<uint8_t>(4096, 9)));
  pv::Ref<pv::MappedFileSource> s(new pv::MappedFileSource());
  ASSERT_TRUE(s->Open(path.c_str()));
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_TRUE(MoveFileW(path.c_str(), renamed.c_str()));
  EXPECT_TRUE(DeleteFileW(renamed.c_str()));
  EXPECT_EQ(s->Data()[4095], 9);
  s.Reset();
  EXPECT_EQ(GetFileAttributesW(renamed.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
