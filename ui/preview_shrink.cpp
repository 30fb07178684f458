#include "ui/preview_shrink.h"

#include <algorithm>
#include <cstddef>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "ui/preview_shrink_sums.h"
#include "ui/preview_shrink_vectors.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define SNAPLARK_SHRINK_SSE2 1
#endif

namespace snaplark {
namespace {

// Box b of n boxes over `length` pixels starts here.
int BoxStart(int b, int length, int n) { return static_cast<int>(static_cast<std::int64_t>(b) * length / n); }

// A group's boxes are read from two 32-lane vectors of sums: at most 21
// pixels' worth from the group's first.
constexpr int GroupSums = 64;
constexpr int GroupLanes = 32;
constexpr int GroupPixels = GroupSums / 3;

// Groups as many boxes as fit in GroupPixels, however wide each box turns out
// (at most narrowBox + 1), and at most eight (four lanes each).
void PlanGroups(ShrinkScratch& scratch, int toWidth) {
  const int perGroup = std::min(GroupLanes / 4, GroupPixels / (scratch.narrowBox + 1));
  scratch.groupBoxes = perGroup;
  scratch.groupStart.clear();
  scratch.groupLanes.clear();
  if (perGroup < 1) return;
  const std::vector<int>& start = scratch.columnStart;
  for (int first = 0; first < toWidth; first += perGroup) {
    scratch.groupStart.push_back(3 * start[first]);
    for (int lane = 0; lane < GroupLanes; ++lane) {
      const int c = first + lane / 4;
      const int at = lane / 4 < perGroup && c < toWidth && lane % 4 < 3 ? 3 * (start[c] - start[first]) + lane % 4 : 0;
      scratch.groupLanes.push_back(static_cast<std::uint16_t>(at));
    }
  }
}

void Prepare(int width, int height, int toWidth, int toHeight, ShrinkScratch& scratch) {
  if (scratch.fromWidth == width && scratch.fromHeight == height && scratch.toWidth == toWidth &&
      scratch.toHeight == toHeight) {
    return;
  }
  // Spare sums past the row: a box's last pixel is read as eight lanes, and a
  // group of boxes as 64.
  scratch.sums.assign(static_cast<std::size_t>(3) * width + GroupSums, 0);
  scratch.columnStart.resize(static_cast<std::size_t>(toWidth) + 1);
  for (int c = 0; c <= toWidth; ++c) scratch.columnStart[c] = BoxStart(c, width, toWidth);
  scratch.narrowBox = width / toWidth;
  // Per-box tables are read a whole group of boxes at a time, so the last
  // group reads a vector's worth past them.
  scratch.extraColumn.assign(static_cast<std::size_t>(4) * toWidth + GroupLanes, 0);
  scratch.reciprocals.assign(static_cast<std::size_t>(8) * toWidth + GroupLanes, 0);
  const int shortRows = height / toHeight;
  for (int c = 0; c < toWidth; ++c) {
    const int columns = scratch.columnStart[c + 1] - scratch.columnStart[c];
    for (int lane = 0; lane < 3; ++lane) {
      scratch.extraColumn[4 * c + lane] = columns > scratch.narrowBox ? 0xFFFF : 0;
      for (int tall = 0; tall < 2; ++tall) {
        const auto pixelsInBox = static_cast<std::uint32_t>(columns * (shortRows + tall));
        // A one-pixel box would need 65536; 65535 rounds every byte value the same.
        const std::uint32_t reciprocal = (65536u + pixelsInBox / 2) / pixelsInBox;
        scratch.reciprocals[static_cast<std::size_t>(4) * (tall * toWidth + c) + lane] =
            static_cast<std::uint16_t>(reciprocal > 65535u ? 65535u : reciprocal);
      }
    }
  }
  PlanGroups(scratch, toWidth);
  scratch.fromWidth = width;
  scratch.fromHeight = height;
  scratch.toWidth = toWidth;
  scratch.toHeight = toHeight;
}

#ifdef SNAPLARK_SHRINK_SSE2
// The row sums of processors without AVX2, and of every row's last bytes
// with it.
struct Sse2Words {
  static constexpr std::size_t Block = 16;
  static __m128i Bytes(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
  static __m128i Low(const std::uint8_t* at) { return _mm_unpacklo_epi8(Bytes(at), _mm_setzero_si128()); }
  static __m128i High(const std::uint8_t* at) { return _mm_unpackhi_epi8(Bytes(at), _mm_setzero_si128()); }
  static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
  static void Store(std::uint16_t* at, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }
};
#endif

// The shrink takes the conversions' instruction set, so that one choice (and
// one test switch) covers both: AVX2 row sums from the AVX2 set up, and the
// AVX-512 emit with either AVX-512 set.
struct ShrinkVectors {
  bool avx2, avx512;
};

ShrinkVectors ChooseShrinkVectors() {
  const PixelKernelSet set = ActivePixelKernelSet();
  const bool avx512 = set == PixelKernelSet::Avx512 || set == PixelKernelSet::Avx512Vbmi;
  return {avx512 || set == PixelKernelSet::Avx2, avx512};
}

// A row of boxes' sums, byte i of each of `rows` rows (from `top` on,
// `stride` apart) into sums[i]. The vector sums add a block of every row at
// once and store it once, where adding row by row would load and store the
// sums once per row; they leave the row's last bytes (fewer than a block).
void SumBoxRows(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows, std::size_t bytes,
                const ShrinkVectors& vectors) {
  std::size_t i = 0;
#ifdef SNAPLARK_SHRINK_SSE2
  if (vectors.avx512) {
    i = SumRowsAvx512(sums, top, stride, rows, bytes);
  } else if (vectors.avx2) {
    i = SumRowsAvx2(sums, top, stride, rows, bytes);
  }
  i += SumRowsOf<Sse2Words>(sums + i, top + i, stride, rows, bytes - i);
#endif
  for (; i < bytes; ++i) {
    unsigned sum = 0;
    for (int y = 0; y < rows; ++y) sum += top[stride * static_cast<std::size_t>(y) + i];
    sums[i] = static_cast<std::uint16_t>(sum);
  }
}

// The reciprocals for a row of boxes `rows` tall: the taller rows' table
// follows the shorter rows'.
const std::uint16_t* RowReciprocals(const ShrinkScratch& scratch, int rows) {
  return scratch.reciprocals.data() + (rows > scratch.fromHeight / scratch.toHeight ? 4 * scratch.toWidth : 0);
}

std::uint32_t Pack(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t reciprocal) {
  const auto average = [reciprocal](std::uint32_t sum) { return (sum * reciprocal + 32768u) >> 16; };
  return average(r) << 16 | average(g) << 8 | average(b);
}

#ifdef SNAPLARK_SHRINK_SSE2
__m128i Load(const std::uint16_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// The scratch's tables as the emit reads them, copied out of it so that they
// stay in registers: as far as the compiler knows, the row's stores could
// change the scratch.
struct BoxTables {
  const std::uint16_t* sums;
  const int* columnStart;
  const std::uint16_t* extraColumn;
  int narrowBox;
};

// Box c's blue, green and red sums in lanes 0-2 (lane 3 and up are not
// ours). The wider boxes' extra column is masked in rather than branched to:
// which boxes are wider follows no pattern a processor could predict. (The
// last box's may be the spare sums past the row.)
inline __m128i BoxSums(const BoxTables& t, int c) {
  const std::uint16_t* box = t.sums + 3 * t.columnStart[c];
  __m128i total = Load(box);
  for (int x = 1; x < t.narrowBox; ++x) total = _mm_add_epi16(total, Load(box + 3 * x));
  const __m128i extra = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.extraColumn + 4 * c));
  return _mm_add_epi16(total, _mm_and_si128(Load(box + 3 * t.narrowBox), extra));
}

// Two boxes' means as 0x00RRGGBB words in the low 64 bits:
// (sum * reciprocal + 32768) >> 16 is the product's high word, plus one when
// its low word reaches half.
__m128i PairMeans(__m128i sums, __m128i reciprocals) {
  const __m128i means =
      _mm_add_epi16(_mm_mulhi_epu16(sums, reciprocals), _mm_srli_epi16(_mm_mullo_epi16(sums, reciprocals), 15));
  return _mm_and_si128(_mm_packus_epi16(means, means), _mm_set1_epi32(0xFFFFFF));
}

// As EmitRow, two boxes to a vector, four lanes each. Only for boxes whose
// sums stay within 16 bits.
void EmitRowVector(const ShrinkScratch& scratch, int rows, std::uint32_t* out) {
  const std::uint16_t* reciprocals = RowReciprocals(scratch, rows);
  const BoxTables tables{scratch.sums.data(), scratch.columnStart.data(), scratch.extraColumn.data(),
                         scratch.narrowBox};
  const int toWidth = scratch.toWidth;
  int c = 0;
  for (; c + 2 <= toWidth; c += 2) {
    const __m128i pair = _mm_unpacklo_epi64(BoxSums(tables, c), BoxSums(tables, c + 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c), PairMeans(pair, Load(reciprocals + 4 * c)));
  }
  if (c < toWidth) {
    const __m128i reciprocal = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(reciprocals + 4 * c));
    out[c] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(PairMeans(BoxSums(tables, c), reciprocal)));
  }
}
#endif

// One output row from the summed rows: each box's sums, times the box's
// reciprocal, rounded.
void EmitRow(const ShrinkScratch& scratch, int rows, std::uint32_t* out) {
  const std::uint16_t* sums = scratch.sums.data();
  const std::uint16_t* reciprocals = RowReciprocals(scratch, rows);
  for (int c = 0; c < scratch.toWidth; ++c) {
    const int from = scratch.columnStart[c];
    const int to = scratch.columnStart[c + 1];
    std::uint32_t b = 0, g = 0, r = 0;
    for (int x = from; x < to; ++x) {
      b += sums[3 * x];
      g += sums[3 * x + 1];
      r += sums[3 * x + 2];
    }
    out[c] = Pack(b, g, r, reciprocals[4 * c]);
  }
}

}  // namespace

bool ShrinkAccepts(int width, int height, int toWidth, int toHeight) {
  if (toWidth < 1 || toHeight < 1 || toWidth >= width || toHeight >= height) return false;
  // The sums are 16-bit: at most 257 rows of 255 fit.
  return (height + toHeight - 1) / toHeight <= 257;
}

bool ShrinkFrame(const std::uint8_t* pixels, int width, int height, std::uint32_t* out, int toWidth, int toHeight,
                 ShrinkScratch& scratch) {
  if (!ShrinkAccepts(width, height, toWidth, toHeight)) return false;
  Prepare(width, height, toWidth, toHeight, scratch);
  const std::size_t stride = static_cast<std::size_t>(FrameStride(width));
  const std::size_t rowBytes = static_cast<std::size_t>(3) * width;
  const ShrinkVectors vectors = ChooseShrinkVectors();
  // The largest box: one more row and column than the smallest.
  const int largestBox = (height / toHeight + 1) * (width / toWidth + 1);
  for (int r = 0; r < toHeight; ++r) {
    const int first = BoxStart(r, height, toHeight);
    const int last = BoxStart(r + 1, height, toHeight);
    SumBoxRows(scratch.sums.data(), pixels + stride * first, stride, last - first, rowBytes, vectors);
    std::uint32_t* row = out + static_cast<std::size_t>(toWidth) * r;
#ifdef SNAPLARK_SHRINK_SSE2
    if (largestBox <= 257) {
      if (vectors.avx512 && scratch.groupBoxes > 0) {
        EmitRowAvx512(scratch, RowReciprocals(scratch, last - first), row);
      } else {
        EmitRowVector(scratch, last - first, row);
      }
      continue;
    }
#endif
    EmitRow(scratch, last - first, row);
  }
  return true;
}

}  // namespace snaplark
