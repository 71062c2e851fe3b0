// A mapped file can be read by others but not written or deleted meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/byte_source.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"

namespace {

TEST(MappedFile, HeldFilesShareReadingOnly) {
  std::wstring path = pvtest::Widen(pvtest::ScratchDir("mapped") + "/held.bin");
  ASSERT_TRUE(pv::WriteWholeFile(path, std::vector<uint8_t>(4096, 9)));
  {
    pv::Ref<pv::MappedFileSource> s(new pv::MappedFileSource());
    ASSERT_TRUE(s->Open(path.c_str()));
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(s->Data()[4095], 9);
  }
  // Released: the file is free again.
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

}  // namespace
