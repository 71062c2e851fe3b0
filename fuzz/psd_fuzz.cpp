// The PSD decoder on its own: header sections, resources, raw and PackBits channels.
#include "codecs/psd/psd_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreatePsdDecoder, L"psd", data, size);
  return 0;
}
