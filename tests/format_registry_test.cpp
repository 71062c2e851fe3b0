#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/register_decoders.h"
#include "core/decoder.h"
#include "core/format_registry.h"
#include "tests/test_support.h"
#include "core/text.h"
#include "tools/image_writers.h"

namespace {

using pv::FormatEntry;
using pv::FormatRegistry;

pv::ImageDecoder* NeverCreated(pv::ByteSource&, const FormatEntry&) { return nullptr; }

TEST(FormatRegistry, ExtensionMatching) {
  FormatEntry jpg{L"jpg", L"JPEG image file", nullptr, NeverCreated};
  FormatEntry jpeg{L"jpeg", L"JPEG image file", nullptr, NeverCreated};
  FormatEntry pvx{L"pvx", L"not an image", nullptr, NeverCreated};
  FormatEntry tga{L"tga", L"no decoder yet", nullptr, nullptr};
  FormatRegistry r;
  r.Register(&tga);
  r.Register(&jpg);
  r.Register(&pvx);
  r.Register(&jpeg);
  struct Case { const wchar_t* path; const FormatEntry* entry; };
  const Case cases[] = {
      {L"C:\\photos\\x.JPG", &jpg},   {L"a.b.jpeg", &jpeg},   {L"photo.jpeg2000", nullptr},
      {L"script.pvx", nullptr},       {L"noextension", nullptr}, {L"trailing.", nullptr},
      {L"image.tga", nullptr},        // no create function
      {L"jpg", &jpg},                 // no dot: the whole name
  };
  for (const Case& c : cases) {
    int i = r.FindFormatByExtension(c.path);
    EXPECT_EQ(i < 0 ? nullptr : r.Entry(static_cast<uint32_t>(i)), c.entry) << pv::WideToUtf8(std::wstring(c.path));
  }
}

TEST(FormatRegistry, OpenImageFallsBackToContentOnlyWhenAllowed) {
  pv::RegisterDecoders();
  std::string dir = pvtest::ScratchDir("registry");
  // A small bitmap under names that do and do not say so.
  std::vector<uint8_t> rgba(2 * 2 * 4, 200);
  std::vector<uint8_t> bmp = pv::EncodeBmp32(rgba, 2, 2);
  for (const char* name : {"a.bmp", "a.png", "a.pvs", "a.jpeg2000"})
    ASSERT_TRUE(pv::WriteWholeFile(pvtest::Widen(dir + "/" + name), bmp));
  struct Case { const char* name; bool content; pv::Status status; };
  const Case cases[] = {{"a.bmp", false, pv::kStatusOk},          {"a.png", false, pv::kStatusUnknownFormat},
                        {"a.png", true, pv::kStatusOk},           {"a.jpeg2000", true, pv::kStatusOk},
                        {"a.jpeg2000", false, pv::kStatusUnknownFormat}, {"missing.bmp", true, pv::kStatusCannotOpen}};
  for (const Case& c : cases) {
    pv::Ref<pv::ImageDecoder> d;
    EXPECT_EQ(pv::OpenImage(pvtest::Widen(dir + "/" + c.name).c_str(), c.content, &d), c.status) << c.name;
    if (c.status == pv::kStatusOk) {
      ASSERT_TRUE(d);
      EXPECT_STREQ(d->GetText(pv::kPropTitle), L"a");
      EXPECT_STREQ(d->Entry().extension, L"bmp");
    }
  }
  // The program's own files are never images by extension, but content still counts when asked.
  pv::Ref<pv::ImageDecoder> d;
  EXPECT_EQ(pv::OpenImage(pvtest::Widen(dir + "/a.pvs").c_str(), false, &d), pv::kStatusUnknownFormat);
}

}  // namespace
