// The reference for whole-process timing: decodes a JPEG with libjpeg-turbo
// or a PNG with libpng's simplified API into R, G, B, A bytes and writes the
// same PAM file as `pixvane-decode --out`, as a small program would.
#include <png.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool ReadAll(const char* path, std::vector<unsigned char>* bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  std::fclose(f);
  return !bytes->empty();
}

bool DecodeJpeg(const std::vector<unsigned char>& file, std::vector<unsigned char>* rgba, int* w, int* h) {
  tjhandle tj = tjInitDecompress();
  int sub = 0, space = 0;
  bool ok = tj && tjDecompressHeader3(tj, file.data(), file.size(), w, h, &sub, &space) == 0;
  if (ok) {
    rgba->resize(size_t(*w) * size_t(*h) * 4);
    ok = tjDecompress2(tj, file.data(), file.size(), rgba->data(), *w, 0, *h, TJPF_RGBA, 0) == 0;
  }
  if (tj) tjDestroy(tj);
  return ok;
}

bool DecodePng(const std::vector<unsigned char>& file, std::vector<unsigned char>* rgba, int* w, int* h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba->resize(PNG_IMAGE_SIZE(image));
  *w = int(image.width), *h = int(image.height);
  return png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: pixvane-refdecode IN.jpg|IN.png OUT.pam\n", stderr);
    return 2;
  }
  std::vector<unsigned char> file, rgba;
  int w = 0, h = 0;
  if (!ReadAll(argv[1], &file)) return 1;
  const bool png = file.size() > 8 && std::memcmp(file.data(), "\x89PNG", 4) == 0;
  if (!(png ? DecodePng(file, &rgba, &w, &h) : DecodeJpeg(file, &rgba, &w, &h))) return 1;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  std::fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", w, h);
  const bool ok = std::fwrite(rgba.data(), 1, rgba.size(), out) == rgba.size();
  return std::fclose(out) == 0 && ok ? 0 : 1;
}
