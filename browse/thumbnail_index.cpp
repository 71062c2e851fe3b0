#include "browse/thumbnail_index.h"

#include <cstring>

#include "browse/file_names.h"
#include "core/endian.h"
#include "core/file_io.h"
#include "core/lzw.h"
#include "core/text.h"

namespace pv {

namespace {

constexpr uint32_t kEntryBytes = 24;
constexpr uint32_t kCodingPlain = 0;
constexpr uint32_t kCodingDeltaLzw = 2;
constexpr uint32_t kMaxCount = (1u << 22) - 1;
constexpr uint32_t kMaxDataBytes = (1u << 30) - 1;
constexpr uint32_t kMaxSide = 1023;
constexpr uint32_t kUtf8Names = 1u << 30;
constexpr uint32_t kExtraTexts = 1u << 31;
// Nothing this program writes comes near; a bigger file is not ours.
constexpr int64_t kMaxFileBytes = int64_t{1} << 31;

bool HasPixels(const ThumbnailEntry& e) {
  return e.width && e.height && e.width <= kMaxSide && e.height <= kMaxSide &&
         e.pixels.size() == size_t{e.width} * e.height;
}

void PutTag(std::vector<uint8_t>& out, const char* tag, uint32_t size) {
  out.insert(out.end(), tag, tag + 4);
  out.resize(out.size() + 4);
  StoreU32LE(out.data() + out.size() - 4, size);
}

std::string EncodeName(const std::wstring& name, bool utf8) {
  if (utf8) return WideToUtf8(name);
  std::string out;
  for (wchar_t c : name) out += static_cast<char>(c);
  return out;
}

}  // namespace

std::wstring ThumbnailIndexPath(const std::wstring& folder) {
  if (folder.empty()) return {};
  std::wstring path = folder;
  if (!IsPathSeparator(path.back()) || path.back() == L':') path += kPathSeparator;
  path += kThumbnailIndexName;
  return path.size() < kMaxPathUnits ? path : std::wstring();
}

std::vector<uint8_t> EncodeThumbnailIndex(const std::vector<ThumbnailEntry>& entries, ThumbnailBox box) {
  bool utf8 = false, extra = false;
  uint32_t count = 0;
  uint64_t dataBytes = 0;
  for (const ThumbnailEntry& e : entries) {
    if (!HasPixels(e)) continue;
    for (wchar_t c : e.name) utf8 |= static_cast<uint32_t>(c) > 0xFF;
    extra |= e.hasExtraText;
    ++count;
  }
  if (count == 0 || count > kMaxCount) return {};
  // The extra-text bytes of one item: its text, then a zero in every case.
  auto extraBytes = [&](const ThumbnailEntry& e) -> uint64_t {
    return !extra ? 0 : e.hasExtraText ? e.extraText.size() + 3 : 1;
  };

  std::vector<uint8_t> fref;
  for (const ThumbnailEntry& e : entries) {
    if (!HasPixels(e)) continue;
    if (dataBytes > kMaxDataBytes) return {};
    const uint32_t offset = static_cast<uint32_t>(dataBytes);
    uint8_t head[kEntryBytes];
    StoreU32LE(head, (offset & 0xFFFFFF) | ((offset >> 24) << 26) | (uint32_t{e.flags & 3u} << 24));
    StoreU32LE(head + 4, e.width | (e.height << 10) | (1u << 20) | (uint32_t{e.bitsPerPixel} << 24));
    StoreU16LE(head + 8, e.imageWidth);
    StoreU16LE(head + 10, e.imageHeight);
    StoreU32LE(head + 12, e.fileSize);
    StoreU32LE(head + 16, static_cast<uint32_t>(e.fileTime));
    StoreU32LE(head + 20, static_cast<uint32_t>(e.fileTime >> 32));
    fref.insert(fref.end(), head, head + kEntryBytes);
    const std::string name = EncodeName(e.name, utf8);
    fref.insert(fref.end(), name.begin(), name.end());
    fref.push_back(0);
    dataBytes += uint64_t{e.width} * e.height * 4 + extraBytes(e);
  }
  if (dataBytes > kMaxDataBytes) return {};
  if (fref.size() & 1) fref.push_back(0);

  std::vector<uint8_t> data;
  data.reserve(dataBytes);
  for (const ThumbnailEntry& e : entries) {
    if (!HasPixels(e)) continue;
    for (uint32_t p : e.pixels) {
      const uint8_t bytes[4] = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16),
                                static_cast<uint8_t>(p >> 24)};
      data.insert(data.end(), bytes, bytes + 4);
    }
    if (extra && e.hasExtraText) {
      data.push_back(1);
      data.insert(data.end(), e.extraText.begin(), e.extraText.end());
      data.push_back(0);
    }
    if (extra) data.push_back(0);
  }

  // Neighbouring bytes of a thumbnail differ little: their differences pack far better.
  std::vector<uint8_t> delta(data.size());
  uint8_t previous = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    delta[i] = static_cast<uint8_t>(data[i] - previous);
    previous = data[i];
  }
  std::vector<uint8_t> packed(LzwEncodeBound(delta.size()));
  packed.resize(LzwEncode(packed.data(), delta.data(), delta.size()));
  uint32_t coding = kCodingPlain;
  const std::vector<uint8_t>* stored = &data;
  if (!packed.empty() && packed.size() * 10 < data.size() * 9) {
    coding = kCodingDeltaLzw;
    stored = &packed;
  }
  const uint32_t storedBytes = static_cast<uint32_t>(stored->size() + (stored->size() & 1));

  std::vector<uint8_t> out;
  out.reserve(48 + fref.size() + storedBytes);
  PutTag(out, "RIFF", static_cast<uint32_t>(40 + fref.size() + storedBytes));
  out.insert(out.end(), {'P', 'V', 'I', 'C'});
  PutTag(out, "IFMT", 12);
  uint8_t format[12];
  StoreU32LE(format, count);
  StoreU32LE(format + 4, 24 | ((box.width & 0x3FF) << 8) | ((box.height & 0x3FF) << 18) | (coding << 28));
  StoreU32LE(format + 8, static_cast<uint32_t>(dataBytes) | (utf8 ? kUtf8Names : 0) | (extra ? kExtraTexts : 0));
  out.insert(out.end(), format, format + 12);
  PutTag(out, "FREF", static_cast<uint32_t>(fref.size()));
  out.insert(out.end(), fref.begin(), fref.end());
  PutTag(out, "DATA", storedBytes);
  out.insert(out.end(), stored->begin(), stored->end());
  out.resize(out.size() + (stored->size() & 1));
  return out;
}

bool DecodeThumbnailIndex(const uint8_t* data, size_t size, ThumbnailBox* box, std::vector<ThumbnailEntry>* entries) {
  entries->clear();
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "PVIC", 4) != 0) return false;
  const uint64_t riffEnd = std::min<uint64_t>(LoadU32LE(data + 4), size);
  const uint8_t* format = nullptr;
  const uint8_t* fref = nullptr;
  const uint8_t* stored = nullptr;
  uint32_t frefBytes = 0, storedBytes = 0;
  for (uint64_t at = 12; at < riffEnd;) {
    if (size - at < 8) return false;
    const uint32_t chunk = LoadU32LE(data + at + 4);
    if (chunk > size - at - 8) return false;
    const uint8_t* body = data + at + 8;
    if (std::memcmp(data + at, "IFMT", 4) == 0) {
      if (chunk < 12) return false;
      format = body;
    } else if (std::memcmp(data + at, "FREF", 4) == 0) {
      fref = body;
      frefBytes = chunk;
    } else if (std::memcmp(data + at, "DATA", 4) == 0) {
      stored = body;
      storedBytes = chunk;
    }
    at += 8 + uint64_t{chunk} + (chunk & 1);
  }
  if (!format || !fref || !stored) return false;

  const uint32_t word1 = LoadU32LE(format), word2 = LoadU32LE(format + 4), word3 = LoadU32LE(format + 8);
  const ThumbnailBox storedBox{(word2 >> 8) & 0x3FF, (word2 >> 18) & 0x3FF};
  if (!storedBox.width || !storedBox.height) return false;
  if ((box->width && box->width != storedBox.width) || (box->height && box->height != storedBox.height)) return false;
  const uint32_t count = word1 & kMaxCount;
  const uint32_t coding = word2 >> 28;
  const uint32_t dataBytes = word3 & kMaxDataBytes;
  const bool utf8 = (word3 & kUtf8Names) != 0, extra = (word3 & kExtraTexts) != 0;
  // Every entry takes at least its head and a terminator.
  if (uint64_t{count} * (kEntryBytes + 1) > frefBytes) return false;

  // A 9-bit code stands for at most 4096 bytes: a claim beyond that is
  // refused before anything is allocated for it.
  if (coding == kCodingPlain ? storedBytes < dataBytes : uint64_t{storedBytes} * 4096 < dataBytes) return false;
  std::vector<uint8_t> pixels(dataBytes);
  if (coding == kCodingPlain) {
    if (dataBytes) std::memcpy(pixels.data(), stored, dataBytes);
  } else if (coding == kCodingDeltaLzw) {
    if (LzwDecode(pixels.data(), dataBytes, stored, storedBytes).written != dataBytes) return false;
    uint8_t sum = 0;
    for (uint8_t& b : pixels) b = sum = static_cast<uint8_t>(sum + b);
  } else {
    return false;
  }

  entries->reserve(count);
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (frefBytes - at < kEntryBytes + 1) return false;
    const uint8_t* head = fref + at;
    const void* end = std::memchr(head + kEntryBytes, 0, frefBytes - at - kEntryBytes);
    if (!end) return false;
    const size_t nameBytes = static_cast<const uint8_t*>(end) - (head + kEntryBytes);
    at += static_cast<uint32_t>(kEntryBytes + nameBytes + 1);

    ThumbnailEntry e;
    const uint32_t place = LoadU32LE(head), sizes = LoadU32LE(head + 4);
    const uint32_t offset = (place & 0xFFFFFF) | ((place >> 26) << 24);
    e.flags = static_cast<uint8_t>((place >> 24) & 3);
    e.width = sizes & 0x3FF;
    e.height = (sizes >> 10) & 0x3FF;
    e.bitsPerPixel = static_cast<uint8_t>(sizes >> 24);
    e.imageWidth = LoadU16LE(head + 8);
    e.imageHeight = LoadU16LE(head + 10);
    e.fileSize = LoadU32LE(head + 12);
    e.fileTime = LoadU64LE(head + 16);
    e.name = utf8 ? Utf8ToWide(head + kEntryBytes, nameBytes)
                  : std::wstring(head + kEntryBytes, head + kEntryBytes + nameBytes);
    const uint64_t pixelBytes = uint64_t{e.width} * e.height * 4;
    if (!e.width || !e.height || offset > dataBytes || pixelBytes > dataBytes - offset) return false;
    e.pixels.resize(size_t{e.width} * e.height);
    std::memcpy(e.pixels.data(), pixels.data() + offset, pixelBytes);
    if (extra) {
      const uint8_t* text = pixels.data() + offset + pixelBytes;
      const size_t left = dataBytes - offset - pixelBytes;
      if (left > 0 && text[0] == 1) {
        const void* stop = std::memchr(text + 1, 0, left - 1);
        if (!stop) return false;
        e.hasExtraText = true;
        e.extraText.assign(reinterpret_cast<const char*>(text + 1), static_cast<const uint8_t*>(stop) - (text + 1));
      }
    }
    entries->push_back(std::move(e));
  }
  *box = storedBox;
  return true;
}

bool WriteThumbnailIndex(const ThumbnailIndex& index, ThumbnailBox box) {
  const std::wstring path = ThumbnailIndexPath(index.folder);
  if (path.empty()) return false;
  const std::vector<uint8_t> bytes = EncodeThumbnailIndex(index.entries, box);
  if (bytes.empty()) return RemoveFile(path.c_str());
  return WriteHiddenFile(path.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool ReadThumbnailIndex(ThumbnailIndex* index, const std::wstring& folder, ThumbnailBox* box) {
  index->entries.clear();
  const std::wstring path = ThumbnailIndexPath(folder);
  if (path.empty()) return false;
  index->folder = folder;
  const FileHandle file = OpenFileForRead(path.c_str());
  if (file == kNoFile) return false;
  const int64_t size = FileSize64(file);
  std::vector<uint8_t> bytes;
  bool read = size > 0 && size < kMaxFileBytes;
  if (read) {
    bytes.resize(static_cast<size_t>(size));
    read = ReadExact(file, bytes.data(), static_cast<uint32_t>(size));
  }
  CloseFile(file);
  return read && DecodeThumbnailIndex(bytes.data(), bytes.size(), box, &index->entries);
}

}  // namespace pv
