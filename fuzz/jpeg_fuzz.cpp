// The JPEG decoder on arbitrary bytes: header scan, full decode and the
// eighth-scale preview.
#include <cstddef>
#include <cstdint>

#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/register_decoders.h"
#include "core/checked_math.h"
#include "core/cpu.h"
#include "core/decoder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  // Small images reach every path; keep allocations modest.
  pv::SetImagePixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > UINT32_MAX) return 0;
  pv::Ref<pv::MemorySource> source(new pv::MemorySource(data, static_cast<uint32_t>(size)));
  if (pv::Failed(pv::ProbeJpeg(*source))) return 0;
  pv::Ref<pv::ImageDecoder> decoder;
  if (pv::Failed(pv::OpenImageSource(pv::Formats(), *source, L"fuzz.jpg", false, &decoder))) return 0;
  for (uint32_t id = 0; id < pv::kPropertyCount; ++id) decoder->GetText(id);
  for (bool preview : {false, true}) {
    pv::Ref<pv::ImageBuffer> buffer;
    if (pv::Failed(pv::CreateBufferFor(*decoder, false, preview, &buffer))) return 0;
    decoder->Decode(*buffer, false, nullptr, nullptr);
  }
  return 0;
}
