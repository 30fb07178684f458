#pragma once
// Conversion of one locked camera buffer into a frame: 3 bytes per pixel in
// the order blue, green, red, rows bottom-up (the top picture row lands in the
// last `stride` bytes), `stride` = FrameStride(width). Only the first
// 3 * width bytes of each output row are written, so the row tails keep
// whatever the caller put there (zero in a freshly grown frame).
//
// YUV sources use full-range BT.601 with three-decimal coefficients:
//   R = Y + T(1.402 v)   G = Y - T(0.344 u) - T(0.714 v)   B = Y + T(1.772 u)
// where u = U - 128, v = V - 128, each product T(...) is truncated toward zero
// on its own and the sums are clamped to 0..255.
//
// No function here allocates or calls the platform. Width or height below 1
// converts nothing; other sizes must pass IsUsableFrameSize, and the source
// must hold the bytes given by frame_layout.h for its layout.
#include <cstddef>
#include <cstdint>

namespace snaplark {

// Packed layouts, as a contiguous camera buffer holds them.
// RGB: rows `stride` bytes apart, top row first, already blue, green, red.
void CopyRgbRows(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride);
// NV12: luma rows `width` bytes apart, then at width * height the chroma rows
// (U, V pairs), also `width` bytes apart, one per two luma rows.
void ConvertNv12(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride);
// YUY2: rows of 2 * width bytes, top row first, Y0 U Y1 V per two pixels.
void ConvertYuy2(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride);

// The same conversions for buffers whose rows are not packed, such as a
// 2-D buffer locked with its own pitch. Each pointer addresses the TOP row of
// its plane; a pitch is the byte distance from one row to the next one down
// and is negative for a bottom-up buffer.
void CopyRgbRowsPitched(const std::uint8_t* topRow, std::ptrdiff_t sourcePitch, std::uint8_t* pixels, int width,
                        int height, int stride);
void ConvertNv12Pitched(const std::uint8_t* luma, std::ptrdiff_t lumaPitch, const std::uint8_t* chroma,
                        std::ptrdiff_t chromaPitch, std::uint8_t* pixels, int width, int height, int stride);
void ConvertYuy2Pitched(const std::uint8_t* source, std::ptrdiff_t sourcePitch, std::uint8_t* pixels, int width,
                        int height, int stride);

// Row kernels: each converts one picture row of `width` pixels into 3 * width
// output bytes. The frame functions above only walk rows and call these; the
// scalar ones are the reference that any faster kernel must match byte for
// byte.
//   RGB:  source row -> out (3 * width bytes copied).
//   NV12: luma row and its chroma row (reads ((width + 1) & ~1) chroma bytes);
//         the pair kernel converts the two luma rows that share a chroma row.
//   YUY2: packed row (reads 4 * ((width + 1) / 2) bytes).
using RgbRowKernel = void (*)(const std::uint8_t* source, std::uint8_t* out, int width);
using Nv12RowKernel = void (*)(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
using Nv12RowPairKernel = void (*)(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                                   std::uint8_t* out0, std::uint8_t* out1, int width);
using Yuy2RowKernel = void (*)(const std::uint8_t* source, std::uint8_t* out, int width);

struct PixelRowKernels {
  RgbRowKernel rgb;
  Nv12RowKernel nv12;
  Nv12RowPairKernel nv12Pair;
  Yuy2RowKernel yuy2;
  // The same bytes, written past the cache, for frames too large to stay in
  // it; a set without such stores repeats its ordinary kernels here.
  Nv12RowPairKernel nv12PairPastCache;
  Yuy2RowKernel yuy2PastCache;
};

void CopyRgbRowScalar(const std::uint8_t* source, std::uint8_t* out, int width);
void Nv12RowScalar(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Yuy2RowScalar(const std::uint8_t* source, std::uint8_t* out, int width);

// The kernels the frame functions use: one table of row kernels, chosen once
// at start for the best instruction set the processor has. Every set gives
// the same bytes as the scalar one.
const PixelRowKernels& ActivePixelRowKernels();

enum class PixelKernelSet { Scalar, Sse2, Avx2, Avx512, Avx512Vbmi };

const char* PixelKernelSetName(PixelKernelSet set);
// Whether this processor (and this build) can run the set. Scalar always can.
bool IsPixelKernelSetSupported(PixelKernelSet set);
PixelKernelSet ActivePixelKernelSet();
// Makes the frame functions use `set` from now on; false, and no change, when
// the set is not supported. For tests and benchmarks: not to be called while
// another thread converts.
bool UsePixelKernelSet(PixelKernelSet set);
// The best supported set, the one chosen at start.
PixelKernelSet BestPixelKernelSet();

}  // namespace snaplark
