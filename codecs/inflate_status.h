#pragma once
#include <zlib.h>

#include "core/status.h"

namespace pv {

// The status of a failed inflate call: short memory, damaged data, or a
// general failure for anything else.
inline Status InflateFailure(int result) {
  return result == Z_MEM_ERROR                                                          ? kStatusOutOfMemory
         : result == Z_DATA_ERROR || result == Z_STREAM_ERROR || result == Z_NEED_DICT ? kStatusDamaged
                                                                                        : kStatusFormatMismatch;
}

}  // namespace pv
