// TGA, PCX and DDS: our decoders against ImageMagick's in-process decode
// (MagickCore: the file from memory, then its pixels exported as B, G, R, A
// bytes, which is what our Rgba8 buffers hold). Without MagickCore the
// reference is a plain copy of as many pixels.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/dds/dds_decoder.h"
#include "codecs/pcx/pcx_decoder.h"
#include "codecs/tga/tga_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

#ifdef PV_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

namespace {

// Open, allocate and decode, as the viewer does.
pv::Ref<pv::ImageBuffer> DecodeOurs(pv::CreateFunction create, const wchar_t* extension,
                                    const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(create(*source, *pv::FindFormatEntry(extension)));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, false, nullptr, nullptr)))
    return {};
  return buffer;
}

#ifdef PV_HAVE_MAGICKCORE
constexpr bool kHaveMagick = true;

// The picture as B, G, R, A rows, or nothing when ImageMagick cannot read it.
std::vector<uint8_t> Reference(const char* magick, const std::vector<uint8_t>& file, const std::vector<uint8_t>&) {
  std::vector<uint8_t> out;
  ExceptionInfo* exception = AcquireExceptionInfo();
  ImageInfo* info = CloneImageInfo(nullptr);
  std::snprintf(info->magick, sizeof info->magick, "%s", magick);
  std::snprintf(info->filename, sizeof info->filename, "%s:", magick);
  if (Image* image = BlobToImage(info, file.data(), file.size(), exception)) {
    out.resize(image->columns * image->rows * 4);
    if (!ExportImagePixels(image, 0, 0, image->columns, image->rows, "BGRA", CharPixel, out.data(), exception))
      out.clear();
    DestroyImage(image);
  }
  DestroyImageInfo(info);
  DestroyExceptionInfo(exception);
  return out;
}
#else
constexpr bool kHaveMagick = false;

// No reference library: a plain copy of as many pixels as ours gives.
std::vector<uint8_t> Reference(const char*, const std::vector<uint8_t>&, const std::vector<uint8_t>& ours) {
  return std::vector<uint8_t>(ours);
}
#endif

int Run(const std::vector<std::string>& inputs, const char* magick, pv::CreateFunction create,
        const wchar_t* extension) {
#ifdef PV_HAVE_MAGICKCORE
  // Our decoders run on one core; so does the reference.
  static const bool started =
      (MagickCoreGenesis("pixvane-bench", MagickFalse), SetMagickResourceLimit(ThreadResource, 1), true);
  static_cast<void>(started);
#endif
  std::printf("file\tours_ms\t%s_ms\tratio\tpsnr\n", kHaveMagick ? "magick" : "copy");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(create, extension, file);
    if (!ours) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    const std::vector<uint8_t> bgra = pvbench::AsBgra(*ours);
    std::vector<uint8_t> reference = Reference(magick, file, bgra);
    // Of an image without alpha, ImageMagick exports as alpha whatever its pixel cache held.
    for (size_t i = 3; !ours->UsesAlpha() && i < reference.size(); i += 4) reference[i] = 0xFF;
    char quality[32] = "-";
    if (kHaveMagick && reference.size() == bgra.size()) {
      const double psnr = pvbench::Psnr(bgra, reference);
      std::snprintf(quality, sizeof quality, psnr > 1e9 ? "exact" : "%.2f", psnr);
    }
    const pvbench::Timing t = pvbench::MeasurePair([&] { DecodeOurs(create, extension, file); },
                                                   [&] { Reference(magick, file, bgra); }, 11);
    pvbench::PrintRow(path, t, {quality});
  }
  return 0;
}

const bool kTga = pvbench::RegisterSuite("tga", "FILE.tga... (against ImageMagick)", [](const auto& inputs) {
  return Run(inputs, "TGA", pv::CreateTgaDecoder, L"tga");
});
const bool kPcx = pvbench::RegisterSuite("pcx", "FILE.pcx... (against ImageMagick)", [](const auto& inputs) {
  return Run(inputs, "PCX", pv::CreatePcxDecoder, L"pcx");
});
const bool kDds = pvbench::RegisterSuite("dds", "FILE.dds... (against ImageMagick)", [](const auto& inputs) {
  return Run(inputs, "DDS", pv::CreateDdsDecoder, L"dds");
});

}  // namespace
