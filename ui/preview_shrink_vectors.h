#pragma once
// The shrink's vector kernels, each in a file of its own compiled for its
// instruction set only; ShrinkFrame calls them only on a processor that has it.
#include <cstddef>
#include <cstdint>

#include "ui/preview_shrink.h"

namespace snaplark {

// Adds (or, when `first`, copies) the whole 32-byte blocks of `row` to
// `sums`, byte i to sums[i]; returns how many bytes it took, for the caller
// to finish the rest. AVX2.
std::size_t SumRowAvx2(std::uint16_t* sums, const std::uint8_t* row, std::size_t bytes, bool first);

// One output row from the summed rows, a group of boxes at a time, as the
// SSE2 emit does it box by box; `reciprocals` is the table for the row's
// height. Only with a plan (scratch.groupBoxes > 0) and boxes whose sums stay
// within 16 bits. AVX-512 (F and BW).
void EmitRowAvx512(const ShrinkScratch& scratch, const std::uint16_t* reciprocals, std::uint32_t* out);

}  // namespace snaplark
