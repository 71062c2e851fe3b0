// DDS: our decoder against ImageMagick's in-process reader (MagickCore) on the
// same bytes in memory, both to 8-bit B, G, R, A pixels. Without MagickCore
// the reference is a plain copy of the pixel bytes: the floor any decode has.
#ifdef PV_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/dds/dds_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

namespace {

// Open, allocate and decode, as the viewer does.
pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreateDdsDecoder(*source, *pv::FindFormatEntry(L"dds")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, false, nullptr, nullptr)))
    return {};
  return buffer;
}

#ifdef PV_HAVE_MAGICKCORE
constexpr const char* kReference = "magick_ms";

std::vector<uint8_t> Reference(const std::vector<uint8_t>& file, const std::vector<uint8_t>&) {
  ExceptionInfo* exception = AcquireExceptionInfo();
  ImageInfo* info = CloneImageInfo(nullptr);
  CopyMagickString(info->magick, "DDS", MaxTextExtent);
  std::vector<uint8_t> out;
  if (Image* image = BlobToImage(info, file.data(), file.size(), exception)) {
    out.resize(size_t{image->columns} * image->rows * 4);
    if (!ExportImagePixels(image, 0, 0, image->columns, image->rows, "BGRA", CharPixel, out.data(), exception))
      out.clear();
    DestroyImage(image);
  }
  DestroyImageInfo(info);
  DestroyExceptionInfo(exception);
  return out;
}
#else
constexpr const char* kReference = "copy_ms";

std::vector<uint8_t> Reference(const std::vector<uint8_t>&, const std::vector<uint8_t>& pixels) {
  return std::vector<uint8_t>(pixels);
}
#endif

int Run(const std::vector<std::string>& inputs) {
#ifdef PV_HAVE_MAGICKCORE
  MagickCoreGenesis("pixvane-bench", MagickFalse);
  // Our decoder runs on one core; so does the reference.
  SetMagickResourceLimit(ThreadResource, 1);
#endif
  std::printf("file\tours_ms\t%s\tratio\tpsnr\n", kReference);
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    if (!ours) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    std::vector<uint8_t> pixels;
    for (uint32_t y = 0; y < ours->Height(); ++y)
      pixels.insert(pixels.end(), ours->Row(y), ours->Row(y) + size_t{ours->Width()} * 4);
    const double psnr = pvbench::Psnr(pixels, Reference(file, pixels));
    const pvbench::Timing t = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { Reference(file, pixels); }, 11);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", psnr);
    pvbench::PrintRow(path, t, {text});
  }
#ifdef PV_HAVE_MAGICKCORE
  MagickCoreTerminus();
#endif
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("dds", "FILE.dds... (against MagickCore)", Run);

}  // namespace
