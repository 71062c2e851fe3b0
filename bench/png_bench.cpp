// PNG: our decoder against libpng, through its simplified API and its row
// API, on the same bytes in memory; the faster of the two is the reference.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/png/png_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

namespace {

// Open, allocate and decode the first image, as the viewer does.
pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreatePngDecoder(*source, *pv::FindFormatEntry(L"png")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, false, nullptr, nullptr)))
    return {};
  return buffer;
}

// B, G, R, A rows of 8 bits, as our Rgba8 buffers hold them.
std::vector<uint8_t> Simplified(const std::vector<uint8_t>& file, uint32_t* width, uint32_t* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  *width = image.width;
  *height = image.height;
  return out;
}

struct Cursor {
  const std::vector<uint8_t>* file;
  size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
  auto* c = static_cast<Cursor*>(png_get_io_ptr(png));
  if (n > c->file->size() - c->pos) png_error(png, "end of data");
  std::memcpy(out, c->file->data() + c->pos, n);
  c->pos += n;
}

// The row API with the transforms that give the same B, G, R, A rows.
std::vector<uint8_t> Rows(const std::vector<uint8_t>& file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> out;
  std::vector<png_bytep> rows;
  Cursor cursor{&file, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  png_set_read_fn(png, &cursor, ReadFromMemory);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  out.resize(size_t{w} * h * 4);
  for (uint32_t y = 0; y < h; ++y) rows.push_back(out.data() + size_t{y} * w * 4);
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

int Run(const std::vector<std::string>& inputs) {
  std::printf("file\tours_ms\tlibpng_ms\tratio\tpsnr\n");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> reference = Simplified(file, &w, &h);
    if (!ours || reference.empty()) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    const double psnr = pvbench::Psnr(pvbench::AsBgra(*ours), reference);
    const int runs = 11;
    const pvbench::Timing simplified = pvbench::MeasurePair([&] { DecodeOurs(file); },
                                                            [&] { Simplified(file, &w, &h); }, runs);
    const pvbench::Timing rows = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { Rows(file); }, runs);
    const pvbench::Timing& best = rows.referenceSeconds < simplified.referenceSeconds ? rows : simplified;
    pvbench::PrintRow(path, best, {pvbench::PsnrText(psnr)});
  }
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("png", "FILE.png... (against libpng)", Run);

}  // namespace
