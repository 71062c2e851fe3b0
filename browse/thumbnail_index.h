#pragma once
// The thumbnails of one folder kept in one file in that folder, so that a
// folder shown again needs no decoding: a RIFF file of form "PVIC" with a
// format chunk, a name table and the pixels, delta-coded and LZW-packed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pv {

inline constexpr wchar_t kThumbnailIndexName[] = L"Pixvane.pvi";

// The box every thumbnail of an index fits in; 0 means any (when reading).
struct ThumbnailBox {
  uint32_t width = 0, height = 0;
  bool operator==(const ThumbnailBox&) const = default;
};

struct ThumbnailEntry {
  std::wstring name;               // file name within the folder
  uint32_t width = 0, height = 0;  // of the thumbnail, at most 1023 each
  std::vector<uint32_t> pixels;    // width × height BGRA pixels, row after row
  uint8_t flags = 0;               // two bits of the thumbnail image
  uint8_t bitsPerPixel = 0;        // of the image file
  uint16_t imageWidth = 0, imageHeight = 0;
  uint32_t fileSize = 0;  // low 32 bits
  uint64_t fileTime = 0;  // last write, FILETIME units
  bool hasExtraText = false;
  std::string extraText;  // UTF-8
};

struct ThumbnailIndex {
  std::wstring folder;
  std::vector<ThumbnailEntry> entries;
};

// The index file's path for a folder; empty when it would not fit a path.
std::wstring ThumbnailIndexPath(const std::wstring& folder);

// The file's bytes for the entries that have pixels; empty when none has.
std::vector<uint8_t> EncodeThumbnailIndex(const std::vector<ThumbnailEntry>& entries, ThumbnailBox box);
// Fills entries from a file's bytes; false when they do not make a usable
// index for a requested box (0 sides: any), which is then set to the stored one.
bool DecodeThumbnailIndex(const uint8_t* data, size_t size, ThumbnailBox* box, std::vector<ThumbnailEntry>* entries);

// Writes the index file of index.folder (deletes it when no entry has
// pixels); false when there is no folder or the file cannot be written.
bool WriteThumbnailIndex(const ThumbnailIndex& index, ThumbnailBox box);
// Reads the index file of `folder` into index; see DecodeThumbnailIndex.
bool ReadThumbnailIndex(ThumbnailIndex* index, const std::wstring& folder, ThumbnailBox* box);

}  // namespace pv
