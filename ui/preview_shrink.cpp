#include "ui/preview_shrink.h"

#include <cstddef>

#include "camera/frame_layout.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define SNAPLARK_SHRINK_SSE2 1
#endif

namespace snaplark {
namespace {

// Box b of n boxes over `length` pixels starts here.
int BoxStart(int b, int length, int n) { return static_cast<int>(static_cast<std::int64_t>(b) * length / n); }

void Prepare(int width, int height, int toWidth, int toHeight, ShrinkScratch& scratch) {
  if (scratch.fromWidth == width && scratch.fromHeight == height && scratch.toWidth == toWidth &&
      scratch.toHeight == toHeight) {
    return;
  }
  // Eight spare sums past the row: a box's last pixel is read as eight lanes.
  scratch.sums.assign(static_cast<std::size_t>(3) * width + 8, 0);
  scratch.columnStart.resize(static_cast<std::size_t>(toWidth) + 1);
  for (int c = 0; c <= toWidth; ++c) scratch.columnStart[c] = BoxStart(c, width, toWidth);
  scratch.reciprocals.resize(static_cast<std::size_t>(2) * toWidth);
  const int shortRows = height / toHeight;
  for (int tall = 0; tall < 2; ++tall) {
    for (int c = 0; c < toWidth; ++c) {
      const std::uint32_t pixelsInBox =
          static_cast<std::uint32_t>((scratch.columnStart[c + 1] - scratch.columnStart[c]) * (shortRows + tall));
      // A one-pixel box would need 65536; 65535 rounds every byte value the same.
      const std::uint32_t reciprocal = (65536u + pixelsInBox / 2) / pixelsInBox;
      scratch.reciprocals[static_cast<std::size_t>(tall) * toWidth + c] = reciprocal > 65535u ? 65535u : reciprocal;
    }
  }
  scratch.fromWidth = width;
  scratch.fromHeight = height;
  scratch.toWidth = toWidth;
  scratch.toHeight = toHeight;
}

// Adds one source row's bytes to the running sums: the loop the compiler
// turns into vector adds.
void AddRow(std::uint16_t* sums, const std::uint8_t* row, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + row[i]);
}
void CopyRow(std::uint16_t* sums, const std::uint8_t* row, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) sums[i] = row[i];
}

// The reciprocals for a row of boxes `rows` tall: the taller rows' table
// follows the shorter rows'.
const std::uint32_t* RowReciprocals(const ShrinkScratch& scratch, int rows) {
  return scratch.reciprocals.data() + (rows > scratch.fromHeight / scratch.toHeight ? scratch.toWidth : 0);
}

std::uint32_t Pack(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t reciprocal) {
  const auto average = [reciprocal](std::uint32_t sum) { return (sum * reciprocal + 32768u) >> 16; };
  return average(r) << 16 | average(g) << 8 | average(b);
}

#ifdef SNAPLARK_SHRINK_SSE2
// As EmitRow, with each pixel's three sums added as one vector (lanes 0-2
// blue, green, red; the other lanes are never used). Only for boxes whose
// sums stay within 16 bits.
void EmitRowVector(const ShrinkScratch& scratch, int rows, std::uint32_t* out) {
  const std::uint16_t* sums = scratch.sums.data();
  const std::uint32_t* reciprocals = RowReciprocals(scratch, rows);
  for (int c = 0; c < scratch.toWidth; ++c) {
    const int from = scratch.columnStart[c];
    const int to = scratch.columnStart[c + 1];
    __m128i total = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 3 * from));
    for (int x = from + 1; x < to; ++x) {
      total = _mm_add_epi16(total, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 3 * x)));
    }
    // (sum * reciprocal + 32768) >> 16: the product's high word, plus one
    // when its low word reaches half.
    const __m128i reciprocal = _mm_set1_epi16(static_cast<short>(reciprocals[c]));
    const __m128i average =
        _mm_add_epi16(_mm_mulhi_epu16(total, reciprocal), _mm_srli_epi16(_mm_mullo_epi16(total, reciprocal), 15));
    // Blue, green and red bytes, then a lane that is not ours.
    out[c] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(average, average))) & 0xFFFFFFu;
  }
}
#endif

// One output row from the summed rows: each box's sums, times the box's
// reciprocal, rounded.
void EmitRow(const ShrinkScratch& scratch, int rows, std::uint32_t* out) {
  const std::uint16_t* sums = scratch.sums.data();
  const std::uint32_t* reciprocals = RowReciprocals(scratch, rows);
  for (int c = 0; c < scratch.toWidth; ++c) {
    const int from = scratch.columnStart[c];
    const int to = scratch.columnStart[c + 1];
    std::uint32_t b = 0, g = 0, r = 0;
    for (int x = from; x < to; ++x) {
      b += sums[3 * x];
      g += sums[3 * x + 1];
      r += sums[3 * x + 2];
    }
    out[c] = Pack(b, g, r, reciprocals[c]);
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
  // The largest box: one more row and column than the smallest.
  const int largestBox = (height / toHeight + 1) * (width / toWidth + 1);
  for (int r = 0; r < toHeight; ++r) {
    const int first = BoxStart(r, height, toHeight);
    const int last = BoxStart(r + 1, height, toHeight);
    CopyRow(scratch.sums.data(), pixels + stride * first, rowBytes);
    for (int y = first + 1; y < last; ++y) AddRow(scratch.sums.data(), pixels + stride * y, rowBytes);
    std::uint32_t* row = out + static_cast<std::size_t>(toWidth) * r;
#ifdef SNAPLARK_SHRINK_SSE2
    if (largestBox <= 257) {
      EmitRowVector(scratch, last - first, row);
      continue;
    }
#endif
    EmitRow(scratch, last - first, row);
  }
  return true;
}

}  // namespace snaplark
