#include "core/format_registry.h"

#include <mutex>

namespace pv {

namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

constexpr const wchar_t* kRadiance = L"Radiance RGBE image format";
constexpr const wchar_t* kJpeg = L"JPEG image file";

FormatEntry g_table[] = {
    {L"hdr", kRadiance, nullptr, nullptr},
    {L"img", kRadiance, nullptr, nullptr},
    {L"pic", kRadiance, nullptr, nullptr},
    {L"iff", L"Interchange file format", nullptr, nullptr},
    {L"bbm", L"DeluxePaint brush", nullptr, nullptr},
    {L"lbm", L"DeluxePaint bitmap", nullptr, nullptr},
    {L"webp", L"WebP image format", nullptr, nullptr},
    {L"rle", L"Windows RLE compressed bitmap", nullptr, nullptr},
    {L"dib", L"Windows Device Independent bitmap", nullptr, nullptr},
    {L"bmp", L"Windows bitmap format", nullptr, nullptr},
    {L"dds", L"DirectDraw surface", nullptr, nullptr},
    {L"fits", L"Flexible image transport system", nullptr, nullptr},
    {L"fit", L"Flexible image transport system", nullptr, nullptr},
    {L"gif", L"Graphics interchange format", nullptr, nullptr},
    {L"ico", L"Windows icon", nullptr, nullptr},
    {L"cur", L"Windows cursor", nullptr, nullptr},
    {L"jpeg", kJpeg, nullptr, nullptr},
    {L"jfif", kJpeg, nullptr, nullptr},
    {L"jpe", kJpeg, nullptr, nullptr},
    {L"jpg", kJpeg, nullptr, nullptr},
    {L"jif", kJpeg, nullptr, nullptr},
    {L"pcx", L"PC Paintbrush image", nullptr, nullptr},
    {L"png", L"Portable network graphics", nullptr, nullptr},
    {L"psd", L"PhotoShop format", nullptr, nullptr},
    {L"tga", L"TARGA format", nullptr, nullptr},
    {L"tiff", L"Tag image file format", nullptr, nullptr},
    {L"tif", L"Tag image file format", nullptr, nullptr},
};

}  // namespace

int CompareNoCase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    wchar_t x = Lower(*a), y = Lower(*b);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
}

void FormatRegistry::Register(FormatEntry* entry) {
  auto it = entries_.begin();
  for (; it != entries_.end(); ++it) {
    int c = CompareNoCase((*it)->extension, entry->extension);
    if (c == 0) c = CompareNoCase((*it)->description, entry->description);
    if (c > 0) break;
  }
  entries_.insert(it, entry);
}

int FormatRegistry::FindFormatByExtension(const wchar_t* path) const {
  if (!path) return -1;
  const wchar_t* ext = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'.') ext = p + 1;
  }
  wchar_t lower[6];
  size_t n = 0;
  for (; ext[n]; ++n) {
    if (n == 5) return -1;
    lower[n] = Lower(ext[n]);
  }
  if (n == 0) return -1;
  lower[n] = 0;
  // The program's own files (.pvs, .pva, .pvi) are never images.
  if (n == 3 && lower[0] == L'p' && lower[1] == L'v') return -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i]->create && CompareNoCase(entries_[i]->extension, lower) == 0) return static_cast<int>(i);
  }
  return -1;
}

FormatEntry* FindFormatEntry(const wchar_t* extension) {
  for (FormatEntry& e : g_table) {
    if (CompareNoCase(e.extension, extension) == 0) return &e;
  }
  return nullptr;
}

void SetFormatFunctions(const wchar_t* extension, ProbeFunction probe, CreateFunction create) {
  if (FormatEntry* e = FindFormatEntry(extension)) {
    e->probe = probe;
    e->create = create;
  }
}

FormatRegistry& Formats() {
  static FormatRegistry registry;
  return registry;
}

void RegisterFormatTable() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (FormatEntry& e : g_table) Formats().Register(&e);
  });
}

}  // namespace pv
