// The BMP decoder on its own: headers, palettes, bit fields and run-length streams.
#include "codecs/bmp/bmp_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateBmpDecoder, L"bmp", data, size);
  return 0;
}
