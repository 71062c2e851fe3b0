#pragma once
#include <cstdint>

namespace pv {

// Process-wide values set once at start-up; they choose band counts and
// vector paths. Until ReadProcessorFeatures runs, one processor and no
// vector extensions are assumed.
extern uint32_t ProcessorCount;
extern bool CpuHasSse3;
extern bool CpuHasSsse3;
extern bool CpuHasSse41;

// Reads the processor count and CPUID leaf 1; where leaf 1 exists, also sets
// flush-to-zero and denormals-are-zero for the calling thread.
void ReadProcessorFeatures();

// Logical processors of the machine (GetSystemInfo on Windows).
uint32_t QueryProcessorCount();

}  // namespace pv
