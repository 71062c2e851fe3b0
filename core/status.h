#pragma once
#include <cstdint>

namespace pv {

// 32-bit status codes; bit 31 set means failure. The type is an enum only
// so that the compiler rejects a status that is dropped unread; any 32-bit
// value is a valid status.
enum [[nodiscard]] Status : int32_t {
  kStatusOk = 0,
  kStatusFormatMismatch = static_cast<int32_t>(0x80040200),  // also general failure
  kStatusSizeMismatch = static_cast<int32_t>(0x80040201),    // or invalid argument
  kStatusOutOfMemory = static_cast<int32_t>(0x80040202),
  kStatusCannotOpen = static_cast<int32_t>(0x80040203),
  kStatusCannotCreate = static_cast<int32_t>(0x80040204),
  kStatusCannotRead = static_cast<int32_t>(0x80040205),
  kStatusCannotWrite = static_cast<int32_t>(0x80040206),
  kStatusUnknownFormat = static_cast<int32_t>(0x80040207),
  kStatusDamaged = static_cast<int32_t>(0x80040208),
  kStatusUnsupported = static_cast<int32_t>(0x80040209),
  kStatusColourFormat = static_cast<int32_t>(0x8004020A),
  kStatusLibraryMissing = static_cast<int32_t>(0x8004020B),
  kStatusCancelled = static_cast<int32_t>(0x8004020C),
};

inline bool Failed(Status s) { return s < 0; }
inline bool Succeeded(Status s) { return s >= 0; }

// Short English meaning of a status, for tools and logs of tests.
const char* StatusMeaning(Status s);

}  // namespace pv
