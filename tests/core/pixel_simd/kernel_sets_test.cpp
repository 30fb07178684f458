// Every vector kernel set against the scalar reference, byte for byte, each
// set forced in turn through the same dispatch the program uses. A set the
// processor lacks is reported and skipped, never silently passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "camera/chroma_products.h"
#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "support/guarded_buffer.h"
#include "support/source_layouts.h"

namespace snaplark {
namespace {

using test::BytesNeeded;
using test::Convert;
using test::GuardedBuffer;
using test::kLayouts;
using test::Layout;
using test::Name;
using Bytes = std::vector<std::uint8_t>;

[[maybe_unused]] const bool kCrashesEndTheRun = (test::EndRunOnFatalException(), true);

constexpr PixelKernelSet kVectorSets[] = {PixelKernelSet::Sse2, PixelKernelSet::Avx2, PixelKernelSet::Avx512,
                                          PixelKernelSet::Avx512Vbmi};

// Puts the set chosen at start back after each test.
class KernelSets : public testing::TestWithParam<PixelKernelSet> {
 protected:
  void SetUp() override {
    if (!IsPixelKernelSetSupported(GetParam())) {
      GTEST_SKIP() << PixelKernelSetName(GetParam()) << " is not available on this processor";
    }
  }
  void TearDown() override { UsePixelKernelSet(BestPixelKernelSet()); }

  // Runs `convert` with the scalar set and with the set under test.
  template <typename Convert>
  void Both(Convert&& convert) {
    ASSERT_TRUE(UsePixelKernelSet(PixelKernelSet::Scalar));
    convert(false);
    ASSERT_TRUE(UsePixelKernelSet(GetParam()));
    ASSERT_EQ(ActivePixelKernelSet(), GetParam());
    convert(true);
  }
};

std::string ParamName(const testing::TestParamInfo<PixelKernelSet>& info) { return PixelKernelSetName(info.param); }

INSTANTIATE_TEST_SUITE_P(Vector, KernelSets, testing::ValuesIn(kVectorSets), ParamName);

TEST(ChromaProducts, IntegerFormEqualsTheTruncatedProductForEveryChromaValue) {
  struct Coefficient {
    ChromaCoefficient fixed;
    int thousandths;
  };
  const Coefficient coefficients[] = {
      {RedFromVFixed, 1402}, {GreenFromUFixed, 344}, {GreenFromVFixed, 714}, {BlueFromUFixed, 1772}};
  for (const Coefficient& c : coefficients) {
    for (int v = -128; v <= 127; ++v) {
      ASSERT_EQ(TruncatedProduct(c.fixed, v), c.thousandths * v / 1000) << c.thousandths << " * " << v;
    }
  }
}

TEST(KernelDispatch, ScalarAndSse2AreAlwaysThereAndTheBestSetIsChosenAtStart) {
  EXPECT_TRUE(IsPixelKernelSetSupported(PixelKernelSet::Scalar));
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_TRUE(IsPixelKernelSetSupported(PixelKernelSet::Sse2));  // part of every x86-64 processor
#endif
  EXPECT_EQ(ActivePixelKernelSet(), BestPixelKernelSet());
  for (const PixelKernelSet set : kVectorSets) {
    std::printf("[ kernels  ] %-10s %s\n", PixelKernelSetName(set),
                IsPixelKernelSetSupported(set) ? "supported" : "not supported");
    if (!IsPixelKernelSetSupported(set)) {
      EXPECT_FALSE(UsePixelKernelSet(set));
    }
  }
  EXPECT_EQ(ActivePixelKernelSet(), BestPixelKernelSet());
}

// Every (Y, U, V) triple through the row kernels: rows of 256 pairs (U runs
// over the pairs, V is fixed per row) and luma shifted from row to row so
// that each pair meets every luma value, in both pixels of the pair and at
// every position in a vector block.
TEST_P(KernelSets, EveryYuvTripleGivesTheScalarBytes) {
  const int width = 512;
  Bytes luma(width), chroma(width), yuy2(2 * width), expectedNv12(3 * width), expectedYuy2(3 * width),
      actual(3 * width);
  long long mismatches = 0;
  for (int v = 0; v < 256; ++v) {
    for (int shift = 0; shift < 128; ++shift) {
      for (int x = 0; x < width; ++x) {
        luma[x] = static_cast<std::uint8_t>(2 * shift + 7 * (x / 2) + x % 2);
        chroma[x] = static_cast<std::uint8_t>(x % 2 ? v : x / 2);
        yuy2[2 * x] = luma[x];
        yuy2[2 * x + 1] = chroma[x];
      }
      Nv12RowScalar(luma.data(), chroma.data(), expectedNv12.data(), width);
      Yuy2RowScalar(yuy2.data(), expectedYuy2.data(), width);
      ASSERT_TRUE(UsePixelKernelSet(GetParam()));
      ActivePixelRowKernels().nv12(luma.data(), chroma.data(), actual.data(), width);
      if (actual != expectedNv12 && ++mismatches <= 3) ADD_FAILURE() << "NV12 V=" << v << " shift " << shift;
      ActivePixelRowKernels().yuy2(yuy2.data(), actual.data(), width);
      if (actual != expectedYuy2 && ++mismatches <= 3) ADD_FAILURE() << "YUY2 V=" << v << " shift " << shift;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Whole frames of noise at every width from 1 to 130 (every tail length of
// every block size, and whole blocks plus tails) and at odd and even
// heights; sources sized exactly and fenced at the end, then at the start;
// destinations fenced and pre-filled, so bytes written past a row or left
// unwritten show.
TEST_P(KernelSets, RandomFramesOfEveryNarrowWidthGiveTheScalarFrames) {
  constexpr std::uint8_t kSentinel = 0x5A;
  std::mt19937 random(2024);
  for (const Layout layout : kLayouts) {
    for (int width = 1; width <= 130; ++width) {
      for (const int height : {1, 2, 3, 5}) {
        for (const auto flush : {GuardedBuffer::Flush::AgainstEnd, GuardedBuffer::Flush::AgainstStart}) {
          SCOPED_TRACE(testing::Message() << Name(layout) << " " << width << "x" << height);
          GuardedBuffer source(static_cast<std::size_t>(BytesNeeded(layout, width, height)), flush);
          GuardedBuffer pixels(static_cast<std::size_t>(RgbBytesNeeded(width, height)), flush);
          ASSERT_TRUE(source.data() && pixels.data());
          for (std::uint8_t& byte : source) byte = static_cast<std::uint8_t>(random());
          Bytes expected;
          Both([&](bool vector) {
            pixels.Fill(kSentinel);
            Convert(layout, source.data(), pixels.data(), width, height);
            if (!vector) expected.assign(pixels.begin(), pixels.end());
          });
          ASSERT_TRUE(std::memcmp(pixels.data(), expected.data(), expected.size()) == 0);
        }
      }
    }
  }
}

// The row kernels write whole vectors where the output row allows it and
// masked or scalar pieces at its ends: every output alignment within a cache
// line, with widths of one to three blocks and odd tails, must give the scalar
// row and leave the bytes on either side alone.
TEST_P(KernelSets, RowsAtEveryOutputAlignmentGiveTheScalarRow) {
  constexpr std::uint8_t kSentinel = 0xA5;
  constexpr int kGuard = 64;
  std::mt19937 random(99);
  Bytes source(4 * 200 + 8);
  for (std::uint8_t& byte : source) byte = static_cast<std::uint8_t>(random());
  const std::uint8_t* chroma = source.data() + 200;
  for (const int width : {1, 2, 15, 16, 17, 31, 33, 63, 64, 65, 97, 129, 191, 193}) {
    for (int offset = 0; offset < 64; ++offset) {
      SCOPED_TRACE(testing::Message() << "width " << width << " at offset " << offset);
      Bytes expected, actual;
      Both([&](bool vector) {
        const PixelRowKernels& kernels = ActivePixelRowKernels();
        Bytes& rows = vector ? actual : expected;
        Bytes row(static_cast<std::size_t>(kGuard + offset + 3 * width + kGuard));
        std::uint8_t* out = row.data() + kGuard + offset;
        // The pair kernel's second row starts at another offset in its line.
        const int pairOffset = (offset * 37 + 12) % 64;
        Bytes pairRow(static_cast<std::size_t>(kGuard + pairOffset + 3 * width + kGuard));
        for (int kernel = 0; kernel < 6; ++kernel) {
          std::fill(row.begin(), row.end(), kSentinel);
          std::fill(pairRow.begin(), pairRow.end(), kSentinel);
          if (kernel == 0) kernels.rgb(source.data(), out, width);
          if (kernel == 1) kernels.nv12(source.data(), chroma, out, width);
          if (kernel == 2) kernels.yuy2(source.data(), out, width);
          if (kernel == 3 || kernel == 4) {
            (kernel == 3 ? kernels.nv12Pair : kernels.nv12PairPastCache)(
                source.data(), source.data() + 400, chroma, out, pairRow.data() + kGuard + pairOffset, width);
          }
          if (kernel == 5) kernels.yuy2PastCache(source.data(), out, width);
          rows.insert(rows.end(), row.begin(), row.end());
          rows.insert(rows.end(), pairRow.begin(), pairRow.end());
        }
      });
      ASSERT_TRUE(actual == expected);
    }
  }
}

// Camera sizes, and rows whose pitch is not the packed one (padded and
// bottom-up), through the pitched forms.
TEST_P(KernelSets, CameraSizesAndPitchedRowsGiveTheScalarFrames) {
  std::mt19937 random(7);
  struct Size {
    int width, height;
  };
  // 4K is converted past the cache, by the sets with kernels of their own for it.
  ASSERT_TRUE(UsePixelKernelSet(GetParam()));
  const bool pastCache = ActivePixelRowKernels().nv12PairPastCache != ActivePixelRowKernels().nv12Pair;
  for (const Size s : {Size{640, 480}, Size{1920, 1080}, Size{3840, 2160}, Size{641, 3}, Size{1283, 5}}) {
    const int w = s.width, h = s.height, stride = FrameStride(w);
    const bool large = w > 1920;
    if (large && !pastCache) continue;
    for (const Layout layout : kLayouts) {
      if (large && layout == Layout::Rgb) continue;
      SCOPED_TRACE(testing::Message() << Name(layout) << " " << w << "x" << h);
      Bytes source(static_cast<std::size_t>(BytesNeeded(layout, w, h)));
      for (std::uint8_t& byte : source) byte = static_cast<std::uint8_t>(random());
      Bytes expected(static_cast<std::size_t>(stride) * h, 0), actual(expected.size(), 0);
      Both([&](bool vector) { Convert(layout, source.data(), (vector ? actual : expected).data(), w, h); });
      ASSERT_TRUE(actual == expected);
    }
    if (large) continue;
    // Bottom-up NV12 planes with a padded pitch, and padded YUY2 and RGB rows.
    const std::ptrdiff_t pad = 37;
    Bytes planes((w + pad) * (h + (h + 1) / 2) + 2), packed((2 * w + pad) * h + 4);
    for (std::uint8_t& byte : planes) byte = static_cast<std::uint8_t>(random());
    for (std::uint8_t& byte : packed) byte = static_cast<std::uint8_t>(random());
    const std::ptrdiff_t pitch = w + pad;
    const std::uint8_t* lumaTop = planes.data() + (h - 1) * pitch;
    const std::uint8_t* chromaTop = planes.data() + h * pitch + ((h + 1) / 2 - 1) * pitch;
    Bytes expected(static_cast<std::size_t>(stride) * h, 0), actual(expected.size(), 0);
    Both([&](bool vector) {
      std::uint8_t* out = (vector ? actual : expected).data();
      ConvertNv12Pitched(lumaTop, -pitch, chromaTop, -pitch, out, w, h, stride);
    });
    EXPECT_TRUE(actual == expected) << "NV12 bottom-up " << w << "x" << h;
    Both([&](bool vector) {
      ConvertYuy2Pitched(packed.data(), 2 * w + pad, (vector ? actual : expected).data(), w, h, stride);
    });
    EXPECT_TRUE(actual == expected) << "YUY2 padded " << w << "x" << h;
    Both([&](bool vector) {
      CopyRgbRowsPitched(packed.data(), 3 * (w / 2) + 1, (vector ? actual : expected).data(), w / 2, h, stride);
    });
    EXPECT_TRUE(actual == expected) << "RGB padded " << w << "x" << h;
  }
}

}  // namespace
}  // namespace snaplark
