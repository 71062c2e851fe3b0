#include "codecs/hdr/hdr_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "core/checked_math.h"

namespace pv {

namespace {

constexpr uint64_t kMinSize = 11;

bool HasMagic(const ByteReader& r) {
  return r.Size() >= kMinSize && (r.StartsWith("#?RADIANCE", 10) || r.StartsWith("#?RGBE", 6));
}

// The line without its surrounding blanks.
ByteReader Trim(const ByteReader& line) {
  uint64_t begin = 0, end = line.Size();
  const uint8_t* p = line.Data();
  while (begin < end && (p[begin] == ' ' || p[begin] == '\t')) ++begin;
  while (end > begin && (p[end - 1] == ' ' || p[end - 1] == '\t')) --end;
  ByteReader out;
  static_cast<void>(line.Sub(begin, end - begin, &out));
  return out;
}

bool Equals(const ByteReader& text, const char* s, bool ignoreCase) {
  const size_t n = std::strlen(s);
  if (text.Size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = text.Data()[i];
    if (ignoreCase && c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
    if (c != static_cast<uint8_t>(s[i])) return false;
  }
  return true;
}

// The next byte that is not a blank, or 0 at the end.
uint8_t NextNonBlank(ByteReader& in) {
  uint8_t c = 0;
  while (in.U8(c)) {
    if (c != ' ') return c;
  }
  return 0;
}

// Orientation texts by the order of the axes and their signs: [X first][Y+][X+].
constexpr const wchar_t* kOrientations[2][2][2] = {
    {{L"Mirrored", nullptr}, {L"Rotated 180", L"Bottom-Up"}},
    {{L"Rotated 270", L"Rotated 270 & Bottom-Up"}, {L"Rotated 90 & Bottom-Up", L"Rotated 90"}},
};

// Old-style run-length data: a pixel 1, 1, 1, n repeats the previous pixel
// n times, and each further repeat pixel in a row counts 256 times more.
void ReadOldRow(ByteReader& in, uint8_t* row, uint32_t width, uint32_t* got, uint8_t (&previous)[4]) {
  uint32_t x = 0, shift = 0;
  while (x < width) {
    const uint8_t* p = in.Take(4);
    if (!p) break;
    if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
      const uint64_t count = std::min<uint64_t>(uint64_t{p[3]} << shift, width - x);
      for (uint64_t i = 0; i < count; ++i, ++x) std::memcpy(row + 4 * x, previous, 4);
      shift = std::min(shift + 8, 16u);
    } else {
      std::memcpy(previous, p, 4);
      std::memcpy(row + 4 * x++, p, 4);
      shift = 0;
    }
  }
  *got = x;
}

// Separated run-length data: the four components one after another, each
// as packets of a run (count above 128) or of literal bytes.
bool ReadSeparatedRow(ByteReader& in, uint8_t* row, uint32_t width) {
  for (uint32_t c = 0; c < 4; ++c) {
    uint32_t x = 0;
    while (x < width) {
      uint8_t count = 0, value = 0;
      if (!in.U8(count)) return false;
      if (count > 128) {
        if (!in.U8(value)) return false;
        const uint32_t n = std::min<uint32_t>(count - 128u, width - x);
        for (uint32_t i = 0; i < n; ++i, ++x) row[4 * x + c] = value;
      } else {
        const uint32_t n = std::min<uint32_t>(count, width - x);
        const uint8_t* p = in.Take(n);
        if (!p) return false;
        for (uint32_t i = 0; i < n; ++i, ++x) row[4 * x + c] = p[i];
        if (!in.Skip(count - n)) return false;
      }
    }
  }
  return true;
}

}  // namespace

Status HdrDecoder::ReadResolution(const ByteReader& line, ImageHeader& h) {
  // Two tokens of an optional sign, an axis letter and a number: the first
  // counts the scanlines, the second the pixels of each.
  bool xFirst = false, positive[2] = {false, false};
  uint64_t counts[2] = {0, 0};
  ByteReader in = line;
  for (int token = 0; token < 2; ++token) {
    uint8_t c = NextNonBlank(in);
    const bool plus = c != '-';
    if ((c == '+' || c == '-') && !in.U8(c)) return kStatusDamaged;
    const bool isX = (c | 0x20) == 'x';
    if (!isX && (c | 0x20) != 'y') return kStatusDamaged;
    if (token == 1 && isX == xFirst) return kStatusDamaged;
    if (token == 0) xFirst = isX;
    positive[isX] = plus;
    c = NextNonBlank(in);
    if (c < '0' || c > '9') return kStatusDamaged;
    do {
      counts[token] = std::min<uint64_t>(counts[token] * 10 + (c - '0'), uint64_t{1} << 32);
    } while (in.U8(c) && c >= '0' && c <= '9');
  }
  if (!counts[0] || !counts[1]) return kStatusUnknownFormat;
  if (!IsSaneImageSize(counts[1], counts[0])) return kStatusUnsupported;
  h.size = {static_cast<uint32_t>(counts[1]), static_cast<uint32_t>(counts[0])};
  // The standard order (-Y then +X) needs no turn.
  if (const wchar_t* text = kOrientations[xFirst][positive[0]][positive[1]]) SetStatic(kPropOrientation, text);
  return kStatusOk;
}

Status HdrDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  ByteReader r = Reader();
  if (!HasMagic(r)) return kStatusUnknownFormat;
  h.model = ColourModel::Rgb;
  for (;;) {
    uint8_t c = 0;
    while (r.U8At(r.Offset(), c) && (c == 0 || c == '\r' || c == '\n')) static_cast<void>(r.Skip(1));
    if (r.AtEnd()) return kStatusUnknownFormat;
    if (c < 32) return kStatusUnknownFormat;
    ByteReader line;
    if (!r.TakeUntil('\n', &line)) return kStatusUnknownFormat;
    if (line.Size() && line.Data()[line.Size() - 1] == '\r') static_cast<void>(line.Sub(0, line.Size() - 1, &line));
    if (c == '#') {
      const ByteReader text = Trim(line.From(1));
      if (text.Size() && text.Data()[0] != '?' && !Has(kPropComment))
        SetBorrowed(kPropComment, text.Data(), static_cast<uint32_t>(text.Size()), TextEncoding::Cp1252);
      continue;
    }
    const uint8_t* eq = static_cast<const uint8_t*>(std::memchr(line.Data(), '=', line.Size()));
    if (!eq) {
      // Lines without "=" that are no resolution line are the commands that
      // made the picture, which some writers list in the header.
      Status s = ReadResolution(line, h);
      if (s == kStatusDamaged) continue;
      if (Failed(s)) return s;
      break;
    }
    const uint64_t at = static_cast<uint64_t>(eq - line.Data());
    ByteReader name, value;
    static_cast<void>(line.Sub(0, at, &name));
    value = Trim(line.From(at + 1));
    if (!Equals(Trim(name), "format", true)) continue;
    if (Equals(value, "32-bit_rle_rgbe", false))
      h.model = ColourModel::Rgb;
    else if (Equals(value, "32-bit_rle_xyze", false))
      h.model = ColourModel::Xyz;
    else
      return kStatusUnsupported;
  }
  dataOffset_ = r.Offset();
  h.format = PixelFormat::RgbaF;
  h.bitsPerPixel = 32;
  h.usesAlpha = 0;
  return kStatusOk;
}

Status HdrDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const uint32_t width = Width(), height = Height();
  std::unique_ptr<uint8_t[]> scan(new (std::nothrow) uint8_t[size_t{width} * 4]);
  if (!scan) return kStatusOutOfMemory;
  // RGBE keeps R, G, B in floats 2, 1, 0 (the buffer's B, G, R order); XYZE
  // keeps X, Y, Z in floats 0, 1, 2, where the XYZ conversion reads them.
  const bool xyz = Model() == ColourModel::Xyz;
  const int place[3] = {xyz ? 0 : 2, 1, xyz ? 2 : 0};
  ByteReader in = Reader().From(dataOffset_);
  uint8_t previous[4] = {0, 0, 0, 0};
  for (uint32_t y = 0; y < height; ++y) {
    uint32_t got = 0;
    const uint8_t* head = in.Span(in.Offset(), 4);
    if (head && head[0] == 2 && head[1] == 2 && LoadU16BE(head + 2) == width) {
      static_cast<void>(in.Skip(4));
      got = ReadSeparatedRow(in, scan.get(), width) ? width : 0;
    } else {
      ReadOldRow(in, scan.get(), width, &got, previous);
    }
    float* dst = reinterpret_cast<float*>(buffer.Row(y));
    for (uint32_t x = 0; x < got; ++x) {
      const uint8_t* p = scan.get() + 4 * x;
      float* q = dst + 4 * x;
      const float f = p[3] ? std::ldexp(1.0f, p[3] - 136) : 0.0f;
      for (int c = 0; c < 3; ++c) q[place[c]] = p[3] ? (p[c] + 0.5f) * f : 0.0f;
      q[3] = 1.0f;
    }
    FillMissing(buffer, reinterpret_cast<uint8_t*>(dst + 4 * size_t{got}), width - got);
    if (IsCancelled(cancel)) return kStatusOk;
    ReportRow(progress, y + 1, height);
  }
  return kStatusOk;
}

Status ProbeHdr(ByteSource& source) {
  return HasMagic(ByteReader(source.Data(), source.Size())) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateHdrDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) HdrDecoder(source, entry);
}

void RegisterHdrDecoder() {
  SetFormatFunctions(L"hdr", ProbeHdr, CreateHdrDecoder);
  SetFormatFunctions(L"img", ProbeHdr, CreateHdrDecoder);
  SetFormatFunctions(L"pic", ProbeHdr, CreateHdrDecoder);
}

}  // namespace pv
