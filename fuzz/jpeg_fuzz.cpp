// The JPEG decoder on its own: header scan, full decode and the eighth-scale preview.
#include "codecs/jpeg/jpeg_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateJpegDecoder, L"jpg", data, size);
  return 0;
}
