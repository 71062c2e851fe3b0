#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pv {

// Appends one code point; code points above 0xFFFF become a surrogate pair
// where wchar_t holds 16 bits.
void AppendCodePoint(std::wstring& out, uint32_t cp);

// Windows-1252 bytes to wide text (0x80-0x9F through the code page's table).
std::wstring Windows1252ToWide(const uint8_t* text, size_t length);
// UTF-8 of one to four bytes per code point; malformed sequences give U+FFFD.
std::wstring Utf8ToWide(const uint8_t* text, size_t length);
std::wstring Utf8ToWide(const std::string& text);

// Wide text to UTF-8 into dst of dstSize bytes (always NUL-terminated when
// dstSize > 0). Returns false when the whole text did not fit.
bool WideToUtf8(char* dst, size_t dstSize, const wchar_t* src);
std::string WideToUtf8(const std::wstring& src);

// Bounded swprintf in the C locale: the character count, or -1 on an error or
// when the result did not fit (then the buffer holds the empty text, so a cut
// text can never be used by mistake).
int FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

// Calendar text "YYYY-MM-DD, hh:mm:ss" of a file time (100 ns units since
// 1601-01-01), without time-zone conversion.
bool FormatFileTime(wchar_t* buffer, size_t capacity, uint64_t fileTime);

// A float in [0, 1] to 0..65535.
uint16_t UnitToU16(float value);

// The first maxUnits characters of text, one fewer when the cut would keep
// only the first half of a surrogate pair.
std::wstring_view TruncateText(std::wstring_view text, size_t maxUnits);

}  // namespace pv
