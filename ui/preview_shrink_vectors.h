#pragma once
// The shrink's vector kernels, each in a file of its own compiled for its
// instruction set only; ShrinkFrame calls them only on a processor that has it.
#include <cstddef>
#include <cstdint>

#include "ui/preview_shrink.h"

namespace snaplark {

// Sums `rows` rows, `stride` bytes apart, byte i of each into sums[i], in
// whole blocks (32 bytes with AVX2, 64 with AVX-512 F and BW); returns how
// many bytes of each row they took, for the caller to finish the rest.
std::size_t SumRowsAvx2(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows, std::size_t bytes);
std::size_t SumRowsAvx512(std::uint16_t* sums, const std::uint8_t* top, std::size_t stride, int rows,
                          std::size_t bytes);

// One output row from the summed rows, a group of boxes at a time, as the
// SSE2 emit does it box by box; `reciprocals` is the table for the row's
// height. Only with a plan (scratch.groupBoxes > 0) and boxes whose sums stay
// within 16 bits. AVX-512 (F and BW).
void EmitRowAvx512(const ShrinkScratch& scratch, const std::uint16_t* reciprocals, std::uint32_t* out);

}  // namespace snaplark
