// A DIB another program left on the clipboard: turned into a bitmap file,
// which the BMP decoder then reads like any other.
#include "codecs/bmp/bmp_decoder.h"
#include "codecs/bmp/bmp_writer.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pvfuzz::Initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file;
  if (pv::Failed(pv::BitmapFileFromDib(data, size, &file))) return 0;
  // The file is the block's bytes behind a file header, never more of them.
  if (file.size() < 14 || file.size() - 14 > size) __builtin_trap();
  pvfuzz::DecodeWith(pv::CreateBmpDecoder, L"bmp", file.data(), file.size());
  return 0;
}
