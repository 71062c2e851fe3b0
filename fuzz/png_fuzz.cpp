// The PNG decoder on its own: header scan, every frame, and the text properties.
#include "codecs/png/png_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreatePngDecoder, L"png", data, size);
  return 0;
}
