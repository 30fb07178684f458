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

using test::GuardedBuffer;
using test::Layout;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSentinel = 0xA5;

// Faults from the first test on, not only once a fenced buffer exists.
[[maybe_unused]] const bool kCrashesEndTheRun = (test::EndRunOnFatalException(), true);

struct Size {
  int width, height;
};
const Size kSizes[] = {{1, 1}, {2, 1}, {1, 2}, {3, 1}, {1, 3}, {2, 2}, {3, 3}, {5, 4},
                       {4, 5}, {7, 7}, {641, 481}, {641, 480}, {640, 481}, {640, 480}};

std::int64_t BytesNeeded(Layout layout, int width, int height) {
  switch (layout) {
    case Layout::Rgb: return RgbBytesNeeded(width, height);
    case Layout::Nv12: return Nv12BytesNeeded(width, height);
    default: return Yuy2BytesNeeded(width, height);
  }
}

void Convert(Layout layout, const std::uint8_t* source, std::uint8_t* pixels, int width, int height) {
  const int stride = FrameStride(width);
  switch (layout) {
    case Layout::Rgb: CopyRgbRows(source, pixels, width, height, stride); break;
    case Layout::Nv12: ConvertNv12(source, pixels, width, height, stride); break;
    case Layout::Yuy2: ConvertYuy2(source, pixels, width, height, stride); break;
  }
}

const char* Name(Layout layout) { return layout == Layout::Rgb ? "RGB" : layout == Layout::Nv12 ? "NV12" : "YUY2"; }

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

// Copies `rows` rows, `packedPitch` apart in a packed buffer, into a fenced one
// with the given pitch, `rowBytes` (what the conversion reads of a row) each.
// Returns the top row's address in the copy.
const std::uint8_t* Repitch(const std::uint8_t* packed, std::size_t packedPitch, int rows, std::size_t rowBytes,
                            std::ptrdiff_t pitch, GuardedBuffer& copy) {
  std::uint8_t* top = pitch < 0 ? copy.data() + (rows - 1) * -pitch : copy.data();
  for (int y = 0; y < rows; ++y) std::memcpy(top + y * pitch, packed + y * packedPitch, rowBytes);
  return top;
}

TEST(Bounds, PaddedAndBottomUpPitchesGiveThePackedResult) {
  for (const Size& s : {Size{1, 1}, Size{3, 3}, Size{6, 4}, Size{641, 481}}) {
    const int stride = FrameStride(s.width);
    const std::size_t frameBytes = static_cast<std::size_t>(stride) * s.height;
    const int chromaRows = (s.height + 1) / 2;
    const std::size_t rgbRow = 3 * s.width, lumaRow = s.width, chromaRow = (s.width + 1) & ~1;
    const std::size_t yuy2Row = 4 * ((s.width + 1) / 2);
    Bytes rgb(RgbBytesNeeded(s.width, s.height)), nv12(Nv12BytesNeeded(s.width, s.height));
    Bytes yuy2(Yuy2BytesNeeded(s.width, s.height));
    FillRandom(rgb.data(), rgb.size(), 1);
    FillRandom(nv12.data(), nv12.size(), 2);
    FillRandom(yuy2.data(), yuy2.size(), 3);
    Bytes packedRgb(frameBytes), packedNv12(frameBytes), packedYuy2(frameBytes);
    CopyRgbRows(rgb.data(), packedRgb.data(), s.width, s.height, stride);
    ConvertNv12(nv12.data(), packedNv12.data(), s.width, s.height, stride);
    ConvertYuy2(yuy2.data(), packedYuy2.data(), s.width, s.height, stride);

    for (const int sign : {1, -1}) {
      SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << (sign < 0 ? " bottom-up" : " padded"));
      // An odd padding, so rows do not stay aligned by accident. Bottom-up
      // copies put their last (lowest) row against the front fence.
      const auto flush = sign < 0 ? GuardedBuffer::Flush::AgainstStart : GuardedBuffer::Flush::AgainstEnd;
      const auto fenced = [&](int rows, std::size_t rowBytes, std::size_t pitch) {
        return GuardedBuffer((rows - 1) * pitch + rowBytes, flush);
      };
      const std::size_t rgbPitch = stride + 13, lumaPitch = s.width + 13, chromaPitch = chromaRow + 13;
      const std::size_t yuy2Pitch = yuy2Row + 13;
      GuardedBuffer rgbCopy = fenced(s.height, rgbRow, rgbPitch), lumaCopy = fenced(s.height, lumaRow, lumaPitch),
                    chromaCopy = fenced(chromaRows, chromaRow, chromaPitch),
                    yuy2Copy = fenced(s.height, yuy2Row, yuy2Pitch);
      GuardedBuffer out(frameBytes);

      const std::uint8_t* rgbTop = Repitch(rgb.data(), stride, s.height, rgbRow,
                                           sign * static_cast<std::ptrdiff_t>(rgbPitch), rgbCopy);
      out.Fill(0);
      CopyRgbRowsPitched(rgbTop, sign * static_cast<std::ptrdiff_t>(rgbPitch), out.data(), s.width, s.height, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedRgb)) << "RGB";

      const std::uint8_t* lumaTop = Repitch(nv12.data(), s.width, s.height, lumaRow, sign * static_cast<std::ptrdiff_t>(lumaPitch),
                                            lumaCopy);
      const std::uint8_t* chromaTop =
          Repitch(nv12.data() + s.width * s.height, s.width, chromaRows, chromaRow, sign * static_cast<std::ptrdiff_t>(chromaPitch),
                  chromaCopy);
      out.Fill(0);
      ConvertNv12Pitched(lumaTop, sign * static_cast<std::ptrdiff_t>(lumaPitch), chromaTop,
                         sign * static_cast<std::ptrdiff_t>(chromaPitch), out.data(), s.width, s.height, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedNv12)) << "NV12";

      const std::uint8_t* yuy2Top = Repitch(yuy2.data(), 2 * s.width, s.height, yuy2Row,
                                            sign * static_cast<std::ptrdiff_t>(yuy2Pitch), yuy2Copy);
      out.Fill(0);
      ConvertYuy2Pitched(yuy2Top, sign * static_cast<std::ptrdiff_t>(yuy2Pitch), out.data(), s.width, s.height, stride);
      EXPECT_TRUE(SameBytes(out.data(), packedYuy2)) << "YUY2";
    }
  }
}

}  // namespace
}  // namespace snaplark
