// The ICO/CUR decoder on its own: the directory, bitmap renditions with their
// masks, and PNG renditions through the PNG decoder.
#include "codecs/ico/ico_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateIcoDecoder, L"ico", data, size);
  return 0;
}
