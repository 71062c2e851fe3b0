#include "codecs/fits/fits_decoder.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <new>

#include "core/checked_math.h"

namespace pv {

namespace {

constexpr uint64_t kCard = 80;
constexpr uint64_t kBlock = 2880;
constexpr uint64_t kValueColumn = 10;

// True when the card's keyword (columns 1-8, blank-padded) is `name`.
bool IsKeyword(const ByteReader& card, const char* name) {
  const size_t n = std::strlen(name);
  const uint8_t* k = card.Span(0, 8);
  if (!k || std::memcmp(k, name, n) != 0) return false;
  for (size_t i = n; i < 8; ++i) {
    if (k[i] != ' ') return false;
  }
  return true;
}

bool StartsSimple(const ByteReader& r) {
  ByteReader card;
  return r.Sub(0, kCard, &card) && IsKeyword(card, "SIMPLE");
}

// Optional blanks, an optional sign and decimal digits from column 11.
int64_t CardNumber(const ByteReader& card) {
  uint64_t i = kValueColumn;
  uint8_t c = 0;
  while (card.U8At(i, c) && c == ' ') ++i;
  bool negative = false;
  if (card.U8At(i, c) && (c == '-' || c == '+')) {
    negative = c == '-';
    ++i;
  }
  int64_t v = 0;
  // Values beyond any image size saturate rather than overflow.
  for (; card.U8At(i, c) && c >= '0' && c <= '9'; ++i) v = v < (int64_t{1} << 40) ? v * 10 + (c - '0') : v;
  return negative ? -v : v;
}

}  // namespace

void FitsDecoder::TakeText(uint32_t id, const ByteReader& card, bool quoted) {
  if (Has(id)) return;
  // A COMMENT card's text runs from column 10; a string value lies between
  // the first quote of the value columns and the next one.
  ByteReader text = card.From(kValueColumn - 1);
  if (quoted) {
    ByteReader value = card.From(kValueColumn), skipped;
    if (!value.TakeUntil('\'', &skipped) || !value.TakeUntil('\'', &text)) return;
  }
  if (text.Size()) SetBorrowed(id, text.Data(), static_cast<uint32_t>(text.Size()), TextEncoding::Cp1252);
}

Status FitsDecoder::ReadHeader(uint32_t, ImageHeader& h) {
  const ByteReader r = Reader();
  if (!StartsSimple(r)) return kStatusUnknownFormat;
  uint8_t simple = 0;
  if (!r.U8At(29, simple) || simple != 'T') return kStatusUnsupported;
  int64_t bitpix = 0, axes = 0, width = 0, height = 0;
  bool ended = false;
  ByteReader cards = r, card;
  while (!ended && cards.TakeSub(kCard, &card)) {
    if (IsKeyword(card, "END")) {
      // The data starts at the next whole block after the END card.
      dataOffset_ = (cards.Offset() + kBlock - 1) / kBlock * kBlock;
      ended = true;
    } else if (IsKeyword(card, "BITPIX")) {
      bitpix = CardNumber(card);
    } else if (IsKeyword(card, "NAXIS")) {
      axes = CardNumber(card);
    } else if (IsKeyword(card, "NAXIS1")) {
      width = CardNumber(card);
    } else if (IsKeyword(card, "NAXIS2")) {
      height = CardNumber(card);
    } else if (IsKeyword(card, "OBJECT")) {
      TakeText(kPropTitle, card, true);
    } else if (IsKeyword(card, "AUTHOR")) {
      TakeText(kPropAuthor, card, true);
    } else if (IsKeyword(card, "ORIGIN") || IsKeyword(card, "OBSERVER")) {
      TakeText(kPropSource, card, true);
    } else if (IsKeyword(card, "DATE")) {
      TakeText(kPropCreationDate, card, true);
    } else if (IsKeyword(card, "COMMENT")) {
      TakeText(kPropComment, card, false);
    }
  }
  // Without an END card nothing tells where the data starts.
  if (!ended) return kStatusDamaged;
  if (bitpix != 0 && bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64)
    return kStatusUnsupported;
  if (axes < 2) return kStatusUnsupported;
  if (width <= 0 || height <= 0) return kStatusUnsupported;
  if (bitpix == 0) return kStatusDamaged;
  if (!IsSaneImageSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return kStatusUnsupported;
  bitpix_ = static_cast<int32_t>(bitpix);
  h.size = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  h.model = ColourModel::L;
  h.bitsPerPixel = static_cast<uint32_t>(bitpix < 0 ? -bitpix : bitpix);
  h.format = bitpix < 0 ? PixelFormat::GreyF : bitpix == 8 ? PixelFormat::Grey8 : PixelFormat::Grey16;
  return kStatusOk;
}

Status FitsDecoder::DecodePixels(ImageBuffer& buffer, bool, ProgressSink* progress, const CancelFlag* cancel) {
  const uint32_t width = Width(), height = Height();
  const uint32_t bytes = BitsPerPixel() / 8;
  const ByteReader data = Reader().From(dataOffset_);
  const uint64_t rowBytes = uint64_t{width} * bytes;
  for (uint32_t r = 0; r < height; ++r) {
    // The file stores the bottom row first.
    uint8_t* dst = buffer.Row(height - 1 - r);
    const uint64_t start = r * rowBytes;
    const uint64_t avail = start < data.Size() ? data.Size() - start : 0;
    const uint32_t complete = static_cast<uint32_t>(std::min<uint64_t>(width, avail / bytes));
    const uint8_t* src = data.Span(start, uint64_t{complete} * bytes);
    for (uint32_t x = 0; x < complete; ++x, src += bytes) {
      switch (bitpix_) {
        case 8:
          dst[x] = src[0];
          break;
        case 16:
        case 32:
          // Signed samples become unsigned; 32-bit ones keep their upper half.
          reinterpret_cast<uint16_t*>(dst)[x] = static_cast<uint16_t>(LoadU16BE(src) + 32768u);
          break;
        case -32: {
          const uint32_t u = LoadU32BE(src);
          float f;
          std::memcpy(&f, &u, 4);
          reinterpret_cast<float*>(dst)[x] = f;
          break;
        }
        default: {
          const uint64_t u = (uint64_t{LoadU32BE(src)} << 32) | LoadU32BE(src + 4);
          double d;
          std::memcpy(&d, &u, 8);
          // Doubles beyond the float range saturate (NaN stays NaN).
          reinterpret_cast<float*>(dst)[x] = d > FLT_MAX ? FLT_MAX : d < -FLT_MAX ? -FLT_MAX : static_cast<float>(d);
        }
      }
    }
    FillMissing(buffer, dst + size_t{complete} * buffer.BytesPerPixel(), width - complete);
    if (progress) progress->Progress(static_cast<int32_t>(r), static_cast<int32_t>(height));
    if (IsCancelled(cancel)) return kStatusOk;
  }
  return kStatusOk;
}

Status ProbeFits(ByteSource& source) {
  return StartsSimple(ByteReader(source.Data(), source.Size())) ? kStatusOk : kStatusUnknownFormat;
}

ImageDecoder* CreateFitsDecoder(ByteSource& source, const FormatEntry& entry) {
  return new (std::nothrow) FitsDecoder(source, entry);
}

void RegisterFitsDecoder() {
  SetFormatFunctions(L"fits", ProbeFits, CreateFitsDecoder);
  SetFormatFunctions(L"fit", ProbeFits, CreateFitsDecoder);
}

}  // namespace pv
