// The road of one file for any registered format: identify by content,
// read the header, allocate, decode every frame, convert for display.
#include <cstddef>
#include <cstdint>

#include "core/pixel_convert.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > UINT32_MAX) return 0;
  pv::Ref<pv::MemorySource> source(new pv::MemorySource(data, static_cast<uint32_t>(size)));
  pv::Ref<pv::ImageDecoder> decoder;
  if (pv::Failed(pv::OpenImageSource(pv::Formats(), *source, L"", true, &decoder))) return 0;
  for (uint32_t id = 0; id < pv::kPropertyCount; ++id) decoder->GetText(id);
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer))) return 0;
  if (pv::Failed(decoder->Decode(*buffer, true, nullptr, nullptr))) return 0;
  pv::Ref<pv::ImageBuffer> shown(pv::CloneImageBuffer(*buffer, true, true, pv::PixelFormat::Rgba8));
  return 0;
}
