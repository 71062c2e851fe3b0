// Resampling: our Resample against its own scalar twin and against
// libswscale's bicubic scaler on the same buffers.
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "core/cpu.h"
#include "core/image_buffer.h"
#include "core/resample.h"

namespace {

using pv::ImageBuffer;
using pv::PixelFormat;
using pv::Ref;

struct Work {
  const char* name;
  uint32_t sw, sh, tw, th;
};

// Smooth gradients with fine detail on top, like a photograph.
Ref<ImageBuffer> Picture(PixelFormat format, uint32_t w, uint32_t h) {
  Ref<ImageBuffer> b(pv::CreateImageBuffer(format, {w, h}, false));
  const uint32_t bpp = b->BytesPerPixel();
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = b->Row(y);
    for (uint32_t x = 0; x < w; ++x) {
      for (uint32_t c = 0; c < bpp; ++c) {
        const uint32_t v = (x * (c + 1) * 255 / w + y * 255 / h + ((x * 7 + y * 13 + c) % 23)) & 255;
        row[size_t{x} * bpp + c] = static_cast<uint8_t>(c == 3 ? 255 : v);
      }
    }
  }
  return b;
}

std::string Fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// Rows: ours (vector) vs our scalar twin; ours (all cores) vs libswscale;
// ours on one core vs libswscale. Megapixels per second count the larger of
// the source and the target.
int RunResample(const std::vector<std::string>& args) {
  const int runs = args.empty() ? 5 : std::stoi(args[0]);
  const Work works[] = {
      {"6000x4000-1920x1280", 6000, 4000, 1920, 1280},
      {"6000x4000-300x200", 6000, 4000, 300, 200},
      {"1500x1000-3000x2000", 1500, 1000, 3000, 2000},
  };
  std::printf("case\tours_ms\treference_ms\tratio\tours_MP/s\treference_MP/s\n");
  for (PixelFormat format : {PixelFormat::Rgba8, PixelFormat::Grey8}) {
    const bool rgba = format == PixelFormat::Rgba8;
    const AVPixelFormat av = rgba ? AV_PIX_FMT_BGRA : AV_PIX_FMT_GRAY8;
    for (const Work& w : works) {
      Ref<ImageBuffer> source = Picture(format, w.sw, w.sh);
      Ref<ImageBuffer> ours(pv::CreateImageBuffer(format, {w.tw, w.th}, false));
      Ref<ImageBuffer> theirs(pv::CreateImageBuffer(format, {w.tw, w.th}, false));
      SwsContext* sws = sws_getContext(static_cast<int>(w.sw), static_cast<int>(w.sh), av, static_cast<int>(w.tw),
                                       static_cast<int>(w.th), av, SWS_BICUBIC, nullptr, nullptr, nullptr);
      if (!sws) {
        std::fprintf(stderr, "libswscale refused %s\n", w.name);
        return 1;
      }
      const uint8_t* srcPlanes[4] = {source->Pixels(), nullptr, nullptr, nullptr};
      const int srcStride[4] = {static_cast<int>(source->RowBytes()), 0, 0, 0};
      uint8_t* dstPlanes[4] = {theirs->Pixels(), nullptr, nullptr, nullptr};
      const int dstStride[4] = {static_cast<int>(theirs->RowBytes()), 0, 0, 0};
      bool failed = false;
      auto resample = [&] { failed |= pv::Failed(pv::Resample(*ours, *source)); };
      auto swscale = [&] { sws_scale(sws, srcPlanes, srcStride, 0, static_cast<int>(w.sh), dstPlanes, dstStride); };
      auto scalar = [&] {
        const bool saved = pv::CpuHasSsse3;
        pv::CpuHasSsse3 = false;
        failed |= pv::Failed(pv::Resample(*ours, *source));
        pv::CpuHasSsse3 = saved;
      };
      const double mp = std::max(double(w.sw) * w.sh, double(w.tw) * w.th) / 1e6;
      auto row = [&](const std::string& what, const pvbench::Timing& t) {
        pvbench::PrintRow(std::string(rgba ? "Rgba8 " : "Grey8 ") + w.name + " " + what, t,
                          {Fixed(mp / t.oursSeconds), Fixed(mp / t.referenceSeconds)});
      };
      row("vector/scalar", pvbench::MeasurePair(resample, scalar, runs));
      row("ours/libswscale", pvbench::MeasurePair(resample, swscale, runs));
      {
        const uint32_t saved = pv::ProcessorCount;
        pv::ProcessorCount = 1;
        row("ours-1-core/libswscale", pvbench::MeasurePair(resample, swscale, runs));
        pv::ProcessorCount = saved;
      }
      sws_freeContext(sws);
      if (failed) {
        std::fprintf(stderr, "our resampling failed on %s\n", w.name);
        return 1;
      }
    }
  }
  return 0;
}

const bool registered = pvbench::RegisterSuite("resample", "[runs]", RunResample);

}  // namespace
