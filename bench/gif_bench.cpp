// GIF: our decoder against giflib, every frame of the file from memory
// (giflib's DGifSlurp, which also keeps every frame unpainted).
#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/gif/gif_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

namespace {

// Open, allocate and decode every frame, as the viewer does.
pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreateGifDecoder(*source, *pv::FindFormatEntry(L"gif")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, true, nullptr, nullptr)))
    return {};
  return buffer;
}

struct Cursor {
  const std::vector<uint8_t>* file;
  size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int n) {
  auto* c = static_cast<Cursor*>(gif->UserData);
  const size_t take = std::min(static_cast<size_t>(n), c->file->size() - c->pos);
  std::memcpy(out, c->file->data() + c->pos, take);
  c->pos += take;
  return static_cast<int>(take);
}

// The first frame's indices and the frame count, or an empty result.
struct Slurped {
  std::vector<uint8_t> first;
  int frames = 0;
};

Slurped Reference(const std::vector<uint8_t>& file) {
  Cursor cursor{&file, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&cursor, ReadFromMemory, &error);
  Slurped out;
  if (!gif) return out;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
    const SavedImage& image = gif->SavedImages[0];
    out.first.assign(image.RasterBits, image.RasterBits + size_t(image.ImageDesc.Width) * image.ImageDesc.Height);
    out.frames = gif->ImageCount;
  }
  DGifCloseFile(gif, &error);
  return out;
}

int Run(const std::vector<std::string>& inputs) {
  std::printf("file\tours_ms\tgiflib_ms\tratio\tpixels\n");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    const Slurped reference = Reference(file);
    if (!ours || reference.frames == 0) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    // The first frame's indices, and every frame there.
    std::vector<uint8_t> first;
    for (uint32_t y = 0; y < ours->Height(); ++y) first.insert(first.end(), ours->Row(y), ours->Row(y) + ours->Width());
    int frames = 0;
    for (pv::ImageBuffer* b = ours.get(); b; b = b->Frame().next) ++frames;
    const bool exact = first == reference.first && frames == reference.frames;
    const pvbench::Timing t = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { Reference(file); }, 11);
    pvbench::PrintRow(path, t, {exact ? "exact" : "differs"});
  }
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("gif", "FILE.gif... (against giflib)", Run);

}  // namespace
