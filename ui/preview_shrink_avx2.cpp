#include "ui/preview_shrink_vectors.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <immintrin.h>

namespace snaplark {

std::size_t SumRowAvx2(std::uint16_t* sums, const std::uint8_t* row, std::size_t bytes, bool first) {
  std::size_t i = 0;
  // Sums at 32-byte boundaries: a 32-byte access across two cache lines costs two.
  for (; i < bytes && reinterpret_cast<std::uintptr_t>(sums + i) % 32 != 0; ++i) {
    sums[i] = static_cast<std::uint16_t>((first ? 0 : sums[i]) + row[i]);
  }
  for (; i + 32 <= bytes; i += 32) {
    // Zero-extension across the whole register keeps the bytes in order.
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 16));
    __m256i lowWords = _mm256_cvtepu8_epi16(low), highWords = _mm256_cvtepu8_epi16(high);
    auto* to = reinterpret_cast<__m256i*>(sums + i);
    if (!first) {
      lowWords = _mm256_add_epi16(lowWords, _mm256_loadu_si256(to));
      highWords = _mm256_add_epi16(highWords, _mm256_loadu_si256(to + 1));
    }
    _mm256_storeu_si256(to, lowWords);
    _mm256_storeu_si256(to + 1, highWords);
  }
  return i;
}

}  // namespace snaplark
#endif
