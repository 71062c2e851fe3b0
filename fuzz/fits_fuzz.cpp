// The FITS decoder on its own: header cards and every sample depth.
#include "codecs/fits/fits_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateFitsDecoder, L"fits", data, size);
  return 0;
}
