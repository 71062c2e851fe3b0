#include "viewer/adjustment_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/endian.h"
#include "core/file_io.h"

namespace pv {

namespace {

// Real files hold at most a dozen entries; anything longer is not read whole.
constexpr int64_t kMaxFileBytes = 1 << 20;

constexpr uint32_t Tag(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

enum class Value { Contrast, Brightness, Hue, Saturation, Luminance, Red, Green, Blue, Gamma, Invert, Sharpening, Orientation };

struct TagEntry {
  uint32_t tag;
  Value value;
};

// In the order the entries are written.
constexpr TagEntry kTags[] = {
    {Tag("CCTR"), Value::Contrast},   {Tag("CBRI"), Value::Brightness}, {Tag("CHUE"), Value::Hue},
    {Tag("CSAT"), Value::Saturation}, {Tag("CLUM"), Value::Luminance},  {Tag("CRED"), Value::Red},
    {Tag("CGRN"), Value::Green},      {Tag("CBLU"), Value::Blue},       {Tag("CGAM"), Value::Gamma},
    {Tag("CINV"), Value::Invert},     {Tag("ISHA"), Value::Sharpening}, {Tag("IROT"), Value::Orientation},
};

// The float behind a value (not for invert and orientation); const or not
// as `v` is.
template <class V>
auto FloatOf(V& v, Value which) -> decltype(&v.sharpening) {
  auto& c = v.colour;
  decltype(&v.sharpening) floats[] = {&c.contrast, &c.brightness, &c.hue, &c.saturation, &c.luminance,
                     &c.red,      &c.green,      &c.blue, &c.gamma};
  if (which == Value::Sharpening) return &v.sharpening;
  return floats[static_cast<size_t>(which)];
}

// The stored value of an entry, or none when it is neutral.
bool Stored(const ViewAdjustments& v, Value which, uint8_t imageOrientation, float* out) {
  switch (which) {
    case Value::Invert:
      *out = 1.0f;
      return v.colour.invert;
    case Value::Orientation:
      *out = v.orientation;
      return v.orientation != imageOrientation;
    case Value::Gamma:
      *out = v.colour.gamma;
      return v.colour.gamma != 1;
    default:
      *out = *FloatOf(v, which);
      return *out != 0;
  }
}

void Apply(ViewAdjustments* v, Value which, float value) {
  switch (which) {
    case Value::Invert:
      v->colour.invert = value >= 0.5f;
      break;
    case Value::Orientation:
      // The value comes from a file: anything outside the codes is clamped
      // before it is turned into an integer.
      if (!(value >= 0)) value = 0;
      v->orientation = static_cast<uint8_t>(std::min(value, float{kMaxOrientation}) + 0.5f);
      break;
    default:
      *FloatOf(*v, which) = value;
  }
}

}  // namespace

std::wstring AdjustmentFilePath(const wchar_t* imagePath) { return std::wstring(imagePath) + L".pva"; }

std::vector<uint8_t> EncodeAdjustments(const ViewAdjustments& values, uint8_t imageOrientation) {
  std::vector<uint8_t> entries;
  for (const TagEntry& t : kTags) {
    float value;
    if (!Stored(values, t.value, imageOrientation, &value)) continue;
    uint8_t entry[8];
    StoreU32LE(entry, t.tag);
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    StoreU32LE(entry + 4, bits);
    entries.insert(entries.end(), entry, entry + 8);
  }
  if (entries.empty()) return entries;
  std::vector<uint8_t> file(20);
  std::memcpy(file.data(), "RIFF", 4);
  StoreU32LE(file.data() + 4, static_cast<uint32_t>(12 + entries.size()));
  std::memcpy(file.data() + 8, "PVIALADJ", 8);
  StoreU32LE(file.data() + 16, static_cast<uint32_t>(entries.size()));
  file.insert(file.end(), entries.begin(), entries.end());
  return file;
}

bool DecodeAdjustments(const uint8_t* data, uint64_t size, ViewAdjustments* values) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "PVIA", 4) != 0) return false;
  // Offsets are 64-bit so that no chunk size can wrap them back into the file.
  const uint64_t end = std::min<uint64_t>(uint64_t{LoadU32LE(data + 4)} + 8, size);
  uint64_t pos = 12;
  while (pos + 8 <= end) {
    const uint8_t* header = data + pos;
    const uint64_t chunkSize = LoadU32LE(header + 4);
    pos += 8;
    if (std::memcmp(header, "LADJ", 4) == 0) {
      const uint64_t count = std::min(chunkSize, end - pos) / 8;
      for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + pos + 8 * i;
        const uint32_t tag = LoadU32LE(entry);
        const uint32_t bits = LoadU32LE(entry + 4);
        float value;
        std::memcpy(&value, &bits, 4);
        for (const TagEntry& t : kTags)
          if (t.tag == tag) Apply(values, t.value, value);
      }
    }
    pos += chunkSize;
  }
  return true;
}

bool WriteAdjustmentFile(const wchar_t* imagePath, const ViewAdjustments& values, uint8_t imageOrientation) {
  const std::wstring path = AdjustmentFilePath(imagePath);
  const std::vector<uint8_t> bytes = EncodeAdjustments(values, imageOrientation);
  if (bytes.empty()) return RemoveFile(path.c_str());
  return WriteHiddenFile(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool ReadAdjustmentFile(const wchar_t* imagePath, ViewAdjustments* values) {
  const FileHandle file = OpenFileForRead(AdjustmentFilePath(imagePath).c_str());
  if (file == kNoFile) return false;
  const int64_t size = std::min(FileSize64(file), kMaxFileBytes);
  std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
  const bool read = size > 0 && ReadExact(file, bytes.data(), static_cast<uint32_t>(size));
  CloseFile(file);
  return read && DecodeAdjustments(bytes.data(), bytes.size(), values);
}

}  // namespace pv
