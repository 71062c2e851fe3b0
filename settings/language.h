#pragma once
// Language files and the dictionary that translates the built-in texts.
// The dictionary is kept in its stored form: 16-bit little-endian units, 128
// bucket heads, then each bucket's entries (length, key, translation).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// The built-in language, which needs no file.
inline constexpr char kBuiltInLanguage[] = "English - US";

// The dictionary of a language file's bytes (UTF-16 with either byte-order
// mark, else Windows-1252); empty when the file gives no entry.
std::vector<uint8_t> BuildDictionary(const uint8_t* file, size_t size);

// The translation of `text` in `dictionary`, or `text` itself. A dictionary
// read back from the registry may be damaged: every read is bounded.
std::wstring TranslateWith(const std::vector<uint8_t>& dictionary, std::wstring_view text);

// The process's current dictionary; empty shows the built-in texts.
void SetCurrentDictionary(std::vector<uint8_t> dictionary);
std::wstring Translate(std::wstring_view text);

}  // namespace pv
