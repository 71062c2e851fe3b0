// WebP: our decoder (the container, frames and libwebp writing into our
// buffer) against libwebp's own WebPDecodeRGBA, of each frame as libwebp's
// demuxer hands it out in animations; the difference is what our container
// and frame handling costs.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/webp/webp_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

namespace {

// Open, allocate and decode every frame, as the viewer does.
pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreateWebpDecoder(*source, *pv::FindFormatEntry(L"webp")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, true, nullptr, nullptr)))
    return {};
  return buffer;
}

// libwebp's decode of every frame (each in a buffer of its own); the first frame's R, G, B, A.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& file, bool keep) {
  std::vector<uint8_t> first;
  WebPData data = {file.data(), file.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  WebPIterator frame;
  if (!demux || !WebPDemuxGetFrame(demux, 1, &frame)) {
    WebPDemuxDelete(demux);
    return first;
  }
  do {
    int w = 0, h = 0;
    uint8_t* rgba = WebPDecodeRGBA(frame.fragment.bytes, frame.fragment.size, &w, &h);
    if (keep && rgba && first.empty()) first.assign(rgba, rgba + size_t(w) * h * 4);
    WebPFree(rgba);
  } while (WebPDemuxNextFrame(&frame));
  WebPDemuxReleaseIterator(&frame);
  WebPDemuxDelete(demux);
  return first;
}

int Run(const std::vector<std::string>& inputs) {
  std::printf("file\tours_ms\tlibwebp_ms\tratio\toverhead_%%\tpsnr\n");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    const std::vector<uint8_t> b = Reference(file, true);
    if (!ours || b.size() != size_t{ours->Width()} * ours->Height() * 4) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    // Ours as R, G, B, A for the comparison.
    std::vector<uint8_t> a;
    for (uint32_t y = 0; y < ours->Height(); ++y) {
      const uint8_t* p = ours->Row(y);
      for (uint32_t x = 0; x < ours->Width(); ++x, p += 4) a.insert(a.end(), {p[2], p[1], p[0], p[3]});
    }
    const pvbench::Timing t = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { Reference(file, false); }, 15);
    char overhead[32], psnr[32];
    std::snprintf(overhead, sizeof overhead, "%.1f", (t.oursSeconds / t.referenceSeconds - 1) * 100);
    std::snprintf(psnr, sizeof psnr, "%.1f", pvbench::Psnr(a, b));
    pvbench::PrintRow(path, t, {overhead, psnr});
  }
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("webp", "FILE.webp... (against WebPDecodeRGBA)", Run);

}  // namespace
