#pragma once
#include <cstdint>
#include <vector>

#include "core/status.h"

namespace pv {

class ByteSource;
class ImageDecoder;
struct FormatEntry;

using ProbeFunction = Status (*)(ByteSource& source);
using CreateFunction = ImageDecoder* (*)(ByteSource& source, const FormatEntry& entry);

// One record per extension. An entry without a create function is skipped
// by every search.
struct FormatEntry {
  const wchar_t* extension;    // lower case, without the dot
  const wchar_t* description;  // shown as the file-format property
  ProbeFunction probe;
  CreateFunction create;
};

// Entries sorted by extension (then description), compared without regard
// to case; an entry's index is the format index used elsewhere.
class FormatRegistry {
 public:
  void Register(FormatEntry* entry);
  uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }
  FormatEntry* Entry(uint32_t index) const { return index < entries_.size() ? entries_[index] : nullptr; }
  // Index of the first entry with a create function whose extension is the
  // path's (lower-cased, at most 5 characters, not "pv?"), or -1.
  int FindFormatByExtension(const wchar_t* path) const;

 private:
  std::vector<FormatEntry*> entries_;
};

// The process-wide table of all 27 formats; decoders fill in the functions.
FormatEntry* FindFormatEntry(const wchar_t* extension);
// Sets the probe and create functions of the entry for this extension.
void SetFormatFunctions(const wchar_t* extension, ProbeFunction probe, CreateFunction create);
// The process-wide registry; RegisterFormatTable puts all 27 entries into it once.
FormatRegistry& Formats();
void RegisterFormatTable();

// Case-insensitive comparison of ASCII-range wide texts.
int CompareNoCase(const wchar_t* a, const wchar_t* b);

}  // namespace pv
