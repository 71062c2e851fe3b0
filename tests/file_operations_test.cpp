// The platform-neutral side of the file operations: the bitmaps of save-as,
// the clipboard and pasting, the shell operation's rules, the question's
// text, renaming, and which commands a window can carry out.
#include "browse/file_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "codecs/bmp/bmp_writer.h"
#include "core/endian.h"
#include "core/text.h"
#include "tests/test_support.h"
#include "tools/image_writers.h"
#include "toolkit/command_ids.h"
#include "viewer/command_state.h"

namespace {

// Bitmap bytes decoded by our own decoder, as R, G, B, A; w is 0 on failure.
std::vector<uint8_t> ReadBack(const std::vector<uint8_t>& file, uint32_t* w, uint32_t* h) {
  const std::wstring path = pvtest::Widen(pvtest::ScratchDir("bmp-writer") + "/out.bmp");
  std::vector<uint8_t> rgba;
  pv::Status status;
  *w = 0;
  if (!pv::WriteWholeFile(path, file) || !pvtest::DecodeToRgba(path, &rgba, w, h, &status)) *w = 0;
  return rgba;
}

TEST(BitmapWriter, SmallBitmapIsWrittenByteForByte) {
  // 3 × 2 with alpha, saved in 24 bits: rows bottom-up, 9 bytes padded to 12.
  pv::Ref<pv::ImageBuffer> image = pvtest::SolidImage(3, 2, 0, 1);
  const uint32_t pixels[6] = {0xFF102030, 0xFF405060, 0xFF708090, 0x80A0B0C0, 0xFFD0E0F0, 0xFF010203};
  for (uint32_t i = 0; i < 6; ++i) pvtest::PixelAt(*image, i % 3, i / 3) = pixels[i];
  std::vector<uint8_t> file;
  ASSERT_EQ(pv::EncodeBitmapFile(*image, {false, 2835, 3780}, &file), pv::kStatusOk);
  const std::vector<uint8_t> expected = {
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
      24, 0, 0, 0, 0x13, 0x0B, 0, 0, 0xC4, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0xC0, 0xB0, 0xA0, 0xF0, 0xE0, 0xD0, 0x03, 0x02, 0x01, 0, 0, 0, 0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70, 0, 0, 0};
  EXPECT_EQ(file, expected);
}

TEST(BitmapWriter, EveryKindReadsBackThroughTheClipboardFormAndOurDecoder) {
  struct Case {
    pv::PixelFormat format;
    uint32_t width;
    uint8_t usesAlpha;
    bool keepAlpha;  // the clipboard's form
    uint32_t bits;
  };
  const Case cases[] = {{pv::PixelFormat::Indexed8, 5, 0, false, 8}, {pv::PixelFormat::Rgba8, 7, 0, false, 24},
                        {pv::PixelFormat::Rgba8, 6, 1, false, 24},   {pv::PixelFormat::Rgba8, 5, 1, true, 32},
                        {pv::PixelFormat::Rgba8, 3, 0, true, 24},    {pv::PixelFormat::Grey16, 9, 0, false, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " pixels, " << c.bits << " bits");
    pv::Ref<pv::ImageBuffer> image = pvtest::NewImage(c.format, c.width, 4);
    for (uint32_t y = 0; y < 4; ++y) {
      for (uint32_t i = 0; i < c.width * image->BytesPerPixel(); ++i)
        image->Row(y)[i] = static_cast<uint8_t>(c.format == pv::PixelFormat::Rgba8 && !c.usesAlpha && i % 4 == 3
                                                    ? 255 : y * 61 + i * 13 + 7);
    }
    for (uint32_t i = 0; c.format == pv::PixelFormat::Indexed8 && i < 256; ++i)
      image->Palette()[i] = 0xFF000000u | (i * 0x010305u & 0xFFFFFF);
    image->SetUsesAlpha(c.usesAlpha);
    std::vector<uint8_t> dib, file, want;
    ASSERT_EQ(pv::EncodeDib(*image, {c.keepAlpha, 0, 0}, &dib), pv::kStatusOk);
    EXPECT_EQ(pv::LoadU16LE(dib.data() + 14), c.bits);
    EXPECT_EQ(dib.size(), 40 + (c.bits == 8 ? 1024 : 0) + (c.width * c.bits + 31) / 32 * 4 * 4);
    // The clipboard's block becomes the same file that save-as writes.
    ASSERT_EQ(pv::BitmapFileFromDib(dib.data(), dib.size(), &file), pv::kStatusOk);
    ASSERT_EQ(pv::ToStraightRgba(*image, &want), pv::kStatusOk);
    for (size_t i = 3; c.bits != 32 && i < want.size(); i += 4) want[i] = 255;
    uint32_t w, h;
    EXPECT_EQ(ReadBack(file, &w, &h), want);
    EXPECT_EQ(w, c.width);
  }
}

TEST(BitmapWriter, ClipboardBlocksAreCheckedBeforeTheyBecomeFiles) {
  struct Case {
    uint32_t header, bits, compression, imageBytes, colours, tail, width;
    uint32_t pixelOffset;  // 0: refused as damaged
  };
  const Case cases[] = {
      {40, 24, 0, 0, 0, 24, 4, 54},      {40, 32, 3, 0, 0, 44, 4, 66},         // bit-field masks counted
      {124, 32, 3, 0, 0, 32, 4, 138},    {40, 4, 0, 0, 0, 72, 4, 118},         // 16 colours of 4 bits
      {40, 8, 0, 0, 3, 20, 4, 66},       {40, 24, 0, 0, 0, 23, 4, 0},          // pixels cut short
      {40, 32, 3, 0, 0, 32, 4, 0},       {40, 24, 0, 0x7FFFFFF0, 0, 24, 4, 0},  // image size beyond the block
      {40, 8, 0, 0, 300, 1208, 4, 0},    {44, 24, 0, 0, 0, 24, 4, 0},  {12, 24, 0, 0, 0, 52, 4, 0},
      {40, 7, 0, 0, 0, 24, 4, 0},        {40, 24, 0, 0, 0, 24, 100000, 0},   // huge in a small block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.header << " " << c.bits << " " << c.tail);
    std::vector<uint8_t> dib(std::max(c.header, 40u) + c.tail, 0x55), file;
    for (const auto& [at, value] : {std::pair{0u, c.header}, {4u, c.width}, {8u, 2u}, {16u, c.compression},
                                   {20u, c.imageBytes}, {32u, c.colours}})
      pv::StoreU32LE(dib.data() + at, value);
    pv::StoreU32LE(dib.data() + 12, 1 | c.bits << 16);
    ASSERT_EQ(pv::BitmapFileFromDib(dib.data(), dib.size(), &file), c.pixelOffset ? pv::kStatusOk : pv::kStatusDamaged);
    if (!c.pixelOffset) continue;
    EXPECT_EQ(pv::LoadU32LE(file.data() + 10), c.pixelOffset);
    uint32_t w, h;
    ReadBack(file, &w, &h);
    EXPECT_EQ(w, 4u);
  }
  std::vector<uint8_t> file;
  EXPECT_EQ(pv::BitmapFileFromDib(std::vector<uint8_t>(39, 40).data(), 39, &file), pv::kStatusDamaged);
}

TEST(FileOperations, ShellOperationsArePlannedOrRefused) {
  using pv::FileOp;
  const auto isDirectory = [](const wchar_t* p) { return std::wstring(p) == L"C:\\t" || std::wstring(p) == L"C:\\s"; };
  const std::tuple<FileOp, std::vector<std::wstring>, const wchar_t*, std::optional<FileOp>, const wchar_t*> cases[] = {
      {FileOp::Move, {L"C:\\s\\a.jpg"}, L"c:\\S\\b.jpg", FileOp::Rename, L"c:\\S\\"},
      {FileOp::Move, {L"C:\\s\\a.jpg", L"C:\\s\\b.jpg"}, L"C:\\t", FileOp::Move, L"C:\\t\\"},
      {FileOp::Move, {L"C:\\s\\a.jpg"}, L"C:\\s", std::nullopt, L""},
      {FileOp::Move, {L"C:\\s\\a.jpg", L"C:\\s\\b.jpg"}, L"C:\\s\\c.jpg", std::nullopt, L""},
      {FileOp::Copy, {L"C:\\s\\a.jpg"}, L"C:\\s\\copy.jpg", std::nullopt, L""},
      {FileOp::Copy, {L"C:\\s\\a.jpg"}, L"C:\\t\\new.jpg", FileOp::Copy, L"C:\\t\\"},
      {FileOp::Rename, {L"C:\\s\\a.jpg"}, L"C:\\t\\b.jpg", std::nullopt, L""},
      {FileOp::Delete, {L"C:\\s\\a.jpg"}, nullptr, FileOp::Delete, L""},
      {FileOp::Delete, {}, nullptr, std::nullopt, L""},
      {FileOp::Copy, {L"C:\\s\\a.jpg"}, L"", std::nullopt, L""},
  };
  for (const auto& [op, from, to, becomes, folder] : cases) {
    const std::optional<pv::OperationPlan> plan = pv::PlanFileOperation(op, from, to, isDirectory);
    ASSERT_EQ(plan.has_value(), becomes.has_value()) << int(op) << " " << testing::PrintToString(to ? to : L"");
    if (plan) {
      EXPECT_EQ(std::pair(plan->op, plan->targetFolder), std::pair(*becomes, std::wstring(folder)));
    }
  }
}

TEST(FileOperations, QuestionAndRenameTexts) {
  const std::pair<std::vector<std::wstring>, std::wstring> questions[] = {
      {{L"C:\\a"}, L"C:\\a"},
      {{L"C:\\a", L"C:\\b"}, L"C:\\a\n\nC:\\b"},
      {{L"C:\\a", L"C:\\b", L"C:\\c", L"C:\\d"}, L"C:\\a\n\nC:\\b\n\n... <+2> ..."},
      {{L"C:\\a", L"<clipboard>"}, L""},  // no file, no question
  };
  for (const auto& [files, text] : questions) EXPECT_EQ(pv::ConfirmationText(files), text);
  // Path, new base name, renamed path (empty: refused).
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> renames[] = {
      {L"C:\\p\\holiday.2024.jpg", L"beach", L"C:\\p\\beach.jpg"}, {L"C:\\p.d\\noext", L"x", L"C:\\p.d\\x"},
      {L"C:\\p\\.hidden", L"shown", L"C:\\p\\shown"},              {L"D:pic.png", L"new", L"D:new.png"},
      {L"C:\\p\\a.jpg", L"A", L"C:\\p\\A.jpg"},                    {L"C:\\p\\a.jpg", L"a", L""},
      {L"C:\\p\\a.jpg", L"..\\b", L""},                            {L"C:\\p\\a.jpg", L" . ", L""},
      {L"C:\\p\\a.jpg", L"b:c", L""},
  };
  for (const auto& [path, base, renamed] : renames) EXPECT_EQ(pv::RenamedPath(path, base), renamed) << pv::WideToUtf8(base);
}

TEST(CommandState, FileCommandsNeedAFileAndPasteAnImage) {
  pv::CommandContext file, pseudo, clip, show;  // pseudo: "<clipboard>" or "<capture>"
  file.hasFile = clip.hasFile = show.hasFile = true;
  clip.clipboardHasImage = show.clipboardHasImage = true;
  show.slideshow = true;
  // Available with a file, for a pseudo image, with a clipboard image, in a slideshow.
  const std::pair<std::vector<uint32_t>, std::array<bool, 4>> cases[] = {
      {{pv::kCmdSaveAs, pv::kCmdSetWallpaper, pv::kCmdCopy}, {true, true, true, true}},
      {{pv::kCmdRename, pv::kCmdCopyTo, pv::kCmdMoveTo, pv::kCmdDelete, pv::kCmdDeleteAndNext, pv::kCmdWipe,
        pv::kCmdWipeAndNext}, {true, false, true, false}},
      {{pv::kCmdPaste}, {false, false, true, false}},
      {{pv::kCmdCaptureScreen, pv::kCmdCaptureWindow}, {true, true, true, false}},
  };
  for (const auto& [commands, available] : cases) {
    for (uint32_t id : commands) {
      const std::array<bool, 4> got = {pv::CommandAvailable(id, file), pv::CommandAvailable(id, pseudo),
                                       pv::CommandAvailable(id, clip), pv::CommandAvailable(id, show)};
      EXPECT_EQ(got, available) << id;
    }
  }
}

}  // namespace
