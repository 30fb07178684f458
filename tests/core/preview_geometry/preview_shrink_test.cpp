// The preview's shrink against its definition: each output pixel is the
// rounded mean of its box, every source pixel in exactly one box.
#include "ui/preview_shrink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"

namespace snaplark {
namespace {

// The mean of box (c, r), channel `k` (0 blue, 1 green, 2 red), straight
// from the definition, rounded half up.
int BoxMean(const std::vector<std::uint8_t>& frame, int width, int height, int toWidth, int toHeight, int c, int r,
            int k) {
  const int x0 = c * width / toWidth, x1 = (c + 1) * width / toWidth;
  const int y0 = r * height / toHeight, y1 = (r + 1) * height / toHeight;
  int sum = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) sum += frame[static_cast<std::size_t>(y) * FrameStride(width) + 3 * x + k];
  }
  const int count = (x1 - x0) * (y1 - y0);
  return (2 * sum + count) / (2 * count);
}

// Boxes 1 to 2, 2 to 3, 4 to 5, 7 to 8 and 31 to 32 pixels wide: the vector
// emits take boxes in groups whose size depends on the width, up to a width
// past which they leave the row to the box-by-box emit.
TEST(ShrinkFrame, EachPixelIsTheMeanOfItsBoxWhateverTheRatioAndThePadding) {
  struct Case {
    int width, height, toWidth, toHeight;
  } const cases[] = {{640, 480, 352, 264}, {1280, 720, 469, 264}, {1920, 1080, 456, 256}, {2560, 1440, 352, 198},
                     {7, 5, 3, 2},         {33, 17, 32, 16},      {1280, 720, 41, 23}};
  std::mt19937 random(7);
  const PixelKernelSet before = ActivePixelKernelSet();
  // One scratch for all, as the capture thread keeps one: whatever it kept
  // for the last sizes must not leak into the next.
  ShrinkScratch scratch;
  for (const Case& c : cases) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(c.width, c.height)));
    for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
    // Row tails are padding: whatever they hold must not count.
    for (int y = 0; y < c.height; ++y) {
      for (int i = 3 * c.width; i < FrameStride(c.width); ++i)
        frame[static_cast<std::size_t>(y) * FrameStride(c.width) + i] = 0xFF;
    }
    // The shrink takes the conversions' instruction set: every one this
    // processor has must give the scalar code's very pixels.
    std::vector<std::uint32_t> scalar;
    for (const PixelKernelSet set :
         {PixelKernelSet::Scalar, PixelKernelSet::Avx2, PixelKernelSet::Avx512, PixelKernelSet::Avx512Vbmi}) {
      if (!UsePixelKernelSet(set)) continue;
      SCOPED_TRACE(testing::Message() << PixelKernelSetName(set) << " " << c.width << "x" << c.height << " -> "
                                      << c.toWidth << "x" << c.toHeight);
      std::vector<std::uint32_t> out(static_cast<std::size_t>(c.toWidth) * c.toHeight, 0xDEADBEEF);
      ASSERT_TRUE(ShrinkFrame(frame.data(), c.width, c.height, out.data(), c.toWidth, c.toHeight, scratch));
      if (!scalar.empty()) {
        EXPECT_EQ(out, scalar);
        continue;
      }
      int wrong = 0;
      for (int r = 0; r < c.toHeight; ++r) {
        for (int col = 0; col < c.toWidth; ++col) {
          const std::uint32_t pixel = out[static_cast<std::size_t>(r) * c.toWidth + col];
          for (int k = 0; k < 3; ++k) {
            // 16-bit reciprocals may land one off the exact rounding, never more.
            if (std::abs(static_cast<int>(pixel >> (8 * k) & 0xFF) -
                         BoxMean(frame, c.width, c.height, c.toWidth, c.toHeight, col, r, k)) > 1) {
              ++wrong;
            }
          }
          if (pixel >> 24) ++wrong;
        }
      }
      EXPECT_EQ(wrong, 0);
      scalar = out;
    }
  }
  UsePixelKernelSet(before);
}

TEST(ShrinkFrame, KeepsTheFrameWholeWhenItWouldNotShrinkOrABoxIsTooTall) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(64, 600)), 9);
  std::vector<std::uint32_t> out(64 * 600, 0xDEADBEEF);
  ShrinkScratch scratch;
  EXPECT_FALSE(ShrinkFrame(frame.data(), 64, 48, out.data(), 64, 40, scratch)) << "same width";
  EXPECT_FALSE(ShrinkFrame(frame.data(), 64, 48, out.data(), 80, 40, scratch)) << "wider";
  EXPECT_FALSE(ShrinkFrame(frame.data(), 64, 48, out.data(), 0, 40, scratch));
  EXPECT_FALSE(ShrinkFrame(frame.data(), 64, 600, out.data(), 32, 2, scratch)) << "300-row boxes overflow 16 bits";
  EXPECT_EQ(out[0], 0xDEADBEEFu);
  EXPECT_TRUE(ShrinkFrame(frame.data(), 64, 600, out.data(), 32, 3, scratch)) << "200-row boxes fit";
  EXPECT_EQ(out[0], 0x090909u);
}

}  // namespace
}  // namespace snaplark
