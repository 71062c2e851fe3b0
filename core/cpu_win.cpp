#include <windows.h>

#include "core/cpu.h"

namespace pv {

uint32_t QueryProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace pv
