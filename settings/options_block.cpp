#include "settings/options_block.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "core/endian.h"

namespace pv {

namespace {

// Offsets of the stored form.
enum Offset : size_t {
  kCrc = 0,
  kLanguageName = 8,
  kDictionaryBytes = 72,
  kNotInstalled = 76,
  kOrdinalNameOrder = 77,
  kClearedAtStart = 84,
  kKeepRecent = 89,
  kViewerByte90 = 90,
  kViewerTitleMode = 92,
  kOpenFullScreen = 93,
  kAutoSizeToWindow = 95,
  kShrinkOnly = 96,
  kShrinkLargeInFullScreen = 97,
  kShowResolution = 100,
  kShowFullPath = 101,
  kViewerLabels = 102,
  kKeyBindingCount = 105,
  kViewerBorder = 108,  // blue, green, red, then the shown switch at 111
  kViewerBackground = 112,
  kIndexDisplaySwitches = 116,
  kIndexTitleMode = 124,
  kIndexIconWidth = 128,
  kIndexIconHeight = 132,
  kIndexIconSpacing = 136,
  kIndexSortOrder = 140,
  kIndexAutoCache = 142,
  kIndexCacheSizeWins = 143,
  kIndexShowFullFolder = 144,
  kIndexShowCount = 145,
  kIndexCloseOnOpen = 146,
  kIndexFixedWindowSize = 147,
  kIndexBackground = 148,
  kIndexWindowX = 152,
  kIndexWindowY = 154,
  kIndexWindowWidth = 156,
  kIndexWindowHeight = 158,
  kSlideDelayTenths = 160,
  kSlideDelayMode = 164,
  kSlideMaximise = 165,
  kSlideFullPaths = 166,
  kSlideLoop = 167,
  kSlideNotepad = 168,
  kSlideSelfDelete = 169,
  kSlideSort = 170,
};

constexpr size_t kLanguageNameBytes = sizeof(Options::languageName);
constexpr size_t kNameLinesSwitch = 2;  // within the display switches
constexpr uint8_t kMaxNameLines = 4;
constexpr uint8_t kSortOrders = 5;
constexpr uint8_t kSlideDelayModes = 3;

void PutColour(uint8_t* p, const BackgroundColour& c) {
  p[0] = c.blue;
  p[1] = c.green;
  p[2] = c.red;
  p[3] = c.flags;
}

// A language name is a file name without its extension: not empty, no
// control characters, nothing that leaves the program folder.
bool IsLanguageName(const uint8_t* p) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p, 0, kLanguageNameBytes));
  if (!end || end == p) return false;
  return std::none_of(p, end, [](uint8_t c) { return c < 0x20 || c == '\\' || c == '/' || c == ':'; });
}

bool IsDictionarySize(uint32_t n) {
  // 256 bytes of bucket heads, then whole 16-bit units.
  return n == 0 || (n > 256 && n % 2 == 0 && n <= kMaxDictionaryBytes);
}

// Takes stored fields over the defaults where they are in range.
class FieldReader {
 public:
  explicit FieldReader(const uint8_t* p) : p_(p) {}

  void Byte(size_t at, uint8_t& field) const { field = p_[at]; }
  void Flag(size_t at, bool& field) const {
    if (p_[at] <= 1) field = p_[at] != 0;
  }
  void ByteIn(size_t at, uint8_t low, uint8_t high, uint8_t& field) const {
    if (p_[at] >= low && p_[at] <= high) field = p_[at];
  }
  void Int32In(size_t at, int32_t low, int32_t high, int32_t& field) const {
    const int32_t v = static_cast<int32_t>(LoadU32LE(p_ + at));
    if (v >= low && v <= high) field = v;
  }
  void Colour(size_t at, BackgroundColour& field) const { field = {p_[at], p_[at + 1], p_[at + 2], p_[at + 3]}; }

 private:
  const uint8_t* p_;
};

// The on/off switches: one byte each, 0 or 1.
struct Switch {
  size_t at;
  bool Options::*field;
};
constexpr Switch kSwitches[] = {
    {kNotInstalled, &Options::notInstalled},
    {kOrdinalNameOrder, &Options::ordinalNameOrder},
    {kKeepRecent, &Options::keepRecent},
    {kOpenFullScreen, &Options::openFullScreen},
    {kAutoSizeToWindow, &Options::autoSizeToWindow},
    {kShrinkOnly, &Options::shrinkOnly},
    {kShrinkLargeInFullScreen, &Options::shrinkLargeInFullScreen},
    {kShowResolution, &Options::showResolution},
    {kShowFullPath, &Options::showFullPath},
    {kIndexAutoCache, &Options::indexAutoCache},
    {kIndexCacheSizeWins, &Options::indexCacheSizeWins},
    {kIndexShowFullFolder, &Options::indexShowFullFolder},
    {kIndexShowCount, &Options::indexShowCount},
    {kIndexCloseOnOpen, &Options::indexCloseOnOpen},
    {kIndexFixedWindowSize, &Options::indexFixedWindowSize},
    {kSlideMaximise, &Options::slideMaximise},
    {kSlideFullPaths, &Options::slideFullPaths},
    {kSlideLoop, &Options::slideLoop},
    {kSlideNotepad, &Options::slideNotepad},
    {kSlideSelfDelete, &Options::slideSelfDelete},
    {kSlideSort, &Options::slideSort},
};

}  // namespace

void EncodeOptions(const Options& o, uint8_t out[kOptionsBlockSize]) {
  std::memset(out, 0, kOptionsBlockSize);
  StoreU32LE(out + kCrc, o.crc);
  // Bytes after the name's terminator stay zero, so equal names give equal CRCs.
  const size_t nameLength = strnlen(o.languageName, kLanguageNameBytes - 1);
  std::memcpy(out + kLanguageName, o.languageName, nameLength);
  StoreU32LE(out + kDictionaryBytes, o.dictionaryBytes);
  StoreU32LE(out + kClearedAtStart, o.clearedAtStart);
  out[kViewerByte90] = o.viewerByte90;
  out[kViewerTitleMode] = o.viewerTitleMode;
  std::memcpy(out + kViewerLabels, o.viewerLabels, sizeof o.viewerLabels);
  out[kKeyBindingCount] = o.keyBindingCount;
  out[kViewerBorder] = o.viewerBorder.blue;
  out[kViewerBorder + 1] = o.viewerBorder.green;
  out[kViewerBorder + 2] = o.viewerBorder.red;
  out[kViewerBorder + 3] = o.viewerBorder.shown;
  PutColour(out + kViewerBackground, o.viewerBackground);
  std::memcpy(out + kIndexDisplaySwitches, o.indexDisplaySwitches, sizeof o.indexDisplaySwitches);
  out[kIndexTitleMode] = o.indexTitleMode;
  StoreU32LE(out + kIndexIconWidth, static_cast<uint32_t>(o.indexIconWidth));
  StoreU32LE(out + kIndexIconHeight, static_cast<uint32_t>(o.indexIconHeight));
  StoreU32LE(out + kIndexIconSpacing, static_cast<uint32_t>(o.indexIconSpacing));
  out[kIndexSortOrder] = o.indexSortOrder;
  PutColour(out + kIndexBackground, o.indexBackground);
  StoreU16LE(out + kIndexWindowX, static_cast<uint16_t>(o.indexWindowX));
  StoreU16LE(out + kIndexWindowY, static_cast<uint16_t>(o.indexWindowY));
  StoreU16LE(out + kIndexWindowWidth, o.indexWindowWidth);
  StoreU16LE(out + kIndexWindowHeight, o.indexWindowHeight);
  StoreU32LE(out + kSlideDelayTenths, static_cast<uint32_t>(o.slideDelayTenths));
  out[kSlideDelayMode] = o.slideDelayMode;
  for (const Switch& sw : kSwitches) out[sw.at] = o.*sw.field;
}

Options DecodeOptions(const uint8_t* data, size_t size) {
  Options o;
  if (!data || size != kOptionsBlockSize) return o;
  // A block of zeros would mean thumbnails of size 0 and the recent folders
  // erased at exit: it is no stored choice but a lost one.
  if (std::all_of(data + kOptionsCrcStart, data + kOptionsBlockSize, [](uint8_t b) { return b == 0; })) return o;

  const FieldReader r(data);
  o.crc = LoadU32LE(data + kCrc);
  if (IsLanguageName(data + kLanguageName)) {
    std::memset(o.languageName, 0, kLanguageNameBytes);
    std::memcpy(o.languageName, data + kLanguageName, kLanguageNameBytes);
  }
  if (IsDictionarySize(LoadU32LE(data + kDictionaryBytes))) o.dictionaryBytes = LoadU32LE(data + kDictionaryBytes);
  o.clearedAtStart = LoadU32LE(data + kClearedAtStart);
  r.Byte(kViewerByte90, o.viewerByte90);
  r.Byte(kViewerTitleMode, o.viewerTitleMode);
  for (size_t i = 0; i < sizeof o.viewerLabels; ++i) r.Byte(kViewerLabels + i, o.viewerLabels[i]);
  r.Byte(kKeyBindingCount, o.keyBindingCount);
  r.Byte(kViewerBorder, o.viewerBorder.blue);
  r.Byte(kViewerBorder + 1, o.viewerBorder.green);
  r.Byte(kViewerBorder + 2, o.viewerBorder.red);
  r.Flag(kViewerBorder + 3, o.viewerBorder.shown);
  r.Colour(kViewerBackground, o.viewerBackground);
  for (size_t i = 0; i < sizeof o.indexDisplaySwitches; ++i) {
    r.ByteIn(kIndexDisplaySwitches + i, 0, i == kNameLinesSwitch ? kMaxNameLines : 1, o.indexDisplaySwitches[i]);
  }
  r.Byte(kIndexTitleMode, o.indexTitleMode);
  r.Int32In(kIndexIconWidth, kMinIconSide, kMaxIconSide, o.indexIconWidth);
  r.Int32In(kIndexIconHeight, kMinIconSide, kMaxIconSide, o.indexIconHeight);
  r.Int32In(kIndexIconSpacing, 0, kMaxIconSpacing, o.indexIconSpacing);
  r.ByteIn(kIndexSortOrder, 1, kSortOrders, o.indexSortOrder);
  r.Colour(kIndexBackground, o.indexBackground);
  o.indexWindowX = static_cast<int16_t>(LoadU16LE(data + kIndexWindowX));
  o.indexWindowY = static_cast<int16_t>(LoadU16LE(data + kIndexWindowY));
  o.indexWindowWidth = LoadU16LE(data + kIndexWindowWidth);
  o.indexWindowHeight = LoadU16LE(data + kIndexWindowHeight);
  r.Int32In(kSlideDelayTenths, 0, kMaxSlideDelayTenths, o.slideDelayTenths);
  r.ByteIn(kSlideDelayMode, 0, kSlideDelayModes - 1, o.slideDelayMode);
  for (const Switch& sw : kSwitches) r.Flag(sw.at, o.*sw.field);
  return o;
}

uint32_t OptionsCrc(const Options& options) {
  uint8_t block[kOptionsBlockSize];
  EncodeOptions(options, block);
  const uLong crc = crc32(0, block + kOptionsCrcStart, kOptionsBlockSize - kOptionsCrcStart);
  return static_cast<uint32_t>(crc);
}

}  // namespace pv
