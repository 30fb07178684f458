#pragma once
// The shrink's vector row sums, one loop for every instruction set: each
// file that includes this compiles it for its own set, and everything here
// has internal linkage, so that no copy compiled for one set can be linked
// in where another runs.
#include <cstddef>
#include <cstdint>

namespace snaplark {
namespace {

// Sums `rows` rows, `stride` bytes apart, byte i of each into sums[i], in
// whole blocks of Words::Block bytes; returns how many bytes of each row it
// took. A block's sums stay in two registers over all the rows, where adding
// row by row would load and store them once per row. `Words` widens a
// block's first and second half of bytes to words (Low, High), adds words
// (Add) and stores them (Store).
template <typename Words>
std::size_t SumRowsOf(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows, std::size_t bytes) {
  std::size_t i = 0;
  for (; i + Words::Block <= bytes; i += Words::Block) {
    const std::uint8_t* row = top + i;
    auto low = Words::Low(row), high = Words::High(row);
    for (int y = 1; y < rows; ++y) {
      row += stride;
      low = Words::Add(low, Words::Low(row));
      high = Words::Add(high, Words::High(row));
    }
    Words::Store(sums + i, low);
    Words::Store(sums + i + Words::Block / 2, high);
  }
  return i;
}

}  // namespace
}  // namespace snaplark
