#include "camera/frame_layout.h"

#include <limits>

namespace snaplark {

bool IsUsableFrameSize(int width, int height) {
  if (width < 1 || height < 1) return false;
  return FrameStride64(width) * height <= std::numeric_limits<std::int32_t>::max();
}

std::int64_t RgbBytesNeeded(int width, int height) {
  if (width < 1 || height < 1) return 0;
  return FrameStride64(width) * height;
}

std::int64_t Nv12BytesNeeded(int width, int height) {
  if (width < 1 || height < 1) return 0;
  const std::int64_t w = width;
  const std::int64_t h = height;
  const std::int64_t lastChromaRow = (h - 1) / 2;
  // The last chroma row is read up to the V byte of the pair that holds the
  // last column: width bytes rounded up to whole pairs.
  return w * h + lastChromaRow * w + ((w + 1) & ~std::int64_t{1});
}

std::int64_t Yuy2BytesNeeded(int width, int height) {
  if (width < 1 || height < 1) return 0;
  const std::int64_t w = width;
  const std::int64_t h = height;
  return (h - 1) * 2 * w + 4 * ((w + 1) / 2);
}

bool IsNegotiableFrameSize(int width, int height) {
  return IsUsableFrameSize(width, height) && width <= MaxFrameSide && height <= MaxFrameSide &&
         FrameStride64(width) * height <= MaxFrameBytes;
}

}  // namespace snaplark
