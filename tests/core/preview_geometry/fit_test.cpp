// Where a frame lands in the preview control, in the cases whose rounding
// tells a single-precision computation from any other.
#include <gtest/gtest.h>

#include "ui/preview_geometry.h"

namespace snaplark {
namespace {

TEST(FitPreview, KeepsTheAspectRatioWithSinglePrecisionRounding) {
  struct Case {
    int fw, fh, cw, ch;
    PreviewRect expected;
  } const cases[] = {
      {640, 480, 456, 264, {52, 0, 352, 264}},   // 264 x 1.3333334 = 352.00001, pillarboxed
      {1920, 1080, 456, 264, {0, 4, 456, 256}},  // 456 / 1.7777778 = 256.49998: 256, not 257
      {640, 480, 457, 264, {52, 0, 352, 264}},   // (457 - 352) / 2 truncates
      {1280, 720, 640, 360, {0, 0, 640, 360}},   // equal aspects fill the control
      {480, 640, 456, 264, {129, 0, 198, 264}},  // a portrait frame
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitPreview(c.fw, c.fh, c.cw, c.ch), c.expected) << c.fw << "x" << c.fh << " in " << c.cw << "x" << c.ch;
  }
}

TEST(FitPreview, AnEmptyControlGetsAnEmptyRectangle) {
  for (const auto& [cw, ch] : {std::pair{0, 0}, std::pair{0, 264}, std::pair{456, 0}}) {
    const PreviewRect r = FitPreview(640, 480, cw, ch);
    EXPECT_EQ(r.width, 0) << cw << "x" << ch;
    EXPECT_EQ(r.height, 0) << cw << "x" << ch;
  }
}

}  // namespace
}  // namespace snaplark
