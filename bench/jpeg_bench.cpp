// JPEG: our decoder against libjpeg-turbo (TurboJPEG) on the same files,
// both into B, G, R, A pixels. The reference row uses its accurate settings
// (integer IDCT, fancy upsampling); further columns give its fastest ones
// and our time with the reconstruction pipeline held off (one thread); the
// last two the eighth-scale preview the viewer paints first, ours against
// libjpeg-turbo scaling by 1/8.
#include <turbojpeg.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "core/decoder.h"
#include "core/task_group.h"

namespace {

std::string Fixed(double v, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

int RunJpeg(const std::vector<std::string>& inputs) {
  std::printf("file\tours_ms\tturbo_ms\tratio\tpsnr_db\tturbo_fast_ms\tours_serial_ms\tours_eighth_ms\tturbo_eighth_ms\n");
  tjhandle turbo = tjInitDecompress();
  int failures = 0;
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (file.empty() || tjDecompressHeader3(turbo, file.data(), file.size(), &width, &height, &subsampling,
                                            &colourspace) != 0) {
      std::fprintf(stderr, "%s: not readable by the reference\n", path.c_str());
      ++failures;
      continue;
    }
    pv::Ref<pv::MemorySource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
    pv::Ref<pv::ImageDecoder> decoder;
    pv::Ref<pv::ImageBuffer> ours;
    if (pv::Failed(pv::OpenImageSource(pv::Formats(), *source, L"bench.jpg", false, &decoder)) ||
        pv::Failed(pv::CreateBufferFor(*decoder, false, false, &ours)) || ours->BytesPerPixel() != 4) {
      std::fprintf(stderr, "%s: not a colour JPEG we open\n", path.c_str());
      ++failures;
      continue;
    }
    std::vector<uint8_t> reference(size_t(width) * height * 4);
    bool decodeFailed = false;
    auto decodeOurs = [&] {
      if (pv::Failed(decoder->Decode(*ours, false, nullptr, nullptr))) decodeFailed = true;
    };
    auto decodeTurbo = [&](int flags) {
      return [&, flags] {
        tjDecompress2(turbo, file.data(), file.size(), reference.data(), width, width * 4, height, TJPF_BGRA, flags);
      };
    };
    const int runs = file.size() > (4u << 20) ? 5 : 9;
    const pvbench::Timing fast = pvbench::MeasurePair(decodeOurs, decodeTurbo(TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE), runs);
    const pvbench::Timing accurate = pvbench::MeasurePair(decodeOurs, decodeTurbo(0), runs);
    // Another parallel job running keeps the decoder on the calling thread.
    pv::ParallelNesting.fetch_add(1);
    const pvbench::Timing serial = pvbench::MeasurePair(decodeOurs, [] {}, runs);
    pv::ParallelNesting.fetch_sub(1);
    pv::Ref<pv::ImageBuffer> preview;
    if (decoder->HasPreview() && pv::Failed(pv::CreateBufferFor(*decoder, false, true, &preview))) preview.Reset();
    const int eighthW = (width + 7) / 8, eighthH = (height + 7) / 8;
    std::vector<uint8_t> eighth(size_t(eighthW) * eighthH * 4);
    const pvbench::Timing small = pvbench::MeasurePair(
        [&] {
          if (preview && pv::Failed(decoder->Decode(*preview, false, nullptr, nullptr))) decodeFailed = true;
        },
        [&] {
          tjDecompress2(turbo, file.data(), file.size(), eighth.data(), eighthW, eighthW * 4, eighthH, TJPF_BGRA, 0);
        },
        runs);
    if (decodeFailed) {
      std::fprintf(stderr, "%s: our decode failed\n", path.c_str());
      ++failures;
      continue;
    }
    std::vector<uint8_t> a, b;
    a.reserve(size_t(width) * height * 3);
    b.reserve(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      const uint8_t* p = ours->Row(static_cast<uint32_t>(y));
      const uint8_t* q = reference.data() + size_t(y) * width * 4;
      for (int x = 0; x < width * 4; ++x) {
        if ((x & 3) == 3) continue;
        a.push_back(p[x]);
        b.push_back(q[x]);
      }
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    pvbench::PrintRow(name, accurate, {Fixed(pvbench::Psnr(a, b), 2), Fixed(fast.referenceSeconds * 1e3, 3),
                                       Fixed(serial.oursSeconds * 1e3, 3), Fixed(small.oursSeconds * 1e3, 3),
                                       Fixed(small.referenceSeconds * 1e3, 3)});
  }
  tjDestroy(turbo);
  return failures ? 1 : 0;
}

const bool registered = pvbench::RegisterSuite("jpeg", "FILE.jpg...", RunJpeg);

}  // namespace
