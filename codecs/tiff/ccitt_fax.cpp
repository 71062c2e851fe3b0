#include "codecs/tiff/ccitt_fax.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

namespace pv {

namespace {

struct RunCode {
  const char* bits;
  uint16_t run;
};

// The terminating and make-up codes of T.4.
constexpr RunCode kWhiteCodes[] = {
    {"00110101", 0},     {"000111", 1},      {"0111", 2},        {"1000", 3},        {"1011", 4},
    {"1100", 5},         {"1110", 6},        {"1111", 7},        {"10011", 8},       {"10100", 9},
    {"00111", 10},       {"01000", 11},      {"001000", 12},     {"000011", 13},     {"110100", 14},
    {"110101", 15},      {"101010", 16},     {"101011", 17},     {"0100111", 18},    {"0001100", 19},
    {"0001000", 20},     {"0010111", 21},    {"0000011", 22},    {"0000100", 23},    {"0101000", 24},
    {"0101011", 25},     {"0010011", 26},    {"0100100", 27},    {"0011000", 28},    {"00000010", 29},
    {"00000011", 30},    {"00011010", 31},   {"00011011", 32},   {"00010010", 33},   {"00010011", 34},
    {"00010100", 35},    {"00010101", 36},   {"00010110", 37},   {"00010111", 38},   {"00101000", 39},
    {"00101001", 40},    {"00101010", 41},   {"00101011", 42},   {"00101100", 43},   {"00101101", 44},
    {"00000100", 45},    {"00000101", 46},   {"00001010", 47},   {"00001011", 48},   {"01010010", 49},
    {"01010011", 50},    {"01010100", 51},   {"01010101", 52},   {"00100100", 53},   {"00100101", 54},
    {"01011000", 55},    {"01011001", 56},   {"01011010", 57},   {"01011011", 58},   {"01001010", 59},
    {"01001011", 60},    {"00110010", 61},   {"00110011", 62},   {"00110100", 63},   {"11011", 64},
    {"10010", 128},      {"010111", 192},    {"0110111", 256},   {"00110110", 320},  {"00110111", 384},
    {"01100100", 448},   {"01100101", 512},  {"01101000", 576},  {"01100111", 640},  {"011001100", 704},
    {"011001101", 768},  {"011010010", 832}, {"011010011", 896}, {"011010100", 960}, {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280}, {"011011010", 1344},
    {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},
    {"010011011", 1728},
};

constexpr RunCode kBlackCodes[] = {
    {"0000110111", 0},      {"010", 1},             {"11", 2},              {"10", 3},
    {"011", 4},             {"0011", 5},            {"0010", 6},            {"00011", 7},
    {"000101", 8},          {"000100", 9},          {"0000100", 10},        {"0000101", 11},
    {"0000111", 12},        {"00000100", 13},       {"00000111", 14},       {"000011000", 15},
    {"0000010111", 16},     {"0000011000", 17},     {"0000001000", 18},     {"00001100111", 19},
    {"00001101000", 20},    {"00001101100", 21},    {"00000110111", 22},    {"00000101000", 23},
    {"00000010111", 24},    {"00000011000", 25},    {"000011001010", 26},   {"000011001011", 27},
    {"000011001100", 28},   {"000011001101", 29},   {"000001101000", 30},   {"000001101001", 31},
    {"000001101010", 32},   {"000001101011", 33},   {"000011010010", 34},   {"000011010011", 35},
    {"000011010100", 36},   {"000011010101", 37},   {"000011010110", 38},   {"000011010111", 39},
    {"000001101100", 40},   {"000001101101", 41},   {"000011011010", 42},   {"000011011011", 43},
    {"000001010100", 44},   {"000001010101", 45},   {"000001010110", 46},   {"000001010111", 47},
    {"000001100100", 48},   {"000001100101", 49},   {"000001010010", 50},   {"000001010011", 51},
    {"000000100100", 52},   {"000000110111", 53},   {"000000111000", 54},   {"000000100111", 55},
    {"000000101000", 56},   {"000001011000", 57},   {"000001011001", 58},   {"000000101011", 59},
    {"000000101100", 60},   {"000001011010", 61},   {"000001100110", 62},   {"000001100111", 63},
    {"0000001111", 64},     {"000011001000", 128},  {"000011001001", 192},  {"000001011011", 256},
    {"000000110011", 320},  {"000000110100", 384},  {"000000110101", 448},  {"0000001101100", 512},
    {"0000001101101", 576}, {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216}, {"0000001010010", 1280},
    {"0000001010011", 1344}, {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};

// Make-up codes both colours share.
constexpr RunCode kExtendedCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr uint32_t kLookupBits = 13;  // the longest code

// Every 13-bit window maps to the code it starts with: its length (0: no
// code) and run.
struct Lookup {
  struct Slot {
    uint16_t run = 0;
    uint8_t bits = 0;
  };
  std::array<Slot, 1u << kLookupBits> white, black;

  Lookup() {
    for (const RunCode& c : kWhiteCodes) Add(white, c);
    for (const RunCode& c : kBlackCodes) Add(black, c);
    for (const RunCode& c : kExtendedCodes) {
      Add(white, c);
      Add(black, c);
    }
  }
  static void Add(std::array<Slot, 1u << kLookupBits>& table, const RunCode& c) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(c.bits));
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; ++i) value = value << 1 | (c.bits[i] == '1');
    const uint32_t spread = kLookupBits - length;
    for (uint32_t i = 0; i < (1u << spread); ++i) table[(value << spread) | i] = {c.run, static_cast<uint8_t>(length)};
  }
};

const Lookup& Codes() {
  static const Lookup lookup;
  return lookup;
}

constexpr std::array<uint8_t, 256> kReversed = [] {
  std::array<uint8_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
    table[i] = static_cast<uint8_t>(r);
  }
  return table;
}();

// Sets the bits of pixels from..to-1: masks for the partial bytes at the
// ends, whole bytes between.
void SetBlack(uint8_t* row, uint32_t from, uint32_t to) {
  if (from >= to) return;
  const uint32_t first = from >> 3, last = (to - 1) >> 3;
  const uint8_t head = static_cast<uint8_t>(0xFF >> (from & 7)), tail = static_cast<uint8_t>(0xFF << (7 - ((to - 1) & 7)));
  if (first == last) {
    row[first] |= head & tail;
    return;
  }
  row[first] |= head;
  for (uint32_t i = first + 1; i < last; ++i) row[i] = 0xFF;
  row[last] |= tail;
}

constexpr uint32_t kEol = 1;  // eleven zeros and a one, as a 12-bit window
constexpr uint32_t kEolBits = 12;

}  // namespace

std::unique_ptr<FaxDecoder> FaxDecoder::Create(uint32_t compression, uint32_t options, uint32_t width,
                                               bool reversed) {
  Coding coding;
  uint32_t align = 0;
  switch (compression) {
    case 2:
      coding = Coding::Huffman, align = 8;
      break;
    case 32771:
      coding = Coding::Huffman, align = 16;
      break;
    case 3:
      coding = Coding::T4;
      break;
    case 4:
      coding = Coding::T6;
      break;
    default:
      return nullptr;
  }
  std::unique_ptr<FaxDecoder> d(new (std::nothrow) FaxDecoder(coding, align, coding == Coding::T4 && (options & 1),
                                                              width, reversed));
  if (!d) return nullptr;
  d->reference_.reset(new (std::nothrow) uint32_t[d->capacity_ + 2]);
  d->current_.reset(new (std::nothrow) uint32_t[d->capacity_ + 2]);
  if (!d->reference_ || !d->current_) return nullptr;
  Codes();
  return d;
}

FaxDecoder::FaxDecoder(Coding coding, uint32_t alignBits, bool twoDimensional, uint32_t width, bool reversed)
    : coding_(coding), alignBits_(alignBits), twoDimensional_(twoDimensional), width_(width), reversed_(reversed),
      capacity_(width + 4) {}

void FaxDecoder::Begin(ByteReader in) {
  data_ = in.Data();
  bitSize_ = in.Size() * 8;
  pos_ = 0;
  reference_[0] = reference_[1] = width_;
}

uint32_t FaxDecoder::Peek(uint32_t n) const {
  // Three bytes hold any 16 bits from any bit position; bits past the end read as 0.
  const uint64_t byte = pos_ >> 3;
  uint32_t b0 = 0, b1 = 0, b2 = 0;
  if (byte + 3 <= bitSize_ / 8) {
    b0 = data_[byte], b1 = data_[byte + 1], b2 = data_[byte + 2];
  } else {
    auto at = [this](uint64_t i) { return i * 8 < bitSize_ ? uint32_t{data_[i]} : 0u; };
    b0 = at(byte), b1 = at(byte + 1), b2 = at(byte + 2);
  }
  if (reversed_) b0 = kReversed[b0], b1 = kReversed[b1], b2 = kReversed[b2];
  const uint32_t window = b0 << 16 | b1 << 8 | b2;
  return (window >> (24 - (pos_ & 7) - n)) & ((1u << n) - 1);
}

bool FaxDecoder::Take(uint32_t n) {
  if (n > bitSize_ - pos_) return false;
  pos_ += n;
  return true;
}

bool FaxDecoder::ReadRun(bool black, uint32_t* run) {
  const auto& table = black ? Codes().black : Codes().white;
  uint32_t total = 0;
  for (;;) {
    const Lookup::Slot& s = table[Peek(kLookupBits)];
    if (!s.bits || !Take(s.bits)) return false;
    // Make-up codes only add up; the sum is bounded so it cannot wrap.
    total = total + s.run < (1u << 30) ? total + s.run : 1u << 30;
    if (s.run < 64) break;
  }
  *run = total;
  return true;
}

void FaxDecoder::SkipEol() {
  // Fill bits are zeros before the EOL, so any run of at least eleven zeros ended by a one is one.
  uint64_t zeros = 0;
  const uint64_t start = pos_;
  while (pos_ < bitSize_ && Peek(1) == 0) ++pos_, ++zeros;
  // Zeros to the end of the data are spent too, so that no later row scans them again.
  if (zeros >= kEolBits - 1 && (pos_ == bitSize_ || Take(1))) return;
  pos_ = start;
}

bool FaxDecoder::OneDimensionalRow() {
  uint32_t a0 = 0;
  bool black = false;
  count_ = 0;
  while (a0 < width_) {
    uint32_t run = 0;
    if (!ReadRun(black, &run)) {
      // An EOL inside a row ends it early; the row is completed in its colour.
      if (coding_ == Coding::T4 && count_ > 0 && Peek(kEolBits) == kEol) break;
      return false;
    }
    if (count_ + 2 > capacity_) return false;
    a0 = run < width_ - a0 ? a0 + run : width_;
    Append(a0);
    black = !black;
  }
  return true;
}

bool FaxDecoder::TwoDimensionalRow() {
  int64_t a0 = -1;
  uint32_t colour = 0, b = 0;  // colour 1 is black; b indexes the reference list
  count_ = 0;
  while (a0 < int64_t{width_}) {
    // b1: the first change of the reference row right of a0 to the other
    // colour (changes at even positions turn to black); b2 the one after.
    b = b >= 2 ? b - 2 : 0;
    while (reference_[b] < width_ && (int64_t{reference_[b]} <= a0 || (b & 1) != colour)) ++b;
    const uint32_t b1 = reference_[b], b2 = reference_[b + 1];
    const uint32_t start = a0 < 0 ? 0 : static_cast<uint32_t>(a0);
    if (count_ + 2 > capacity_) return false;
    const uint32_t w = Peek(7);
    if (w >= 0x40) {  // 1: V0
      pos_ += 1;
    } else if (w >= 0x10) {  // 011 VR1, 010 VL1, 001 H
      pos_ += 3;
      if (w < 0x20) {
        uint32_t r1 = 0, r2 = 0;
        if (!ReadRun(colour, &r1) || !ReadRun(!colour, &r2)) return false;
        const uint32_t a1 = r1 < width_ - start ? start + r1 : width_;
        const uint32_t a2 = r2 < width_ - a1 ? a1 + r2 : width_;
        Append(a1);
        Append(a2);
        a0 = a2;
        continue;
      }
      const int64_t a1 = int64_t{b1} + (w >= 0x30 ? 1 : -1);
      if (a1 < start || pos_ > bitSize_) return false;
      Append(static_cast<uint32_t>(a1));
      a0 = current_[count_ - 1];
      colour ^= 1;
      continue;
    } else if (w >= 0x08) {  // 0001: pass
      pos_ += 4;
      if (pos_ > bitSize_) return false;
      a0 = b2;
      continue;
    } else if (w >= 0x02) {  // 000011 VR2, 000010 VL2, 0000011 VR3, 0000010 VL3
      const bool two = w >= 0x04;
      pos_ += two ? 6 : 7;
      const int64_t a1 = int64_t{b1} + (two ? ((w & 2) ? 2 : -2) : ((w & 1) ? 3 : -3));
      if (a1 < start || pos_ > bitSize_) return false;
      Append(static_cast<uint32_t>(a1));
      a0 = current_[count_ - 1];
      colour ^= 1;
      continue;
    } else {
      return false;  // extensions, an EOL, or nothing valid
    }
    if (pos_ > bitSize_) return false;
    Append(b1);
    a0 = current_[count_ - 1];
    colour ^= 1;
  }
  return true;
}

bool FaxDecoder::DecodeRow(uint8_t* row) {
  bool twoD = coding_ == Coding::T6;
  if (coding_ == Coding::T4) {
    SkipEol();
    if (twoDimensional_) {
      twoD = Peek(1) == 0;
      if (!Take(1)) return false;
    }
  }
  if (pos_ >= bitSize_) return false;
  if (!(twoD ? TwoDimensionalRow() : OneDimensionalRow())) return false;
  if (alignBits_) {
    const uint64_t rest = pos_ % alignBits_;
    if (rest) pos_ = std::min(pos_ + alignBits_ - rest, bitSize_);
  }
  // Black between each even change and the next; the list ends at the width.
  current_[count_] = current_[count_ + 1] = width_;
  std::memset(row, 0, (width_ + 7) / 8);
  for (uint32_t i = 0; i < count_; i += 2) SetBlack(row, current_[i], current_[i + 1]);
  std::swap(reference_, current_);
  return true;
}

}  // namespace pv
