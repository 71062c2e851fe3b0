#pragma once
#include <cstdint>

namespace pv::jpeg {

// Marker codes: the byte after FF.
inline constexpr uint8_t kTem = 0x01;   // temporary, no length
inline constexpr uint8_t kSof0 = 0xC0;  // baseline sequential, Huffman
inline constexpr uint8_t kSof1 = 0xC1;  // extended sequential, Huffman
inline constexpr uint8_t kSof2 = 0xC2;  // progressive, Huffman
inline constexpr uint8_t kDht = 0xC4;
inline constexpr uint8_t kSof9 = 0xC9;   // sequential, arithmetic
inline constexpr uint8_t kSof10 = 0xCA;  // progressive, arithmetic
inline constexpr uint8_t kDac = 0xCC;
inline constexpr uint8_t kSof15 = 0xCF;  // the last of the frame markers from kSof0 on
inline constexpr uint8_t kRst0 = 0xD0;
inline constexpr uint8_t kRst7 = 0xD7;
inline constexpr uint8_t kSoi = 0xD8;
inline constexpr uint8_t kEoi = 0xD9;
inline constexpr uint8_t kSos = 0xDA;
inline constexpr uint8_t kDqt = 0xDB;
inline constexpr uint8_t kDnl = 0xDC;
inline constexpr uint8_t kDri = 0xDD;
inline constexpr uint8_t kApp0 = 0xE0;   // JFIF
inline constexpr uint8_t kApp1 = 0xE1;   // EXIF, XMP
inline constexpr uint8_t kApp13 = 0xED;  // Photoshop resources
inline constexpr uint8_t kApp14 = 0xEE;  // Adobe
inline constexpr uint8_t kApp15 = 0xEF;
inline constexpr uint8_t kCom = 0xFE;

// Frame markers: C0-CF except the table markers DHT and DAC.
inline bool IsFrameMarker(uint8_t m) { return m >= kSof0 && m <= kSof15 && m != kDht && m != kDac; }
// Markers without a length: TEM and the restart markers.
inline bool IsStandalone(uint8_t m) { return m == kTem || (m >= kRst0 && m <= kRst7); }

}  // namespace pv::jpeg
