// Which bytes the conversions touch: sources sized exactly by the layout's
// byte count and fenced by inaccessible pages, so one byte read too many
// faults; destinations fenced too and pre-filled, so bytes written past a
// row or left unwritten show. Also the pitched forms against the packed ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "reference.h"
#include "support/guarded_buffer.h"

namespace snaplark {
namespace {

using test::BytesNeeded;
using test::Convert;
using test::GuardedBuffer;
using test::Layout;
using test::Name;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSentinel = 0xA5;

// Faults from the first test on, not only once a fenced buffer exists.
[[maybe_unused]] const bool kCrashesEndTheRun = (test::EndRunOnFatalException(), true);

struct Size {
  int width, height;
};
const Size kSizes[] = {{1, 1}, {2, 1}, {1, 2}, {3, 1},     {1, 3},     {2, 2},     {3, 3},
                       {5, 4}, {4, 5}, {7, 7}, {641, 481}, {641, 480}, {640, 481}, {640, 480}};

void FillRandom(std::uint8_t* data, std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(random());
}

bool SameBytes(const std::uint8_t* actual, const Bytes& expected) {
  return std::equal(expected.begin(), expected.end(), actual);
}

TEST(Bounds, ExactlySizedSourcesAreReadWhollyAndNoFurther) {
  for (const Layout layout : {Layout::Rgb, Layout::Nv12, Layout::Yuy2}) {
    for (const Size& s : kSizes) {
      // Fence both ends in turn: a read past the end or before the start faults.
      for (const auto flush : {GuardedBuffer::Flush::AgainstEnd, GuardedBuffer::Flush::AgainstStart}) {
        SCOPED_TRACE(testing::Message() << Name(layout) << " " << s.width << "x" << s.height);
        GuardedBuffer source(static_cast<std::size_t>(BytesNeeded(layout, s.width, s.height)), flush);
        GuardedBuffer pixels(static_cast<std::size_t>(RgbBytesNeeded(s.width, s.height)), flush);
        ASSERT_TRUE(source.data() && pixels.data());
        FillRandom(source.data(), source.size(), static_cast<unsigned>(s.width * 7919 + s.height));
        pixels.Fill(kSentinel);
        Convert(layout, source.data(), pixels.data(), s.width, s.height);
        EXPECT_TRUE(SameBytes(pixels.data(), test::ExpectedFrame(layout, source.data(), s.width, s.height, kSentinel)));
      }
    }
  }
}

TEST(Bounds, ByteCountsAreNoLargerThanWhatIsRead) {
  // The counts decide whether a camera buffer is accepted at all, so they must
  // not ask for bytes the conversion never reads.
  for (const Layout layout : {Layout::Nv12, Layout::Yuy2}) {
    for (const Size& s : kSizes) {
      std::size_t end = 0;
      for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
          const test::SourceBytes b = test::SourceOffsets(layout, s.width, s.height, x, y);
          end = std::max({end, b.a + 1, b.b + 1, b.c + 1});
        }
      }
      EXPECT_EQ(BytesNeeded(layout, s.width, s.height), static_cast<std::int64_t>(end))
          << Name(layout) << " " << s.width << "x" << s.height;
    }
  }
}

// Rows of a packed buffer (`packedPitch` apart, `rowBytes` of each read by
// the conversion) copied into a fenced buffer with an odd padding, so rows do
// not stay aligned by accident; bottom-up copies store the top row last and
// put their lowest row against the front fence.
struct Repitched {
  Repitched(const std::uint8_t* packed, std::size_t packedPitch, int rows, std::size_t rowBytes, bool bottomUp)
      : distance(rowBytes + 13),
        pitch(bottomUp ? -static_cast<std::ptrdiff_t>(distance) : static_cast<std::ptrdiff_t>(distance)),
        copy((rows - 1) * distance + rowBytes,
             bottomUp ? GuardedBuffer::Flush::AgainstStart : GuardedBuffer::Flush::AgainstEnd),
        top(copy.data() + (bottomUp ? (rows - 1) * distance : 0)) {
    for (int y = 0; y < rows; ++y) std::memcpy(top + y * pitch, packed + y * packedPitch, rowBytes);
  }
  std::size_t distance;
  std::ptrdiff_t pitch;
  GuardedBuffer copy;
  std::uint8_t* top;
};

TEST(Bounds, PaddedAndBottomUpPitchesGiveThePackedResult) {
  for (const Size& s : {Size{1, 1}, Size{3, 3}, Size{6, 4}, Size{641, 481}}) {
    const int w = s.width, h = s.height, stride = FrameStride(w);
    Bytes rgb(RgbBytesNeeded(w, h)), nv12(Nv12BytesNeeded(w, h)), yuy2(Yuy2BytesNeeded(w, h));
    FillRandom(rgb.data(), rgb.size(), 1);
    FillRandom(nv12.data(), nv12.size(), 2);
    FillRandom(yuy2.data(), yuy2.size(), 3);
    Bytes packedRgb(RgbBytesNeeded(w, h)), packedNv12(packedRgb.size()), packedYuy2(packedRgb.size());
    CopyRgbRows(rgb.data(), packedRgb.data(), w, h, stride);
    ConvertNv12(nv12.data(), packedNv12.data(), w, h, stride);
    ConvertYuy2(yuy2.data(), packedYuy2.data(), w, h, stride);

    for (const bool bottomUp : {false, true}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << (bottomUp ? " bottom-up" : " padded"));
      const Repitched rgbRows(rgb.data(), stride, h, 3 * w, bottomUp);
      const Repitched luma(nv12.data(), w, h, w, bottomUp);
      const Repitched chroma(nv12.data() + w * h, w, (h + 1) / 2, (w + 1) & ~1, bottomUp);
      const Repitched yuy2Rows(yuy2.data(), 2 * w, h, 4 * ((w + 1) / 2), bottomUp);
      GuardedBuffer out(packedRgb.size());

      out.Fill(0);
      CopyRgbRowsPitched(rgbRows.top, rgbRows.pitch, out.data(), w, h, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedRgb)) << "RGB";
      out.Fill(0);
      ConvertNv12Pitched(luma.top, luma.pitch, chroma.top, chroma.pitch, out.data(), w, h, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedNv12)) << "NV12";
      out.Fill(0);
      ConvertYuy2Pitched(yuy2Rows.top, yuy2Rows.pitch, out.data(), w, h, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedYuy2)) << "YUY2";
    }
  }
}

}  // namespace
}  // namespace snaplark
