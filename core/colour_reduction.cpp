#include "core/colour_reduction.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/pixel_convert.h"

namespace pv {

namespace {

constexpr uint32_t kSide = 64;
constexpr uint32_t kCells = kSide * kSide * kSide;

// Channels are numbered R, G, B here; pixels are 0xAARRGGBB.
uint32_t Channel(uint32_t pixel, uint32_t c) { return (pixel >> (16 - 8 * c)) & 0xFF; }
uint32_t CellOf(uint32_t pixel) {
  return (Channel(pixel, 0) >> 2) << 12 | (Channel(pixel, 1) >> 2) << 6 | Channel(pixel, 2) >> 2;
}
uint32_t Opaque(const uint32_t rgb[3]) { return 0xFF000000u | rgb[0] << 16 | rgb[1] << 8 | rgb[2]; }

template <class T>
std::unique_ptr<T[]> NewZeroed(size_t n) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

// The source's pixels as 0xAARRGGBB rows: Rgba8 rows as they are, Grey8
// and Indexed8 through their palette (the grey ramp for Grey8).
class PixelRows {
 public:
  explicit PixelRows(const ImageBuffer& source) : source_(source) {
    if (source.Format() == PixelFormat::Rgba8) return;
    if (source.Format() == PixelFormat::Indexed8)
      std::memcpy(palette_, source.Palette(), sizeof palette_);
    else
      FillGreyRamp(palette_);
    row_.resize(source.Width());
  }
  const uint32_t* Row(uint32_t y) {
    if (source_.Format() == PixelFormat::Rgba8) return reinterpret_cast<const uint32_t*>(source_.Row(y));
    const uint8_t* p = source_.Row(y);
    for (uint32_t x = 0; x < row_.size(); ++x) row_[x] = palette_[p[x]];
    return row_.data();
  }

 private:
  const ImageBuffer& source_;
  uint32_t palette_[256];
  std::vector<uint32_t> row_;
};

struct ColourBox {
  uint32_t lo[3], hi[3];        // occupied cells after shrinking
  uint32_t cutLo[3], cutHi[3];  // the bounds the box was cut from
  uint32_t mean[3];             // 8-bit scale
  uint64_t population;
  uint32_t priority;

  uint32_t MeanCell(uint32_t c) const { return std::clamp((mean[c] + 2) >> 2, lo[c], hi[c]); }
};

// Shrinks a box to its occupied cells and computes its statistics. Sums are
// 64-bit: 2^18 cells of up to 65535 pixels overflow 32 bits.
void Measure(ColourBox& box, const uint16_t* histogram) {
  uint64_t population = 0, sum[3] = {0, 0, 0};
  uint32_t lo[3] = {kSide, kSide, kSide}, hi[3] = {0, 0, 0};
  for (uint32_t r = box.cutLo[0]; r <= box.cutHi[0]; ++r) {
    for (uint32_t g = box.cutLo[1]; g <= box.cutHi[1]; ++g) {
      const uint16_t* line = histogram + (r << 12 | g << 6);
      for (uint32_t b = box.cutLo[2]; b <= box.cutHi[2]; ++b) {
        const uint32_t n = line[b];
        if (n == 0) continue;
        population += n;
        const uint32_t cell[3] = {r, g, b};
        for (int c = 0; c < 3; ++c) {
          sum[c] += uint64_t{n} * cell[c];
          lo[c] = std::min(lo[c], cell[c]);
          hi[c] = std::max(hi[c], cell[c]);
        }
      }
    }
  }
  box.priority = 0;
  for (int c = 0; c < 3; ++c) {
    if (population == 0) {
      box.lo[c] = box.cutLo[c];
      box.hi[c] = box.cutHi[c];
      box.mean[c] = (box.cutLo[c] + box.cutHi[c]) * 2 + 2;
    } else {
      box.lo[c] = lo[c];
      box.hi[c] = hi[c];
      box.mean[c] = static_cast<uint32_t>((population / 2 + 4 * sum[c]) / population);
      box.priority += (hi[c] - lo[c]) * (hi[c] - lo[c]);
    }
  }
  box.population = population == 0 ? 1 : population;
}

// The box to split next, or -1: the most populous splittable box while the
// palette is less than half full, afterwards the widest box that is not a
// single colour; each rule falls back on the other.
int ChooseBox(const std::vector<ColourBox>& boxes, uint32_t wanted, const uint16_t* histogram) {
  int byPopulation = -1, byPriority = -1;
  for (size_t i = 0; i < boxes.size(); ++i) {
    const ColourBox& b = boxes[i];
    if (b.population <= 1) continue;
    if (b.priority > 0 && (byPopulation < 0 || b.population > boxes[byPopulation].population))
      byPopulation = static_cast<int>(i);
    const uint32_t meanCell = b.MeanCell(0) << 12 | b.MeanCell(1) << 6 | b.MeanCell(2);
    if (histogram[meanCell] < b.population && (byPriority < 0 || b.priority > boxes[byPriority].priority))
      byPriority = static_cast<int>(i);
  }
  if (boxes.size() < wanted / 2) return byPopulation >= 0 ? byPopulation : byPriority;
  return byPriority >= 0 ? byPriority : byPopulation;
}

// Cuts a box at its mean on the channel with the most room on both sides of
// the mean. Only channels the box spans are candidates, so both halves keep
// an occupied end plane.
void Split(std::vector<ColourBox>& boxes, size_t index, const uint16_t* histogram) {
  ColourBox& box = boxes[index];
  int channel = -1;
  uint32_t room = 0;
  for (int c = 0; c < 3; ++c) {
    if (box.hi[c] == box.lo[c]) continue;
    const uint32_t m = box.MeanCell(c);
    const uint32_t r = std::min(m - box.lo[c], box.hi[c] - m);
    if (channel < 0 || r > room) channel = c, room = r;
  }
  uint32_t m = box.MeanCell(channel);
  if (m == box.hi[channel]) --m;
  ColourBox upper = box;
  for (int c = 0; c < 3; ++c) {
    box.cutLo[c] = upper.cutLo[c] = box.lo[c];
    box.cutHi[c] = upper.cutHi[c] = box.hi[c];
  }
  box.cutHi[channel] = m;
  upper.cutLo[channel] = m + 1;
  Measure(box, histogram);
  Measure(upper, histogram);
  boxes.push_back(upper);
}

// Nearest palette entry by distance in R, G, B among `count` entries from
// `first`, remembered per exact colour in a small direct-mapped cache.
class NearestEntry {
 public:
  NearestEntry(const uint32_t* palette, uint32_t first, uint32_t count)
      : palette_(palette), first_(first), count_(count), cache_(NewZeroed<Slot>(kCacheSize)) {}
  bool Valid() const { return cache_ != nullptr; }
  uint8_t Find(uint32_t rgb) {
    rgb &= 0xFFFFFF;
    Slot& slot = cache_[(rgb * 2654435761u) >> 16];
    if (slot.filled && slot.rgb == rgb) return slot.index;
    uint32_t best = first_, bestDistance = UINT32_MAX;
    for (uint32_t i = first_; i < first_ + count_; ++i) {
      uint32_t d = 0;
      for (uint32_t c = 0; c < 3; ++c) {
        const int32_t e = static_cast<int32_t>(Channel(rgb, c)) - static_cast<int32_t>(Channel(palette_[i], c));
        d += static_cast<uint32_t>(e * e);
      }
      if (d < bestDistance) best = i, bestDistance = d;
    }
    slot = {rgb, static_cast<uint8_t>(best), true};
    return slot.index;
  }

 private:
  struct Slot {
    uint32_t rgb;
    uint8_t index;
    bool filled;
  };
  static constexpr size_t kCacheSize = 65536;
  const uint32_t* palette_;
  uint32_t first_, count_;
  std::unique_ptr<Slot[]> cache_;
};

// Floyd-Steinberg error diffusion (7, 3, 5, 1 over 16) on serpentine rows.
// The wanted colour is clamped to 0-255 before its error is taken, which
// bounds every error by one sample step range.
void MapDithered(ImageBuffer& target, PixelRows& rows, NearestEntry& nearest, const uint32_t* palette,
                 uint8_t transparentIndex) {
  const uint32_t w = target.Width();
  std::vector<int32_t> current(size_t{w + 2} * 3, 0), next(size_t{w + 2} * 3, 0);
  for (uint32_t y = 0; y < target.Height(); ++y) {
    const uint32_t* in = rows.Row(y);
    uint8_t* out = target.Row(y);
    const bool forward = (y & 1) == 0;
    std::fill(next.begin(), next.end(), 0);
    for (uint32_t i = 0; i < w; ++i) {
      const uint32_t x = forward ? i : w - 1 - i;
      if ((in[x] >> 24) == 0) {
        out[x] = transparentIndex;
        continue;
      }
      const size_t at = size_t{x + 1} * 3, ahead = forward ? at + 3 : at - 3, behind = forward ? at - 3 : at + 3;
      uint32_t want[3];
      for (uint32_t c = 0; c < 3; ++c)
        want[c] = static_cast<uint32_t>(std::clamp<int32_t>(int32_t(Channel(in[x], c)) + ((current[at + c] + 8) >> 4), 0, 255));
      const uint8_t index = nearest.Find(Opaque(want));
      out[x] = index;
      for (uint32_t c = 0; c < 3; ++c) {
        const int32_t e = int32_t(want[c]) - int32_t(Channel(palette[index], c));
        current[ahead + c] += 7 * e;
        next[behind + c] += 3 * e;
        next[at + c] += 5 * e;
        next[ahead + c] += e;
      }
    }
    current.swap(next);
  }
}

void MapNearest(ImageBuffer& target, PixelRows& rows, NearestEntry& nearest, uint8_t transparentIndex) {
  for (uint32_t y = 0; y < target.Height(); ++y) {
    const uint32_t* in = rows.Row(y);
    uint8_t* out = target.Row(y);
    for (uint32_t x = 0; x < target.Width(); ++x) out[x] = (in[x] >> 24) == 0 ? transparentIndex : nearest.Find(in[x]);
  }
}

// A palette source whose used entries fit keeps them, renumbered in order.
bool PassThrough(ImageBuffer& target, const ImageBuffer& source, uint32_t colours) {
  bool used[256] = {};
  for (uint32_t y = 0; y < source.Height(); ++y) {
    for (uint32_t x = 0; x < source.Width(); ++x) used[source.Row(y)[x]] = true;
  }
  uint32_t palette[256];
  if (source.Format() == PixelFormat::Indexed8)
    std::memcpy(palette, source.Palette(), sizeof palette);
  else
    FillGreyRamp(palette);
  uint8_t renumber[256];
  uint32_t entries[256] = {};
  uint32_t n = 0;
  for (uint32_t i = 0; i < 256; ++i) {
    if (!used[i]) continue;
    renumber[i] = static_cast<uint8_t>(n);
    entries[n++] = palette[i];
  }
  if (n > colours) return false;
  for (uint32_t y = 0; y < source.Height(); ++y) {
    for (uint32_t x = 0; x < source.Width(); ++x) target.Row(y)[x] = renumber[source.Row(y)[x]];
  }
  target.SetPalette(entries, 256);
  return true;
}

// Builds the palette by box splitting and maps the pixels.
Status Reduce(ImageBuffer& target, ImageBuffer& source, const ReductionOptions& options) {
  std::unique_ptr<uint16_t[]> histogram = NewZeroed<uint16_t>(kCells);
  std::unique_ptr<uint8_t[]> labels = NewZeroed<uint8_t>(kCells);
  if (!histogram || !labels) return kStatusOutOfMemory;
  PixelRows rows(source);
  bool transparent = false;
  for (uint32_t y = 0; y < source.Height(); ++y) {
    const uint32_t* in = rows.Row(y);
    for (uint32_t x = 0; x < source.Width(); ++x) {
      if ((in[x] >> 24) == 0) {
        transparent = true;
        continue;
      }
      uint16_t& n = histogram[CellOf(in[x])];
      if (n != 0xFFFF) ++n;
    }
  }
  const uint32_t offset = transparent ? 1 : 0;
  const uint32_t wanted = options.colours - offset;
  std::vector<ColourBox> boxes;
  boxes.reserve(wanted);
  ColourBox whole{};
  for (int c = 0; c < 3; ++c) whole.cutHi[c] = kSide - 1;
  Measure(whole, histogram.get());
  boxes.push_back(whole);
  while (boxes.size() < wanted) {
    const int chosen = ChooseBox(boxes, wanted, histogram.get());
    if (chosen < 0) break;
    Split(boxes, static_cast<size_t>(chosen), histogram.get());
  }
  for (size_t i = 0; i < boxes.size(); ++i) {
    const ColourBox& b = boxes[i];
    for (uint32_t r = b.lo[0]; r <= b.hi[0]; ++r) {
      for (uint32_t g = b.lo[1]; g <= b.hi[1]; ++g) {
        std::fill_n(labels.get() + (r << 12 | g << 6 | b.lo[2]), b.hi[2] - b.lo[2] + 1,
                    static_cast<uint8_t>(i + offset));
      }
    }
  }
  // Refinement: each entry becomes the exact mean of the pixels of its box.
  uint64_t sums[256][3] = {}, counts[256] = {};
  for (uint32_t y = 0; y < source.Height(); ++y) {
    const uint32_t* in = rows.Row(y);
    for (uint32_t x = 0; x < source.Width(); ++x) {
      if ((in[x] >> 24) == 0) continue;
      const uint8_t index = labels[CellOf(in[x])];
      for (uint32_t c = 0; c < 3; ++c) sums[index][c] += Channel(in[x], c);
      ++counts[index];
    }
  }
  uint32_t palette[256] = {};  // a reserved entry 0 is transparent black
  for (size_t i = 0; i < boxes.size(); ++i) {
    const size_t index = i + offset;
    uint32_t rgb[3];
    for (uint32_t c = 0; c < 3; ++c)
      rgb[c] = counts[index] ? static_cast<uint32_t>((sums[index][c] + counts[index] / 2) / counts[index])
                             : boxes[i].mean[c];
    palette[index] = Opaque(rgb);
  }
  target.SetPalette(palette, 256);
  if (options.dither) {
    NearestEntry nearest(palette, offset, static_cast<uint32_t>(boxes.size()));
    if (!nearest.Valid()) return kStatusOutOfMemory;
    MapDithered(target, rows, nearest, palette, 0);
    return kStatusOk;
  }
  for (uint32_t y = 0; y < source.Height(); ++y) {
    const uint32_t* in = rows.Row(y);
    uint8_t* out = target.Row(y);
    for (uint32_t x = 0; x < source.Width(); ++x) out[x] = (in[x] >> 24) == 0 ? 0 : labels[CellOf(in[x])];
  }
  return kStatusOk;
}

// Maps onto a caller's palette: transparent pixels take its first entry
// with alpha 0 (the nearest colour when it has none).
Status MapOntoPalette(ImageBuffer& target, ImageBuffer& source, const ReductionOptions& options) {
  uint32_t palette[256] = {};
  std::memcpy(palette, options.palette, options.paletteCount * 4);
  target.SetPalette(palette, 256);
  NearestEntry nearest(palette, 0, options.paletteCount);
  if (!nearest.Valid()) return kStatusOutOfMemory;
  PixelRows rows(source);
  const uint32_t* clear = std::find_if(palette, palette + options.paletteCount, [](uint32_t c) { return c >> 24 == 0; });
  const uint8_t transparentIndex =
      clear != palette + options.paletteCount ? static_cast<uint8_t>(clear - palette) : nearest.Find(0);
  if (options.dither)
    MapDithered(target, rows, nearest, palette, transparentIndex);
  else
    MapNearest(target, rows, nearest, transparentIndex);
  return kStatusOk;
}

}  // namespace

Status ReduceColours(ImageBuffer& target, ImageBuffer& source, const ReductionOptions& options) {
  if (!IsValidFormat(source.Format())) return kStatusColourFormat;
  const bool givenPalette = options.palette != nullptr;
  if (target.Format() != PixelFormat::Indexed8 || target.Dimensions() != source.Dimensions() ||
      options.colours < 2 || options.colours > 256 ||
      (givenPalette && (options.paletteCount < 1 || options.paletteCount > 256)))
    return kStatusSizeMismatch;
  Ref<ImageBuffer> narrowed;
  ImageBuffer* from = &source;
  if (source.Format() != PixelFormat::Rgba8 && source.Format() != PixelFormat::Grey8 &&
      source.Format() != PixelFormat::Indexed8) {
    const bool colour = source.Format() == PixelFormat::Rgba16 || source.Format() == PixelFormat::RgbaF;
    narrowed = Ref<ImageBuffer>(
        CreateImageBuffer(colour ? PixelFormat::Rgba8 : PixelFormat::Grey8, source.Dimensions(), false));
    if (!narrowed) return kStatusOutOfMemory;
    Status s = ConvertPixels(*narrowed, source);
    if (Failed(s)) return s;
    from = narrowed.get();
  }
  Status s = kStatusOk;
  if (givenPalette)
    s = MapOntoPalette(target, *from, options);
  else if (from->Format() == PixelFormat::Rgba8 || !PassThrough(target, *from, options.colours))
    s = Reduce(target, *from, options);
  if (Failed(s)) return s;
  target.Properties().CopyFrom(source.Properties());
  target.SetUsesAlpha(source.UsesAlpha());
  return kStatusOk;
}

}  // namespace pv
