// The platform-neutral side of the file operations: the bitmaps written for
// save-as, the clipboard and pasting, the shell operation's rules, the
// question's text, renaming and which commands a window can carry out.
#include "browse/file_operations.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "codecs/bmp/bmp_writer.h"
#include "core/endian.h"
#include "core/text.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"
#include "toolkit/command_ids.h"
#include "viewer/command_state.h"

namespace {

// Decodes bitmap bytes through our own decoder, as R, G, B, A.
std::vector<uint8_t> ReadBack(const std::vector<uint8_t>& file, const char* name, uint32_t* w, uint32_t* h) {
  const std::string path = pvtest::ScratchDir("bmp-writer") + "/" + name + ".bmp";
  EXPECT_TRUE(pv::WriteWholeFile(pvtest::Widen(path), file));
  std::vector<uint8_t> rgba;
  pv::Status status;
  EXPECT_TRUE(pvtest::DecodeToRgba(pvtest::Widen(path), &rgba, w, h, &status)) << name << std::hex << status;
  return rgba;
}

TEST(BitmapWriter, SmallBitmapIsWrittenByteForByte) {
  // 3 × 2, 24 bits: rows bottom-up, 9 pixel bytes padded to 12.
  pv::Ref<pv::ImageBuffer> image = pvtest::NewImage(pv::PixelFormat::Rgba8, 3, 2);
  const uint32_t pixels[2][3] = {{0xFF102030, 0xFF405060, 0xFF708090}, {0x80A0B0C0, 0xFFD0E0F0, 0xFF010203}};
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) pvtest::PixelAt(*image, x, y) = pixels[y][x];
  image->SetUsesAlpha(1);
  pv::DibOptions options;
  options.pixelsPerMetreX = 2835, options.pixelsPerMetreY = 3780;
  std::vector<uint8_t> file;
  ASSERT_EQ(pv::EncodeBitmapFile(*image, options, &file), pv::kStatusOk);
  const std::vector<uint8_t> expected = {
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                  // file header
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,  // size, width, height, planes, bits, BI_RGB
      24, 0, 0, 0, 0x13, 0x0B, 0, 0, 0xC4, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0xC0, 0xB0, 0xA0, 0xF0, 0xE0, 0xD0, 0x03, 0x02, 0x01, 0, 0, 0,  // the last row first, alpha dropped
      0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70, 0, 0, 0};
  EXPECT_EQ(file, expected);
}

TEST(BitmapWriter, EveryKindReadsBackThroughOurDecoder) {
  struct Case {
    const char* name;
    pv::PixelFormat format;
    uint32_t width;
    uint8_t usesAlpha;
    bool keepAlpha;  // the clipboard's form
    uint32_t bits;
  };
  const Case cases[] = {
      {"palette-odd", pv::PixelFormat::Indexed8, 5, 0, false, 8},
      {"rgb-odd", pv::PixelFormat::Rgba8, 7, 0, false, 24},
      {"alpha-saved-as-24", pv::PixelFormat::Rgba8, 6, 1, false, 24},
      {"alpha-on-clipboard", pv::PixelFormat::Rgba8, 5, 1, true, 32},
      {"opaque-on-clipboard", pv::PixelFormat::Rgba8, 3, 0, true, 24},
      {"grey16-converted", pv::PixelFormat::Grey16, 9, 0, false, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t h = 4;
    pv::Ref<pv::ImageBuffer> image = pvtest::NewImage(c.format, c.width, h);
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = image->Row(y);
      for (uint32_t i = 0; i < c.width * image->BytesPerPixel(); ++i) row[i] = static_cast<uint8_t>(y * 61 + i * 13 + 7);
      if (c.format == pv::PixelFormat::Rgba8 && !c.usesAlpha)
        for (uint32_t x = 0; x < c.width; ++x) row[x * 4 + 3] = 255;
    }
    if (c.format == pv::PixelFormat::Indexed8)
      for (uint32_t i = 0; i < 256; ++i) image->Palette()[i] = 0xFF000000u | (i * 0x010305u & 0xFFFFFF);
    image->SetUsesAlpha(c.usesAlpha);
    pv::DibOptions options;
    options.keepAlpha = c.keepAlpha;
    std::vector<uint8_t> dib, file;
    ASSERT_EQ(pv::EncodeDib(*image, options, &dib), pv::kStatusOk);
    EXPECT_EQ(pv::LoadU16LE(dib.data() + 14), c.bits);
    const size_t rowBytes = (c.width * c.bits + 31) / 32 * 4;
    EXPECT_EQ(dib.size(), 40 + (c.bits == 8 ? 1024 : 0) + rowBytes * h);
    // The clipboard's block becomes the same file that save-as writes.
    ASSERT_EQ(pv::BitmapFileFromDib(dib.data(), dib.size(), &file), pv::kStatusOk);
    uint32_t w = 0, gotH = 0;
    const std::vector<uint8_t> back = ReadBack(file, c.name, &w, &gotH);
    std::vector<uint8_t> want;
    ASSERT_EQ(pv::ToStraightRgba(*image, &want), pv::kStatusOk);
    if (c.bits != 32)
      for (size_t i = 3; i < want.size(); i += 4) want[i] = 255;
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(gotH, h);
    EXPECT_EQ(back, want);
  }
}

// A packed DIB of 4 × 2 pixels, 24 bits, with what the case changes.
std::vector<uint8_t> Dib(uint32_t headerBytes, uint16_t bits, uint32_t compression, uint32_t imageBytes,
                         uint32_t colours, size_t tail) {
  std::vector<uint8_t> d(headerBytes >= 40 ? headerBytes : 40, 0);
  pv::StoreU32LE(d.data(), headerBytes);
  pv::StoreU32LE(d.data() + 4, 4);
  pv::StoreU32LE(d.data() + 8, 2);
  pv::StoreU16LE(d.data() + 12, 1);
  pv::StoreU16LE(d.data() + 14, bits);
  pv::StoreU32LE(d.data() + 16, compression);
  pv::StoreU32LE(d.data() + 20, imageBytes);
  pv::StoreU32LE(d.data() + 32, colours);
  d.resize(d.size() + tail, 0x55);
  return d;
}

TEST(BitmapWriter, ClipboardBlocksAreCheckedBeforeTheyBecomeFiles) {
  struct Case {
    const char* name;
    std::vector<uint8_t> dib;
    pv::Status status;
    uint32_t pixelOffset;  // when accepted
  };
  const Case cases[] = {
      {"24-bit", Dib(40, 24, 0, 0, 0, 24), pv::kStatusOk, 54},
      {"bit-field masks", Dib(40, 32, 3, 0, 0, 12 + 32), pv::kStatusOk, 66},
      {"masks inside a v5 header", Dib(124, 32, 3, 0, 0, 32), pv::kStatusOk, 138},
      {"4-bit with its 16 colours", Dib(40, 4, 0, 0, 0, 64 + 8), pv::kStatusOk, 118},
      {"stated colour count", Dib(40, 8, 0, 0, 3, 12 + 8), pv::kStatusOk, 66},
      {"pixels cut short", Dib(40, 24, 0, 0, 0, 23), pv::kStatusDamaged, 0},
      {"masks missing", Dib(40, 32, 3, 0, 0, 32), pv::kStatusDamaged, 0},
      {"image size beyond the block", Dib(40, 24, 0, 0x7FFFFFF0, 0, 24), pv::kStatusDamaged, 0},
      {"too many colours", Dib(40, 8, 0, 0, 300, 1200 + 8), pv::kStatusDamaged, 0},
      {"unknown header", Dib(44, 24, 0, 0, 0, 24), pv::kStatusDamaged, 0},
      {"core header", Dib(12, 24, 0, 0, 0, 24), pv::kStatusDamaged, 0},
      {"odd depth", Dib(40, 7, 0, 0, 0, 24), pv::kStatusDamaged, 0},
      {"header cut short", Dib(40, 24, 0, 0, 0, 0), pv::kStatusDamaged, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file;
    const size_t size = c.dib.size() == 40 ? 39 : c.dib.size();
    ASSERT_EQ(pv::BitmapFileFromDib(c.dib.data(), size, &file), c.status);
    if (c.status != pv::kStatusOk) continue;
    EXPECT_EQ(pv::LoadU32LE(file.data() + 10), c.pixelOffset);
    EXPECT_EQ(pv::LoadU32LE(file.data() + 2), file.size());
    uint32_t w = 0, h = 0;
    ReadBack(file, "pasted", &w, &h);
    EXPECT_EQ(w, 4u);
  }
  // A huge image in a small block: refused without reading past it.
  std::vector<uint8_t> huge = Dib(40, 24, 0, 0, 0, 24);
  pv::StoreU32LE(huge.data() + 4, 100000);
  std::vector<uint8_t> file;
  EXPECT_EQ(pv::BitmapFileFromDib(huge.data(), huge.size(), &file), pv::kStatusDamaged);
}

TEST(FileOperations, ShellOperationsArePlannedOrRefused) {
  const auto isDirectory = [](const wchar_t* p) { return std::wstring(p) == L"C:\\other" || std::wstring(p) == L"C:\\pics"; };
  struct Case {
    pv::FileOp op;
    std::vector<std::wstring> from;
    const wchar_t* to;
    bool planned;
    pv::FileOp becomes;
    const wchar_t* targetFolder;
  };
  using pv::FileOp;
  const Case cases[] = {
      {FileOp::Move, {L"C:\\pics\\a.jpg"}, L"C:\\pics\\b.jpg", true, FileOp::Rename, L"C:\\pics\\"},
      {FileOp::Move, {L"C:\\pics\\a.jpg"}, L"c:\\PICS\\b.jpg", true, FileOp::Rename, L"c:\\PICS\\"},
      {FileOp::Move, {L"C:\\pics\\a.jpg"}, L"C:\\other", true, FileOp::Move, L"C:\\other\\"},
      {FileOp::Move, {L"C:\\pics\\a.jpg"}, L"C:\\pics", false, FileOp::Move, L""},
      {FileOp::Move, {L"C:\\pics\\a.jpg", L"C:\\pics\\b.jpg"}, L"C:\\pics\\c.jpg", false, FileOp::Move, L""},
      {FileOp::Copy, {L"C:\\pics\\a.jpg"}, L"C:\\pics", false, FileOp::Copy, L""},
      {FileOp::Copy, {L"C:\\pics\\a.jpg"}, L"C:\\pics\\copy.jpg", false, FileOp::Copy, L""},
      {FileOp::Copy, {L"C:\\pics\\a.jpg"}, L"C:\\other", true, FileOp::Copy, L"C:\\other\\"},
      {FileOp::Copy, {L"C:\\pics\\a.jpg"}, L"C:\\other\\new.jpg", true, FileOp::Copy, L"C:\\other\\"},
      {FileOp::Rename, {L"C:\\pics\\a.jpg"}, L"C:\\pics\\b.jpg", true, FileOp::Rename, L"C:\\pics\\"},
      {FileOp::Rename, {L"C:\\pics\\a.jpg"}, L"C:\\other\\b.jpg", false, FileOp::Rename, L""},
      {FileOp::Delete, {L"C:\\pics\\a.jpg"}, nullptr, true, FileOp::Delete, L""},
      {FileOp::Delete, {}, nullptr, false, FileOp::Delete, L""},
      {FileOp::Copy, {L"C:\\pics\\a.jpg"}, L"", false, FileOp::Copy, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.op) << " " << (c.to ? pv::WideToUtf8(c.to) : "-"));
    const std::optional<pv::OperationPlan> plan = pv::PlanFileOperation(c.op, c.from, c.to, isDirectory);
    ASSERT_EQ(plan.has_value(), c.planned);
    if (!plan) continue;
    EXPECT_EQ(plan->op, c.becomes);
    EXPECT_EQ(plan->targetFolder, c.targetFolder);
  }
}

TEST(FileOperations, QuestionNamesTwoFilesAndCountsTheOthers) {
  const std::pair<std::vector<std::wstring>, std::wstring> cases[] = {
      {{L"C:\\a.jpg"}, L"C:\\a.jpg"},
      {{L"C:\\a.jpg", L"C:\\b.jpg"}, L"C:\\a.jpg\n\nC:\\b.jpg"},
      {{L"C:\\a.jpg", L"C:\\b.jpg", L"C:\\c.jpg", L"C:\\d.jpg"}, L"C:\\a.jpg\n\nC:\\b.jpg\n\n... <+2> ..."},
      {{L"<clipboard>"}, L""},
      {{L"C:\\a.jpg", L"<capture>"}, L""},
      {{}, L""},
  };
  for (const auto& [files, text] : cases) EXPECT_EQ(pv::ConfirmationText(files), text);
}

TEST(FileOperations, RenameKeepsFolderAndExtension) {
  struct Case {
    const wchar_t* path;
    const wchar_t* base;
    const wchar_t* newBase;
    const wchar_t* renamed;
  };
  const Case cases[] = {
      {L"C:\\p\\holiday.2024.jpg", L"holiday.2024", L"beach", L"C:\\p\\beach.jpg"},
      {L"C:\\p.d\\noext", L"noext", L"x", L"C:\\p.d\\x"},
      {L"C:\\p\\.hidden", L".hidden", L"shown", L"C:\\p\\shown"},
      {L"D:pic.png", L"pic", L"new", L"D:new.png"},
      {L"C:\\p\\a.jpg", L"a", L"a", L""},        // unchanged
      {L"C:\\p\\a.jpg", L"a", L"", L""},
      {L"C:\\p\\a.jpg", L"a", L"..\\b", L""},     // would leave the folder
      {L"C:\\p\\a.jpg", L"a", L"b:c", L""},
      {L"C:\\p\\a.jpg", L"a", L" . ", L""},
      {L"C:\\p\\a.jpg", L"a", L"A", L"C:\\p\\A.jpg"},  // letter case alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(pv::WideToUtf8(c.path) + " -> " + pv::WideToUtf8(c.newBase));
    EXPECT_EQ(pv::SplitImageName(c.path).base, c.base);
    EXPECT_EQ(pv::RenamedPath(c.path, c.newBase), c.renamed);
  }
  std::minstd_rand random(7);
  const std::wstring scrambled = pv::ScrambledName(L"C:\\d.x\\photo.final.jpg", random);
  ASSERT_EQ(scrambled.size(), 15u);
  for (size_t i = 0; i < scrambled.size(); ++i) {
    if (i == 5 || i == 11) {
      EXPECT_EQ(scrambled[i], L'.');
    } else {
      EXPECT_TRUE(scrambled[i] >= L'a' && scrambled[i] <= L'y') << i;
    }
  }
}

TEST(CommandState, FileCommandsNeedAFileAndPasteAnImage) {
  using pv::CommandContext;
  CommandContext file;
  file.hasFile = true;
  CommandContext pseudo;  // "<clipboard>" or "<capture>"
  CommandContext clip = file;
  clip.clipboardHasImage = true;
  CommandContext show = clip;
  show.slideshow = true;
  struct Case {
    uint32_t command;
    bool withFile, pseudoImage, withClipboard, inSlideshow;
  };
  const Case cases[] = {
      {pv::kCmdSaveAs, true, true, true, true},          {pv::kCmdSetWallpaper, true, true, true, true},
      {pv::kCmdCopy, true, true, true, true},            {pv::kCmdRename, true, false, true, false},
      {pv::kCmdCopyTo, true, false, true, false},        {pv::kCmdMoveTo, true, false, true, false},
      {pv::kCmdDelete, true, false, true, false},        {pv::kCmdDeleteAndNext, true, false, true, false},
      {pv::kCmdWipe, true, false, true, false},          {pv::kCmdWipeAndNext, true, false, true, false},
      {pv::kCmdPaste, false, false, true, false},        {pv::kCmdCaptureScreen, true, true, true, false},
      {pv::kCmdCaptureWindow, true, true, true, false},  {pv::kCmdOptions, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(pv::CommandAvailable(c.command, file), c.withFile);
    EXPECT_EQ(pv::CommandAvailable(c.command, pseudo), c.pseudoImage);
    EXPECT_EQ(pv::CommandAvailable(c.command, clip), c.withClipboard);
    EXPECT_EQ(pv::CommandAvailable(c.command, show), c.inSlideshow);
  }
}

}  // namespace
