#include "core/cpu.h"

#include <cpuid.h>
#include <xmmintrin.h>

namespace pv {

uint32_t ProcessorCount = 1;
bool CpuHasSse3 = false;
bool CpuHasSsse3 = false;
bool CpuHasSse41 = false;

void ReadProcessorFeatures() {
  ProcessorCount = QueryProcessorCount();
  if (ProcessorCount == 0) ProcessorCount = 1;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(0, eax, ebx, ecx, edx);
  if (eax < 1) {
    CpuHasSse3 = CpuHasSsse3 = CpuHasSse41 = false;
    return;
  }
  __cpuid(1, eax, ebx, ecx, edx);
  CpuHasSse3 = (ecx & (1u << 0)) != 0;
  CpuHasSsse3 = (ecx & (1u << 9)) != 0;
  CpuHasSse41 = (ecx & (1u << 19)) != 0;
  // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
  _mm_setcsr(_mm_getcsr() | 0x8040);
}

}  // namespace pv
