// The TIFF decoder on its own: directories, page chains, strips and tiles and every compression.
#include "codecs/tiff/tiff_decoder.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pvfuzz::DecodeWith(pv::CreateTiffDecoder, L"tif", data, size);
  return 0;
}
