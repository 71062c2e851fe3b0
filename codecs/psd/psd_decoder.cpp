#include "codecs/psd/psd_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/endian.h"
#include "core/packbits.h"
#include "core/row_helpers.h"
#include "metadata/photoshop_resources.h"

namespace pv {

namespace {

constexpr uint64_t kMinProbeSize = 30;
constexpr uint64_t kColourDataOffset = 26;
constexpr uint16_t kMaxChannels = 56;
// 32-bit channels are never PackBits-coded by Photoshop; such a file gets this status of its own.
constexpr Status kStatusPackedFloat = static_cast<Status>(0x80028019);

enum Mode : uint16_t {
  kBitmap = 0,
  kGrey = 1,
  kIndexed = 2,
  kRgb = 3,
  kCmyk = 4,
  kMultichannel = 7,
  kDuotone = 8,
  kLab = 9,
};

bool ProbeBytes(const ByteReader& r) {
  uint16_t version = 0;
  return r.Size() >= kMinProbeSize && r.StartsWith("8BPS", 4) && r.U16BEAt(4, version) &&
         (version == 1 || version == 2);
}

}  // namespace

// Where the file's channels go in the buffer.
struct PsdDecoder::Placement {
  uint32_t count = 0;      // channels read
  uint8_t sample[4] = {};  // buffer sample of each
  uint32_t samplesPerPixel = 1;
};

Status PsdDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!ProbeBytes(r)) return kStatusUnknownFormat;
  uint16_t version = 0;
  uint32_t height = 0, width = 0;
  if (!r.U16BEAt(4, version) || !r.U16BEAt(12, channels_) || !r.U32BEAt(14, height) || !r.U32BEAt(18, width) ||
      !r.U16BEAt(22, depth_) || !r.U16BEAt(24, mode_))
    return kStatusUnknownFormat;
  large_ = version == 2;
  const bool depthOk = mode_ == kBitmap ? depth_ == 1 : depth_ == 8 || depth_ == 16 || depth_ == 32;
  if (!depthOk || mode_ > kLab || !channels_ || channels_ > kMaxChannels) return kStatusUnsupported;

  uint32_t minChannels = 1;
  h.format = PixelFormat::Grey8;
  h.model = ColourModel::L;
  switch (mode_) {
    case kBitmap:
      break;
    case kGrey:
    case kDuotone:
    case kMultichannel:
      h.format = depth_ == 8 ? PixelFormat::Grey8 : depth_ == 16 ? PixelFormat::Grey16 : PixelFormat::GreyF;
      break;
    case kIndexed:
      if (depth_ != 8) return kStatusUnsupported;
      h.format = PixelFormat::Indexed8;
      h.model = ColourModel::Rgb;
      h.usesAlpha = 1;
      break;
    case kRgb:
      minChannels = 3;
      h.format = depth_ == 8 ? PixelFormat::Rgba8 : depth_ == 16 ? PixelFormat::Rgba16 : PixelFormat::RgbaF;
      h.model = ColourModel::Rgb;
      h.usesAlpha = channels_ > 3;
      break;
    case kCmyk:
      if (depth_ == 32) return kStatusUnsupported;
      minChannels = 4;
      h.format = depth_ == 8 ? PixelFormat::Rgba8 : PixelFormat::Rgba16;
      h.model = ColourModel::Cmyk;
      break;
    case kLab:
      // 16-bit Lab keeps the high byte of each sample.
      if (depth_ == 32) return kStatusUnsupported;
      minChannels = 3;
      h.format = PixelFormat::Rgba8;
      h.model = ColourModel::Lab;
      break;
    default:
      return kStatusUnsupported;
  }
  if (channels_ < minChannels) return kStatusUnsupported;
  if (!IsSaneImageSize(width, height)) return width && height ? kStatusUnsupported : kStatusDamaged;
  h.size = {width, height};
  h.bitsPerPixel = uint32_t{depth_} * channels_;

  // The three sections before the image data, each checked against the file.
  ByteReader in = r;
  uint32_t colourLength = 0, resourceLength = 0;
  ByteReader colourData, resources;
  if (!in.Seek(kColourDataOffset) || !in.U32BE(colourLength) || !in.TakeSub(colourLength, &colourData) ||
      !in.U32BE(resourceLength) || !in.TakeSub(resourceLength, &resources))
    return kStatusDamaged;
  uint64_t layerLength = 0;
  uint32_t low = 0;
  if (large_) {
    uint32_t high = 0;
    if (!in.U32BE(high) || !in.U32BE(low)) return kStatusDamaged;
    layerLength = uint64_t{high} << 32 | low;
  } else {
    if (!in.U32BE(low)) return kStatusDamaged;
    layerLength = low;
  }
  uint16_t compression = 0;
  if (!in.Skip(layerLength) || !in.U16BE(compression)) return kStatusDamaged;
  if (compression > 1) return kStatusUnsupported;
  packBits_ = compression == 1;
  dataOffset_ = in.Offset();
  if (packBits_) {
    SetStatic(kPropCompression, L"RLE");
    // The row-count table must be there even when the rows it counts are cut.
    if (!in.Skip(uint64_t{channels_} * height * (large_ ? 4 : 2))) return kStatusDamaged;
  }

  if (mode_ == kIndexed) {
    paletteOffset_ = kColourDataOffset + 4;
    paletteEntries_ = colourLength / 3;
    h.paletteEntries = std::min(paletteEntries_, 256u);
  }
  ReadPhotoshopResources(resources, *this);
  return kStatusOk;
}

void PsdDecoder::WritePalette(ImageBuffer& buffer) const {
  PaletteView* view = buffer.AsIndexed8();
  if (!view) return;
  ByteReader planes;
  if (!Reader().Sub(paletteOffset_, uint64_t{paletteEntries_} * 3, &planes)) return;
  const uint8_t* p = planes.Data();
  uint32_t* palette = view->Palette();
  for (uint32_t i = 0; i < std::min(paletteEntries_, 256u); ++i) {
    palette[i] = 0xFF000000u | uint32_t{p[i]} << 16 | uint32_t{p[paletteEntries_ + i]} << 8 |
                 p[2 * paletteEntries_ + i];
  }
}

Status PsdDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  if (packBits_ && depth_ == 32) return kStatusPackedFloat;
  WritePalette(buffer);
  Placement place;
  switch (mode_) {
    case kRgb:
      place = {3, {2, 1, 0}, 4};
      break;
    case kCmyk:
      place = {4, {0, 1, 2, 3}, 4};
      break;
    case kLab:
      place = {3, {0, 1, 2}, 4};
      break;
    default:
      place = {1, {0}, 1};
  }
  const uint32_t width = Width(), height = Height();
  // Raw 8-bit RGB with all its planes there, the common case, in one pass over the buffer.
  const uint64_t plane = uint64_t{width} * height;
  const uint8_t* planes = Reader().Span(dataOffset_, 3 * plane);
  if (mode_ == kRgb && depth_ == 8 && !packBits_ && planes) {
    for (uint32_t y = 0; y < height; ++y) {
      PlanarRgbToRgba8(buffer.Row(y), planes + uint64_t{y} * width, width, plane);
      ReportRow(progress, y + 1, height);
    }
    return kStatusOk;
  }
  // What no channel reaches: alpha full, everything else 0.
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = buffer.Row(y);
    if (buffer.Format() == PixelFormat::Rgba8) {
      std::fill_n(reinterpret_cast<uint32_t*>(row), width, 0xFF000000u);
      continue;
    }
    std::memset(row, 0, size_t{width} * buffer.BytesPerPixel());
    for (uint32_t x = 0; x < width && place.samplesPerPixel == 4; ++x) {
      if (buffer.Format() == PixelFormat::Rgba16) reinterpret_cast<uint16_t*>(row)[4 * x + 3] = 65535;
      else reinterpret_cast<float*>(row)[4 * x + 3] = 1.0f;
    }
  }
  const Status s = ReadChannels(buffer, place, progress, cancel);
  if (Failed(s) || IsCancelled(cancel)) return s;

  for (uint32_t y = 0; y < height && (mode_ == kCmyk || mode_ == kLab); ++y) {
    uint8_t* row = buffer.Row(y);
    if (mode_ == kLab) {
      // The file's a and b are offset by 128; the Lab conversion wants them signed.
      for (uint32_t x = 0; x < width; ++x) {
        row[4 * x + 1] = static_cast<uint8_t>(row[4 * x + 1] + 128);
        row[4 * x + 2] = static_cast<uint8_t>(row[4 * x + 2] + 128);
      }
    } else {
      // The file stores 0 for full ink; the CMYK conversion wants ink.
      for (size_t i = 0; i < size_t{width} * buffer.BytesPerPixel(); ++i) row[i] = static_cast<uint8_t>(~row[i]);
    }
  }
  return kStatusOk;
}

Status PsdDecoder::ReadChannels(ImageBuffer& buffer, const Placement& place, ProgressSink* progress,
                                const CancelFlag* cancel) const {
  const ByteReader r = Reader();
  const uint32_t width = Width(), height = Height();
  const uint64_t rowBytes = depth_ == 1 ? (uint64_t{width} + 7) / 8 : uint64_t{width} * (depth_ / 8);
  // PackBits runs go on across row ends but stop at the end of a channel,
  // so each channel is expanded whole.
  const uint64_t planeBytes = rowBytes * height;
  std::unique_ptr<uint8_t[]> plane(packBits_ ? new (std::nothrow) uint8_t[planeBytes] : nullptr);
  if (packBits_ && !plane) return kStatusOutOfMemory;
  const uint64_t tableBytes = packBits_ ? uint64_t{channels_} * height * (large_ ? 4 : 2) : 0;
  ByteReader packed = r.From(dataOffset_ + tableBytes);
  const uint32_t spp = place.samplesPerPixel;
  for (uint32_t c = 0; c < place.count; ++c) {
    if (IsCancelled(cancel)) return kStatusOk;
    const uint32_t s = place.sample[c];
    const uint64_t expanded = packBits_ ? ExpandPackBits(packed, plane.get(), planeBytes) : 0;
    for (uint32_t y = 0; y < height; ++y) {
      const uint8_t* src = nullptr;
      uint64_t got = 0;
      if (packBits_) {
        const uint64_t offset = y * rowBytes;
        got = expanded > offset ? std::min(rowBytes, expanded - offset) : 0;
        src = plane.get() + offset;
      } else {
        const uint64_t offset = dataOffset_ + (uint64_t{c} * height + y) * rowBytes;
        got = offset < r.Size() ? std::min(rowBytes, r.Size() - offset) : 0;
        src = r.Span(offset, got);
      }
      ReportRow(progress, c * height + y + 1, place.count * height);
      if (!got) continue;
      uint8_t* dst = buffer.Row(y);
      switch (depth_) {
        case 1:
          for (uint32_t x = 0; x < std::min<uint64_t>(width, got * 8); ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 1;  // 1 bit per pixel: set is black
          break;
        case 8:
          if (spp == 1) {
            std::memcpy(dst, src, got);
          } else {
            for (uint32_t x = 0; x < got; ++x) dst[x * spp + s] = src[x];
          }
          break;
        case 16:
          if (buffer.Format() == PixelFormat::Rgba8) {
            for (uint32_t x = 0; x < got / 2; ++x) dst[x * spp + s] = src[2 * x];
          } else {
            uint16_t* d16 = reinterpret_cast<uint16_t*>(dst);
            for (uint32_t x = 0; x < got / 2; ++x) d16[x * spp + s] = LoadU16BE(src + 2 * x);
          }
          break;
        default: {
          float* df = reinterpret_cast<float*>(dst);
          for (uint32_t x = 0; x < got / 4; ++x) {
            const uint32_t bits = LoadU32BE(src + 4 * x);
            std::memcpy(&df[x * spp + s], &bits, 4);
          }
        }
      }
    }
  }
  return kStatusOk;
}

Status ProbePsd(ByteSource& source) {
  return ProbeBytes(ByteReader(source.Data(), source.Size())) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreatePsdDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) PsdDecoder(source, entry);
}

void RegisterPsdDecoder() { SetFormatFunctions(L"psd", ProbePsd, CreatePsdDecoder); }

}  // namespace pv
