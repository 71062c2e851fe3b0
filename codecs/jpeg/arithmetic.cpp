#include "codecs/jpeg/arithmetic.h"

#include <cstring>

#include "codecs/jpeg/zigzag.h"

namespace pv::jpeg {

namespace {

// The probability estimation states, one entry per state: Qe << 16 | next state after an MPS
// << 8 | switch << 7 | next state after an LPS. State 113 is a fixed
// probability of one half that never moves.
constexpr uint32_t V(uint32_t qe, uint32_t lps, uint32_t mps, uint32_t sw) {
  return qe << 16 | mps << 8 | sw << 7 | lps;
}
constexpr uint32_t kStates[114] = {
    V(0x5a1d, 1, 1, 1),     V(0x2586, 14, 2, 0),    V(0x1114, 16, 3, 0),    V(0x080b, 18, 4, 0),
    V(0x03d8, 20, 5, 0),    V(0x01da, 23, 6, 0),    V(0x00e5, 25, 7, 0),    V(0x006f, 28, 8, 0),
    V(0x0036, 30, 9, 0),    V(0x001a, 33, 10, 0),   V(0x000d, 35, 11, 0),   V(0x0006, 9, 12, 0),
    V(0x0003, 10, 13, 0),   V(0x0001, 12, 13, 0),   V(0x5a7f, 15, 15, 1),   V(0x3f25, 36, 16, 0),
    V(0x2cf2, 38, 17, 0),   V(0x207c, 39, 18, 0),   V(0x17b9, 40, 19, 0),   V(0x1182, 42, 20, 0),
    V(0x0cef, 43, 21, 0),   V(0x09a1, 45, 22, 0),   V(0x072f, 46, 23, 0),   V(0x055c, 48, 24, 0),
    V(0x0406, 49, 25, 0),   V(0x0303, 51, 26, 0),   V(0x0240, 52, 27, 0),   V(0x01b1, 54, 28, 0),
    V(0x0144, 56, 29, 0),   V(0x00f5, 57, 30, 0),   V(0x00b7, 59, 31, 0),   V(0x008a, 60, 32, 0),
    V(0x0068, 62, 33, 0),   V(0x004e, 63, 34, 0),   V(0x003b, 32, 35, 0),   V(0x002c, 33, 9, 0),
    V(0x5ae1, 37, 37, 1),   V(0x484c, 64, 38, 0),   V(0x3a0d, 65, 39, 0),   V(0x2ef1, 67, 40, 0),
    V(0x261f, 68, 41, 0),   V(0x1f33, 69, 42, 0),   V(0x19a8, 70, 43, 0),   V(0x1518, 72, 44, 0),
    V(0x1177, 73, 45, 0),   V(0x0e74, 74, 46, 0),   V(0x0bfb, 75, 47, 0),   V(0x09f8, 77, 48, 0),
    V(0x0861, 78, 49, 0),   V(0x0706, 79, 50, 0),   V(0x05cd, 48, 51, 0),   V(0x04de, 50, 52, 0),
    V(0x040f, 50, 53, 0),   V(0x0363, 51, 54, 0),   V(0x02d4, 52, 55, 0),   V(0x025c, 53, 56, 0),
    V(0x01f8, 54, 57, 0),   V(0x01a4, 55, 58, 0),   V(0x0160, 56, 59, 0),   V(0x0125, 57, 60, 0),
    V(0x00f6, 58, 61, 0),   V(0x00cb, 59, 62, 0),   V(0x00ab, 61, 63, 0),   V(0x008f, 61, 32, 0),
    V(0x5b12, 65, 65, 1),   V(0x4d04, 80, 66, 0),   V(0x412c, 81, 67, 0),   V(0x37d8, 82, 68, 0),
    V(0x2fe8, 83, 69, 0),   V(0x293c, 84, 70, 0),   V(0x2379, 86, 71, 0),   V(0x1edf, 87, 72, 0),
    V(0x1aa9, 87, 73, 0),   V(0x174e, 72, 74, 0),   V(0x1424, 72, 75, 0),   V(0x119c, 74, 76, 0),
    V(0x0f6b, 74, 77, 0),   V(0x0d51, 75, 78, 0),   V(0x0bb6, 77, 79, 0),   V(0x0a40, 77, 48, 0),
    V(0x5832, 80, 81, 1),   V(0x4d1c, 88, 82, 0),   V(0x438e, 89, 83, 0),   V(0x3bdd, 90, 84, 0),
    V(0x34ee, 91, 85, 0),   V(0x2eae, 92, 86, 0),   V(0x299a, 93, 87, 0),   V(0x2516, 86, 71, 0),
    V(0x5570, 88, 89, 1),   V(0x4ca9, 95, 90, 0),   V(0x44d9, 96, 91, 0),   V(0x3e22, 97, 92, 0),
    V(0x3824, 99, 93, 0),   V(0x32b4, 99, 94, 0),   V(0x2e17, 93, 86, 0),   V(0x56a8, 95, 96, 1),
    V(0x4f46, 101, 97, 0),  V(0x47e5, 102, 98, 0),  V(0x41cf, 103, 99, 0),  V(0x3c3d, 104, 100, 0),
    V(0x375e, 99, 93, 0),   V(0x5231, 105, 102, 0), V(0x4c0f, 106, 103, 0), V(0x4639, 107, 104, 0),
    V(0x415e, 103, 99, 0),  V(0x5627, 105, 106, 1), V(0x50e7, 108, 107, 0), V(0x4b85, 109, 103, 0),
    V(0x5597, 110, 109, 0), V(0x504f, 111, 107, 0), V(0x5a10, 110, 111, 1), V(0x5522, 112, 109, 0),
    V(0x59eb, 112, 111, 1), V(0x5a1d, 113, 113, 0)};

}  // namespace

void ArithmeticDecoder::ResetCoder() {
  c_ = 0;
  a_ = 0;
  ct_ = -16;  // two bytes are read before the first decision
  for (uint32_t i = 0; i < scan_.components; ++i) {
    if (scan_.resetDc) {
      std::memset(dcStats_[scan_.dcTable[i]], 0, 64);
      dcContext_[i] = 0;
      lastDc_[i] = 0;
    }
    if (scan_.resetAc) std::memset(acStats_[scan_.acTable[i]], 0, 256);
  }
}

void ArithmeticDecoder::StartScan(const uint8_t* pos, const uint8_t* end, const ArithmeticScan& scan) {
  pos_ = pos;
  end_ = end;
  scan_ = scan;
  ResetCoder();
}

void ArithmeticDecoder::Restart() {
  while (pos_ < end_) {
    if (*pos_ == 0xFF && end_ - pos_ >= 2 && pos_[1] != 0 && pos_[1] != 0xFF) {
      pos_ += 2;
      break;
    }
    ++pos_;
  }
  ResetCoder();
}

int ArithmeticDecoder::Decode(uint8_t* state) {
  while (a_ < 0x8000) {
    if (--ct_ < 0) {
      uint32_t byte = 0;
      // A marker ends the data: zeros are fed and the position stays on it.
      if (pos_ < end_) {
        if (*pos_ != 0xFF) {
          byte = *pos_++;
        } else if (end_ - pos_ >= 2 && pos_[1] == 0) {
          byte = 0xFF;
          pos_ += 2;
        }
      }
      c_ = (c_ << 8) | byte;
      if ((ct_ += 8) < 0) {
        if (++ct_ == 0) a_ = 0x8000;  // both initial bytes are in
      }
    }
    a_ <<= 1;
  }
  const uint32_t sv = *state;
  const uint32_t entry = kStates[sv & 0x7F];
  const int64_t qe = entry >> 16;
  const uint32_t nextMps = (entry >> 8) & 0xFF, nextLps = entry & 0xFF;  // nextLps carries the switch bit
  int64_t temp = a_ - qe;
  a_ = temp;
  temp <<= ct_;
  uint32_t bit = sv >> 7;
  if (c_ >= temp) {
    c_ -= temp;
    if (a_ < qe) {
      a_ = qe;
      *state = static_cast<uint8_t>((sv & 0x80) ^ nextMps);
    } else {
      a_ = qe;
      *state = static_cast<uint8_t>((sv & 0x80) ^ nextLps);
      bit ^= 1;
    }
  } else if (a_ < 0x8000) {
    if (a_ < qe) {
      *state = static_cast<uint8_t>((sv & 0x80) ^ nextLps);
      bit ^= 1;
    } else {
      *state = static_cast<uint8_t>((sv & 0x80) ^ nextMps);
    }
  }
  return static_cast<int>(bit);
}

bool ArithmeticDecoder::DecodeDcDifference(uint32_t i, int32_t* diff) {
  if (ct_ == -1) return false;
  const uint32_t t = scan_.dcTable[i];
  uint8_t* st = dcStats_[t] + dcContext_[i];
  if (!Decode(st)) {
    dcContext_[i] = 0;
    *diff = 0;
    return true;
  }
  const int sign = Decode(st + 1);
  st += 2 + sign;
  int32_t m = Decode(st);
  if (m) {
    st = dcStats_[t] + 20;
    while (Decode(st)) {
      if ((m <<= 1) == 0x8000) {
        ct_ = -1;
        return false;
      }
      ++st;
    }
  }
  // Conditioning for the next difference: zero, small or large, by sign.
  if (m < ((1 << scan_.dcLower[t]) >> 1)) {
    dcContext_[i] = 0;
  } else if (m > ((1 << scan_.dcUpper[t]) >> 1)) {
    dcContext_[i] = 12 + 4 * sign;
  } else {
    dcContext_[i] = 4 + 4 * sign;
  }
  int32_t v = m;
  st += 14;
  while (m >>= 1) {
    if (Decode(st)) v |= m;
  }
  v += 1;
  *diff = sign ? -v : v;
  return true;
}

bool ArithmeticDecoder::DecodeAcValue(uint8_t* st, uint32_t t, uint32_t k, int32_t* value) {
  const int sign = Decode(&fixedBin_);
  st += 2;
  int32_t m = Decode(st);
  if (m && Decode(st)) {
    m <<= 1;
    st = acStats_[t] + (k <= scan_.acKx[t] ? 189 : 217);
    while (Decode(st)) {
      if ((m <<= 1) == 0x8000) {
        ct_ = -1;
        return false;
      }
      ++st;
    }
  }
  int32_t v = m;
  st += 14;
  while (m >>= 1) {
    if (Decode(st)) v |= m;
  }
  v += 1;
  *value = sign ? -v : v;
  return true;
}

void ArithmeticDecoder::DecodeSequential(int16_t* block, uint32_t i) {
  int32_t diff = 0;
  if (!DecodeDcDifference(i, &diff)) return;
  lastDc_[i] = static_cast<int16_t>(static_cast<uint16_t>(lastDc_[i] + diff));
  block[0] = lastDc_[i];
  const uint32_t t = scan_.acTable[i];
  for (uint32_t k = 1; k <= 63; ++k) {
    uint8_t* st = acStats_[t] + 3 * (k - 1);
    if (Decode(st)) break;  // end of block
    while (!Decode(st + 1)) {
      st += 3;
      if (++k > 63) {
        ct_ = -1;
        return;
      }
    }
    int32_t v = 0;
    if (!DecodeAcValue(st, t, k, &v)) return;
    block[kZigzag[k]] = static_cast<int16_t>(v);
  }
}

void ArithmeticDecoder::DecodeDcFirst(int16_t* block, uint32_t i) {
  int32_t diff = 0;
  if (!DecodeDcDifference(i, &diff)) return;
  lastDc_[i] = static_cast<int16_t>(static_cast<uint16_t>(lastDc_[i] + diff));
  block[0] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(lastDc_[i]) << scan_.al));
}

void ArithmeticDecoder::DecodeDcRefine(int16_t* block) {
  if (ct_ == -1) return;
  if (Decode(&fixedBin_)) block[0] = static_cast<int16_t>(block[0] | (1 << scan_.al));
}

void ArithmeticDecoder::DecodeAcFirst(int16_t* block, uint32_t i) {
  if (ct_ == -1) return;
  const uint32_t t = scan_.acTable[i];
  for (uint32_t k = scan_.ss; k <= scan_.se; ++k) {
    uint8_t* st = acStats_[t] + 3 * (k - 1);
    if (Decode(st)) break;
    while (!Decode(st + 1)) {
      st += 3;
      if (++k > scan_.se) {
        ct_ = -1;
        return;
      }
    }
    int32_t v = 0;
    if (!DecodeAcValue(st, t, k, &v)) return;
    block[kZigzag[k]] = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v) << scan_.al));
  }
}

void ArithmeticDecoder::DecodeAcRefine(int16_t* block, uint32_t i) {
  if (ct_ == -1) return;
  const int32_t p1 = 1 << scan_.al, m1 = -p1;
  const uint32_t t = scan_.acTable[i];
  // The end of block of the earlier stages.
  uint32_t kex = scan_.se;
  while (kex > 0 && block[kZigzag[kex]] == 0) --kex;
  for (uint32_t k = scan_.ss; k <= scan_.se; ++k) {
    uint8_t* st = acStats_[t] + 3 * (k - 1);
    if (k > kex && Decode(st)) break;
    for (;;) {
      int16_t& coef = block[kZigzag[k]];
      if (coef != 0) {
        if (Decode(st + 2)) coef = static_cast<int16_t>(coef + (coef < 0 ? m1 : p1));
        break;
      }
      if (Decode(st + 1)) {
        coef = static_cast<int16_t>(Decode(&fixedBin_) ? m1 : p1);
        break;
      }
      st += 3;
      if (++k > scan_.se) {
        ct_ = -1;
        return;
      }
    }
  }
}

}  // namespace pv::jpeg
