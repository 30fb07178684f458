#pragma once
// The live preview's frame, shrunk on the capture thread to the size the
// control shows it at, so that painting it is a plain copy instead of a
// halftone stretch of the whole camera picture 30 times a second.
#include <cstdint>
#include <vector>

namespace snaplark {

// What the shrink keeps from one frame to the next (capture thread only):
// nothing is allocated once a frame of the same sizes has been shrunk.
struct ShrinkScratch {
  std::vector<std::uint16_t> sums;  // one row of byte sums
  std::vector<int> columnStart;     // first source column of each box, then the width
  // Per box, four lanes (blue, green, red, unused) so that two boxes fill a
  // vector. Boxes are `narrowBox` columns wide or one more: the mask is all
  // ones in the colour lanes of the wider ones. The reciprocals are
  // 65536 / pixels in the box; a row of boxes is one of two heights (the
  // shorter first), so there are two tables.
  std::vector<std::uint16_t> extraColumn;
  std::vector<std::uint16_t> reciprocals;
  int narrowBox = 0;
  // For the AVX-512 emit: boxes in groups of `groupBoxes` (none when boxes are
  // too wide for it), each group's sums within 64 of its first. Per group: that
  // first sum's index, and 32 word lanes (box b's colours in lanes 4b..4b+2)
  // holding where each lane's leftmost column sits from there.
  int groupBoxes = 0;
  std::vector<std::int32_t> groupStart;
  std::vector<std::uint16_t> groupLanes;
  int fromWidth = 0, fromHeight = 0, toWidth = 0, toHeight = 0;
};

// Whether ShrinkFrame takes these sizes: smaller in both directions, and no
// box taller than 257 rows (its 16-bit sums would overflow).
bool ShrinkAccepts(int width, int height, int toWidth, int toHeight);

// Averages a frame (24-bit blue-green-red, rows padded to 4 bytes) down to
// toWidth x toHeight pixels as 0x00RRGGBB words, rows in the frame's order.
// Every source pixel counts once, in the box of its position: boxes are
// whole pixels, 1 or 2 more in some rows and columns than in others. False,
// leaving `out` alone, when the size does not shrink in both directions or a
// box would be taller than 257 rows.
bool ShrinkFrame(const std::uint8_t* pixels, int width, int height, std::uint32_t* out, int toWidth, int toHeight,
                 ShrinkScratch& scratch);

}  // namespace snaplark
