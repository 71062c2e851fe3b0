// The TGA decoder on its own: colour maps, run-length packets and footers.
#include "codecs/tga/tga_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateTgaDecoder, L"tga", data, size);
  return 0;
}
