#include "core/status.h"

namespace pv {

const char* StatusMeaning(Status s) {
  switch (static_cast<uint32_t>(s)) {
    case 0: return "success";
    case 0x80040200: return "general failure or pixel formats differ";
    case 0x80040201: return "invalid argument or sizes differ";
    case 0x80040202: return "out of memory";
    case 0x80040203: return "the file could not be opened";
    case 0x80040204: return "the file could not be created";
    case 0x80040205: return "the file could not be read";
    case 0x80040206: return "the file could not be written";
    case 0x80040207: return "unknown file format";
    case 0x80040208: return "the file is damaged or truncated";
    case 0x80040209: return "unsupported variant of the format";
    case 0x8004020A: return "colour format not supported";
    case 0x8004020B: return "a required library is missing";
    case 0x8004020C: return "cancelled";
    default: return s >= 0 ? "success" : "unknown failure";
  }
}

}  // namespace pv
