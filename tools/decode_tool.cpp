#include "tools/decode_tool.h"

#include <cwchar>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "core/text.h"
#include "tools/image_writers.h"

namespace pv {

namespace {

const char* const kUsage =
    "usage: pixvane-decode --info FILE\n"
    "       pixvane-decode --out OUT.pam|OUT.bmp FILE [--frame N] [--size WxH]\n";

const char* FormatName(PixelFormat f) {
  static const char* const kNames[8] = {"Rgba8", "Rgba16", "RgbaF", "Grey8", "Grey16", "GreyF", "Indexed8", "none"};
  return kNames[static_cast<uint8_t>(f) & 7];
}

bool EndsWith(const std::wstring& s, const wchar_t* suffix) {
  size_t n = std::wcslen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    wchar_t c = s[s.size() - n + i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    if (c != suffix[i]) return false;
  }
  return true;
}

// A whole decimal number, or -1.
long ParseCount(const std::wstring& s, size_t begin, size_t end) {
  if (begin >= end || end - begin > 9) return -1;
  long v = 0;
  for (size_t i = begin; i < end; ++i) {
    if (s[i] < L'0' || s[i] > L'9') return -1;
    v = v * 10 + (s[i] - L'0');
  }
  return v;
}

int Fail(std::FILE* err, Status s) {
  std::fprintf(err, "error 0x%08X: %s\n", static_cast<unsigned>(s), StatusMeaning(s));
  return 1;
}

int PrintInfo(const std::wstring& file, std::FILE* out, std::FILE* err) {
  Ref<ImageDecoder> decoder;
  Status s = OpenImage(file.c_str(), true, &decoder);
  if (Failed(s)) return Fail(err, s);
  uint32_t frames = 0;
  for (ImageDecoder* d = decoder.get(); d; d = d->Next()) ++frames;
  std::fprintf(out, "format\t%s\n", WideToUtf8(decoder->Entry().extension).c_str());
  std::fprintf(out, "width\t%u\nheight\t%u\n", decoder->Width(), decoder->Height());
  std::fprintf(out, "pixel-format\t%s\n", FormatName(decoder->OutputFormat()));
  std::fprintf(out, "colour-model\t%s\n", WideToUtf8(ColourModelName(decoder->Model())).c_str());
  std::fprintf(out, "uses-alpha\t%u\nframes\t%u\n", decoder->UsesAlpha(), frames);
  for (uint32_t id = 0; id < kPropertyCount; ++id) {
    if (decoder->Has(id))
      std::fprintf(out, "property\t%u\t%s\t%s\n", id, WideToUtf8(PropertyName(id)).c_str(),
                   WideToUtf8(decoder->GetText(id)).c_str());
  }
  return 0;
}

int WriteDecoded(const std::wstring& file, const std::wstring& outPath, long frame, uint32_t w, uint32_t h,
                 std::FILE* err) {
  LoadOptions options;
  options.decodeRest = frame > 0;
  options.size = {w, h};
  Ref<ImageBuffer> image;
  Status s = LoadImageFile(file.c_str(), options, &image);
  if (Failed(s)) return Fail(err, s);
  ImageBuffer* chosen = image.get();
  for (long i = 0; i < frame && chosen; ++i) chosen = chosen->Frame().next;
  if (!chosen) return Fail(err, kStatusSizeMismatch);
  s = WriteImageFile(outPath, *chosen, EndsWith(outPath, L".bmp") ? ImageFileKind::Bmp32 : ImageFileKind::Pam);
  if (Failed(s)) return Fail(err, s);
  return 0;
}

}  // namespace

int RunDecodeTool(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err) {
  ReadProcessorFeatures();
  RegisterDecoders();
  std::wstring info, outPath, file;
  long frame = 0;
  uint32_t w = 0, h = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == L"--info" && hasValue) {
      info = args[++i];
    } else if (a == L"--out" && hasValue) {
      outPath = args[++i];
    } else if (a == L"--frame" && hasValue) {
      const std::wstring& v = args[++i];
      frame = ParseCount(v, 0, v.size());
      if (frame < 0) break;
    } else if (a == L"--size" && hasValue) {
      const std::wstring& v = args[++i];
      size_t x = v.find_first_of(L"xX");
      long pw = x == std::wstring::npos ? -1 : ParseCount(v, 0, x);
      long ph = x == std::wstring::npos ? -1 : ParseCount(v, x + 1, v.size());
      if (pw <= 0 || ph <= 0) {
        frame = -1;
        break;
      }
      w = static_cast<uint32_t>(pw), h = static_cast<uint32_t>(ph);
    } else if (!a.empty() && a[0] != L'-' && file.empty()) {
      file = a;
    } else {
      frame = -1;
      break;
    }
  }
  if (frame >= 0 && !info.empty() && outPath.empty() && file.empty()) return PrintInfo(info, out, err);
  if (frame >= 0 && info.empty() && !outPath.empty() && !file.empty()) {
    return WriteDecoded(file, outPath, frame, w, h, err);
  }
  std::fputs(kUsage, err);
  return 2;
}

}  // namespace pv
