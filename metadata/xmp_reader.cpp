#include "metadata/xmp_reader.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/text.h"

namespace pv {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

enum class Space : uint8_t { Tiff, Basic, Exif, Dc };
struct Namespace {
  Space space;
  std::string_view uri;
};
// In the order they are read.
constexpr Namespace kNamespaces[] = {
    {Space::Tiff, "http://ns.adobe.com/tiff/1.0/"},
    {Space::Basic, "http://ns.adobe.com/xap/1.0/"},
    {Space::Exif, "http://ns.adobe.com/exif/1.0/"},
    {Space::Dc, "http://purl.org/dc/elements/1.1/"},
};

// The packet as characters of one or two bytes (UTF-8, or UTF-16 little-endian).
class Text {
 public:
  Text(const uint8_t* data, size_t units, size_t unitSize) : data_(data), units_(units), unit_(unitSize) {}
  size_t Size() const { return units_; }
  uint32_t At(size_t i) const { return unit_ == 1 ? data_[i] : data_[2 * i] | uint32_t{data_[2 * i + 1]} << 8; }
  bool Is(size_t at, std::string_view s) const {
    if (at > units_ || s.size() > units_ - at) return false;
    for (size_t i = 0; i < s.size(); ++i)
      if (At(at + i) != static_cast<uint8_t>(s[i])) return false;
    return true;
  }
  size_t Find(std::string_view s, size_t from, size_t end) const {
    for (size_t i = from; i < end && s.size() <= end - i; ++i)
      if (Is(i, s)) return i;
    return kNone;
  }
  size_t FindChar(uint32_t c, size_t from, size_t end) const {
    for (size_t i = from; i < end; ++i)
      if (At(i) == c) return i;
    return kNone;
  }
  // The end of a start tag: its '>', with quoted attribute values stepped over.
  size_t TagEnd(size_t from, size_t end) const {
    uint32_t quote = 0;
    for (size_t i = from; i < end; ++i) {
      const uint32_t c = At(i);
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i;
      }
    }
    return kNone;
  }
  std::string Ascii(size_t from, size_t end) const {
    std::string s;
    for (size_t i = from; i < end; ++i) s += static_cast<char>(At(i) < 128 ? At(i) : '?');
    return s;
  }
  // Sets a text property from the characters, without leading or trailing
  // blanks; blanks alone set nothing.
  void SetText(PropertySet& properties, uint32_t id, size_t from, size_t end) const {
    while (from < end && At(from) <= 32) ++from;
    while (end > from && At(end - 1) <= 32) --end;
    if (from == end) return;
    if (unit_ == 1) {
      properties.SetBorrowed(id, data_ + from, static_cast<uint32_t>(end - from), TextEncoding::Utf8);
      return;
    }
    std::wstring wide;
    for (size_t i = from; i < end; ++i) {
      const uint32_t c = At(i);
      if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && i + 1 < end && At(i + 1) >= 0xDC00 && At(i + 1) < 0xE000) {
        wide += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (At(++i) - 0xDC00));
      } else {
        wide += static_cast<wchar_t>(c);
      }
    }
    properties.SetText(id, wide.c_str());
  }

 private:
  const uint8_t* data_;
  size_t units_;
  size_t unit_;
};

struct Coordinate {
  int degrees = 0, minutes = 0;
  double seconds = 0;
  char reference = ' ';
  bool seen = false;
};

// What the packet has said so far about resolution and position.
struct Pending {
  float x = 0, y = 0;
  int unit = 0;
  Coordinate latitude, longitude;
  double altitude = 0;
  bool altitudeSeen = false, below = false;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number with an optional fraction, at `*i` of `s`; false without digits.
bool ReadNumber(const std::string& s, size_t* i, double* value) {
  size_t p = *i;
  double v = 0;
  bool digits = false;
  for (; p < s.size() && IsDigit(s[p]); ++p, digits = true) v = v * 10 + (s[p] - '0');
  if (p < s.size() && s[p] == '.') {
    double scale = 0.1;
    for (++p; p < s.size() && IsDigit(s[p]); ++p, scale /= 10, digits = true) v += (s[p] - '0') * scale;
  }
  if (!digits) return false;
  *i = p;
  *value = v;
  return true;
}

// "DDD,MM,SSk" or "DDD,MM.mmk" (decimal minutes, as most writers give it).
Coordinate ParseCoordinate(const std::string& s) {
  Coordinate c;
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  double degrees = 0, minutes = 0, seconds = 0;
  if (!ReadNumber(s, &i, &degrees) || i >= s.size() || s[i] != ',') return c;
  ++i;
  if (!ReadNumber(s, &i, &minutes)) return c;
  if (i < s.size() && s[i] == ',') {
    ++i;
    if (!ReadNumber(s, &i, &seconds)) return c;
  }
  if (i < s.size() && s[i] == ' ') ++i;
  // Without a direction letter the coordinate is not known.
  if (i >= s.size() || std::string_view("NSEW").find(s[i]) == std::string_view::npos) return c;
  const double total = degrees + minutes / 60 + seconds / 3600;
  if (!(total <= 360)) return c;
  c.degrees = static_cast<int>(total);
  const double restMinutes = (total - c.degrees) * 60;
  c.minutes = static_cast<int>(restMinutes);
  c.seconds = (restMinutes - c.minutes) * 60;
  c.reference = s[i];
  c.seen = true;
  return c;
}

// Numerator, slash, denominator; a missing or non-positive denominator counts as 1.
double ParseRational(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  double numerator = 0, denominator = 0;
  if (!ReadNumber(s, &i, &numerator)) return 0;
  if (i < s.size() && s[i] == '/') {
    ++i;
    if (!ReadNumber(s, &i, &denominator) || denominator <= 0) denominator = 1;
  } else {
    denominator = 1;
  }
  return numerator / denominator;
}

int ParseInteger(const std::string& s, int fallback) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  double v = 0;
  return ReadNumber(s, &i, &v) && v < 1e9 ? static_cast<int>(v) : fallback;
}

class PacketReader {
 public:
  PacketReader(const Text& text, PropertySet& properties) : t_(text), properties_(properties) {}

  void Read() {
    // Packets hold a handful of descriptions; a bound keeps a crafted one
    // (thousands, none closed) from costing a scan of the rest for each.
    constexpr int kMaxDescriptions = 32;
    for (const Namespace& ns : kNamespaces) {
      size_t at = 0;
      for (int n = 0; n < kMaxDescriptions && (at = t_.Find("<rdf:Description", at, t_.Size())) != kNone; ++n) {
        const size_t tagEnd = t_.TagEnd(at, t_.Size());
        if (tagEnd == kNone) break;
        std::string prefix;
        if (DeclaredPrefix(at, tagEnd, ns.uri, &prefix)) {
          ReadAttributes(ns.space, prefix, at + 16, tagEnd);
          if (t_.At(tagEnd - 1) != '/') ReadElements(ns.space, prefix, tagEnd + 1);
        }
        at = tagEnd;
      }
    }
    Finish();
  }

 private:
  // The attribute at `*i` inside a tag: its name and value ranges; false at the tag's end.
  bool NextAttribute(size_t* i, size_t end, size_t* name, size_t* nameEnd, size_t* value, size_t* valueEnd) const {
    size_t p = *i;
    while (p < end && t_.At(p) <= 32) ++p;
    *name = p;
    while (p < end && t_.At(p) > 32 && t_.At(p) != '=' && t_.At(p) != '/' && t_.At(p) != '>') ++p;
    *nameEnd = p;
    while (p < end && t_.At(p) <= 32) ++p;
    if (p >= end || t_.At(p) != '=' || *name == *nameEnd) return false;
    ++p;
    while (p < end && t_.At(p) <= 32) ++p;
    if (p >= end || (t_.At(p) != '"' && t_.At(p) != '\'')) return false;
    const size_t close = t_.FindChar(t_.At(p), p + 1, end);
    if (close == kNone) return false;
    *value = p + 1;
    *valueEnd = close;
    *i = close + 1;
    return true;
  }

  bool DeclaredPrefix(size_t tag, size_t end, std::string_view uri, std::string* prefix) const {
    size_t i = tag + 16, name, nameEnd, value, valueEnd;
    while (NextAttribute(&i, end, &name, &nameEnd, &value, &valueEnd)) {
      if (t_.Is(name, "xmlns:") && t_.Ascii(value, valueEnd) == uri) {
        *prefix = t_.Ascii(name + 6, nameEnd);
        return !prefix->empty();
      }
    }
    return false;
  }

  void ReadAttributes(Space space, const std::string& prefix, size_t from, size_t end) {
    size_t i = from, name, nameEnd, value, valueEnd;
    while (NextAttribute(&i, end, &name, &nameEnd, &value, &valueEnd)) {
      if (t_.Is(name, prefix) && t_.Is(name + prefix.size(), ":"))
        Property(space, t_.Ascii(name + prefix.size() + 1, nameEnd), value, valueEnd);
    }
  }

  void ReadElements(Space space, const std::string& prefix, size_t from) {
    size_t bodyEnd = t_.Find("</rdf:Description", from, t_.Size());
    if (bodyEnd == kNone) bodyEnd = t_.Size();
    const std::string open = "<" + prefix + ":";
    size_t at = from;
    while ((at = t_.Find(open, at, bodyEnd)) != kNone) {
      const size_t nameStart = at + open.size();
      size_t nameEnd = nameStart;
      while (nameEnd < bodyEnd && t_.At(nameEnd) > 32 && t_.At(nameEnd) != '>' && t_.At(nameEnd) != '/') ++nameEnd;
      const size_t tagEnd = t_.TagEnd(nameEnd, bodyEnd);
      if (tagEnd == kNone) return;
      at = tagEnd + 1;
      if (t_.At(tagEnd - 1) == '/') continue;  // an empty element
      const std::string name = t_.Ascii(nameStart, nameEnd);
      const size_t close = t_.Find("</" + prefix + ":" + name, at, bodyEnd);
      if (close == kNone) return;
      Property(space, name, at, close);
      at = close;
    }
  }

  // The content of the first "rdf:li" item in [from, end), up to the next '<'.
  bool FindItem(size_t from, size_t end, size_t* itemFrom, size_t* itemEnd) const {
    const size_t li = t_.Find("<rdf:li", from, end);
    const size_t tagEnd = li == kNone ? kNone : t_.TagEnd(li, end);
    if (tagEnd == kNone) return false;
    const size_t close = t_.FindChar('<', tagEnd + 1, end);
    *itemFrom = tagEnd + 1;
    *itemEnd = close == kNone ? end : close;
    return true;
  }

  void Property(Space space, const std::string& name, size_t from, size_t end) {
    switch (space) {
      case Space::Tiff:
        if (name == "Make") t_.SetText(properties_, kPropCameraMaker, from, end);
        if (name == "Model") t_.SetText(properties_, kPropCameraModel, from, end);
        if (name == "XResolution") p_.x = static_cast<float>(ParseRational(t_.Ascii(from, end)));
        if (name == "YResolution") p_.y = static_cast<float>(ParseRational(t_.Ascii(from, end)));
        if (name == "ResolutionUnit") p_.unit = ParseInteger(t_.Ascii(from, end), 0);
        break;
      case Space::Basic:
        if (name == "CreateDate") t_.SetText(properties_, kPropCreationDate, from, end);
        break;
      case Space::Exif:
        if (name == "GPSLatitude") p_.latitude = ParseCoordinate(t_.Ascii(from, end));
        if (name == "GPSLongitude") p_.longitude = ParseCoordinate(t_.Ascii(from, end));
        if (name == "GPSAltitude") {
          p_.altitude = ParseRational(t_.Ascii(from, end));
          p_.altitudeSeen = true;
        }
        if (name == "GPSAltitudeRef") p_.below = ParseInteger(t_.Ascii(from, end), 0) == 1;
        break;
      case Space::Dc: {
        const uint32_t id = name == "title"         ? kPropTitle
                            : name == "creator"     ? kPropAuthor
                            : name == "description" ? kPropComment
                            : name == "rights"      ? kPropCopyright
                                                    : 0;
        size_t itemFrom, itemEnd;
        if (id) {
          if (FindItem(from, end, &itemFrom, &itemEnd)) {
            from = itemFrom;
            end = itemEnd;
          }
          t_.SetText(properties_, id, from, end);
        } else if (name == "subject") {
          for (uint32_t keyword = kPropKeywords;
               keyword < kPropKeywords + kKeywordSlotCount && FindItem(from, end, &itemFrom, &itemEnd); ++keyword) {
            t_.SetText(properties_, keyword, itemFrom, itemEnd);
            from = itemEnd;
          }
        }
        break;
      }
    }
  }

  void Finish() {
    if (p_.x > 0 && p_.y > 0 && std::isfinite(p_.x) && std::isfinite(p_.y)) {
      const double scale = p_.unit == 3 ? 100 : 1;
      const double x = std::round(p_.x * scale), y = std::round(p_.y * scale);
      wchar_t text[64];
      if (x < 1e9 && y < 1e9 &&
          FormatText(text, 64, L"%d x %d %ls", static_cast<int>(x), static_cast<int>(y), p_.unit == 2 ? L"ppi" : L"ppm") > 0)
        properties_.SetText(kPropDensity, text);
    }
    if (p_.latitude.seen && p_.longitude.seen) {
      const Coordinate& a = p_.latitude;
      const Coordinate& b = p_.longitude;
      wchar_t text[128];
      int n = FormatText(text, 128, L"%d\u00B0%d'%.2f\" %lc, %d\u00B0%d'%.2f\" %lc", a.degrees, a.minutes, a.seconds,
                         static_cast<wint_t>(a.reference), b.degrees, b.minutes, b.seconds,
                         static_cast<wint_t>(b.reference));
      if (n > 0 && p_.altitudeSeen && std::isfinite(p_.altitude) && p_.altitude < 1e9) {
        const double altitude = p_.below ? -p_.altitude : p_.altitude;
        n = FormatText(text + n, 128 - static_cast<size_t>(n), L", %lc%dm", static_cast<wint_t>(altitude < 0 ? L'-' : L'+'),
                       static_cast<int>(std::fabs(altitude) + 0.5));
      }
      if (n > 0) properties_.SetText(kPropGps, text);
    }
  }

  const Text& t_;
  PropertySet& properties_;
  Pending p_;
};

}  // namespace

void ReadXmpPacket(ByteReader packet, PropertySet& properties) {
  const uint8_t* p = packet.Data();
  const size_t size = static_cast<size_t>(packet.Size());
  if (size < 64) return;
  const Text utf16(p, size / 2, 2);
  if (utf16.Is(0, "<?xpacket begin=")) {
    // The byte-order mark follows the opening quote: little-endian only.
    if (utf16.At(17) != 0xFEFF) return;
    PacketReader(Text(p + 36, (size - 36) / 2, 2), properties).Read();
    return;
  }
  // UTF-16 big-endian and UTF-32 packets start with a zero byte; they are not read.
  if (p[0] == 0 || (p[1] == 0 && p[2] == 0)) return;
  PacketReader(Text(p, size, 1), properties).Read();
}

}  // namespace pv
