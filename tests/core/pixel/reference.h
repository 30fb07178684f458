#pragma once
// An independent, slow statement of what the conversions must produce: one
// pixel at a time, byte offsets taken straight from the source layouts, the
// colour formula with plain truncating division. The production code uses
// tables and row kernels; agreement between the two is what the tests check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/frame_layout.h"
#include "support/source_layouts.h"

namespace snaplark::test {

struct Bgr {
  int b, g, r;
  bool operator==(const Bgr&) const = default;
};

inline Bgr ExpectedColour(int y, int u8, int v8) {
  const int u = u8 - 128, v = v8 - 128;
  const auto clamp = [](int c) { return std::clamp(c, 0, 255); };
  return {clamp(y + 1772 * u / 1000), clamp(y - 344 * u / 1000 - 714 * v / 1000), clamp(y + 1402 * v / 1000)};
}

// Offsets of the bytes that pixel (x, y) of a packed source is made from:
// RGB b, g, r or YUV Y, U, V.
struct SourceBytes {
  std::size_t a, b, c;
};

inline SourceBytes SourceOffsets(Layout layout, int width, int height, int x, int y) {
  const std::size_t w = width, h = height, px = x, py = y;
  switch (layout) {
    case Layout::Rgb: {
      const std::size_t at = py * FrameStride(width) + 3 * px;
      return {at, at + 1, at + 2};
    }
    case Layout::Nv12: {
      const std::size_t pair = w * h + (py / 2) * w + (px & ~std::size_t{1});
      return {py * w + px, pair, pair + 1};
    }
    case Layout::Yuy2:
    default: {
      const std::size_t row = py * 2 * w;
      return {row + 2 * px, row + 4 * (px / 2) + 1, row + 4 * (px / 2) + 3};
    }
  }
}

// The whole expected frame, bottom-up; row tails keep `tail`.
inline std::vector<std::uint8_t> ExpectedFrame(Layout layout, const std::uint8_t* source, int width, int height,
                                               std::uint8_t tail) {
  const int stride = FrameStride(width);
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride) * height, tail);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const SourceBytes s = SourceOffsets(layout, width, height, x, y);
      std::uint8_t* out = &frame[static_cast<std::size_t>(height - 1 - y) * stride + 3 * x];
      if (layout == Layout::Rgb) {
        out[0] = source[s.a], out[1] = source[s.b], out[2] = source[s.c];
      } else {
        const Bgr c = ExpectedColour(source[s.a], source[s.b], source[s.c]);
        out[0] = static_cast<std::uint8_t>(c.b), out[1] = static_cast<std::uint8_t>(c.g),
        out[2] = static_cast<std::uint8_t>(c.r);
      }
    }
  }
  return frame;
}

}  // namespace snaplark::test
