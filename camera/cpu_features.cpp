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

  const bool osSavesState = (leaf1.c & (1u << 27)) != 0;
  const bool avx = (leaf1.c & (1u << 28)) != 0;
  if (!osSavesState || !avx || maxLeaf < 7) return f;
  const unsigned long long state = EnabledRegisterState();
  const bool ymmSaved = (state & 0x6) == 0x6;                // SSE and AVX halves
  const bool zmmSaved = ymmSaved && (state & 0xE0) == 0xE0;  // opmask and both zmm banks
  const CpuidRegisters leaf7 = Cpuid(7, 0);
  f.avx2 = ymmSaved && (leaf7.b & (1u << 5)) != 0;
  f.avx512bw = zmmSaved && f.avx2 && (leaf7.b & (1u << 16)) != 0 && (leaf7.b & (1u << 30)) != 0;
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
