#include "settings/language.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

#include "core/text.h"

namespace pv {

namespace {

constexpr size_t kBuckets = 128;
constexpr size_t kMaxSingleByteFile = 1 << 20;
// A UTF-16 file is read as far as the same number of characters.
constexpr size_t kMaxWideUnits = 1 << 20;

size_t Bucket(std::u16string_view text) {
  constexpr uint32_t kSalt[8] = {0, 1, 3, 5, 7, 11, 13, 17};
  uint32_t h = 0;
  for (size_t i = 0; i < 8 && i < text.size() && text[i] >= 2; ++i) {
    const uint32_t t = text[i] + kSalt[i];
    h = h ^ (((t >> 7) ^ t) >> 7) ^ t;
  }
  return h & (kBuckets - 1);
}

std::u16string FileText(const uint8_t* file, size_t size) {
  std::u16string text;
  if (size >= 2 && ((file[0] == 0xFF && file[1] == 0xFE) || (file[0] == 0xFE && file[1] == 0xFF))) {
    const bool little = file[0] == 0xFF;
    for (size_t i = 2; i + 1 < size && text.size() < kMaxWideUnits; i += 2)
      text += static_cast<char16_t>(little ? file[i] | file[i + 1] << 8 : file[i] << 8 | file[i + 1]);
    return text;
  }
  size = std::min({size, kMaxSingleByteFile, static_cast<size_t>(std::find(file, file + size, 0) - file)});
  for (wchar_t c : Windows1252ToWide(file, size)) text += static_cast<char16_t>(c);
  return text;
}

// "\n" is a line feed and "\t" the menu's right-alignment mark; any other
// backslash stays.
std::u16string Unescape(std::u16string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size() && (s[i + 1] == u'n' || s[i + 1] == u't')) {
      out += s[++i] == u'n' ? u'\n' : u'\x08';
    } else {
      out += s[i];
    }
  }
  return out;
}

struct Entry {
  std::u16string key, translation;
};

uint16_t UnitAt(const std::vector<uint8_t>& d, size_t i) { return static_cast<uint16_t>(d[2 * i] | d[2 * i + 1] << 8); }

std::mutex g_lock;
std::shared_ptr<const std::vector<uint8_t>> g_current;

}  // namespace

std::vector<uint8_t> BuildDictionary(const uint8_t* file, size_t size) {
  if (!file || size < 3) return {};
  const std::u16string text = FileText(file, size);
  std::array<std::vector<Entry>, kBuckets> buckets;
  size_t units = kBuckets, entries = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find_first_of(u"\r\n", at);
    if (end == std::u16string::npos) end = text.size();
    const std::u16string_view line(text.data() + at, end - at);
    at = end + 1;
    const size_t bar = line.find(u'|');
    if (line.empty() || line.substr(0, 2) == u"//" || bar == std::u16string_view::npos) continue;
    Entry e{Unescape(line.substr(0, bar)), Unescape(line.substr(bar + 1))};
    if (e.key.empty() || e.translation.empty() || e.key == e.translation) continue;
    std::vector<Entry>& bucket = buckets[Bucket(e.key)];
    const size_t more = 3 + e.key.size() + e.translation.size() + (bucket.empty() ? 1 : 0);
    // Bucket heads are 16-bit unit indexes: entries past what they can
    // reach are left untranslated rather than stored unreachable.
    if (units + more > 0xFFFF) continue;
    units += more;
    bucket.push_back(std::move(e));
    ++entries;
  }
  if (entries == 0) return {};
  std::vector<uint16_t> out(kBuckets);
  out.reserve(units);
  for (size_t b = 0; b < kBuckets; ++b) {
    if (buckets[b].empty()) continue;
    out[b] = static_cast<uint16_t>(out.size());
    for (const Entry& e : buckets[b]) {
      out.push_back(static_cast<uint16_t>(e.key.size() + e.translation.size() + 2));
      out.insert(out.end(), e.key.begin(), e.key.end());
      out.push_back(0);
      out.insert(out.end(), e.translation.begin(), e.translation.end());
      out.push_back(0);
    }
    out.push_back(0);
  }
  std::vector<uint8_t> bytes(out.size() * 2);
  for (size_t i = 0; i < out.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(out[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(out[i] >> 8);
  }
  return bytes;
}

std::wstring TranslateWith(const std::vector<uint8_t>& dictionary, std::wstring_view text) {
  const size_t n = dictionary.size() / 2;
  std::u16string key;
  for (wchar_t c : text) {
    if (static_cast<uint32_t>(c) < 2) break;
    key += static_cast<char16_t>(c);
  }
  if (n <= kBuckets || key.empty()) return std::wstring(text);
  size_t i = UnitAt(dictionary, Bucket(key));
  while (i != 0 && i < n && UnitAt(dictionary, i) != 0) {
    const size_t length = UnitAt(dictionary, i);
    const size_t k = i + 1;
    bool match = length > key.size() && k + key.size() < n && UnitAt(dictionary, k + key.size()) == 0;
    for (size_t j = 0; match && j < key.size(); ++j) match = UnitAt(dictionary, k + j) == key[j];
    if (match) {
      std::wstring translation;
      for (size_t j = k + key.size() + 1; j < n && UnitAt(dictionary, j) != 0; ++j)
        translation += static_cast<wchar_t>(UnitAt(dictionary, j));
      return translation;
    }
    i = k + length;
  }
  return std::wstring(text);
}

void SetCurrentDictionary(std::vector<uint8_t> dictionary) {
  auto next = dictionary.empty() ? nullptr : std::make_shared<const std::vector<uint8_t>>(std::move(dictionary));
  std::lock_guard<std::mutex> hold(g_lock);
  g_current = std::move(next);
}

std::wstring Translate(std::wstring_view text) {
  std::shared_ptr<const std::vector<uint8_t>> current;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    current = g_current;
  }
  return current ? TranslateWith(*current, text) : std::wstring(text);
}

}  // namespace pv
