// The IFF decoder on its own: chunks, ByteRun1, planes, hold-and-modify.
#include "codecs/iff/iff_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateIffDecoder, L"iff", data, size);
  return 0;
}
