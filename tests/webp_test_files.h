#pragma once
// WebP files built in tests: the RIFF container, animation chunks and
// libwebp-encoded pictures of one colour.
#include <webp/encode.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace pvtest::webp {

using Bytes = std::vector<uint8_t>;

// Little-endian fields of the given byte counts, then `tail`.
inline Bytes Le(std::initializer_list<std::pair<uint32_t, int>> fields, const Bytes& tail = {}) {
  Bytes v;
  for (auto [x, n] : fields)
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}
inline Bytes Chunk(const char* tag, const Bytes& data) {
  Bytes c = Le({{tag[0] | tag[1] << 8 | tag[2] << 16 | uint32_t(tag[3]) << 24, 4}, {uint32_t(data.size()), 4}}, data);
  if (data.size() & 1) c.push_back(0);
  return c;
}
inline Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes body = {'W', 'E', 'B', 'P'};
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("RIFF", body);
}
inline Bytes Vp8x(uint8_t flags, uint32_t w, uint32_t h) { return Chunk("VP8X", Le({{flags, 4}, {w - 1, 3}, {h - 1, 3}})); }
inline Bytes Anim(uint32_t background, uint16_t loops) { return Chunk("ANIM", Le({{background, 4}, {loops, 2}})); }
inline Bytes Anmf(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t ms, uint8_t flags, const Bytes& image) {
  return Chunk("ANMF", Le({{x / 2, 3}, {y / 2, 3}, {w - 1, 3}, {h - 1, 3}, {ms, 3}, {flags, 1}}, image));
}
// The chunks libwebp writes for a w × h picture of one colour (0xAARRGGBB), without "RIFF....WEBP".
inline Bytes Encoded(bool lossless, uint32_t w, uint32_t h, uint32_t argb) {
  Bytes rgba;
  for (uint32_t i = 0; i < w * h; ++i) rgba = Le({{(argb >> 16 & 0xFF) | (argb & 0xFF00FF00) | (argb & 0xFF) << 16, 4}}, rgba);
  uint8_t* out = nullptr;
  const int iw = static_cast<int>(w), ih = static_cast<int>(h);
  const size_t n = lossless ? WebPEncodeLosslessRGBA(rgba.data(), iw, ih, iw * 4, &out)
                            : WebPEncodeRGBA(rgba.data(), iw, ih, iw * 4, 90, &out);
  Bytes chunks(out + 12, out + n);
  WebPFree(out);
  if (chunks[3] == 'X') chunks.erase(chunks.begin(), chunks.begin() + 18);  // VP8X: the frame has its own
  return chunks;
}

}  // namespace pvtest::webp
