// The DDS decoder on its own: RGB masks and DXT blocks.
#include "codecs/dds/dds_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateDdsDecoder, L"dds", data, size);
  return 0;
}
