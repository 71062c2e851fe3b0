#include "viewer/adjustment_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "core/endian.h"
#include "test_support.h"

namespace {

using pv::ViewAdjustments;

std::vector<uint8_t> Entry(const char* tag, float value) {
  std::vector<uint8_t> e(8);
  std::memcpy(e.data(), tag, 4);
  std::memcpy(e.data() + 4, &value, 4);
  return e;
}

// A PVIA file of the given chunks; riffSize 0 means the true size.
std::vector<uint8_t> File(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks,
                          uint32_t riffSize = 0, const char* form = "PVIA") {
  std::vector<uint8_t> f(12);
  std::memcpy(f.data(), "RIFF", 4);
  std::memcpy(f.data() + 8, form, 4);
  for (const auto& [id, data] : chunks) {
    f.insert(f.end(), id.begin(), id.end());
    uint8_t size[4];
    pv::StoreU32LE(size, static_cast<uint32_t>(data.size()));
    f.insert(f.end(), size, size + 4);
    f.insert(f.end(), data.begin(), data.end());
  }
  pv::StoreU32LE(f.data() + 4, riffSize ? riffSize : static_cast<uint32_t>(f.size() - 8));
  return f;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(AdjustmentFile, WritesNonNeutralValuesInTagOrder) {
  ViewAdjustments v;
  v.orientation = 6;
  v.colour.invert = true;
  v.colour.gamma = 0.5f;
  v.colour.contrast = -0.25f;
  v.sharpening = 2;
  const std::vector<uint8_t> expected =
      File({{"LADJ", Concat({Entry("CCTR", -0.25f), Entry("CGAM", 0.5f), Entry("CINV", 1.0f), Entry("ISHA", 2.0f),
                             Entry("IROT", 6.0f)})}});
  EXPECT_EQ(pv::EncodeAdjustments(v, 0), expected);
  EXPECT_EQ(pv::LoadU32LE(expected.data() + 4), 12u + 8 * 5);  // as the header says: 12 + 8 n

  // The image's own orientation is not stored; all neutral gives no file.
  v = ViewAdjustments{};
  v.orientation = 3;
  EXPECT_TRUE(pv::EncodeAdjustments(v, 3).empty());
  EXPECT_TRUE(pv::EncodeAdjustments(ViewAdjustments{}, 0).empty());
}

TEST(AdjustmentFile, ReaderSkipsChunksAndStopsAtTheReadableEnd) {
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    bool accepted;
    float contrast;
    uint8_t orientation;
    bool invert = false;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<uint8_t> good = File({{"LADJ", Concat({Entry("CCTR", 0.5f), Entry("IROT", 2.0f)})}});
  std::vector<uint8_t> notPvia = good;
  std::memcpy(notPvia.data() + 8, "PVIC", 4);
  std::vector<uint8_t> huge = File({{"JUNK", {}}, {"LADJ", Concat({Entry("CCTR", 0.5f)})}});
  pv::StoreU32LE(huge.data() + 16, 0xFFFFFFF8u);  // the skipped chunk claims 4 GB: the walk ends
  std::vector<uint8_t> past = File({{"LADJ", Concat({Entry("CCTR", 0.5f), {0, 0, 0}})}});
  pv::StoreU32LE(past.data() + 16, 0xFFFFFFF0u);
  const Row rows[] = {
      {"plain", good, true, 0.5f, 2}, {"other form", notPvia, false, 0, 9},
      {"short", std::vector<uint8_t>(good.begin(), good.begin() + 11), false, 0, 9},
      {"unknown chunk first", File({{"XTRA", {1, 2, 3}}, {"LADJ", Entry("CCTR", 0.5f)}}), true, 0.5f, 9},
      {"huge chunk size", huge, true, 0, 9},
      // The RIFF size ends the file after the first entry.
      {"riff size short", File({{"LADJ", Concat({Entry("CCTR", 0.5f), Entry("IROT", 2.0f)})}}, 12 + 8), true, 0.5f,
       9},
      // A chunk size beyond the file: the whole entries that are there count.
      {"chunk past end", past, true, 0.5f, 9},
      {"unknown tag", File({{"LADJ", Concat({Entry("ZZZZ", 3.0f), Entry("IROT", 2.5f)})}}), true, 0, 3},
      {"orientation rounded", File({{"LADJ", Entry("IROT", 4.49f)}}), true, 0, 4},
      {"orientation huge", File({{"LADJ", Entry("IROT", 1e30f)}}), true, 0, 15},
      {"orientation negative", File({{"LADJ", Entry("IROT", -7.0f)}}), true, 0, 0},
      {"orientation nan", File({{"LADJ", Entry("IROT", nan)}}), true, 0, 0},
      {"invert from one half up", File({{"LADJ", Entry("CINV", 0.5f)}}), true, 0, 9, true},
      {"no invert below one half", File({{"LADJ", Entry("CINV", 0.49f)}}), true, 0, 9, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ViewAdjustments v;
    v.orientation = 9;
    EXPECT_EQ(pv::DecodeAdjustments(r.file.data(), r.file.size(), &v), r.accepted);
    EXPECT_EQ(v.colour.contrast, r.contrast);
    EXPECT_EQ(v.orientation, r.orientation);
    EXPECT_EQ(v.colour.invert, r.invert);
  }
}

TEST(AdjustmentFile, CompanionIsWrittenBesideTheImageAndDeletedWhenNeutral) {
  const std::string dir = pvtest::ScratchDir("adjustment-file");
  const std::wstring image = pvtest::Widen(dir + "/photo.jpg");
  EXPECT_EQ(pv::AdjustmentFilePath(image.c_str()), image + L".pva");
  // Every value round trips.
  ViewAdjustments v{.colour = {0.1f, 0.2f, -0.3f, 0.4f, 0.5f, -0.6f, 0.7f, 0.8f, 1.9f, true}, .sharpening = 0.75f,
                    .orientation = 13};
  ViewAdjustments read;
  // Written twice: the second write replaces a file the first one left hidden.
  for (float contrast : {0.5f, -0.5f}) {
    v.colour.contrast = contrast;
    ASSERT_TRUE(pv::WriteAdjustmentFile(image.c_str(), v, 0));
    EXPECT_TRUE(std::filesystem::exists(dir + "/photo.jpg.pva"));
    ASSERT_TRUE(pv::ReadAdjustmentFile(image.c_str(), &read));
    EXPECT_EQ(read, v);
  }
  // Neutral values remove the file; there being none is no failure.
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(pv::WriteAdjustmentFile(image.c_str(), ViewAdjustments{}, 0));
  EXPECT_FALSE(std::filesystem::exists(dir + "/photo.jpg.pva"));
  EXPECT_FALSE(pv::ReadAdjustmentFile(image.c_str(), &read));
}

}  // namespace
