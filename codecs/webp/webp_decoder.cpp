#include "codecs/webp/webp_decoder.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"
#include "core/endian.h"
#include "metadata/exif_reader.h"
#include "metadata/xmp_reader.h"

namespace pv {

namespace {

constexpr uint64_t kMinProbeSize = 32;
constexpr uint64_t kChunkHeader = 8;
constexpr uint64_t kFrameHeader = 16;

enum Vp8xFlag : uint8_t { kAnimation = 0x02, kXmp = 0x04, kExif = 0x08, kAlpha = 0x10 };

bool IsTag(const uint8_t* tag, const char* name) { return std::memcmp(tag, name, 4) == 0; }

uint32_t U24At(const ByteReader& r, uint64_t offset) {
  const uint8_t* p = r.Span(offset, 3);
  return p ? uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 : 0;
}

Status CheckRiff(const ByteReader& r) {
  if (r.Size() < kMinProbeSize || !r.StartsWith("RIFF", 4)) return kStatusUnknownFormat;
  const uint8_t* form = r.Span(8, 8);
  if (!IsTag(form, "WEBP")) return kStatusUnknownFormat;
  // A RIFF WebP file that starts with anything else is a damaged WebP file, not another format.
  const uint8_t* first = form + 4;
  if (!IsTag(first, "VP8 ") && !IsTag(first, "VP8L") && !IsTag(first, "VP8X")) return kStatusDamaged;
  return kStatusOk;
}

}  // namespace

// What the walk over the chunks has learnt about the whole file.
struct WebpDecoder::Parse {
  bool vp8x = false;
  uint8_t flags = 0;
  ImageSize canvas;
  bool animated = false;
  uint32_t background = 0;
  uint8_t loop = 0;
  uint32_t frames = 0;
  bool lossy = false, lossless = false;
  ImageHeader first;
};

Status WebpDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  Status s = CheckRiff(r);
  if (Failed(s)) return s;
  uint32_t riffSize = 0;
  if (!r.U32LEAt(4, riffSize)) return kStatusUnknownFormat;
  // The chunks end with the RIFF size or with the file, whichever comes first.
  const uint64_t end = std::min<uint64_t>(uint64_t{riffSize} + kChunkHeader, r.Size());
  ByteReader chunks;
  if (end < 12 || !r.Sub(12, end - 12, &chunks)) return kStatusDamaged;
  Parse p;
  s = ReadChunks(chunks, p, stream_, true);
  if (Failed(s)) return s;
  if (p.animated) {
    if (!p.frames) return kStatusDamaged;
    h = p.first;
    FrameFields& f = h.frame;
    f.canvasWidth = p.canvas.width;
    f.canvasHeight = p.canvas.height;
    f.background = p.background;
    f.loop = p.loop;
  } else {
    // A still image fills the canvas exactly.
    if (p.vp8x && p.canvas != stream_.size) return kStatusDamaged;
    stream_.shown = stream_.size;
    Describe(stream_, h);
    (stream_.lossless ? p.lossless : p.lossy) = true;
  }
  SetStatic(kPropCompression, p.lossy && p.lossless ? L"Mixed VP8" : p.lossless ? L"Lossless VP8" : L"Lossy VP8");
  return kStatusOk;
}

Status WebpDecoder::ReadChunks(ByteReader chunks, Parse& p, Stream& stream, bool topLevel) {
  const uint8_t* const file = Reader().Data();
  while (chunks.Remaining() >= kChunkHeader) {
    const uint64_t start = chunks.Offset();
    const uint8_t* tag = chunks.Take(4);
    uint32_t size = 0;
    ByteReader data;
    // A chunk that claims more than is left ends the walk.
    if (!chunks.U32LEAt(start + 4, size) || !chunks.Skip(4) || !chunks.TakeSub(size, &data)) break;
    if (size & 1) chunks.Skip(1);
    if (IsTag(tag, "VP8 ") || IsTag(tag, "VP8L")) {
      // The first bitstream counts; an animation's come from its frames only.
      if (stream.found || (topLevel && p.animated)) continue;
      const Status s = ReadBitstream(tag, data, stream);
      if (Failed(s)) return s;
      continue;
    }
    // Chunks other than the bitstream count only after a VP8X chunk, which sets the flags.
    if (IsTag(tag, "ALPH") && (p.flags & kAlpha) && !stream.alphaSize) {
      stream.alphaChunk = static_cast<uint64_t>(data.Data() - file) - kChunkHeader;
      stream.alphaSize = kChunkHeader + size;
      continue;
    }
    if (!topLevel) continue;
    if (IsTag(tag, "VP8X") && !p.vp8x && size >= 10) {
      p.vp8x = true;
      p.flags = data.Data()[0];
      p.canvas = {U24At(data, 4) + 1, U24At(data, 7) + 1};
    } else if (!p.vp8x) {
      continue;
    } else if (IsTag(tag, "ANIM") && (p.flags & kAnimation) && size >= 6 && !p.animated) {
      uint32_t background = 0;
      uint16_t loops = 0;
      if (!data.U32LEAt(0, background) || !data.U16LEAt(4, loops)) continue;
      // A transparent background colour leaves the canvas transparent black.
      if (background >> 24) p.background = background;
      p.loop = loops != 1;
      if (!IsSaneImageSize(p.canvas.width, p.canvas.height)) return kStatusUnsupported;
      p.animated = true;
    } else if (IsTag(tag, "ANMF") && p.animated) {
      const Status s = ReadFrame(data, p);
      if (Failed(s)) return s;
    } else if (IsTag(tag, "EXIF") && (p.flags & kExif)) {
      ReadExifData(data, *this);
    } else if (IsTag(tag, "XMP ") && (p.flags & kXmp)) {
      ReadXmpPacket(data, *this);
    }
  }
  return stream.found || p.frames ? kStatusOk : kStatusDamaged;
}

Status WebpDecoder::ReadBitstream(const uint8_t tag[4], const ByteReader& data, Stream& stream) const {
  uint32_t width = 0, height = 0;
  if (IsTag(tag, "VP8 ")) {
    static const uint8_t kStartCode[3] = {0x9D, 0x01, 0x2A};
    uint16_t w = 0, h = 0;
    if (data.Size() < 10 || std::memcmp(data.Data() + 3, kStartCode, 3) != 0) return kStatusDamaged;
    const uint32_t frameTag = U24At(data, 0);
    const bool keyFrame = !(frameTag & 1), shown = (frameTag >> 4) & 1;
    const uint32_t version = (frameTag >> 1) & 7, partition = frameTag >> 5;
    if (!keyFrame || version > 3 || !shown || partition >= data.Size()) return kStatusDamaged;
    if (!data.U16LEAt(6, w) || !data.U16LEAt(8, h)) return kStatusDamaged;
    width = w & 0x3FFF;
    height = h & 0x3FFF;
    stream.lossless = false;
  } else {
    WebPBitstreamFeatures features;
    if (data.Size() < 5 || WebPGetFeatures(data.Data(), data.Size(), &features) != VP8_STATUS_OK ||
        features.format != 2)  // 2: lossless
      return kStatusDamaged;
    width = static_cast<uint32_t>(features.width);
    height = static_cast<uint32_t>(features.height);
    stream.lossless = true;
    stream.alpha = features.has_alpha != 0;
  }
  if (!width || !height) return kStatusDamaged;
  stream.size = {width, height};
  stream.offset = static_cast<uint64_t>(data.Data() - Reader().Data());
  stream.length = data.Size();
  stream.found = true;
  return kStatusOk;
}

Status WebpDecoder::ReadFrame(const ByteReader& data, Parse& p) {
  if (p.frames == kMaxFrameCount) return kStatusOk;
  uint8_t flags = 0;
  if (data.Size() < kFrameHeader || !data.U8At(15, flags)) return kStatusDamaged;
  const uint32_t left = U24At(data, 0) * 2, top = U24At(data, 3) * 2;
  const ImageSize size{U24At(data, 6) + 1, U24At(data, 9) + 1};
  Stream frame;
  const Status s = ReadChunks(data.From(kFrameHeader), p, frame, false);
  if (Failed(s)) return s;
  // The frame's bitstream must be the size the frame gives.
  if (frame.size != size) return kStatusDamaged;
  // Clipped to the canvas; a frame wholly outside has nothing to show.
  if (left >= p.canvas.width || top >= p.canvas.height) return kStatusOk;
  frame.shown = {std::min(size.width, p.canvas.width - left), std::min(size.height, p.canvas.height - top)};
  ImageHeader h;
  Describe(frame, h);
  h.frame.left = left;
  h.frame.top = top;
  h.frame.delay = U24At(data, 12);
  h.frame.disposal = flags & 1;
  h.frame.blend = !(flags & 2);
  (frame.lossless ? p.lossless : p.lossy) = true;
  if (!p.frames) {
    stream_ = frame;
    p.first = h;
  } else {
    Ref<WebpDecoder> next(new (std::nothrow) WebpDecoder(*source_, entry_));
    if (!next) return kStatusOutOfMemory;
    next->stream_ = frame;
    AppendNext(std::move(next), h);
  }
  ++p.frames;
  return kStatusOk;
}

void WebpDecoder::Describe(const Stream& stream, ImageHeader& h) {
  const bool alpha = stream.lossless ? stream.alpha : stream.alphaSize != 0;
  h.size = stream.shown;
  h.format = PixelFormat::Rgba8;
  h.model = ColourModel::Rgb;
  h.bitsPerPixel = alpha ? 32 : 24;
  h.usesAlpha = alpha;
}

Status WebpDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink*, const CancelFlag*) {
  const ByteReader r = Reader();
  const Stream& st = stream_;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return kStatusLibraryMissing;
  WebPRGBABuffer& out = config.output.u.RGBA;
  config.output.colorspace = MODE_BGRA;
  config.output.is_external_memory = 1;
  out.rgba = buffer.Pixels();
  out.stride = static_cast<int>(buffer.RowBytes());
  out.size = buffer.RowBytes() * buffer.Height();
  if (st.shown != st.size) {
    config.options.use_cropping = 1;
    config.options.crop_width = static_cast<int>(st.shown.width);
    config.options.crop_height = static_cast<int>(st.shown.height);
  }
  const uint8_t* data = r.Span(st.offset, st.length);
  uint64_t size = st.length;
  std::unique_ptr<uint8_t[]> joined;
  if (!st.lossless && st.alphaSize) {
    if (st.alphaChunk < st.offset) {
      // libwebp takes the ALPH chunk followed by the VP8 chunk, other chunks between them skipped.
      size = st.offset + st.length - st.alphaChunk;
      data = r.Span(st.alphaChunk, size);
    } else {
      // Alpha stored after the bitstream: the two chunks joined in that order.
      const uint64_t alphaPadded = (st.alphaSize + 1) & ~uint64_t{1};
      size = alphaPadded + kChunkHeader + st.length;
      joined.reset(new (std::nothrow) uint8_t[size]());
      if (!joined) return kStatusOutOfMemory;
      std::memcpy(joined.get(), r.Span(st.alphaChunk, st.alphaSize), st.alphaSize);
      std::memcpy(joined.get() + alphaPadded, "VP8 ", 4);
      StoreU32LE(joined.get() + alphaPadded + 4, static_cast<uint32_t>(st.length));
      std::memcpy(joined.get() + alphaPadded + kChunkHeader, data, st.length);
      data = joined.get();
    }
  }
  if (!data) return kStatusDamaged;
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  if (status == VP8_STATUS_OUT_OF_MEMORY) return kStatusOutOfMemory;
  return status == VP8_STATUS_OK ? kStatusOk : kStatusDamaged;
}

Status ProbeWebp(ByteSource& source) { return CheckRiff(ByteReader(source.Data(), source.Size())); }

ImageDecoder* CreateWebpDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) WebpDecoder(source, entry);
}

void RegisterWebpDecoder() { SetFormatFunctions(L"webp", ProbeWebp, CreateWebpDecoder); }

}  // namespace pv
