// The preview's frame-to-bitmap step and its paint, drawn into a memory
// bitmap whose pixels are then read back.
#include "ui/preview.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "camera/frame_layout.h"
#include "handles/win_handles.h"

namespace snaplark {
namespace {

// A 32-bit top-down DIB section as the paint target, 456 x 264 like the control.
struct Canvas {
  static constexpr int kWidth = 456, kHeight = 264;
  MemoryDc dc{CreateCompatibleDC(nullptr)};
  void* bits = nullptr;
  GdiObject bitmap{MakeBitmap(&bits)};
  SelectedObject selected{dc.Get(), bitmap.Get()};

  static HBITMAP MakeBitmap(void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  }
  // 0x00RRGGBB
  std::uint32_t At(int x, int y) const {
    GdiFlush();
    return static_cast<const std::uint32_t*>(bits)[y * kWidth + x] & 0xFFFFFF;
  }
};

// A uniform frame of one colour, bottom-up BGR rows padded to 4 bytes.
std::vector<std::uint8_t> Uniform(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(width, height)), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &frame[static_cast<std::size_t>(y) * FrameStride(width) + 3 * x];
      p[0] = b, p[1] = g, p[2] = r;
    }
  }
  return frame;
}

TEST(Preview, FrameIsStretchedIntoTheAspectFitRectangleWithBlackBars) {
  Canvas canvas;
  ASSERT_TRUE(canvas.bits);
  PreviewSlot slot;
  PreviewScratch scratch;
  const auto frame = Uniform(640, 480, 0x20, 0xC0, 0x60);
  OnPreviewFrame(slot, scratch, frame.data(), 640, 480);
  ASSERT_NE(*slot.Peek(), nullptr);
  const RECT client{0, 0, Canvas::kWidth, Canvas::kHeight};
  PaintPreview(canvas.dc.Get(), client, slot);
  // 352 wide at x 52: columns 0-51 and 404-455 stay black.
  EXPECT_EQ(canvas.At(10, 132), 0u);
  EXPECT_EQ(canvas.At(51, 10), 0u);
  EXPECT_EQ(canvas.At(404, 250), 0u);
  EXPECT_EQ(canvas.At(228, 132), 0x60C020u);
  EXPECT_EQ(canvas.At(53, 1), 0x60C020u);
  EXPECT_EQ(canvas.At(402, 262), 0x60C020u);
  // The paint put the shared bitmap back, alive.
  const HBITMAP drawn = *slot.Peek();
  PaintPreview(canvas.dc.Get(), client, slot);
  EXPECT_EQ(*slot.Peek(), drawn);
  BITMAP info{};
  EXPECT_NE(GetObjectW(*slot.Peek(), sizeof(info), &info), 0);
  slot.Store(nullptr);
  EXPECT_EQ(*slot.Peek(), nullptr);
}

TEST(Preview, WithoutABitmapTheControlIsBlackWithGreyText) {
  Canvas canvas;
  ASSERT_TRUE(canvas.bits);
  PreviewSlot none;
  const RECT client{0, 0, Canvas::kWidth, Canvas::kHeight};
  PaintPreview(canvas.dc.Get(), client, none);
  int grey = 0, other = 0;
  for (int y = 0; y < Canvas::kHeight; ++y) {
    for (int x = 0; x < Canvas::kWidth; ++x) {
      const std::uint32_t c = canvas.At(x, y);
      if (c == 0x505050u) {
        ++grey;
        // Centred: the text stays in the middle band.
        EXPECT_GT(y, 100);
        EXPECT_LT(y, 164);
      } else if (c != 0) {
        // Smoothed glyph edges blend the grey into black: darker greys only.
        const std::uint32_t b = c & 0xFF;
        if (c != b * 0x010101u || b > 0x50) ++other;
      }
    }
  }
  EXPECT_GT(grey, 20);
  EXPECT_EQ(other, 0);  // no background box behind the text, no other colour
}

// The centre pixel of a bitmap, 0x00RRGGBB.
std::uint32_t CentreOf(HBITMAP bitmap, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  const WindowDc screen(nullptr);
  if (GetDIBits(screen.Get(), bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) != height) return 0xDEAD;
  return pixels[static_cast<std::size_t>(height / 2) * width + width / 2] & 0xFFFFFF;
}

bool Alive(HBITMAP bitmap) {
  BITMAP info{};
  return GetObjectW(bitmap, sizeof(info), &info) != 0;
}

// Replaced bitmaps are refilled by later frames of the same size: every frame
// must still show its own pixels, and every bitmap made must be gone once the
// scratch and the slot have gone.
TEST(Preview, EachFrameShowsItsOwnPixelsAndNoBitmapOutlivesTheScratchAndTheSlot) {
  PreviewSlot slot;
  struct Step {
    int width, height;
    std::uint8_t b, g, r;
  };
  // The size changes midway, and back: a kept bitmap of the old size is no use.
  const Step steps[] = {{4, 2, 1, 2, 3},    {4, 2, 4, 5, 6},    {4, 2, 7, 8, 9},
                        {6, 4, 10, 11, 12}, {6, 4, 13, 14, 15}, {4, 2, 16, 17, 18}};
  std::vector<HBITMAP> seen;
  std::vector<std::uint32_t> shown;
  {
    PreviewScratch scratch;
    for (const Step& step : steps) {
      const auto frame = Uniform(step.width, step.height, step.b, step.g, step.r);
      OnPreviewFrame(slot, scratch, frame.data(), step.width, step.height);
      seen.push_back(*slot.Peek());
      shown.push_back(CentreOf(*slot.Peek(), step.width, step.height));
    }
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const Step& step = steps[i];
    EXPECT_EQ(shown[i], static_cast<std::uint32_t>(step.r << 16 | step.g << 8 | step.b)) << "frame " << i;
  }
  ASSERT_TRUE(Alive(*slot.Peek()));
  slot.Store(nullptr);
  EXPECT_EQ(*slot.Peek(), nullptr);
  for (HBITMAP bitmap : seen) EXPECT_FALSE(Alive(bitmap)) << "a bitmap outlived the scratch and the slot";
}

TEST(Preview, BitmapHoldsTheFrameExactlyWhateverTheRowPadding) {
  // Widths that leave 3, 1, 0 and 2 bytes of padding per row, and that are
  // and are not whole groups of four pixels. Every byte distinct, tails junk.
  for (const int width : {1, 5, 8, 11}) {
    SCOPED_TRACE(width);
    const int height = 3;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(width, height)), 0xEE);
    for (int y = 0; y < height; ++y) {
      for (int i = 0; i < 3 * width; ++i) {
        frame[static_cast<std::size_t>(y) * FrameStride(width) + i] = static_cast<std::uint8_t>(17 * y + 5 * i + 1);
      }
    }
    PreviewSlot slot;
    PreviewScratch scratch;
    OnPreviewFrame(slot, scratch, frame.data(), width, height);
    const HBITMAP bitmap = *slot.Peek();
    ASSERT_NE(bitmap, nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> back(frame.size(), 0);
    {
      const WindowDc screen(nullptr);
      EXPECT_EQ(GetDIBits(screen.Get(), bitmap, 0, height, back.data(), &info, DIB_RGB_COLORS), height);
    }
    for (int y = 0; y < height; ++y) {
      for (int i = 0; i < 3 * width; ++i) {
        const std::size_t at = static_cast<std::size_t>(y) * FrameStride(width) + i;
        EXPECT_EQ(back[at], frame[at]) << "row " << y << " byte " << i;
      }
    }
  }
}

// Frames keep arriving while the interface thread paints: every paint shows a
// whole frame (never black, never a deleted bitmap), and when it is over every
// bitmap ever made has been deleted exactly by whoever held it last.
TEST(Preview, FramesArrivingDuringPaintsAreShownAndNoBitmapLeaks) {
  Canvas canvas;
  ASSERT_TRUE(canvas.bits);
  PreviewSlot slot;
  const auto red = Uniform(64, 48, 0, 0, 0xFF);
  const auto blue = Uniform(64, 48, 0xFF, 0, 0);
  PreviewScratch scratch;
  OnPreviewFrame(slot, scratch, red.data(), 64, 48);
  std::vector<HBITMAP> made;
  std::atomic<bool> stop{false};
  std::thread capture([&] {
    for (int n = 0; !stop; ++n) {
      OnPreviewFrame(slot, scratch, (n % 2 ? blue : red).data(), 64, 48);
      // Unless the paint has the bitmap out.
      if (const std::optional<HBITMAP> held = slot.Peek()) made.push_back(*held);
    }
  });
  const RECT client{0, 0, Canvas::kWidth, Canvas::kHeight};
  int wrong = 0;
  for (int i = 0; i < 200; ++i) {
    PaintPreview(canvas.dc.Get(), client, slot);
    const std::uint32_t c = canvas.At(228, 132);
    if (c != 0xFF0000u && c != 0x0000FFu) ++wrong;
  }
  stop = true;
  capture.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(made.size(), 100u) << "too few frames to have met the paints";
  slot.Store(nullptr);
  scratch = PreviewScratch{};  // as the window's state goes at its end
  int alive = 0;
  BITMAP info{};
  for (HBITMAP h : made) {
    if (GetObjectW(h, sizeof(info), &info) != 0) ++alive;
  }
  EXPECT_EQ(alive, 0);
}

// A frame that could not be converted, arriving during a paint, must not be
// undone by the paint putting its older bitmap back, nor missed by the
// timer's next repaint.
TEST(Preview, AFailedFrameDuringAPaintLeavesNoPreview) {
  Canvas canvas;
  ASSERT_TRUE(canvas.bits);
  PreviewSlot slot;
  const auto frame = Uniform(64, 48, 0x10, 0x20, 0x30);
  const RECT client{0, 0, Canvas::kWidth, Canvas::kHeight};
  PreviewScratch scratch;
  for (int i = 0; i < 50; ++i) {
    OnPreviewFrame(slot, scratch, frame.data(), 64, 48);
    std::thread capture([&] { slot.Store(nullptr); });
    PaintPreview(canvas.dc.Get(), client, slot);
    capture.join();
    // Whichever came first, the slot ends empty and the next paint says so.
    ASSERT_EQ(slot.Peek(), std::optional<HBITMAP>(nullptr)) << "round " << i;
    // The timer repaints only a changed slot: a paint that drew the old
    // frame must have left the change for it.
    EXPECT_TRUE(canvas.At(228, 132) != 0x302010u || slot.ChangedSincePaint()) << "round " << i;
    PaintPreview(canvas.dc.Get(), client, slot);
    EXPECT_NE(canvas.At(228, 132), 0x302010u) << "round " << i;
  }
  slot.Store(nullptr);
}

}  // namespace
}  // namespace snaplark
