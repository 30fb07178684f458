#include "ui/preview_shrink_sums.h"
#include "ui/preview_shrink_vectors.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <immintrin.h>

namespace snaplark {

namespace {
struct Avx2Words {
  static constexpr std::size_t Block = 32;
  // Zero-extension across the whole register keeps the bytes in order.
  static __m256i Low(const std::uint8_t* at) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
  }
  static __m256i High(const std::uint8_t* at) { return Low(at + 16); }
  static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
  static void Store(std::uint16_t* at, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }
};
}  // namespace

std::size_t SumRowsAvx2(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows, std::size_t bytes) {
  return SumRowsOf<Avx2Words>(sums, top, stride, rows, bytes);
}

}  // namespace snaplark
#endif
