// The WEBP decoder on its own: the RIFF chunks, animation frames and the bitstreams libwebp reads.
#include "codecs/webp/webp_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateWebpDecoder, L"webp", data, size);
  return 0;
}
