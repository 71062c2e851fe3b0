#pragma once
// A small JPEG writer for the tests: baseline or progressive Huffman coding
// of component planes the test gives sample by sample, with flat
// quantisers, fixed-length Huffman codes of our own, optional restart
// intervals (numbered rightly or wrongly), Adobe segment and extra segments.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace jpegtest {

struct Planes {
  uint32_t width = 0, height = 0;  // the image
  uint32_t components = 0;
  uint8_t ids[4] = {1, 2, 3, 4};
  uint8_t h[4] = {1, 1, 1, 1}, v[4] = {1, 1, 1, 1};
  // Each plane covers its component over whole MCUs: PlaneWidth(k) x PlaneHeight(k).
  std::vector<uint8_t> samples[4] = {};

  uint32_t Hmax() const { return *std::max_element(h, h + components); }
  uint32_t Vmax() const { return *std::max_element(v, v + components); }
  uint32_t McusPerRow() const { return (width + 8 * Hmax() - 1) / (8 * Hmax()); }
  uint32_t McuRows() const { return (height + 8 * Vmax() - 1) / (8 * Vmax()); }
  uint32_t PlaneWidth(uint32_t k) const { return McusPerRow() * h[k] * 8; }
  uint32_t PlaneHeight(uint32_t k) const { return McuRows() * v[k] * 8; }
  // Blocks a scan of component k alone covers.
  uint32_t BlocksWide(uint32_t k) const { return ((width * h[k] + Hmax() - 1) / Hmax() + 7) / 8; }
  uint32_t BlocksHigh(uint32_t k) const { return ((height * v[k] + Vmax() - 1) / Vmax() + 7) / 8; }

  // Fills every plane from f(component, x, y) in the plane's own samples.
  template <class F>
  void Fill(F f) {
    for (uint32_t k = 0; k < components; ++k) {
      samples[k].resize(size_t{PlaneWidth(k)} * PlaneHeight(k));
      for (uint32_t y = 0; y < PlaneHeight(k); ++y) {
        for (uint32_t x = 0; x < PlaneWidth(k); ++x) samples[k][size_t{y} * PlaneWidth(k) + x] = f(k, x, y);
      }
    }
  }
};

struct Options {
  uint16_t quant = 1;             // every quantiser
  int adobeTransform = -1;        // APP14 "Adobe" with this transform; -1: none
  uint16_t restartInterval = 0;
  bool wrongRestartNumbers = false;  // every RST marker is RST5
  bool progressive = false;       // DC first (Al 1), DC refine, AC bands 1-5 and 6-63 per component
  bool separateScans = false;     // sequential, one scan per component
  std::vector<std::vector<uint8_t>> segments = {};  // whole segments put after the SOI
};

namespace detail {

constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// DC symbols 0..11 as 4-bit codes equal to the symbol; AC symbols as 8-bit
// codes equal to their index in AcSymbols().
inline std::vector<uint8_t> AcSymbols() {
  std::vector<uint8_t> s = {0x00, 0xF0};
  for (int r = 0; r < 16; ++r) for (int size = 1; size <= 10; ++size) s.push_back(static_cast<uint8_t>(r << 4 | size));
  return s;
}

inline int Category(int v) {
  int a = v < 0 ? -v : v, s = 0;
  while (a) ++s, a >>= 1;
  return s;
}
inline uint32_t ValueBits(int v, int s) { return static_cast<uint32_t>(v < 0 ? v + (1 << s) - 1 : v); }

// Entropy-coded bits, most significant first, with 0xFF bytes stuffed.
class Coder {
 public:
  explicit Coder(std::vector<uint8_t>& out) : out_(out) {
    const std::vector<uint8_t> symbols = AcSymbols();
    for (size_t i = 0; i < symbols.size(); ++i) acCode_[symbols[i]] = static_cast<int>(i);
  }
  void Put(uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc_ = static_cast<uint8_t>(acc_ << 1 | ((bits >> i) & 1));
      if (++count_ < 8) continue;
      out_.push_back(acc_);
      if (acc_ == 0xFF) out_.push_back(0);
      acc_ = 0, count_ = 0;
    }
  }
  void Flush() {
    while (count_) Put(1, 1);
  }
  void Dc(int diff) {
    const int s = Category(diff);
    Put(static_cast<uint32_t>(s), 4);
    Put(ValueBits(diff, s), s);
  }
  void AcSymbol(int symbol) { Put(static_cast<uint32_t>(acCode_[symbol]), 8); }
  // Coefficients ss..se (zig-zag) of a block, with an EOB when zeros end it.
  void Ac(const int* zz, int ss, int se) {
    int run = 0;
    for (int k = ss; k <= se; ++k) {
      if (zz[k] == 0) {
        ++run;
        continue;
      }
      for (; run > 15; run -= 16) AcSymbol(0xF0);
      const int s = Category(zz[k]);
      AcSymbol(run << 4 | s);
      Put(ValueBits(zz[k], s), s);
      run = 0;
    }
    if (run) AcSymbol(0x00);
  }
  void Bit(int b) { Put(static_cast<uint32_t>(b & 1), 1); }

 private:
  std::vector<uint8_t>& out_;
  uint8_t acc_ = 0;
  int count_ = 0;
  int acCode_[256] = {};
};

inline void Segment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& payload) {
  out.push_back(0xFF);
  out.push_back(marker);
  const size_t n = payload.size() + 2;
  out.push_back(static_cast<uint8_t>(n >> 8));
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), payload.begin(), payload.end());
}

}  // namespace detail

// Quantised coefficients in zig-zag order of every block of every component,
// blocks in each plane's raster order.
struct Coefficients {
  std::vector<std::vector<int>> blocks[4];
  uint32_t blocksPerRow[4] = {};
};

inline Coefficients Transform(const Planes& p, uint16_t quant) {
  Coefficients c;
  const double pi = std::acos(-1.0);
  double basis[8][8];  // basis[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16)
  for (int u = 0; u < 8; ++u)
    for (int x = 0; x < 8; ++x) basis[u][x] = (u ? 0.5 : std::sqrt(0.125)) * std::cos((2 * x + 1) * u * pi / 16);
  for (uint32_t k = 0; k < p.components; ++k) {
    const uint32_t bw = p.PlaneWidth(k) / 8, bh = p.PlaneHeight(k) / 8;
    c.blocksPerRow[k] = bw;
    for (uint32_t by = 0; by < bh; ++by) {
      for (uint32_t bx = 0; bx < bw; ++bx) {
        double rows[8][8];  // rows[y][u]: each row transformed
        for (int y = 0; y < 8; ++y) {
          const uint8_t* s = &p.samples[k][size_t{by * 8 + y} * p.PlaneWidth(k) + bx * 8];
          for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int x = 0; x < 8; ++x) sum += (s[x] - 128.0) * basis[u][x];
            rows[y][u] = sum;
          }
        }
        std::vector<int> zz(64);
        for (int i = 0; i < 64; ++i) {
          const int u = detail::kZigzag[i] % 8, v = detail::kZigzag[i] / 8;
          double sum = 0;
          for (int y = 0; y < 8; ++y) sum += rows[y][u] * basis[v][y];
          zz[i] = static_cast<int>(std::lround(sum / quant));
        }
        c.blocks[k].push_back(zz);
      }
    }
  }
  return c;
}

// A picture with detail in every component; luma subsampled 2 x 2 in three.
inline Planes Picture(uint32_t width, uint32_t height, uint32_t components = 3) {
  Planes p{.width = width, .height = height, .components = components};
  if (components == 3) p.h[0] = p.v[0] = 2;
  p.Fill([](uint32_t k, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(128 + 80 * std::sin(x * (0.09 + 0.04 * k) + y * 0.05) + (x * 7 + y * 3) % 11);
  });
  return p;
}

inline std::vector<uint8_t> Encode(const Planes& p, const Options& o) {
  using namespace detail;
  std::vector<uint8_t> out = {0xFF, 0xD8};
  for (const auto& s : o.segments) out.insert(out.end(), s.begin(), s.end());
  if (o.adobeTransform >= 0)
    Segment(out, 0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, static_cast<uint8_t>(o.adobeTransform)});
  std::vector<uint8_t> dqt = {0};
  dqt.insert(dqt.end(), 64, static_cast<uint8_t>(o.quant));
  Segment(out, 0xDB, dqt);
  std::vector<uint8_t> sof = {8, static_cast<uint8_t>(p.height >> 8), static_cast<uint8_t>(p.height),
                              static_cast<uint8_t>(p.width >> 8), static_cast<uint8_t>(p.width),
                              static_cast<uint8_t>(p.components)};
  for (uint32_t k = 0; k < p.components; ++k) sof.insert(sof.end(), {p.ids[k], static_cast<uint8_t>(p.h[k] << 4 | p.v[k]), 0});
  Segment(out, o.progressive ? 0xC2 : 0xC0, sof);
  std::vector<uint8_t> dht = {0x00, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 12; ++i) dht.push_back(static_cast<uint8_t>(i));
  const std::vector<uint8_t> ac = AcSymbols();
  dht.insert(dht.end(), {0x10, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(ac.size()), 0, 0, 0, 0, 0, 0, 0, 0});
  dht.insert(dht.end(), ac.begin(), ac.end());
  Segment(out, 0xC4, dht);
  if (o.restartInterval) Segment(out, 0xDD, {static_cast<uint8_t>(o.restartInterval >> 8), static_cast<uint8_t>(o.restartInterval)});
  const Coefficients c = Transform(p, o.quant);

  // One scan: `comps` in order; each unit (an MCU, or one block of a scan of
  // one component) is coded by `code(component index in scan, block)`.
  auto scan = [&](std::vector<uint32_t> comps, int ss, int se, int ah, int al, auto code) {
    std::vector<uint8_t> sos = {static_cast<uint8_t>(comps.size())};
    for (uint32_t k : comps) sos.insert(sos.end(), {p.ids[k], 0x00});
    sos.insert(sos.end(), {static_cast<uint8_t>(ss), static_cast<uint8_t>(se), static_cast<uint8_t>(ah << 4 | al)});
    Segment(out, 0xDA, sos);
    Coder coder(out);
    int predictions[4] = {};
    uint32_t units = 0, restarts = 0;
    auto unitStart = [&] {
      if (o.restartInterval && units && units % o.restartInterval == 0) {
        coder.Flush();
        out.insert(out.end(), {0xFF, static_cast<uint8_t>(0xD0 + (o.wrongRestartNumbers ? 5 : restarts++ % 8))});
        std::fill(predictions, predictions + 4, 0);
      }
      ++units;
    };
    if (comps.size() == 1) {
      const uint32_t k = comps[0];
      for (uint32_t by = 0; by < p.BlocksHigh(k); ++by) {
        for (uint32_t bx = 0; bx < p.BlocksWide(k); ++bx) {
          unitStart();
          code(coder, predictions[0], c.blocks[k][by * c.blocksPerRow[k] + bx]);
        }
      }
    } else {
      for (uint32_t my = 0; my < p.McuRows(); ++my) {
        for (uint32_t mx = 0; mx < p.McusPerRow(); ++mx) {
          unitStart();
          for (size_t i = 0; i < comps.size(); ++i) {
            const uint32_t k = comps[i];
            for (uint32_t r = 0; r < p.v[k]; ++r) {
              for (uint32_t cc = 0; cc < p.h[k]; ++cc)
                code(coder, predictions[i], c.blocks[k][(my * p.v[k] + r) * c.blocksPerRow[k] + mx * p.h[k] + cc]);
            }
          }
        }
      }
    }
    coder.Flush();
  };
  auto sequential = [](Coder& coder, int& pred, const std::vector<int>& zz) {
    coder.Dc(zz[0] - pred);
    pred = zz[0];
    coder.Ac(zz.data(), 1, 63);
  };
  std::vector<uint32_t> all;
  for (uint32_t k = 0; k < p.components; ++k) all.push_back(k);
  if (o.progressive) {
    scan(all, 0, 0, 0, 1, [](Coder& coder, int& pred, const std::vector<int>& zz) {
      const int dc = zz[0] >> 1;  // point transform: arithmetic shift
      coder.Dc(dc - pred);
      pred = dc;
    });
    for (uint32_t k : all) scan({k}, 1, 5, 0, 0, [](Coder& coder, int&, const std::vector<int>& zz) { coder.Ac(zz.data(), 1, 5); });
    scan(all, 0, 0, 1, 0, [](Coder& coder, int&, const std::vector<int>& zz) { coder.Bit(zz[0]); });
    for (uint32_t k : all) scan({k}, 6, 63, 0, 0, [](Coder& coder, int&, const std::vector<int>& zz) { coder.Ac(zz.data(), 6, 63); });
  } else if (o.separateScans) {
    for (uint32_t k : all) scan({k}, 0, 63, 0, 0, sequential);
  } else {
    scan(all, 0, 63, 0, 0, sequential);
  }
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

// An APP1 "Exif" segment as cameras write it for a thumbnail: a
// little-endian TIFF structure whose empty first directory links to a
// second one that gives the thumbnail's offset (513) and length (514).
// The thumbnail follows at TIFF offset 44.
inline std::vector<uint8_t> ExifThumbnailSegment(const std::vector<uint8_t>& thumbnail) {
  auto u16 = [](std::vector<uint8_t>& b, uint32_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); };
  auto u32 = [&](std::vector<uint8_t>& b, uint32_t v) { u16(b, v & 0xFFFF), u16(b, v >> 16); };
  std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
  u32(block, 8);
  u16(block, 0), u32(block, 14);  // the first directory, then the second
  u16(block, 2);
  for (uint32_t tag : {513u, 514u}) u16(block, tag), u16(block, 4), u32(block, 1), u32(block, tag == 513 ? 44 : static_cast<uint32_t>(thumbnail.size()));
  u32(block, 0);
  block.insert(block.end(), thumbnail.begin(), thumbnail.end());
  std::vector<uint8_t> segment;
  detail::Segment(segment, 0xE1, block);
  return segment;
}

}  // namespace jpegtest
