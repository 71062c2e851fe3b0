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
  ToolRun r;
  r.code = pv::RunDecodeTool(args, out, err);
  r.out = Drain(out);
  r.err = Drain(err);
  return r;
}

// A 3 x 2 picture with varied alpha.
std::vector<uint8_t> Picture() {
  return {255, 0, 0, 255,  0, 255, 0, 128,  0, 0, 255, 1,
          10, 20, 30, 40,  50, 60, 70, 255,  200, 100, 0, 77};
}

TEST(DecodeTool, BadUsageExitsTwo) {
  const std::vector<std::vector<std::wstring>> cases = {
      {},
      {L"--info"},
      {L"--out", L"x.pam"},
      {L"--out", L"x.pam", L"a.bmp", L"--frame", L"two"},
      {L"--out", L"x.pam", L"a.bmp", L"--size", L"0x5"},
      {L"--out", L"x.pam", L"a.bmp", L"--size", L"12"},
      {L"--info", L"a.bmp", L"--out", L"x.pam", L"b.bmp"},
      {L"--bogus", L"a.bmp"},
  };
  for (const auto& args : cases) {
    ToolRun r = Tool(args);
    EXPECT_EQ(r.code, 2) << args.size();
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
}

TEST(DecodeTool, FailuresPrintTheStatusAndExitOne) {
  std::string dir = pvtest::ScratchDir("tool-fail");
  ASSERT_TRUE(pv::WriteWholeFile(pvtest::Widen(dir + "/junk.bmp"), std::vector<uint8_t>(100, 0x42)));
  struct Case { std::vector<std::wstring> args; const char* err; };
  const Case cases[] = {
      {{L"--info", pvtest::Widen(dir + "/missing.bmp")}, "error 0x80040203: the file could not be opened\n"},
      {{L"--info", pvtest::Widen(dir + "/junk.bmp")}, "error 0x80040207: unknown file format\n"},
      {{L"--out", pvtest::Widen(dir + "/o.pam"), pvtest::Widen(dir + "/junk.bmp")},
       "error 0x80040207: unknown file format\n"},
  };
  for (const Case& c : cases) {
    ToolRun r = Tool(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(DecodeTool, InfoListsTheHeaderAndProperties) {
  std::string dir = pvtest::ScratchDir("tool-info");
  std::wstring file = pvtest::Widen(dir + "/pic.bmp");
  ASSERT_TRUE(pv::WriteWholeFile(file, pv::EncodeBmp32(Picture(), 3, 2)));
  ToolRun r = Tool({L"--info", file});
  ASSERT_EQ(r.code, 0) << r.err;
  const char* lines[] = {"format\tbmp\n", "width\t3\n", "height\t2\n", "pixel-format\tRgba8\n",
                         "colour-model\tRGB\n", "frames\t1\n", "property\t1\t32\n", "property\t3\tNone\n",
                         "property\t4\tWindows bitmap format\n", "property\t7\tpic\n"};
  for (const char* line : lines) EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_NE(r.out.find("property\t6\t"), std::string::npos);  // the size in bytes
}

TEST(DecodeTool, OutWritesStraightRgbaAsPamOrBitmap) {
  std::string dir = pvtest::ScratchDir("tool-out");
  std::wstring file = pvtest::Widen(dir + "/pic.bmp");
  ASSERT_TRUE(pv::WriteWholeFile(file, pv::EncodeBmp32(Picture(), 3, 2)));
  ToolRun r = Tool({L"--out", pvtest::Widen(dir + "/pic.pam"), file});
  ASSERT_EQ(r.code, 0) << r.err;
  pvtest::Pam pam;
  ASSERT_TRUE(pvtest::ReadPam(dir + "/pic.pam", &pam));
  EXPECT_EQ(pam.width, 3u);
  EXPECT_EQ(pam.height, 2u);
  EXPECT_EQ(pam.depth, 4u);
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
