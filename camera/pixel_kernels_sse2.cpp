// SSE2 row kernels: 16 pixels a step. SSE2 has no byte shuffle, so the
// blue, green, red planes are interleaved with unpacks and 64-bit shifts.
// Only intrinsics and functions of this file are used here: an inline
// library function instantiated in this file could be shared with code
// built for an older processor.
#include "camera/chroma_products.h"
#include "camera/pixel_conversion.h"
#include "camera/pixel_kernels.h"

#if SNAPLARK_VECTOR_KERNELS

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace snaplark {
namespace {

// (x ^ sign) - sign: x itself for sign 0, -x for sign all ones.
inline __m128i ApplySign(__m128i x, __m128i sign) { return _mm_sub_epi16(_mm_xor_si128(x, sign), sign); }

inline __m128i Product(__m128i magnitude, ChromaCoefficient c) {
  __m128i p = _mm_mulhi_epu16(magnitude, _mm_set1_epi16(static_cast<short>(c.fraction)));
  if (c.whole) p = _mm_add_epi16(p, magnitude);  // every whole part here is 0 or 1
  return p;
}

inline void StoreInterleaved(__m128i b, __m128i g, __m128i r, std::uint8_t* out);

// 16 luma bytes and the 8 U, V pairs they use -> 48 bytes blue, green, red.
inline void ConvertBlock(__m128i y, __m128i uv, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i centre = _mm_set1_epi16(128);
  const __m128i u = _mm_sub_epi16(_mm_and_si128(uv, _mm_set1_epi16(0x00FF)), centre);
  const __m128i v = _mm_sub_epi16(_mm_srli_epi16(uv, 8), centre);
  const __m128i signU = _mm_srai_epi16(u, 15), signV = _mm_srai_epi16(v, 15);
  const __m128i magU = ApplySign(u, signU), magV = ApplySign(v, signV);

  const __m128i blue = ApplySign(Product(magU, BlueFromUFixed), signU);
  const __m128i red = ApplySign(Product(magV, RedFromVFixed), signV);
  const __m128i green = _mm_sub_epi16(_mm_sub_epi16(zero, ApplySign(Product(magU, GreenFromUFixed), signU)),
                                      ApplySign(Product(magV, GreenFromVFixed), signV));

  // One offset per pair, used by both pixels of the pair; the saturating
  // pack is the clamp to 0..255.
  const __m128i yLow = _mm_unpacklo_epi8(y, zero), yHigh = _mm_unpackhi_epi8(y, zero);
  const __m128i b = _mm_packus_epi16(_mm_add_epi16(yLow, _mm_unpacklo_epi16(blue, blue)),
                                     _mm_add_epi16(yHigh, _mm_unpackhi_epi16(blue, blue)));
  const __m128i g = _mm_packus_epi16(_mm_add_epi16(yLow, _mm_unpacklo_epi16(green, green)),
                                     _mm_add_epi16(yHigh, _mm_unpackhi_epi16(green, green)));
  const __m128i r = _mm_packus_epi16(_mm_add_epi16(yLow, _mm_unpacklo_epi16(red, red)),
                                     _mm_add_epi16(yHigh, _mm_unpackhi_epi16(red, red)));
  StoreInterleaved(b, g, r, out);
}

// YUY2 takes the packed words as they come (Y0 | U << 8, Y1 | V << 8), with
// each pair's chroma computed once in the quarter-scaled signed form (see
// pixel_kernels.h): blue and red in one register, U's product in the even
// words and V's in the odd ones, and the same for green's two products.
// Word shuffles copy them to both pixels of the pair.
inline void Yuy2Sums(__m128i words, __m128i& b, __m128i& g, __m128i& r) {
  constexpr std::uint32_t BlueRed = static_cast<std::uint16_t>(QuarterChromaFactor(1772)) |
                                    static_cast<std::uint32_t>(QuarterChromaFactor(1402)) << 16;
  constexpr std::uint32_t Green =
      static_cast<std::uint16_t>(QuarterChromaFactor(344)) | static_cast<std::uint32_t>(QuarterChromaFactor(714)) << 16;
  const __m128i luma = _mm_and_si128(words, _mm_set1_epi16(0x00FF));
  // (C ^ 0x80) << 8 is 256 x as a signed word; the shift leaves 4x.
  const __m128i x4 = _mm_srai_epi16(_mm_xor_si128(_mm_and_si128(words, _mm_set1_epi16(static_cast<short>(0xFF00))),
                                                  _mm_set1_epi16(static_cast<short>(0x8000))),
                                    6);
  const __m128i negative = _mm_srai_epi16(x4, 15);
  const __m128i blueRed = _mm_sub_epi16(_mm_mulhi_epi16(x4, _mm_set1_epi32(static_cast<int>(BlueRed))), negative);
  const __m128i greenParts = _mm_sub_epi16(_mm_mulhi_epi16(x4, _mm_set1_epi32(static_cast<int>(Green))), negative);
  const __m128i blue = _mm_shufflehi_epi16(_mm_shufflelo_epi16(blueRed, 0xA0), 0xA0);  // words 0 0 2 2
  const __m128i red = _mm_shufflehi_epi16(_mm_shufflelo_epi16(blueRed, 0xF5), 0xF5);   // words 1 1 3 3
  const __m128i greenSum =
      _mm_add_epi16(greenParts, _mm_shufflehi_epi16(_mm_shufflelo_epi16(greenParts, 0xB1), 0xB1));  // 1 0 3 2
  b = _mm_add_epi16(luma, blue);
  g = _mm_sub_epi16(luma, greenSum);
  r = _mm_add_epi16(luma, red);
}

// 16 pixels' blue, green and red bytes -> 48 bytes in picture order.
inline void StoreInterleaved(__m128i b, __m128i g, __m128i r, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  // Four pixels per register as B G R 0, then squeezed to 12 bytes each.
  const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
  const __m128i r0Low = _mm_unpacklo_epi8(r, zero), r0High = _mm_unpackhi_epi8(r, zero);
  const __m128i evenDwords = _mm_set_epi32(0, -1, 0, -1);
  const __m128i lowQword = _mm_set_epi32(0, 0, -1, -1);
  const auto squeeze = [&](__m128i p) {
    // Each 64-bit half: pixel 2k in bytes 0-2, pixel 2k+1 moved down to 3-5.
    const __m128i q = _mm_or_si128(_mm_and_si128(p, evenDwords), _mm_srli_epi64(_mm_andnot_si128(evenDwords, p), 8));
    // Upper half's 6 bytes moved down next to the lower half's.
    return _mm_or_si128(_mm_and_si128(q, lowQword), _mm_srli_si128(_mm_andnot_si128(lowQword, q), 2));
  };
  const __m128i p0 = squeeze(_mm_unpacklo_epi16(bgLow, r0Low));
  const __m128i p1 = squeeze(_mm_unpackhi_epi16(bgLow, r0Low));
  const __m128i p2 = squeeze(_mm_unpacklo_epi16(bgHigh, r0High));
  const __m128i p3 = squeeze(_mm_unpackhi_epi16(bgHigh, r0High));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

inline __m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

void Nv12RowSse2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 16 <= width; x += 16) ConvertBlock(Load(luma + x), Load(chroma + x), out + 3 * x);
  if (x < width) Nv12RowScalar(luma + x, chroma + x, out + 3 * x, width - x);
}

void Yuy2RowSse2(const std::uint8_t* source, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i b0, g0, r0, b1, g1, r1;
    Yuy2Sums(Load(source + 2 * x), b0, g0, r0);
    Yuy2Sums(Load(source + 2 * x + 16), b1, g1, r1);
    StoreInterleaved(_mm_packus_epi16(b0, b1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(r0, r1), out + 3 * x);
  }
  if (x < width) Yuy2RowScalar(source + 2 * x, out + 3 * x, width - x);
}

}  // namespace snaplark

#endif  // SNAPLARK_VECTOR_KERNELS
