// What the conversions compute: the colour of each pixel, where in the frame
// it lands and which bytes are left alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "reference.h"

namespace snaplark {
namespace {

using test::Bgr;
using Bytes = std::vector<std::uint8_t>;

Bgr PixelAt(const Bytes& frame, std::size_t offset) { return {frame[offset], frame[offset + 1], frame[offset + 2]}; }

TEST(Colour, KnownValuesThroughNv12AndYuy2) {
  struct Case {
    int y, u, v;
    Bgr bgr;
  };
  const Case cases[] = {
      {0, 128, 128, {0, 0, 0}},        {255, 128, 128, {255, 255, 255}},
      {16, 128, 128, {16, 16, 16}},                               // full-range luma: 16 is not black
      {100, 90, 200, {33, 62, 200}},                              // T(-0.344 * 38) = -13, not -14
      {76, 85, 255, {0, 0, 254}},      {128, 0, 0, {0, 255, 0}},  // clamped from below and above
      {128, 255, 128, {255, 85, 128}},
  };
  for (const Case& c : cases) {
    const std::uint8_t y = static_cast<std::uint8_t>(c.y), u = static_cast<std::uint8_t>(c.u),
                       v = static_cast<std::uint8_t>(c.v);
    const std::uint8_t nv12[] = {y, u, v};
    Bytes out(4);
    ConvertNv12(nv12, out.data(), 1, 1, 4);
    EXPECT_EQ(PixelAt(out, 0), c.bgr) << "NV12 Y=" << c.y << " U=" << c.u << " V=" << c.v;
    const std::uint8_t yuy2[] = {y, u, y, v};
    Bytes pair(8);
    ConvertYuy2(yuy2, pair.data(), 2, 1, 8);
    EXPECT_EQ(PixelAt(pair, 0), c.bgr) << "YUY2 Y=" << c.y << " U=" << c.u << " V=" << c.v;
    EXPECT_EQ(PixelAt(pair, 3), c.bgr);
  }
}

TEST(Colour, Nv12PairIsSharedByTwoByTwoBlocksWithoutInterpolation) {
  // 4 x 2: one chroma row; columns 0-1 use the pair at 0/1, columns 2-3 the pair at 2/3.
  const std::uint8_t source[] = {10, 20,  30,  40,    // luma row 0
                                 50, 60,  70,  80,    // luma row 1
                                 90, 200, 255, 128};  // chroma row 0
  Bytes out(2 * 12);
  ConvertNv12(source, out.data(), 4, 2, 12);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const int pair = x < 2 ? 8 : 10;
      EXPECT_EQ(PixelAt(out, (1 - y) * 12 + 3 * x),
                test::ExpectedColour(source[4 * y + x], source[pair], source[pair + 1]))
          << x << "," << y;
    }
  }
  // The two pairs really differ, so a mix-up cannot go unnoticed.
  EXPECT_NE(PixelAt(out, 12 + 3), PixelAt(out, 12 + 6));
}

TEST(Colour, TopSourceRowLandsLastAndRowTailsAreNotWritten) {
  // Width 2: 6 pixel bytes and 2 tail bytes per row. Sources whose every
  // pixel converts to non-zero bytes, and rows told apart by their value.
  const int width = 2, height = 3, stride = FrameStride(width);
  ASSERT_EQ(stride, 8);
  Bytes rgb(RgbBytesNeeded(width, height)), nv12(Nv12BytesNeeded(width, height)), yuy2(Yuy2BytesNeeded(width, height));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t value = static_cast<std::uint8_t>(200 + y);
    for (int i = 0; i < stride; ++i) rgb[y * stride + i] = value;  // source tails too: they must not be copied
    for (int i = 0; i < width; ++i) nv12[y * width + i] = value;
    for (int i = 0; i < 2 * width; i += 2) yuy2[y * 2 * width + i] = value;
  }
  for (std::size_t i = width * height; i < nv12.size(); ++i) nv12[i] = 128;
  for (std::size_t i = 1; i < yuy2.size(); i += 2) yuy2[i] = 128;

  for (const auto layout : {test::Layout::Rgb, test::Layout::Nv12, test::Layout::Yuy2}) {
    Bytes out(static_cast<std::size_t>(stride) * height, 0);
    switch (layout) {
      case test::Layout::Rgb:
        CopyRgbRows(rgb.data(), out.data(), width, height, stride);
        break;
      case test::Layout::Nv12:
        ConvertNv12(nv12.data(), out.data(), width, height, stride);
        break;
      case test::Layout::Yuy2:
        ConvertYuy2(yuy2.data(), out.data(), width, height, stride);
        break;
    }
    for (int row = 0; row < height; ++row) {
      const int sourceRow = height - 1 - row;
      for (int i = 0; i < 3 * width; ++i) EXPECT_EQ(out[row * stride + i], 200 + sourceRow) << "row " << row;
      EXPECT_EQ(out[row * stride + 6], 0) << "row " << row;
      EXPECT_EQ(out[row * stride + 7], 0) << "row " << row;
    }
  }
}

// Every (Y, U, V) triple: a 256-pixel row per chroma pair, luma 0..255.
TEST(Colour, EveryYuvTripleMatchesTheIntegerFormula) {
  // The reference's integer division must be the truncated product it stands
  // for; single-precision products give the same integers.
  const int thousandths[] = {1402, 344, 714, 1772};
  const float coefficients[] = {1.402f, 0.344f, 0.714f, 1.772f};
  for (int c = -128; c < 128; ++c) {
    for (int i = 0; i < 4; ++i) {
      const float product = coefficients[i] * static_cast<float>(c);
      ASSERT_EQ(thousandths[i] * c / 1000, static_cast<int>(product)) << coefficients[i] << " * " << c;
    }
  }
  // One luma row and one chroma row; one packed row. Sized here, not by the
  // byte counts under test elsewhere.
  const int width = 256, stride = 3 * width;
  Bytes nv12(2 * width), yuy2(2 * width);
  Bytes fromNv12(stride), fromYuy2(stride);
  long long mismatches = 0;
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < 256; ++v) {
      for (int x = 0; x < width; ++x) {
        nv12[x] = static_cast<std::uint8_t>(x);
        nv12[width + x] = static_cast<std::uint8_t>(x % 2 ? v : u);
        yuy2[2 * x] = static_cast<std::uint8_t>(x);
        yuy2[2 * x + 1] = static_cast<std::uint8_t>(x % 2 ? v : u);
      }
      ConvertNv12(nv12.data(), fromNv12.data(), width, 1, stride);
      ConvertYuy2(yuy2.data(), fromYuy2.data(), width, 1, stride);
      for (int y = 0; y < 256; ++y) {
        const Bgr expected = test::ExpectedColour(y, u, v);
        for (const Bytes* out : {&fromNv12, &fromYuy2}) {
          if (PixelAt(*out, 3 * y) == expected) continue;
          if (++mismatches <= 5) {
            ADD_FAILURE() << (out == &fromNv12 ? "NV12" : "YUY2") << " Y=" << y << " U=" << u << " V=" << v;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace snaplark
