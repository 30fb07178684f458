#pragma once
// What the processor, and the operating system's register saving, let us use.
// Read once with cpuid (and xgetbv for the wide registers, which are usable
// only when the system saves them on a thread switch).
#include <cstddef>

namespace snaplark {

struct CpuFeatures {
  bool sse2 = false;
  bool avx2 = false;
  bool avx512bw = false;    // with AVX-512F, and the 512-bit state enabled by the system
  bool avx512vbmi = false;  // and the byte permutes, with all of the above
  // The last cache level's size as the processor reports it; 0 when unknown.
  // Under a hypervisor it may be the whole socket's rather than what one
  // core can use.
  std::size_t lastLevelCacheBytes = 0;
};

// Detected on the first call; later calls return the same answer.
const CpuFeatures& DetectedCpuFeatures();

}  // namespace snaplark
