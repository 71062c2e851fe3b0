#pragma once
#include <cstdint>

namespace pv {

// 32-bit status codes; bit 31 set means failure.
using Status = int32_t;

inline constexpr Status kStatusOk = 0;
inline constexpr Status kStatusFormatMismatch = static_cast<Status>(0x80040200);   // also general failure
inline constexpr Status kStatusSizeMismatch = static_cast<Status>(0x80040201);     // or invalid argument
inline constexpr Status kStatusOutOfMemory = static_cast<Status>(0x80040202);
inline constexpr Status kStatusCannotOpen = static_cast<Status>(0x80040203);
inline constexpr Status kStatusCannotCreate = static_cast<Status>(0x80040204);
inline constexpr Status kStatusCannotRead = static_cast<Status>(0x80040205);
inline constexpr Status kStatusCannotWrite = static_cast<Status>(0x80040206);
inline constexpr Status kStatusUnknownFormat = static_cast<Status>(0x80040207);
inline constexpr Status kStatusDamaged = static_cast<Status>(0x80040208);
inline constexpr Status kStatusUnsupported = static_cast<Status>(0x80040209);
inline constexpr Status kStatusColourFormat = static_cast<Status>(0x8004020A);
inline constexpr Status kStatusLibraryMissing = static_cast<Status>(0x8004020B);
inline constexpr Status kStatusCancelled = static_cast<Status>(0x8004020C);

inline bool Failed(Status s) { return s < 0; }
inline bool Succeeded(Status s) { return s >= 0; }

// Short English meaning of a status, for tools and logs of tests.
const char* StatusMeaning(Status s);

}  // namespace pv
