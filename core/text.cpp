#include "core/text.h"

#include <cstdarg>
#include <cwchar>

namespace pv {

namespace {

// Windows-1252 code points of the bytes 0x80-0x9F; undefined bytes map to themselves.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Next code point of wide text; combines surrogate pairs of 16-bit wchar_t.
uint32_t NextCodePoint(const wchar_t*& p) {
  uint32_t c = static_cast<uint32_t>(*p++);
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c < 0xDC00 && *p >= 0xDC00 && *p < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(*p++) - 0xDC00);
    }
  }
  return c;
}

int EncodeUtf8(uint32_t c, char* out) {
  if (c >= 0x110000 || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

void AppendCodePoint(std::wstring& out, uint32_t cp) {
  if (cp >= 0x110000 || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

std::wstring Windows1252ToWide(const uint8_t* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = text[i];
    out.push_back(static_cast<wchar_t>(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b));
  }
  return out;
}

std::wstring Utf8ToWide(const uint8_t* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  size_t i = 0;
  while (i < length) {
    uint8_t b = text[i];
    if (b < 0x80) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    }
    int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || static_cast<size_t>(extra) >= length - i) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t cp = b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      uint8_t c = text[i + k];
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra]) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  return Utf8ToWide(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A character that does not fit whole is left out, never cut.
bool WideToUtf8(char* dst, size_t dstSize, const wchar_t* src) {
  if (dstSize == 0) return false;
  size_t used = 0;
  while (src && *src) {
    char unit[4];
    const size_t n = static_cast<size_t>(EncodeUtf8(NextCodePoint(src), unit));
    if (used + n >= dstSize) {
      dst[used] = 0;
      return false;
    }
    for (size_t i = 0; i < n; ++i) dst[used++] = unit[i];
  }
  dst[used] = 0;
  return true;
}

std::string WideToUtf8(const std::wstring& src) {
  std::string out;
  const wchar_t* p = src.c_str();
  const wchar_t* end = p + src.size();
  while (p < end) {
    char unit[4];
    int n = EncodeUtf8(NextCodePoint(p), unit);
    out.append(unit, static_cast<size_t>(n));
  }
  return out;
}

int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  if (!buffer || capacity == 0) return -1;
  va_list args;
  va_start(args, format);
  int n = std::vswprintf(buffer, capacity, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= capacity) {
    buffer[0] = 0;
    return -1;
  }
  return n;
}

bool FormatFileTime(wchar_t* buffer, size_t capacity, uint64_t fileTime) {
  uint64_t seconds = fileTime / 10000000u;
  int64_t days = static_cast<int64_t>(seconds / 86400u);
  uint32_t rest = static_cast<uint32_t>(seconds % 86400u);
  // Days since 1601-01-01 to a civil date (proleptic Gregorian calendar);
  // shift the epoch to 0000-03-01 so leap days fall at the end of a year.
  int64_t z = days + 584694;  // 1601-01-01 is day 584694 after 0000-03-01
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return FormatText(buffer, capacity, L"%d-%02d-%02d, %02u:%02u:%02u", year, month, day, rest / 3600,
                    (rest / 60) % 60, rest % 60) > 0;
}

uint16_t UnitToU16(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return 65535;
  return static_cast<uint16_t>(value * 65535.0f + 0.5f);
}

std::wstring_view TruncateText(std::wstring_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  size_t cut = maxUnits;
  if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] < 0xDC00) --cut;
  return text.substr(0, cut);
}

}  // namespace pv
