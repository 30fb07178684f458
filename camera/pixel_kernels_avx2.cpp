// AVX2 row kernels: 32 pixels a step. Every instruction works within its
// 128-bit half, so the pixels are grouped such that each half holds 16 whole
// pixels with their own pairs; the halves are put in picture order only when
// stored. Only intrinsics and functions of this file are used here
// (see pixel_kernels_sse2.cpp).
#include "camera/pixel_conversion.h"
#include "camera/pixel_kernels.h"

#if SNAPLARK_VECTOR_KERNELS

#include <immintrin.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace snaplark {
namespace {

inline __m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(std::uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

inline __m256i Mask(const signed char (&bytes)[16]) {
  const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  return _mm256_broadcastsi128_si256(half);
}

// YUY2 as in the AVX-512 kernel (see there): the packed words as they come,
// each pair's chroma computed once in the quarter-scaled signed form and
// carried to the other pixel by swapping the words of each doubleword, three
// sums per pixel:
//   mixed:   B of even pixels, R of odd pixels
//   swapped: R of even pixels, B of odd pixels
//   green:   G of every pixel
template <int uThousandths, int vThousandths>
inline __m256i PairFactors() {
  constexpr std::uint32_t pair = static_cast<std::uint16_t>(QuarterChromaFactor(uThousandths)) |
                                 static_cast<std::uint32_t>(QuarterChromaFactor(vThousandths)) << 16;
  return _mm256_set1_epi32(static_cast<int>(pair));
}

alignas(16) constexpr signed char SwapWords[16] = {2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13};

inline __m256i Rotate16(__m256i v) { return _mm256_shuffle_epi8(v, Mask(SwapWords)); }

struct Yuy2Sums {
  __m256i mixed, swapped, green;  // 16 bits each, unclamped
};

// What the chroma adds to each word's luma (see the AVX-512 kernel): only
// the words' high bytes are read, so an NV12 row pair computes these once.
struct ChromaTerms {
  __m256i blueRed, swapped, greenSum;
};

// From x4 = 4x, x the chroma value less 128, in every word.
inline ChromaTerms TermsOfQuadrupled(__m256i x4) {
  const __m256i negative = _mm256_srai_epi16(x4, 15);
  const __m256i blueRed = _mm256_sub_epi16(_mm256_mulhi_epi16(x4, PairFactors<1772, 1402>()), negative);
  const __m256i greenParts = _mm256_sub_epi16(_mm256_mulhi_epi16(x4, PairFactors<344, 714>()), negative);
  return {blueRed, Rotate16(blueRed), _mm256_add_epi16(greenParts, Rotate16(greenParts))};
}

// `centred`: (C ^ 0x80) << 8 in every word, 256 x as a signed word; the
// shift leaves 4x.
inline ChromaTerms TermsOfCentred(__m256i centred) { return TermsOfQuadrupled(_mm256_srai_epi16(centred, 6)); }

inline ChromaTerms TermsOf(__m256i words) {
  return TermsOfCentred(_mm256_xor_si256(_mm256_and_si256(words, _mm256_set1_epi16(static_cast<short>(0xFF00))),
                                         _mm256_set1_epi16(static_cast<short>(0x8000))));
}

inline Yuy2Sums SumsWith(__m256i luma, const ChromaTerms& t) {
  return {_mm256_add_epi16(luma, t.blueRed), _mm256_add_epi16(luma, t.swapped), _mm256_sub_epi16(luma, t.greenSum)};
}

inline Yuy2Sums SumsOf(__m256i words) {
  return SumsWith(_mm256_and_si256(words, _mm256_set1_epi16(0x00FF)), TermsOf(words));
}

// Each half holds 16 consecutive pixels (the loads are regrouped by halves
// first): group A, the first 8, packed as mixed then swapped bytes in one
// register, group B, the next 8, in another, green of all 16 in a third.
// Gather n (0-2) makes output bytes 16n..16n+15 of the half's 48 from the
// packs it needs: 7 byte gathers where one plane per channel would need 9.
enum class Yuy2Pack { BlueRedA, BlueRedB, Green };

struct Yuy2Byte {
  int index;  // byte of the pack's half
  Yuy2Pack pack;
};

constexpr Yuy2Byte Yuy2Source(int n, int i) {
  const int at = 16 * n + i, group = at / 24, pixel = at % 24 / 3, channel = at % 3;
  if (channel == 1) return {8 * group + pixel, Yuy2Pack::Green};
  const bool mixed = (channel == 0) == (pixel % 2 == 0);
  return {pixel + (mixed ? 0 : 8), group == 0 ? Yuy2Pack::BlueRedA : Yuy2Pack::BlueRedB};
}

struct GatherIndices {
  signed char bytes[16];
};

// The gather of one pack: its bytes, and zero (-1) for the other packs' bytes.
constexpr GatherIndices PackIndices(int n, Yuy2Pack pack) {
  GatherIndices g{};
  for (int i = 0; i < 16; ++i) {
    const Yuy2Byte b = Yuy2Source(n, i);
    g.bytes[i] = static_cast<signed char>(b.pack == pack ? b.index : -1);
  }
  return g;
}

alignas(16) constexpr GatherIndices Yuy2A0 = PackIndices(0, Yuy2Pack::BlueRedA);
alignas(16) constexpr GatherIndices Yuy2Green0 = PackIndices(0, Yuy2Pack::Green);
alignas(16) constexpr GatherIndices Yuy2A1 = PackIndices(1, Yuy2Pack::BlueRedA);
alignas(16) constexpr GatherIndices Yuy2B1 = PackIndices(1, Yuy2Pack::BlueRedB);
alignas(16) constexpr GatherIndices Yuy2Green1 = PackIndices(1, Yuy2Pack::Green);
alignas(16) constexpr GatherIndices Yuy2B2 = PackIndices(2, Yuy2Pack::BlueRedB);
alignas(16) constexpr GatherIndices Yuy2Green2 = PackIndices(2, Yuy2Pack::Green);

static_assert(PackIndices(0, Yuy2Pack::BlueRedB).bytes[15] == -1 && PackIndices(2, Yuy2Pack::BlueRedA).bytes[0] == -1,
              "the first gather needs no group B bytes and the last no group A bytes");

inline __m256i Gather(__m256i pack, const GatherIndices& indices) {
  return _mm256_shuffle_epi8(pack, Mask(indices.bytes));
}

// 32 pixels from their sums, each 128-bit half holding 16 consecutive
// pixels: pixels 0-7 and 16-23 in `a`, 8-15 and 24-31 in `b`.
inline void StoreSums(const Yuy2Sums& a, const Yuy2Sums& b, std::uint8_t* at) {
  // Halves of 16 consecutive pixels after the saturating packs.
  const __m256i blueRedA = _mm256_packus_epi16(a.mixed, a.swapped), blueRedB = _mm256_packus_epi16(b.mixed, b.swapped);
  const __m256i green = _mm256_packus_epi16(a.green, b.green);
  const __m256i c0 = _mm256_or_si256(Gather(blueRedA, Yuy2A0), Gather(green, Yuy2Green0));
  const __m256i c1 =
      _mm256_or_si256(_mm256_or_si256(Gather(blueRedA, Yuy2A1), Gather(blueRedB, Yuy2B1)), Gather(green, Yuy2Green1));
  const __m256i c2 = _mm256_or_si256(Gather(blueRedB, Yuy2B2), Gather(green, Yuy2Green2));
  // In address order: see the AVX-512 kernel.
  Store(at, _mm256_permute2x128_si256(c0, c1, 0x20));
  std::atomic_signal_fence(std::memory_order_seq_cst);
  Store(at + 32, _mm256_permute2x128_si256(c2, c0, 0x30));
  std::atomic_signal_fence(std::memory_order_seq_cst);
  Store(at + 64, _mm256_permute2x128_si256(c1, c2, 0x31));
}

// NV12 is YUY2 with the luma and chroma in rows of their own: a row of luma
// interleaved byte by byte with its chroma row is YUY2 (Y0 U0 Y1 V0 ...), so
// NV12 takes YUY2's arithmetic. The byte unpacks work within halves, which
// gives the halves YUY2's loads are regrouped into. Two rows share a chroma
// row, and its terms are computed once for both.
struct Nv12Chroma {
  ChromaTerms low, high;
};

// The chroma bytes are centred once, before they are widened.
inline Nv12Chroma ChromaOf(const std::uint8_t* chroma) {
  const __m256i uv = _mm256_xor_si256(Load(chroma), _mm256_set1_epi8(static_cast<char>(0x80)));
  const __m256i zero = _mm256_setzero_si256();
  return {TermsOfCentred(_mm256_unpacklo_epi8(zero, uv)), TermsOfCentred(_mm256_unpackhi_epi8(zero, uv))};
}

inline void ConvertNv12Block(const std::uint8_t* luma, const Nv12Chroma& c, std::uint8_t* out) {
  const __m256i y = Load(luma), zero = _mm256_setzero_si256();
  StoreSums(SumsWith(_mm256_unpacklo_epi8(y, zero), c.low), SumsWith(_mm256_unpackhi_epi8(y, zero), c.high), out);
}

}  // namespace

void Nv12RowAvx2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 32 <= width; x += 32) ConvertNv12Block(luma + x, ChromaOf(chroma + x), out + 3 * x);
  if (x < width) Nv12RowScalar(luma + x, chroma + x, out + 3 * x, width - x);
}

void Nv12RowPairAvx2(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                     std::uint8_t* out0, std::uint8_t* out1, int width) {
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const Nv12Chroma c = ChromaOf(chroma + x);
    ConvertNv12Block(luma0 + x, c, out0 + 3 * x);
    ConvertNv12Block(luma1 + x, c, out1 + 3 * x);
  }
  if (x < width) {
    Nv12RowScalar(luma0 + x, chroma + x, out0 + 3 * x, width - x);
    Nv12RowScalar(luma1 + x, chroma + x, out1 + 3 * x, width - x);
  }
}

void Yuy2RowAvx2(const std::uint8_t* source, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i first = Load(source + 2 * x), second = Load(source + 2 * x + 32);
    StoreSums(SumsOf(_mm256_permute2x128_si256(first, second, 0x20)),
              SumsOf(_mm256_permute2x128_si256(first, second, 0x31)), out + 3 * x);
  }
  if (x < width) Yuy2RowScalar(source + 2 * x, out + 3 * x, width - x);
}

}  // namespace snaplark

#endif  // SNAPLARK_VECTOR_KERNELS
