// PSD: our decoder against a plain copy of as many bytes as the decoded
// pixels take, the least any decoder of the merged image has to do.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/psd/psd_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"

namespace {

pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreatePsdDecoder(*source, *pv::FindFormatEntry(L"psd")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, true, nullptr, nullptr)))
    return {};
  return buffer;
}

int Run(const std::vector<std::string>& inputs) {
  std::printf("file\tours_ms\tcopy_ms\tratio\tpixels\n");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    if (!ours) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    const size_t bytes = size_t{ours->Width()} * ours->Height() * ours->BytesPerPixel();
    std::vector<uint8_t> target(bytes);
    const pvbench::Timing t = pvbench::MeasurePair(
        [&] { DecodeOurs(file); },
        [&] {
          // From the file where it holds enough, so the copy reads as much memory as it writes.
          for (size_t done = 0; done < bytes;) {
            const size_t n = std::min(bytes - done, file.size());
            std::memcpy(target.data() + done, file.data(), n);
            done += n;
          }
        },
        15);
    pvbench::PrintRow(path, t, {std::to_string(uint64_t{ours->Width()} * ours->Height())});
  }
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("psd", "FILE.psd... (against a plain copy of the pixels)", Run);

}  // namespace
