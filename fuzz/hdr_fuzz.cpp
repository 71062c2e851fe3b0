// The Radiance decoder on its own: header lines and both run-length styles.
#include "codecs/hdr/hdr_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateHdrDecoder, L"hdr", data, size);
  return 0;
}
