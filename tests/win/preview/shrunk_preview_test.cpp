// The preview shrunk on the capture thread must look like the halftone
// stretch it replaces: the same rectangle, smoothed rather than sampled.
// Both are painted from the same frames and compared pixel by pixel; the
// pair is saved side by side in the build tree for people to look at.
#include <windows.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "camera/frame_layout.h"
#include "handles/win_handles.h"
#include "support/demo_pattern.h"
#include "support/wine_paths.h"
#include "ui/preview.h"
#include "ui/preview_geometry.h"

namespace snaplark {
namespace {

// A 32-bit top-down DIB section to paint into, `width` x `height`.
struct Target {
  int width, height;
  MemoryDc dc{CreateCompatibleDC(nullptr)};
  void* bits = nullptr;
  GdiObject bitmap;
  Target(int w, int h) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  }
  std::uint32_t At(int x, int y) const { return static_cast<const std::uint32_t*>(bits)[y * width + x] & 0xFFFFFF; }
};

// Paints `frame` as the preview does, shrunk first or stretched by the paint.
void Paint(Target& target, const std::vector<std::uint8_t>& frame, int width, int height, bool shrink) {
  PreviewSlot slot;
  PreviewScratch scratch;
  OnPreviewFrame(slot, scratch, frame.data(), width, height, shrink ? target.width : 0, shrink ? target.height : 0);
  {
    const SelectedObject selected(target.dc.Get(), target.bitmap.Get());
    PaintPreview(target.dc.Get(), RECT{0, 0, target.width, target.height}, slot);
  }
  GdiFlush();
  slot.Store(nullptr);
}

// Smooth shapes and gentle grain, as a photograph has: bottom-up BGR rows.
std::vector<std::uint8_t> PhotoLike(int width, int height) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(width, height)), 0);
  std::mt19937 random(3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      const double base[3] = {120 + 90 * std::sin(6.1 * u + 2.3 * v), 110 + 80 * std::cos(4.7 * v - 3.1 * u),
                              130 + 70 * std::sin(9.3 * u * v + 1.0)};
      for (int k = 0; k < 3; ++k) {
        const double value = base[k] + static_cast<int>(random() % 17) - 8;
        frame[static_cast<std::size_t>(y) * FrameStride(width) + 3 * x + k] =
            static_cast<std::uint8_t>(value < 0     ? 0
                                      : value > 255 ? 255
                                                    : value);
      }
    }
  }
  return frame;
}

void SaveSideBySide(const Target& left, const Target& right, const std::wstring& name) {
  const int width = left.width + right.width, height = left.height;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < left.width; ++x) pixels[static_cast<std::size_t>(y) * width + x] = left.At(x, y);
    for (int x = 0; x < right.width; ++x) pixels[static_cast<std::size_t>(y) * width + left.width + x] = right.At(x, y);
  }
  BITMAPINFOHEADER info{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
  const std::wstring path = test::WinePath(L"" SNAPLARK_SHOT_DIR) + L"\\" + name;
  if (FILE* out = _wfopen(path.c_str(), L"wb")) {
    std::fwrite(&file, sizeof(file), 1, out);
    std::fwrite(&info, sizeof(info), 1, out);
    std::fwrite(pixels.data(), 4, pixels.size(), out);
    std::fclose(out);
  }
}

TEST(ShrunkPreview, LooksLikeTheHalftoneStretchInTheSameRectangle) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> frame;
    int width, height;
    int controlWidth, controlHeight;
  } const cases[] = {
      {"pattern_640", test::DemoPicture(true, 640, 480, 0), 640, 480, 456, 264},
      {"photo_640", PhotoLike(640, 480), 640, 480, 456, 264},
      {"photo_1080p", PhotoLike(1920, 1080), 1920, 1080, 456, 264},
      {"photo_1080p_150dpi", PhotoLike(1920, 1080), 1920, 1080, 684, 396},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Target stretched(c.controlWidth, c.controlHeight), shrunk(c.controlWidth, c.controlHeight);
    ASSERT_TRUE(stretched.bits && shrunk.bits);
    Paint(stretched, c.frame, c.width, c.height, false);
    Paint(shrunk, c.frame, c.width, c.height, true);
    const PreviewRect shown = FitPreview(c.width, c.height, c.controlWidth, c.controlHeight);
    double difference[3] = {0, 0, 0};
    int barsWrong = 0;
    for (int y = 0; y < c.controlHeight; ++y) {
      for (int x = 0; x < c.controlWidth; ++x) {
        const bool inside = x >= shown.x && x < shown.x + shown.width && y >= shown.y && y < shown.y + shown.height;
        if (!inside) {
          if (shrunk.At(x, y) != 0) ++barsWrong;
          continue;
        }
        for (int k = 0; k < 3; ++k) {
          difference[k] += std::abs(static_cast<int>(shrunk.At(x, y) >> (8 * k) & 0xFF) -
                                    static_cast<int>(stretched.At(x, y) >> (8 * k) & 0xFF));
        }
      }
    }
    EXPECT_EQ(barsWrong, 0) << "the bars are black and the picture stays in its rectangle";
    const double pixels = static_cast<double>(shown.width) * shown.height;
    for (int k = 0; k < 3; ++k) {
      const double mean = difference[k] / pixels;
      RecordProperty(std::string(c.name) + " mean difference " + "bgr"[k], std::to_string(mean));
      std::printf("%s: mean absolute difference, channel %c: %.2f\n", c.name, "BGR"[k], mean);
      // Measured 1.4 to 4.1 (the pattern's sharp edges) and about 2.7 (the
      // grain, which the box average smooths more); a shifted, flipped or
      // channel-swapped picture differs by tens.
      EXPECT_LT(mean, 6.0) << "channel " << k;
    }
    SaveSideBySide(
        stretched, shrunk,
        std::wstring(L"preview_stretched_vs_shrunk_") + std::wstring(c.name, c.name + std::strlen(c.name)) + L".bmp");
  }
}

}  // namespace
}  // namespace snaplark
