#pragma once
// Geometry of a converted frame and of the camera buffers it is made from.
// Every size that could overflow is computed in 64 bits, so a camera that
// reports an absurd frame size is refused instead of wrapping into a small,
// plausible-looking buffer size.
#include <cstdint>

namespace snaplark {

// Bytes per output row: 3 * width raised to the next multiple of 4, as a
// 24-bit bottom-up DIB needs. Meaningful for widths that pass
// IsUsableFrameSize; the arithmetic itself is done in 64 bits so that larger
// widths cannot overflow while being checked.
constexpr std::int64_t FrameStride64(int width) {
  return (3 * static_cast<std::int64_t>(width) + 3) & ~static_cast<std::int64_t>(3);
}
constexpr int FrameStride(int width) { return static_cast<int>(FrameStride64(width)); }

// True when a frame of this size can be converted and held: both dimensions
// at least 1 and stride * height (the size of the output frame) within a
// signed 32-bit int. Every byte count below then fits in 32 bits as well.
bool IsUsableFrameSize(int width, int height);

// What a camera may negotiate: a usable size no larger than 16384 pixels a
// side whose frame needs at most 256 MiB (an 8K frame needs about 100), so
// that a 32-bit process can hold two of them while converting.
inline constexpr int MaxFrameSide = 16384;
inline constexpr std::int64_t MaxFrameBytes = std::int64_t{256} << 20;
bool IsNegotiableFrameSize(int width, int height);

// The number of bytes a source buffer must hold so that the conversion of the
// given layout reads nothing past its end. 0 when width or height is below 1.
//
// RGB: `height` rows `stride` bytes apart, taken whole.
std::int64_t RgbBytesNeeded(int width, int height);
// NV12: the luma plane (width * height) and the chroma rows the conversion
// actually reads. An odd height reads chroma row (height - 1) / 2, and an odd
// width reads the V byte one past the chroma row's `width` bytes, so this is
// width * height + ((height - 1) / 2) * width + ((width + 1) & ~1).
// For even sizes that is exactly 3 * width * height / 2.
std::int64_t Nv12BytesNeeded(int width, int height);
// YUY2 (Y0 U Y1 V, rows 2 * width bytes apart): the last row reads whole
// 4-byte pairs, also for an odd width.
std::int64_t Yuy2BytesNeeded(int width, int height);

}  // namespace snaplark
