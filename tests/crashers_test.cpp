// Every input that ever broke a decoder, replayed through the whole road of
// a file. Each must end in a status or an image; a crash, a hang or a read
// outside the file fails the build that runs it (native, sanitizers, Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"

namespace {

TEST(Crashers, EachEndsInAStatusOrAnImage) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  const std::string dir = pvtest::OwnDataDir("crashers");

  // NOTES.tsv: file, what it broke, the fix; every file has its note.
  const std::vector<uint8_t> notes = pvtest::ReadFileBytes(dir + "/NOTES.tsv");
  std::istringstream lines(std::string(notes.begin(), notes.end()));
  std::string line;
  std::getline(lines, line);
  std::set<std::string> noted, present;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string file, broke, fix;
    EXPECT_TRUE(std::getline(fields, file, '\t') && std::getline(fields, broke, '\t') && std::getline(fields, fix) &&
                !broke.empty() && !fix.empty())
        << line;
    noted.insert(file);
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(pvtest::Widen(dir)), ec)) {
    const std::string name = entry.path().filename().string();
    if (name != "NOTES.tsv") present.insert(name);
  }
  ASSERT_FALSE(noted.empty());
  EXPECT_EQ(present, noted);

  for (const std::string& file : noted) {
    SCOPED_TRACE(file);
    pv::Ref<pv::ImageBuffer> image;
    const pv::Status status = pv::LoadImageFile(pvtest::Widen(dir + "/" + file).c_str(), pv::LoadOptions(), &image);
    if (pv::Failed(status)) {
      EXPECT_GE(status, pv::kStatusFormatMismatch) << std::hex << status;
      EXPECT_LE(status, pv::kStatusCancelled) << std::hex << status;
      continue;
    }
    // Every pixel of every frame is read, so that a buffer the decoder
    // sized wrongly shows under the sanitizers.
    ASSERT_TRUE(image);
    for (pv::ImageBuffer* frame = image.get(); frame; frame = frame->Frame().next) {
      std::vector<uint8_t> rgba;
      EXPECT_EQ(pv::ToStraightRgba(*frame, &rgba), pv::kStatusOk);
      EXPECT_EQ(rgba.size(), size_t{frame->Width()} * frame->Height() * 4);
    }
  }
}

}  // namespace
