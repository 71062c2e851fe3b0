#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/decode_tool.h"
#include "tools/image_writers.h"

namespace {

struct ToolRun { int code; std::string out, err; };

std::string Drain(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

ToolRun Tool(const std::vector<std::wstring>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int code = pv::RunDecodeTool(args, out, err);
  return {code, Drain(out), Drain(err)};
}

// A 3 x 2 picture with varied alpha.
std::vector<uint8_t> Picture() {
  return {255, 0, 0, 255,  0, 255, 0, 128,  0, 0, 255, 1,
          10, 20, 30, 40,  50, 60, 70, 255,  200, 100, 0, 77};
}

// Bad usage exits 2 with the usage text; a file that fails exits 1 with its status.
TEST(DecodeTool, UsageAndFailuresExitWithTheirCodes) {
  const std::string dir = pvtest::ScratchDir("tool-fail");
  const std::wstring junk = pvtest::Widen(dir + "/junk.bmp");
  ASSERT_TRUE(pv::WriteWholeFile(junk, std::vector<uint8_t>(100, 0x42)));
  struct Case { std::vector<std::wstring> args; int code; const char* err; };
  const char* usage = "usage:";
  const char* unknown = "error 0x80040207: unknown file format\n";
  const Case cases[] = {
      {{}, 2, usage}, {{L"--info"}, 2, usage}, {{L"--out", L"x.pam"}, 2, usage},
      {{L"--out", L"x.pam", L"a.bmp", L"--frame", L"two"}, 2, usage},
      {{L"--out", L"x.pam", L"a.bmp", L"--size", L"0x5"}, 2, usage},
      {{L"--out", L"x.pam", L"a.bmp", L"--size", L"12"}, 2, usage},
      {{L"--info", L"a.bmp", L"--out", L"x.pam", L"b.bmp"}, 2, usage},
      {{L"--bogus", L"a.bmp"}, 2, usage},
      {{L"--info", pvtest::Widen(dir + "/missing.bmp")}, 1, "error 0x80040203: the file could not be opened\n"},
      {{L"--info", junk}, 1, unknown},
      {{L"--out", pvtest::Widen(dir + "/o.pam"), junk}, 1, unknown},
  };
  for (const Case& c : cases) {
    const ToolRun r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.size();
    if (c.code == 2) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(r.out, "");
  }
}

#if defined(__SSE2__)
TEST(StraightRows, VectorFormMatchesScalar) {
  std::vector<uint8_t> in(4 * 37);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 89 + 7);
  for (uint32_t width : {0u, 1u, 3u, 4u, 5u, 8u, 37u}) {
    for (uint8_t usesAlpha : {0, 1, 2}) {
      for (bool swap : {false, true}) {
        SCOPED_TRACE(testing::Message() << width << " pixels, alpha " << int{usesAlpha} << ", swap " << swap);
        std::vector<uint8_t> vector(4 * 37 + 4, 0xEE), scalar(vector);
        pv::sse2::StraightRow(vector.data(), in.data(), width, usesAlpha, swap);
        pv::scalar::StraightRow(scalar.data(), in.data(), width, usesAlpha, swap);
        EXPECT_EQ(vector, scalar);
      }
    }
  }
}
#endif

TEST(DecodeTool, InfoListsTheHeaderAndOutWritesStraightRgba) {
  const std::string dir = pvtest::ScratchDir("tool-out");
  const std::wstring file = pvtest::Widen(dir + "/pic.bmp");
  ASSERT_TRUE(pv::WriteWholeFile(file, pv::EncodeBmp32(Picture(), 3, 2)));
  ToolRun r = Tool({L"--info", file});
  ASSERT_EQ(r.code, 0) << r.err;
  const char* lines[] = {"format\tbmp\n", "width\t3\n", "height\t2\n", "pixel-format\tRgba8\n",
                         "colour-model\tRGB\n", "frames\t1\n", "property\t1\tBits per pixel\t32\n", "property\t3\tCompression\tNone\n",
                         "property\t4\tFile format\tWindows bitmap format\n", "property\t7\tTitle\tpic\n"};
  for (const char* line : lines) EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_NE(r.out.find("property\t6\tFile size\t"), std::string::npos);  // the size in bytes

  r = Tool({L"--out", pvtest::Widen(dir + "/pic.pam"), file});
  ASSERT_EQ(r.code, 0) << r.err;
  pvtest::Pam pam;
  ASSERT_TRUE(pvtest::ReadPam(dir + "/pic.pam", &pam));
  EXPECT_EQ((std::vector<uint32_t>{pam.width, pam.height, pam.depth}), (std::vector<uint32_t>{3, 2, 4}));
  EXPECT_EQ(pam.data, Picture());
  // The bitmap written decodes back to the same pixels.
  r = Tool({L"--out", pvtest::Widen(dir + "/again.bmp"), file});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<uint8_t> rgba;
  uint32_t w = 0, h = 0;
  pv::Status s;
  ASSERT_TRUE(pvtest::DecodeToRgba(pvtest::Widen(dir + "/again.bmp"), &rgba, &w, &h, &s));
  EXPECT_EQ(rgba, Picture());
}

}  // namespace
