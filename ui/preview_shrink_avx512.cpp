#include "ui/preview_shrink_sums.h"
#include "ui/preview_shrink_vectors.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <immintrin.h>

#include <cstring>

namespace snaplark {

namespace {
struct Avx512Words {
  static constexpr std::size_t Block = 64;
  static __m512i Low(const std::uint8_t* at) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
  }
  static __m512i High(const std::uint8_t* at) { return Low(at + 32); }
  static __m512i Add(__m512i a, __m512i b) { return _mm512_add_epi16(a, b); }
  static void Store(std::uint16_t* at, __m512i v) { _mm512_storeu_si512(at, v); }
};
}  // namespace

std::size_t SumRowsAvx512(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows,
                          std::size_t bytes) {
  return SumRowsOf<Avx512Words>(sums, top, stride, rows, bytes);
}

// Each group's sums are two vectors; a two-source word permute picks every
// box's colours out of them for one column of the boxes at a time, so a
// group of up to eight boxes costs about one permute per column instead of a
// load and an add per box and column.
void EmitRowAvx512(const ShrinkScratch& scratch, const std::uint16_t* reciprocals, std::uint32_t* out) {
  const __mmask32 colours = 0x77777777;  // lane 3 of each box stays zero: the output's top byte
  const __m512i nextColumn = _mm512_set1_epi16(3);
  // Copied out of the scratch: the stores below could alias its members as
  // far as the compiler knows, which would reload them every group.
  const int perGroup = scratch.groupBoxes, columns = scratch.narrowBox, toWidth = scratch.toWidth;
  const std::uint16_t* const sums = scratch.sums.data();
  const std::uint16_t* const wider = scratch.extraColumn.data();
  const std::int32_t* const starts = scratch.groupStart.data();
  const std::uint16_t* lanes = scratch.groupLanes.data();
  const int groups = static_cast<int>(scratch.groupStart.size());
  for (int group = 0; group < groups; ++group, lanes += 32) {
    const int first = group * perGroup;
    const __m512i low = _mm512_loadu_si512(sums + starts[group]), high = _mm512_loadu_si512(sums + starts[group] + 32);
    __m512i at = _mm512_loadu_si512(lanes);
    __m512i total = _mm512_maskz_permutex2var_epi16(colours, low, at, high);
    for (int x = 1; x < columns; ++x) {
      at = _mm512_add_epi16(at, nextColumn);
      total = _mm512_add_epi16(total, _mm512_maskz_permutex2var_epi16(colours, low, at, high));
    }
    // The wider boxes' extra column; in the narrow ones it may lie outside
    // the group, and is left out.
    const __mmask32 wide = _mm512_test_epi16_mask(_mm512_loadu_si512(wider + 4 * first), _mm512_set1_epi16(-1));
    at = _mm512_add_epi16(at, nextColumn);
    total = _mm512_mask_add_epi16(total, wide, total, _mm512_permutex2var_epi16(low, at, high));
    // (sum * reciprocal + 32768) >> 16, as the SSE2 emit rounds it.
    const __m512i reciprocal = _mm512_loadu_si512(reciprocals + 4 * first);
    const __m256i means = _mm512_maskz_cvtusepi16_epi8(
        ~__mmask32{0}, _mm512_add_epi16(_mm512_mulhi_epu16(total, reciprocal),
                                        _mm512_srli_epi16(_mm512_mullo_epi16(total, reciprocal), 15)));
    // Eight boxes go out whole even when the group has fewer: the next group
    // writes over the rest. (A narrowing store straight to memory is slow on
    // AMD processors.) Only the row's last boxes must not go past it.
    if (first + 8 <= toWidth) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + first), means);
    } else {
      std::uint32_t last[8];
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(last), means);
      std::memcpy(out + first, last, sizeof(std::uint32_t) * static_cast<std::size_t>(toWidth - first));
    }
  }
}

}  // namespace snaplark
#endif
