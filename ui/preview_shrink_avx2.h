#pragma once
// The shrink's row sums with AVX2, in a file of their own compiled for AVX2
// only; ShrinkFrame calls them only on a processor that has it.
#include <cstddef>
#include <cstdint>

namespace snaplark {

// Adds (or, when `first`, copies) the whole 32-byte blocks of `row` to
// `sums`, byte i to sums[i]; returns how many bytes it took, for the caller
// to finish the rest.
std::size_t SumRowAvx2(std::uint16_t* sums, const std::uint8_t* row, std::size_t bytes, bool first);

}  // namespace snaplark
