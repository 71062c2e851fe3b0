#include "metadata/resolution_text.h"

#include <cwctype>

namespace pv {

namespace {

void SkipBlanks(const wchar_t*& p) {
  while (*p == L' ' || *p == L'\t') ++p;
}

// A decimal number of at most 31 bits; 0 when there is none or it is larger.
uint32_t ReadNumber(const wchar_t*& p) {
  uint64_t value = 0;
  bool any = false;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    any = true;
    value = value * 10 + static_cast<uint32_t>(*p - L'0');
    if (value > 0x7FFFFFFF) return 0;
  }
  return any ? static_cast<uint32_t>(value) : 0;
}

uint32_t Convert(uint32_t value, double factor) { return static_cast<uint32_t>(value * factor + 0.5); }

}  // namespace

bool ParseResolution(const wchar_t* text, ResolutionUnit wanted, uint32_t* x, uint32_t* y) {
  if (!text) return false;
  const wchar_t* p = text;
  SkipBlanks(p);
  const uint32_t rx = ReadNumber(p);
  if (rx == 0) return false;
  SkipBlanks(p);
  uint32_t ry = 0;
  if (*p == L'x' || *p == L'X') {
    ++p;
    SkipBlanks(p);
    ry = ReadNumber(p);
  }
  if (ry == 0) ry = rx;
  SkipBlanks(p);
  if (std::towlower(p[0]) != L'p' || std::towlower(p[1]) != L'p' || p[3] != 0) return false;
  const wchar_t unit = static_cast<wchar_t>(std::towlower(p[2]));
  if (unit != L'i' && unit != L'm') return false;
  *x = rx;
  *y = ry;
  if (unit == L'i' && wanted == ResolutionUnit::PerMetre) {
    *x = Convert(rx, 39.37008);
    *y = Convert(ry, 39.37008);
  } else if (unit == L'm' && wanted == ResolutionUnit::PerInch) {
    *x = Convert(rx, 0.0254);
    *y = Convert(ry, 0.0254);
  }
  return true;
}

}  // namespace pv
