#include "camera/cpu_features.h"

#if defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#elif defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace snaplark {
namespace {

#if defined(_MSC_VER) || defined(__i386__) || defined(__x86_64__)
#define SNAPLARK_X86 1

struct CpuidRegisters {
  unsigned a = 0, b = 0, c = 0, d = 0;
};

CpuidRegisters Cpuid(unsigned leaf, unsigned subleaf) {
  CpuidRegisters r;
#if defined(_MSC_VER)
  int out[4];
  __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
  r = {static_cast<unsigned>(out[0]), static_cast<unsigned>(out[1]), static_cast<unsigned>(out[2]),
       static_cast<unsigned>(out[3])};
#else
  __cpuid_count(leaf, subleaf, r.a, r.b, r.c, r.d);
#endif
  return r;
}

// The register-state bits the system has enabled (XCR0). Only valid once
// cpuid has reported OSXSAVE.
unsigned long long EnabledRegisterState() {
#if defined(_MSC_VER)
  return _xgetbv(0);
#else
  unsigned low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<unsigned long long>(high) << 32) | low;
#endif
}

// Deterministic cache parameters (leaf 4 on Intel, 0x8000001D on AMD with
// topology extensions): the size of the highest level listed.
std::size_t LargestListedCache(unsigned leaf) {
  std::size_t largest = 0;
  unsigned largestLevel = 0;
  for (unsigned index = 0; index < 16; ++index) {
    const CpuidRegisters r = Cpuid(leaf, index);
    const unsigned type = r.a & 0x1F;
    if (type == 0) break;
    const unsigned level = (r.a >> 5) & 0x7;
    if (type == 2 || level < largestLevel) continue;  // instruction caches do not hold frames
    const std::size_t ways = (r.b >> 22) + 1, partitions = ((r.b >> 12) & 0x3FF) + 1, line = (r.b & 0xFFF) + 1;
    largest = ways * partitions * line * (static_cast<std::size_t>(r.c) + 1);
    largestLevel = level;
  }
  return largest;
}

std::size_t LastLevelCacheBytes(unsigned maxLeaf) {
  const unsigned maxExtended = Cpuid(0x80000000u, 0).a;
  const bool topology = maxExtended >= 0x8000001Du && (Cpuid(0x80000001u, 0).c & (1u << 22)) != 0;
  if (topology) return LargestListedCache(0x8000001Du);
  if (maxLeaf >= 4) {
    if (const std::size_t listed = LargestListedCache(4)) return listed;
  }
  // AMD without topology extensions: L3 in 512 KB units, else L2 in KB.
  if (maxExtended < 0x80000006u) return 0;
  const CpuidRegisters r = Cpuid(0x80000006u, 0);
  if (const std::size_t l3 = static_cast<std::size_t>(r.d >> 18) * 512 * 1024) return l3;
  return static_cast<std::size_t>(r.c >> 16) * 1024;
}

CpuFeatures Detect() {
  CpuFeatures f;
#if !defined(_MSC_VER)
  // Processors before cpuid existed (early i486) fail this test; the
  // compiler's helper checks for the instruction itself on 32-bit.
  if (__get_cpuid_max(0, nullptr) == 0) return f;
#endif
  const unsigned maxLeaf = Cpuid(0, 0).a;
  if (maxLeaf < 1) return f;
  const CpuidRegisters leaf1 = Cpuid(1, 0);
  f.sse2 = (leaf1.d & (1u << 26)) != 0;
  f.lastLevelCacheBytes = LastLevelCacheBytes(maxLeaf);

  const bool osSavesState = (leaf1.c & (1u << 27)) != 0;
  const bool avx = (leaf1.c & (1u << 28)) != 0;
  if (!osSavesState || !avx || maxLeaf < 7) return f;
  const unsigned long long state = EnabledRegisterState();
  const bool ymmSaved = (state & 0x6) == 0x6;                // SSE and AVX halves
  const bool zmmSaved = ymmSaved && (state & 0xE0) == 0xE0;  // opmask and both zmm banks
  const CpuidRegisters leaf7 = Cpuid(7, 0);
  f.avx2 = ymmSaved && (leaf7.b & (1u << 5)) != 0;
  f.avx512bw = zmmSaved && f.avx2 && (leaf7.b & (1u << 16)) != 0 && (leaf7.b & (1u << 30)) != 0;
  f.avx512vbmi = f.avx512bw && (leaf7.c & (1u << 1)) != 0;
  return f;
}
#else
CpuFeatures Detect() { return {}; }
#endif

}  // namespace

const CpuFeatures& DetectedCpuFeatures() {
  static const CpuFeatures features = Detect();
  return features;
}

}  // namespace snaplark
