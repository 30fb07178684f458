// AVX-512 (F and BW) row kernels: 64 pixels a step, laid out as in the AVX2
// kernels with four 128-bit quarters of 16 pixels each; the quarters are put
// in picture order with two-source qword permutes when stored. Only
// intrinsics and functions of this file are used here (see
// pixel_kernels_sse2.cpp).
#include "camera/chroma_products.h"
#include "camera/pixel_conversion.h"
#include "camera/pixel_kernels.h"

#if SNAPLARK_VECTOR_KERNELS

#include <immintrin.h>

#include <cstring>

namespace snaplark {
namespace {

inline __m512i ApplySign(__m512i x, __m512i sign) { return _mm512_sub_epi16(_mm512_xor_si512(x, sign), sign); }

inline __m512i Product(__m512i magnitude, ChromaCoefficient c) {
  __m512i p = _mm512_mulhi_epu16(magnitude, _mm512_set1_epi16(static_cast<short>(c.fraction)));
  if (c.whole) p = _mm512_add_epi16(p, magnitude);
  return p;
}

inline __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
inline void Store(std::uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

inline __m512i Mask(const signed char (&bytes)[16]) {
  // The zero-masked forms: GCC 12's plain ones start from an undefined
  // register and warn about it.
  return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// The same byte gathers as the AVX2 kernels use, per 128-bit quarter.
alignas(16) constexpr signed char kBlue0[16] = {0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5};
alignas(16) constexpr signed char kGreen0[16] = {-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1};
alignas(16) constexpr signed char kRed0[16] = {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1};
alignas(16) constexpr signed char kBlue1[16] = {-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1};
alignas(16) constexpr signed char kGreen1[16] = {5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10};
alignas(16) constexpr signed char kRed1[16] = {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1};
alignas(16) constexpr signed char kBlue2[16] = {-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1};
alignas(16) constexpr signed char kGreen2[16] = {-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1};
alignas(16) constexpr signed char kRed2[16] = {10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15};

struct Planes {
  __m512i b, g, r;
};

// yLow and yHigh: the luma widened to 16 bits, the first and the second 8
// pixels of each 16-pixel quarter.
inline Planes ConvertPlanes(__m512i yLow, __m512i yHigh, __m512i uv) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i centre = _mm512_set1_epi16(128);
  const __m512i u = _mm512_sub_epi16(_mm512_and_si512(uv, _mm512_set1_epi16(0x00FF)), centre);
  const __m512i v = _mm512_sub_epi16(_mm512_srli_epi16(uv, 8), centre);
  const __m512i signU = _mm512_srai_epi16(u, 15), signV = _mm512_srai_epi16(v, 15);
  const __m512i magU = _mm512_abs_epi16(u), magV = _mm512_abs_epi16(v);

  const __m512i blue = ApplySign(Product(magU, kBlueFromUFixed), signU);
  const __m512i red = ApplySign(Product(magV, kRedFromVFixed), signV);
  const __m512i green = _mm512_sub_epi16(_mm512_sub_epi16(zero, ApplySign(Product(magU, kGreenFromUFixed), signU)),
                                         ApplySign(Product(magV, kGreenFromVFixed), signV));

  return {_mm512_packus_epi16(_mm512_add_epi16(yLow, _mm512_unpacklo_epi16(blue, blue)),
                              _mm512_add_epi16(yHigh, _mm512_unpackhi_epi16(blue, blue))),
          _mm512_packus_epi16(_mm512_add_epi16(yLow, _mm512_unpacklo_epi16(green, green)),
                              _mm512_add_epi16(yHigh, _mm512_unpackhi_epi16(green, green))),
          _mm512_packus_epi16(_mm512_add_epi16(yLow, _mm512_unpacklo_epi16(red, red)),
                              _mm512_add_epi16(yHigh, _mm512_unpackhi_epi16(red, red)))};
}

inline __m512i Gather(const Planes& p, const signed char (&b)[16], const signed char (&g)[16],
                      const signed char (&r)[16]) {
  return _mm512_or_si512(_mm512_or_si512(_mm512_shuffle_epi8(p.b, Mask(b)), _mm512_shuffle_epi8(p.g, Mask(g))),
                         _mm512_shuffle_epi8(p.r, Mask(r)));
}

// 64 pixels -> 192 bytes. cK holds, in quarter q, bytes 16K..16K+15 of
// quarter q's 48; the output wants c0.q0 c1.q0 c2.q0 c0.q1 c1.q1 ... c2.q3.
// Qword indices 0-7 pick from c0, 8-15 from c1; c2's come in by a masked permute.
inline void StorePixels(const Planes& p, std::uint8_t* out) {
  const __m512i c0 = Gather(p, kBlue0, kGreen0, kRed0);
  const __m512i c1 = Gather(p, kBlue1, kGreen1, kRed1);
  const __m512i c2 = Gather(p, kBlue2, kGreen2, kRed2);
  const __m512i t0 = _mm512_permutex2var_epi64(c0, _mm512_set_epi64(3, 2, 0, 0, 9, 8, 1, 0), c1);
  const __m512i t1 = _mm512_permutex2var_epi64(c0, _mm512_set_epi64(13, 12, 5, 4, 0, 0, 11, 10), c1);
  const __m512i t2 = _mm512_permutex2var_epi64(c0, _mm512_set_epi64(0, 0, 15, 14, 7, 6, 0, 0), c1);
  Store(out, _mm512_mask_permutexvar_epi64(t0, 0x30, _mm512_set_epi64(0, 0, 1, 0, 0, 0, 0, 0), c2));
  Store(out + 64, _mm512_mask_permutexvar_epi64(t1, 0x0C, _mm512_set_epi64(0, 0, 0, 0, 3, 2, 0, 0), c2));
  Store(out + 128, _mm512_mask_permutexvar_epi64(t2, 0xC3, _mm512_set_epi64(7, 6, 0, 0, 0, 0, 5, 4), c2));
}

}  // namespace

void CopyRgbRowAvx512(const std::uint8_t* source, std::uint8_t* out, int width) {
  const int bytes = 3 * width;
  int i = 0;
  for (; i + 256 <= bytes; i += 256) {
    const __m512i a = Load(source + i), b = Load(source + i + 64), c = Load(source + i + 128),
                  d = Load(source + i + 192);
    Store(out + i, a);
    Store(out + i + 64, b);
    Store(out + i + 128, c);
    Store(out + i + 192, d);
  }
  if (i < bytes) {
    // The rest with one masked load and store per 64 bytes: no byte outside the row is touched.
    for (; i < bytes; i += 64) {
      const int left = bytes - i;
      const __mmask64 mask = left >= 64 ? ~__mmask64{0} : ((__mmask64{1} << left) - 1);
      _mm512_mask_storeu_epi8(out + i, mask, _mm512_maskz_loadu_epi8(mask, source + i));
    }
  }
}

void Nv12RowAvx512(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 64 <= width; x += 64) {
    const __m512i y = Load(luma + x), zero = _mm512_setzero_si512();
    StorePixels(ConvertPlanes(_mm512_unpacklo_epi8(y, zero), _mm512_unpackhi_epi8(y, zero), Load(chroma + x)), out + 3 * x);
  }
  if (x < width) Nv12RowScalar(luma + x, chroma + x, out + 3 * x, width - x);
}

void Yuy2RowAvx512(const std::uint8_t* source, std::uint8_t* out, int width) {
  const __m512i lowBytes = _mm512_set1_epi16(0x00FF);
  const __m512i quartersInOrder = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
  int x = 0;
  for (; x + 64 <= width; x += 64) {
    const __m512i first = Load(source + 2 * x), second = Load(source + 2 * x + 64);
    // Luma is already 16 bits wide here: only the quarters need regrouping
    // (qwords 0-7 from the first load, 8-15 from the second).
    const __m512i yFirst = _mm512_and_si512(first, lowBytes), ySecond = _mm512_and_si512(second, lowBytes);
    const __m512i yLow = _mm512_permutex2var_epi64(yFirst, _mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0), ySecond);
    const __m512i yHigh = _mm512_permutex2var_epi64(yFirst, _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2), ySecond);
    const __m512i uv = _mm512_maskz_permutexvar_epi64(
        0xFF, quartersInOrder, _mm512_packus_epi16(_mm512_srli_epi16(first, 8), _mm512_srli_epi16(second, 8)));
    StorePixels(ConvertPlanes(yLow, yHigh, uv), out + 3 * x);
  }
  if (x < width) Yuy2RowScalar(source + 2 * x, out + 3 * x, width - x);
}

}  // namespace snaplark

#endif  // SNAPLARK_VECTOR_KERNELS
