#pragma once
// What the AVX-512 kernel files share: the YUY2 arithmetic (which NV12
// takes too), the aligned row stores and the row loops. Only those files
// include this, each compiled for its own instruction set; everything here
// has internal linkage, so that no copy compiled for one set can be linked
// in where another runs.
#include "camera/pixel_conversion.h"
#include "camera/pixel_kernels.h"

#if SNAPLARK_VECTOR_KERNELS

#include <immintrin.h>

#include <atomic>
#include <cstdint>

namespace snaplark {
namespace {

inline __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
inline void Store(std::uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

// YUY2 works on the packed words as they come: even words Y0 | U << 8, odd
// words Y1 | V << 8, one word per pixel. Each pair's chroma is computed once,
// U's product in the even word and V's in the odd one, and reaches the other
// pixel of the pair by a 16-bit rotation of the doubleword instead of being
// unpacked twice. Per pixel that gives three sums:
//   mixed:   B of even pixels, R of odd pixels   (Y + [T(1.772 u), T(1.402 v)])
//   swapped: R of even pixels, B of odd pixels   (Y + the same, rotated)
//   green:   G of every pixel

// One factor for even (U) words and one for odd (V) words; template
// arguments keep the arithmetic at compile time.
template <int uThousandths, int vThousandths>
inline __m512i PairFactors() {
  constexpr std::uint32_t pair = static_cast<std::uint16_t>(QuarterChromaFactor(uThousandths)) |
                                 static_cast<std::uint32_t>(QuarterChromaFactor(vThousandths)) << 16;
  return _mm512_set1_epi32(static_cast<int>(pair));
}

// Swaps the two words of every doubleword (the zero-masked form: GCC 12's plain
// one starts from an undefined register and warns about it).
inline __m512i Rotate16(__m512i v) { return _mm512_maskz_rol_epi32(0xFFFF, v, 16); }

struct Yuy2Sums {
  __m512i mixed, swapped, green;  // 16 bits each, unclamped
};

// What the chroma adds to each word's luma: B or R (as SumsOf's mixed
// sums), the same rotated, and the green sum to subtract. Only the words'
// high bytes (the chroma) are read, so an NV12 row pair computes these once.
struct ChromaTerms {
  __m512i blueRed, swapped, greenSum;
};

// From x4 = 4x, x the chroma value less 128, in every word.
inline ChromaTerms TermsOfQuadrupled(__m512i x4) {
  const __m512i negative = _mm512_srai_epi16(x4, 15);
  const __m512i blueRed = _mm512_sub_epi16(_mm512_mulhi_epi16(x4, PairFactors<1772, 1402>()), negative);
  // Green's two products, then each word gets the pair's sum by adding the
  // rotated doubleword.
  const __m512i greenParts = _mm512_sub_epi16(_mm512_mulhi_epi16(x4, PairFactors<344, 714>()), negative);
  return {blueRed, Rotate16(blueRed), _mm512_add_epi16(greenParts, Rotate16(greenParts))};
}

inline ChromaTerms TermsOf(__m512i words) {
  // (C & 0xFF00) ^ 0x8000 in one ternary-logic step: C ^ 0x80 as a signed
  // byte is C - 128 = x, so this word is 256 x, and the shift leaves 4x.
  return TermsOfQuadrupled(
      _mm512_srai_epi16(_mm512_ternarylogic_epi32(words, _mm512_set1_epi16(static_cast<short>(0xFF00)),
                                                  _mm512_set1_epi16(static_cast<short>(0x8000)), 0x6A),
                        6));
}

// `luma`: one pixel's luma per word.
inline Yuy2Sums SumsWith(__m512i luma, const ChromaTerms& t) {
  return {_mm512_add_epi16(luma, t.blueRed), _mm512_add_epi16(luma, t.swapped), _mm512_sub_epi16(luma, t.greenSum)};
}

inline Yuy2Sums SumsOf(__m512i words) {
  return SumsWith(_mm512_and_si512(words, _mm512_set1_epi16(0x00FF)), TermsOf(words));
}

// 192 output bytes as three vectors in picture order.
struct Output3 {
  __m512i v0, v1, v2;
};

// Puts 64 pixels' sums (pixels 0-31 in `a`, 8 per lane in order, 32-63 in
// `b`) out as 192 bytes in picture order; one per instruction set.
using PackFunction = Output3 (*)(const Yuy2Sums& a, const Yuy2Sums& b);

template <PackFunction Pack>
inline Output3 ConvertYuy2Block(const std::uint8_t* source) {
  return Pack(SumsOf(Load(source)), SumsOf(Load(source + 64)));
}

// NV12 is YUY2 with the luma and chroma in rows of their own: a luma row
// interleaved byte by byte with its chroma row is YUY2 (Y0 U0 Y1 V0 ...), so
// NV12 takes YUY2's arithmetic and packing. Each half of a 64-byte block is
// widened to words, which puts pixels 0-31 and 32-63 in the lanes where
// YUY2's two loads have them.
inline __m512i WordsOf(const std::uint8_t* p) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// Two rows share a chroma row: its terms are computed once for both.
struct Nv12Chroma {
  ChromaTerms low, high;  // pixels 0-31 and 32-63
};

inline ChromaTerms TermsOfChromaWords(__m512i chroma) {
  return TermsOfQuadrupled(_mm512_slli_epi16(_mm512_sub_epi16(chroma, _mm512_set1_epi16(128)), 2));
}

inline Nv12Chroma ChromaOf(const std::uint8_t* chroma) {
  return {TermsOfChromaWords(WordsOf(chroma)), TermsOfChromaWords(WordsOf(chroma + 32))};
}

template <PackFunction Pack>
inline Output3 ConvertNv12Block(const std::uint8_t* luma, const Nv12Chroma& c) {
  return Pack(SumsWith(WordsOf(luma), c.low), SumsWith(WordsOf(luma + 32), c.high));
}

// Stores go out in address order: left to itself the compiler issues the
// one that is ready first, and out-of-order stores cost a row's worth of
// memory time at full HD.
template <void (*Put)(std::uint8_t*, __m512i) = Store>
inline void StoreInOrder(std::uint8_t* out, __m512i a, __m512i b, __m512i c) {
  Put(out, a);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  Put(out + 64, b);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  Put(out + 128, c);
}

// A store that goes to memory without reading the line into the cache first.
inline void StreamStore(std::uint8_t* p, __m512i v) { _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v); }

// One row's output, 192 bytes a block, from `out` on. Where `out` is
// 4-byte aligned (always, for frames), the output is seen as one stream of
// 64-byte vectors S0, S1, ... and stored at 64-byte boundaries instead: a
// store that splits two cache lines costs two, and at full HD that is about
// a tenth of the time. The stored vector at boundary + 64k is the tail of Sk
// joined to the head of Sk+1, one doubleword permute; the bytes before the
// first boundary and after the last whole vector go out with masked stores.
// With `Streaming`, the vectors at the boundaries bypass the cache, for
// frames too large to stay in it (see WritesPastCache).
template <bool Streaming>
class RowStores {
 public:
  explicit RowStores(std::uint8_t* out)
      : at_(out),
        aligned_(reinterpret_cast<std::uintptr_t>(out) % 4 == 0),
        head_(static_cast<int>((64 - reinterpret_cast<std::uintptr_t>(out) % 64) % 64)),  // a multiple of 4
        join_(_mm512_add_epi32(_mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0),
                               _mm512_set1_epi32(head_ / 4))) {}

  void Put(const Output3& o) {
    if (!aligned_) {
      StoreInOrder(at_, o.v0, o.v1, o.v2);
      at_ += 192;
    } else if (!started_) {
      _mm512_mask_storeu_epi8(at_, head_ == 0 ? 0 : (__mmask64{1} << head_) - 1, o.v0);
      at_ += head_;
      Boundary(at_, Join(o.v0, o.v1));
      std::atomic_signal_fence(std::memory_order_seq_cst);
      Boundary(at_ + 64, Join(o.v1, o.v2));
      at_ += 128;
      started_ = true;
    } else {
      StoreInOrder<Boundary>(at_, Join(pending_, o.v0), Join(o.v0, o.v1), Join(o.v1, o.v2));
      at_ += 192;
    }
    pending_ = o.v2;
  }

  // The bytes of the last block not stored yet. Streamed stores are fenced
  // here, so that the row is seen like any other once the kernel returns.
  void Finish() {
    if (aligned_ && started_) {
      const __mmask64 tail = head_ == 0 ? ~__mmask64{0} : (__mmask64{1} << (64 - head_)) - 1;
      _mm512_mask_storeu_epi8(at_, tail, Join(pending_, pending_));
    }
    if (Streaming) _mm_sfence();
  }

 private:
  static constexpr void (*Boundary)(std::uint8_t*, __m512i) = Streaming ? StreamStore : Store;

  __m512i Join(__m512i a, __m512i b) const { return _mm512_permutex2var_epi32(a, join_, b); }

  std::uint8_t* at_;
  bool aligned_;
  bool started_ = false;
  int head_;
  __m512i join_;
  __m512i pending_ = _mm512_setzero_si512();
};

// The row kernels of one instruction set, given its packing.
template <PackFunction Pack>
void Nv12Row(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  const int blocks = width / 64;
  RowStores<false> row(out);
  for (int block = 0; block < blocks; ++block)
    row.Put(ConvertNv12Block<Pack>(luma + 64 * block, ChromaOf(chroma + 64 * block)));
  row.Finish();
  const int x = 64 * blocks;
  if (x < width) Nv12RowScalar(luma + x, chroma + x, out + 3 * x, width - x);
}

template <PackFunction Pack, bool Streaming>
void Nv12RowPair(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma, std::uint8_t* out0,
                 std::uint8_t* out1, int width) {
  const int blocks = width / 64;
  RowStores<Streaming> row0(out0), row1(out1);
  for (int block = 0; block < blocks; ++block) {
    const Nv12Chroma c = ChromaOf(chroma + 64 * block);
    row0.Put(ConvertNv12Block<Pack>(luma0 + 64 * block, c));
    row1.Put(ConvertNv12Block<Pack>(luma1 + 64 * block, c));
  }
  row0.Finish();
  row1.Finish();
  const int x = 64 * blocks;
  if (x < width) {
    Nv12RowScalar(luma0 + x, chroma + x, out0 + 3 * x, width - x);
    Nv12RowScalar(luma1 + x, chroma + x, out1 + 3 * x, width - x);
  }
}

template <PackFunction Pack, bool Streaming>
void Yuy2Row(const std::uint8_t* source, std::uint8_t* out, int width) {
  const int blocks = width / 64;
  RowStores<Streaming> row(out);
  for (int block = 0; block < blocks; ++block) row.Put(ConvertYuy2Block<Pack>(source + 128 * block));
  row.Finish();
  const int x = 64 * blocks;
  if (x < width) Yuy2RowScalar(source + 2 * x, out + 3 * x, width - x);
}

}  // namespace
}  // namespace snaplark

#endif  // SNAPLARK_VECTOR_KERNELS
