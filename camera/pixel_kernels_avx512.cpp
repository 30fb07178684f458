// AVX-512 (F and BW) row kernels: 64 pixels a step, with the output put in
// picture order by byte gathers and qword permutes. Only intrinsics and
// functions of this file and its header are used here (see
// pixel_kernels_sse2.cpp).
#include "camera/pixel_kernels_avx512_rows.h"

#if SNAPLARK_VECTOR_KERNELS

namespace snaplark {
namespace {

// The saturating packs keep the order of the loads: in lane l, pixels
// 8l..8l+7 (group A_l, output bytes 24l..24l+23 of the 192) come from the
// first load and pixels 32+8l..32+8l+7 (group B_l, output bytes 96+24l..)
// from the second. Blue and red are packed per group, mixed sums in bytes 0-7
// and swapped ones in 8-15, so one lane holds all of a group's blue and red;
// green is packed A_l then B_l. Gather n (0-2) makes bytes 16n..16n+15 of the
// lane's 48 output bytes, A_l's then B_l's, merging bytes from the packs it
// needs: 7 byte gathers for the three, where planes of one channel each would
// need 9. Both groups are 3 whole qwords of output, so qword permutes put
// them in place; no lane reordering is needed anywhere.
struct Yuy2Packs {
  __m512i blueRedA, blueRedB, green;
};

enum class Yuy2Pack { BlueRedA, BlueRedB, Green };

struct Yuy2Byte {
  int index;  // byte of the pack's lane
  Yuy2Pack pack;
};

constexpr Yuy2Byte Yuy2Source(int n, int i) {
  const int at = 16 * n + i, group = at / 24, pixel = at % 24 / 3, channel = at % 3;
  if (channel == 1) return {8 * group + pixel, Yuy2Pack::Green};
  const bool mixed = (channel == 0) == (pixel % 2 == 0);
  return {pixel + (mixed ? 0 : 8), group == 0 ? Yuy2Pack::BlueRedA : Yuy2Pack::BlueRedB};
}

constexpr std::uint64_t PackMask(int n, Yuy2Pack pack) {
  std::uint64_t lane = 0;
  for (int i = 0; i < 16; ++i) {
    if (Yuy2Source(n, i).pack == pack) lane |= std::uint64_t{1} << i;
  }
  return lane | lane << 16 | lane << 32 | lane << 48;
}

// The full 64 bytes are kept so that the loop holds them in registers.
struct GatherIndices {
  signed char bytes[64];
};

constexpr GatherIndices PackIndices(int n) {
  GatherIndices g{};
  for (int i = 0; i < 64; ++i) g.bytes[i] = static_cast<signed char>(Yuy2Source(n, i % 16).index);
  return g;
}

alignas(64) constexpr GatherIndices GatherIndexTable[3] = {PackIndices(0), PackIndices(1), PackIndices(2)};

// Starts from the first pack the gather needs and merges the others' bytes.
template <int n>
inline __m512i GatherYuy2(const Yuy2Packs& p) {
  constexpr __mmask64 FromA = PackMask(n, Yuy2Pack::BlueRedA), FromB = PackMask(n, Yuy2Pack::BlueRedB),
                      FromGreen = PackMask(n, Yuy2Pack::Green);
  static_assert(FromA != 0 || FromB != 0, "every gather has blue and red bytes");
  const __m512i index = _mm512_load_si512(GatherIndexTable[n].bytes);
  __m512i c = _mm512_shuffle_epi8(FromA != 0 ? p.blueRedA : p.blueRedB, index);
  if (FromA != 0 && FromB != 0) c = _mm512_mask_shuffle_epi8(c, FromB, p.blueRedB, index);
  return _mm512_mask_shuffle_epi8(c, FromGreen, p.green, index);
}

// c0 lane l: A_l qwords 0 1; c1: A_l 2, B_l 0; c2: B_l 1 2. Output qword k is
// A_{k/3} for k < 12 and B_{(k-12)/3} after: the first 64 bytes come from c0
// and c1 alone, the last from c1 and c2, the middle from all three.
inline Output3 OrderGroups(__m512i c0, __m512i c1, __m512i c2) {
  // Qword indices 0-7 pick from the first source, 8-15 from the second.
  const __m512i middle = _mm512_permutex2var_epi64(c0, _mm512_set_epi64(11, 0, 0, 9, 14, 7, 6, 12), c1);
  return {_mm512_permutex2var_epi64(c0, _mm512_set_epi64(5, 4, 10, 3, 2, 8, 1, 0), c1),
          _mm512_permutex2var_epi64(middle, _mm512_set_epi64(7, 9, 8, 4, 3, 2, 1, 0), c2),
          _mm512_permutex2var_epi64(c1, _mm512_set_epi64(15, 14, 7, 13, 12, 5, 11, 10), c2)};
}

// 64 pixels from their sums: pixels 0-31 in `a`, 32-63 in `b`.
inline Output3 PackSums(const Yuy2Sums& a, const Yuy2Sums& b) {
  const Yuy2Packs packs{_mm512_packus_epi16(a.mixed, a.swapped), _mm512_packus_epi16(b.mixed, b.swapped),
                        _mm512_packus_epi16(a.green, b.green)};
  return OrderGroups(GatherYuy2<0>(packs), GatherYuy2<1>(packs), GatherYuy2<2>(packs));
}

}  // namespace

void Nv12RowAvx512(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  Nv12Row<PackSums>(luma, chroma, out, width);
}

void Nv12RowPairAvx512(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                       std::uint8_t* out0, std::uint8_t* out1, int width) {
  Nv12RowPair<PackSums, false>(luma0, luma1, chroma, out0, out1, width);
}

void Nv12RowPairPastCacheAvx512(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                                std::uint8_t* out0, std::uint8_t* out1, int width) {
  Nv12RowPair<PackSums, true>(luma0, luma1, chroma, out0, out1, width);
}

void Yuy2RowAvx512(const std::uint8_t* source, std::uint8_t* out, int width) {
  Yuy2Row<PackSums, false>(source, out, width);
}

void Yuy2RowPastCacheAvx512(const std::uint8_t* source, std::uint8_t* out, int width) {
  Yuy2Row<PackSums, true>(source, out, width);
}

}  // namespace snaplark

#endif  // SNAPLARK_VECTOR_KERNELS
