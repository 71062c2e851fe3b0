#include "tools/image_writers.h"

#include <cstdio>

#include "core/endian.h"
#include "core/file_io.h"
#include "core/pixel_convert.h"

namespace pv {

Status ToStraightRgba(ImageBuffer& image, std::vector<uint8_t>* rgba) {
  Ref<ImageBuffer> bgra(CloneImageBuffer(image, false, false, PixelFormat::Rgba8));
  if (!bgra) return kStatusOutOfMemory;
  const uint32_t w = image.Width(), h = image.Height();
  rgba->resize(size_t{w} * h * 4);
  uint8_t* out = rgba->data();
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* p = bgra->Row(y);
    for (uint32_t x = 0; x < w; ++x, p += 4, out += 4) {
      uint8_t a = image.UsesAlpha() ? p[3] : 255;
      uint8_t b = p[0], g = p[1], r = p[2];
      if (image.UsesAlpha() == 2 && a != 0 && a != 255) {
        auto un = [a](uint8_t c) { return static_cast<uint8_t>(c >= a ? 255 : (c * 255 + a / 2) / a); };
        b = un(b), g = un(g), r = un(r);
      }
      out[0] = r, out[1] = g, out[2] = b, out[3] = a;
    }
  }
  return kStatusOk;
}

std::vector<uint8_t> EncodePam(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height) {
  char header[128];
  int n = std::snprintf(header, sizeof header,
                        "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);
  std::vector<uint8_t> out(header, header + n);
  out.insert(out.end(), rgba.begin(), rgba.end());
  return out;
}

std::vector<uint8_t> EncodeBmp32(const std::vector<uint8_t>& rgba, uint32_t width, uint32_t height) {
  const uint32_t dataBytes = width * height * 4;
  std::vector<uint8_t> out(54 + size_t{dataBytes}, 0);
  uint8_t* h = out.data();
  h[0] = 'B', h[1] = 'M';
  StoreU32LE(h + 2, 54 + dataBytes);
  StoreU32LE(h + 10, 54);
  StoreU32LE(h + 14, 40);
  StoreU32LE(h + 18, width);
  StoreU32LE(h + 22, static_cast<uint32_t>(-static_cast<int32_t>(height)));  // top-down
  StoreU16LE(h + 26, 1);
  StoreU16LE(h + 28, 32);
  StoreU32LE(h + 34, dataBytes);
  uint8_t* p = h + 54;
  for (size_t i = 0; i < size_t{width} * height; ++i, p += 4) {
    p[0] = rgba[4 * i + 2], p[1] = rgba[4 * i + 1], p[2] = rgba[4 * i], p[3] = rgba[4 * i + 3];
  }
  return out;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  FileHandle f = CreateFileForWrite(path.c_str());
  if (f == kNoFile) return false;
  bool ok = bytes.size() <= UINT32_MAX && WriteExact(f, bytes.data(), static_cast<uint32_t>(bytes.size()));
  CloseFile(f);
  return ok;
}

}  // namespace pv
