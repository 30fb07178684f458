#pragma once
// The colour conversion's definition, computed independently of the
// program's kernels, and the demo cameras' pictures built from it: a test
// can tell which demo frame a captured picture is, pixel by pixel.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace snaplark::test {

// Full-range BT.601 with three-decimal coefficients, products truncated.
inline void ReferenceYuvToBgr(int y, int u, int v, std::uint8_t* out) {
  const auto clamp = [](int value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); };
  u -= 128;
  v -= 128;
  // C++ division truncates toward zero, as each product must.
  out[0] = clamp(y + 1772 * u / 1000);
  out[1] = clamp(y - 344 * u / 1000 - 714 * v / 1000);
  out[2] = clamp(y + 1402 * v / 1000);
}

inline int BgrStride(int width) { return (3 * width + 3) & ~3; }

// Demo frame n as converted rows: bottom-up, blue-green-red, zero row tails.
inline std::vector<std::uint8_t> DemoPicture(bool nv12, int width, int height, int n) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(BgrStride(width)) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int luma = (x + y + 3 * n) & 0xFF;
      const int u = (4 * (x / 2) + n) & 0xFF;
      const int v = ((nv12 ? 4 * (y / 2) : 4 * y) + 2 * n) & 0xFF;
      ReferenceYuvToBgr(luma, u, v, frame.data() + static_cast<std::size_t>(height - 1 - y) * BgrStride(width) + 3 * x);
    }
  }
  return frame;
}

// The frame number whose demo picture `pixels` is exactly, or -1.
inline int MatchingFrameNumber(const std::vector<std::uint8_t>& pixels, bool nv12, int width, int height) {
  if (pixels.size() != static_cast<std::size_t>(BgrStride(width)) * height) return -1;
  const std::uint8_t* topLeft = pixels.data() + static_cast<std::size_t>(height - 1) * BgrStride(width);
  for (int n = 0; n < 256; ++n) {
    std::uint8_t first[3];
    ReferenceYuvToBgr(3 * n & 0xFF, n & 0xFF, 2 * n & 0xFF, first);
    if (first[0] != topLeft[0] || first[1] != topLeft[1] || first[2] != topLeft[2]) continue;  // cheap test first
    if (pixels == DemoPicture(nv12, width, height, n)) return n;
  }
  return -1;
}

}  // namespace snaplark::test
