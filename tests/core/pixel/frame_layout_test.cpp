#include "camera/frame_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace snaplark {
namespace {

TEST(FrameLayout, StrideRoundsThreeBytesPerPixelUpToFour) {
  const int expected[][2] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {640, 1920}, {641, 1924}};
  for (const auto& [width, stride] : expected) EXPECT_EQ(FrameStride(width), stride) << "width " << width;
}

TEST(FrameLayout, CameraSizedFramesAndTheirSourceBuffers) {
  EXPECT_EQ(RgbBytesNeeded(640, 480), 921600);
  EXPECT_EQ(Nv12BytesNeeded(640, 480), 460800);
  EXPECT_EQ(Yuy2BytesNeeded(640, 480), 614400);
  EXPECT_EQ(RgbBytesNeeded(641, 480), 923520);
  // Even sizes need exactly the planar 3/2 bytes per pixel.
  for (int size : {2, 4, 480, 720, 1080}) EXPECT_EQ(Nv12BytesNeeded(size + 2, size), 3LL * (size + 2) * size / 2);
}

TEST(FrameLayout, OddSizesCoverTheLastChromaRowAndPair) {
  // Odd height: a chroma row of its own for the last luma row.
  // Odd width: one V byte past the chroma row's `width` bytes.
  EXPECT_EQ(Nv12BytesNeeded(1, 1), 3);
  EXPECT_EQ(Nv12BytesNeeded(3, 3), 9 + 3 + 4);
  EXPECT_EQ(Nv12BytesNeeded(4, 3), 12 + 4 + 4);
  EXPECT_EQ(Nv12BytesNeeded(641, 481), 641 * 481 + 240 * 641 + 642);
  EXPECT_EQ(Yuy2BytesNeeded(1, 1), 4);
  EXPECT_EQ(Yuy2BytesNeeded(3, 2), 6 + 8);
}

TEST(FrameLayout, RefusesEmptyAndOverflowingSizes) {
  EXPECT_TRUE(IsUsableFrameSize(1, 1));
  EXPECT_TRUE(IsUsableFrameSize(1920, 1080));
  for (const auto& [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {5, -1}, {0, 0}, {INT32_MIN, INT32_MIN}})
    EXPECT_FALSE(IsUsableFrameSize(w, h)) << w << "x" << h;
  // stride * height past INT32_MAX must be refused, not wrapped into range.
  EXPECT_FALSE(IsUsableFrameSize(46341, 46341));
  EXPECT_FALSE(IsUsableFrameSize(20000, 40000));
  EXPECT_FALSE(IsUsableFrameSize(65536, 21846));  // 2^32 + 131072: wraps to a small, plausible size
  EXPECT_FALSE(IsUsableFrameSize(INT32_MAX, 1));
  EXPECT_FALSE(IsUsableFrameSize(1, INT32_MAX));
  // Width 1 has stride 4: the exact edge is 4 * 536870911 = INT32_MAX - 3.
  EXPECT_TRUE(IsUsableFrameSize(1, 536870911));
  EXPECT_FALSE(IsUsableFrameSize(1, 536870912));
  EXPECT_EQ(RgbBytesNeeded(46341, 46341), 139024LL * 46341);
  for (const auto& [w, h] : {std::pair{0, 5}, {5, 0}, {-3, -3}}) {
    EXPECT_EQ(RgbBytesNeeded(w, h), 0);
    EXPECT_EQ(Nv12BytesNeeded(w, h), 0);
    EXPECT_EQ(Yuy2BytesNeeded(w, h), 0);
  }
}

}  // namespace
}  // namespace snaplark
