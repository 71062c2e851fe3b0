// The GIF decoder on its own: the block walk, every frame and its LZW data.
#include "codecs/gif/gif_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateGifDecoder, L"gif", data, size);
  return 0;
}
