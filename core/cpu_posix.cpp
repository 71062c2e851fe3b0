#include <unistd.h>

#include "core/cpu.h"

namespace pv {

uint32_t QueryProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1;
}

}  // namespace pv
