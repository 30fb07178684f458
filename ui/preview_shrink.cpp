#include "ui/preview_shrink.h"

#include <cstddef>

#include "camera/frame_layout.h"

namespace snaplark {
namespace {

// Box b of n boxes over `length` pixels starts here.
int BoxStart(int b, int length, int n) {
  return static_cast<int>(static_cast<std::int64_t>(b) * length / n);
}

void Prepare(int width, int height, int toWidth, int toHeight, ShrinkScratch& scratch) {
  if (scratch.fromWidth == width && scratch.fromHeight == height && scratch.toWidth == toWidth &&
      scratch.toHeight == toHeight) {
    return;
  }
  scratch.sums.assign(static_cast<std::size_t>(3) * width, 0);
  scratch.columnStart.resize(static_cast<std::size_t>(toWidth) + 1);
  for (int c = 0; c <= toWidth; ++c) scratch.columnStart[c] = BoxStart(c, width, toWidth);
  scratch.reciprocals.resize(static_cast<std::size_t>(2) * toWidth);
  const int shortRows = height / toHeight;
  for (int tall = 0; tall < 2; ++tall) {
    for (int c = 0; c < toWidth; ++c) {
      const std::uint32_t pixelsInBox =
          static_cast<std::uint32_t>((scratch.columnStart[c + 1] - scratch.columnStart[c]) * (shortRows + tall));
      scratch.reciprocals[static_cast<std::size_t>(tall) * toWidth + c] = (65536u + pixelsInBox / 2) / pixelsInBox;
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

// One output row from the summed rows: each box's sums, times the box's
// reciprocal, rounded.
void EmitRow(const ShrinkScratch& scratch, int rows, std::uint32_t* out) {
  const std::uint16_t* sums = scratch.sums.data();
  const std::uint32_t* reciprocals =
      scratch.reciprocals.data() + (rows > scratch.fromHeight / scratch.toHeight ? scratch.toWidth : 0);
  for (int c = 0; c < scratch.toWidth; ++c) {
    const int from = scratch.columnStart[c];
    const int to = scratch.columnStart[c + 1];
    std::uint32_t b = 0, g = 0, r = 0;
    for (int x = from; x < to; ++x) {
      b += sums[3 * x];
      g += sums[3 * x + 1];
      r += sums[3 * x + 2];
    }
    const std::uint32_t reciprocal = reciprocals[c];
    const auto average = [reciprocal](std::uint32_t sum) { return (sum * reciprocal + 32768u) >> 16; };
    out[c] = average(r) << 16 | average(g) << 8 | average(b);
  }
}

}  // namespace

bool ShrinkFrame(const std::uint8_t* pixels, int width, int height, std::uint32_t* out, int toWidth, int toHeight,
                 ShrinkScratch& scratch) {
  if (toWidth < 1 || toHeight < 1 || toWidth >= width || toHeight >= height) return false;
  // The sums are 16-bit: at most 257 rows of 255 fit.
  if ((height + toHeight - 1) / toHeight > 257) return false;
  Prepare(width, height, toWidth, toHeight, scratch);
  const std::size_t stride = static_cast<std::size_t>(FrameStride(width));
  const std::size_t rowBytes = static_cast<std::size_t>(3) * width;
  for (int r = 0; r < toHeight; ++r) {
    const int first = BoxStart(r, height, toHeight);
    const int last = BoxStart(r + 1, height, toHeight);
    CopyRow(scratch.sums.data(), pixels + stride * first, rowBytes);
    for (int y = first + 1; y < last; ++y) AddRow(scratch.sums.data(), pixels + stride * y, rowBytes);
    EmitRow(scratch, last - first, out + static_cast<std::size_t>(toWidth) * r);
  }
  return true;
}

}  // namespace snaplark
