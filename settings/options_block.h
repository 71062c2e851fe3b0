#pragma once
// The options block: most of the settings in one fixed 172-byte record,
// stored as the registry value "Options8". The stored form is encoded field
// by field, little-endian, at fixed offsets.
#include <cstddef>
#include <cstdint>

namespace pv {

inline constexpr size_t kOptionsBlockSize = 172;
// The CRC covers everything after the CRC field itself.
inline constexpr size_t kOptionsCrcStart = 4;

// The language dictionary cached in the registry may not claim more than
// this. A single-byte language file is read up to 1 MiB, and each of its
// bytes costs at most 2.5 bytes of dictionary (a three-byte line "a|b" gives
// five 16-bit units), so 4 MiB holds any file with room to spare while a
// damaged size can no longer ask for gigabytes.
inline constexpr uint32_t kMaxDictionaryBytes = 4u << 20;

// Thumbnail boxes: the index file keeps their sides in 10 bits.
inline constexpr int32_t kMinIconSide = 32;
inline constexpr int32_t kMaxIconSide = 1023;
inline constexpr int32_t kMaxIconSpacing = 256;
// Slideshow delays become millisecond timer periods in a signed 32-bit value.
inline constexpr int32_t kMaxSlideDelayTenths = INT32_MAX / 100;

// Window background: blue, green, red and flag bits.
struct BackgroundColour {
  uint8_t blue = 0, green = 0, red = 0, flags = 0;
  static constexpr uint8_t kTranslucentOff = 0x80;
  static constexpr uint8_t kAutomaticColourOff = 0x40;
};

// The one-pixel frame around images in borderless windows: its colour and
// whether it is shown. Kept in bytes the block left unused, so a block saved
// before it existed reads as no frame.
struct BorderColour {
  uint8_t blue = 0, green = 0, red = 0;
  bool shown = false;
};

// The members carry the defaults of a fresh installation.
struct Options {
  uint32_t crc = 0;  // of bytes 4..171 as they were at the previous save
  char languageName[64] = "English - US";  // UTF-8, zero-terminated
  uint32_t dictionaryBytes = 0;
  bool notInstalled = false;      // recomputed at every start
  bool ordinalNameOrder = false;  // recomputed at every start
  uint32_t clearedAtStart = 0;    // offset 84
  bool keepRecent = true;
  uint8_t viewerByte90 = 100;  // its meaning belongs to the viewer window
  uint8_t viewerTitleMode = 1;
  bool openFullScreen = false;
  bool autoSizeToWindow = true;
  bool shrinkOnly = true;
  bool shrinkLargeInFullScreen = true;
  bool showResolution = true;
  bool showFullPath = false;
  uint8_t viewerLabels[3] = {0x36, 0x05, 0x04};
  uint8_t keyBindingCount = 0;
  BorderColour viewerBorder;
  BackgroundColour viewerBackground{0x80, 0x80, 0x80, 0};
  // Folders, scripts, the number of name lines (0 to 4), then text lines.
  uint8_t indexDisplaySwitches[8] = {1, 0, 1, 1, 0, 0, 0, 1};
  uint8_t indexTitleMode = 1;
  int32_t indexIconWidth = 160;
  int32_t indexIconHeight = 160;
  int32_t indexIconSpacing = 10;
  uint8_t indexSortOrder = 1;
  bool indexAutoCache = false;
  bool indexCacheSizeWins = true;
  bool indexShowFullFolder = false;
  bool indexShowCount = true;
  bool indexCloseOnOpen = false;
  bool indexFixedWindowSize = false;
  BackgroundColour indexBackground{0x40, 0x40, 0x40, 0};
  int16_t indexWindowX = 0;
  int16_t indexWindowY = 0;
  uint16_t indexWindowWidth = 0;  // 0: no stored size
  uint16_t indexWindowHeight = 0;
  int32_t slideDelayTenths = 80;
  uint8_t slideDelayMode = 1;  // 0 none, 1 wait for key or click, 2 fixed delay
  bool slideMaximise = true;
  bool slideFullPaths = false;
  bool slideLoop = false;
  bool slideNotepad = false;
  bool slideSelfDelete = true;
  bool slideSort = true;
};

// Writes the stored form; bytes that no field covers are zero.
void EncodeOptions(const Options& options, uint8_t out[kOptionsBlockSize]);

// Reads a stored block. Each field outside its range keeps its default and
// the others are taken as stored. A block of another size, or one that is
// all zero after the CRC, gives the defaults as a whole.
Options DecodeOptions(const uint8_t* data, size_t size);

// CRC-32 (zlib) of bytes 4..171 of the stored form.
uint32_t OptionsCrc(const Options& options);

}  // namespace pv
