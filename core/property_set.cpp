#include "core/property_set.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "core/text.h"

namespace pv {

namespace {

wchar_t* CopyWide(const wchar_t* text, size_t length) {
  auto* out = new wchar_t[length + 1];
  std::wmemcpy(out, text, length);
  out[length] = 0;
  return out;
}

// Length of a NUL-terminated text, at most limit units.
template <class C>
size_t BoundedLength(const C* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

}  // namespace

const wchar_t* PropertyName(uint32_t id) {
  static const wchar_t* const kNames[kPropertyCount] = {
      L"Path",          L"Bits per pixel", L"Colour model",  L"Compression",   L"File format",   L"File time",
      L"File size",     L"Title",          L"Comment",       L"Author",        L"Copyright",     L"Creation date",
      L"Page",          L"Source",         L"Resolution",    L"Orientation",   L"GPS position",  L"Keyword 1",
      L"Keyword 2",     L"Keyword 3",      L"Keyword 4",     L"Keyword 5",     L"Keyword 6",     L"Keyword 7",
      L"Keyword 8",     L"Keyword 9",      L"Camera maker",  L"Camera model",  L"Exposure time", L"F-number",
      L"ISO speed",     L"Shutter speed",  L"Aperture",      L"Focal length",  L"Exposure bias", L"Flash",
      L"Exposure mode", L"White balance"};
  return id < kPropertyCount ? kNames[id] : nullptr;
}

PropertySet::~PropertySet() { PropertySet::Clear(); }

void PropertySet::Free(Slot& s) {
  if (s.kind == TextKind::OwnedWide) delete[] static_cast<const wchar_t*>(s.text);
  s = Slot();
}

void PropertySet::Adopt(uint32_t id, wchar_t* owned) {
  Free(slots_[id]);
  slots_[id].text = owned;
  slots_[id].kind = TextKind::OwnedWide;
}

bool PropertySet::Has(uint32_t id) const {
  if (id >= kPropertyCount) return false;
  const Slot& s = slots_[id];
  if (!s.text) return false;
  switch (s.kind) {
    case TextKind::OwnedWide:
    case TextKind::Wide:
    case TextKind::WideLength:
      return static_cast<const wchar_t*>(s.text)[0] != 0;
    default:
      return static_cast<const char*>(s.text)[0] != 0;
  }
}

const wchar_t* PropertySet::GetText(uint32_t id) {
  if (id >= kPropertyCount) return nullptr;
  Slot& s = slots_[id];
  if (!s.text) return nullptr;
  if (s.kind == TextKind::OwnedWide || s.kind == TextKind::Wide) return static_cast<const wchar_t*>(s.text);
  std::wstring wide;
  const auto* bytes = static_cast<const uint8_t*>(s.text);
  switch (s.kind) {
    case TextKind::Cp1252:
      wide = Windows1252ToWide(bytes, BoundedLength(bytes, 65535));
      break;
    case TextKind::Cp1252Length:
      wide = Windows1252ToWide(bytes, BoundedLength(bytes, s.length));
      break;
    case TextKind::Utf8:
      wide = Utf8ToWide(bytes, BoundedLength(bytes, 65535));
      break;
    case TextKind::Utf8Length:
      wide = Utf8ToWide(bytes, BoundedLength(bytes, s.length));
      break;
    case TextKind::WideLength: {
      const auto* w = static_cast<const wchar_t*>(s.text);
      wide.assign(w, BoundedLength(w, s.length));
      break;
    }
    default:
      break;
  }
  Adopt(id, CopyWide(wide.c_str(), wide.size()));
  return static_cast<const wchar_t*>(s.text);
}

void PropertySet::SetText(uint32_t id, const wchar_t* text) {
  if (id >= kPropertyCount) return;
  if (!text || !text[0]) {
    Free(slots_[id]);
    return;
  }
  Adopt(id, CopyWide(text, BoundedLength(text, 65535)));
}

void PropertySet::Clear() {
  for (Slot& s : slots_) Free(s);
}

void PropertySet::SetBorrowed(uint32_t id, const void* text, uint32_t length, TextEncoding encoding) {
  if (id >= kPropertyCount || !text) return;
  Free(slots_[id]);
  if (length == 0) {
    static constexpr TextKind kTerminated[3] = {TextKind::Cp1252, TextKind::Utf8, TextKind::Wide};
    Borrow(id, text, kTerminated[static_cast<int>(encoding) % 3]);
    return;
  }
  // Drop trailing blanks; texts from files are often padded.
  if (encoding == TextEncoding::Wide) {
    const auto* w = static_cast<const wchar_t*>(text);
    while (length > 0 && (w[length - 1] == L' ' || w[length - 1] == 0)) --length;
  } else {
    const auto* b = static_cast<const char*>(text);
    while (length > 0 && (b[length - 1] == ' ' || b[length - 1] == 0)) --length;
  }
  if (length == 0) return;
  // The length is always kept: reading the unit after it to learn whether the
  // text is terminated could read past the end of the mapped file.
  static constexpr TextKind kCounted[3] = {TextKind::Cp1252Length, TextKind::Utf8Length, TextKind::WideLength};
  slots_[id].text = text;
  slots_[id].kind = kCounted[static_cast<int>(encoding) % 3];
  slots_[id].length = static_cast<uint16_t>(length > 65535 ? 65535 : length);
}

void PropertySet::Borrow(uint32_t id, const void* text, TextKind kind) {
  if (id >= kPropertyCount) return;
  Free(slots_[id]);
  if (!text) return;
  slots_[id].text = text;
  slots_[id].kind = kind;
}

void PropertySet::SetStatic(uint32_t id, const wchar_t* text) { Borrow(id, text, TextKind::Wide); }

void PropertySet::CopyFrom(PropertySet& other) {
  for (uint32_t id = 0; id < kPropertyCount; ++id) {
    if (other.Has(id)) SetText(id, other.GetText(id));
  }
}

}  // namespace pv
