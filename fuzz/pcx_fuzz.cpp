// The PCX decoder on its own: header layouts, palettes and run-length rows.
#include "codecs/pcx/pcx_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreatePcxDecoder, L"pcx", data, size);
  return 0;
}
