// Cost of the live preview under Wine: per delivered frame, the callback's
// work (frame -> screen-compatible bitmap, swapped in under the lock; after
// the first frame it refills the bitmap the previous frame replaced, as on
// the capture thread); per timer tick, the paint (black fill, halftone
// stretch of the latest bitmap) into a real window of the preview control's
// usual size, with the bitmap at the camera's size (the paint stretches it)
// and at the size it is shown (the callback shrinks it). A plain timing program
// (Google Benchmark is not built for MinGW here): median of many runs.
//
//   scripts/wine-env.sh run <prefix dir> build/<tree>/bench/preview_bench.exe
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "camera/frame_layout.h"
#include "ui/preview.h"

namespace {

double NowMicroseconds() {
  static const double ticksPerMicrosecond = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1e6;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticksPerMicrosecond;
}

template <typename Work>
double MedianMicroseconds(int runs, Work&& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double start = NowMicroseconds();
    work();
    times.push_back(NowMicroseconds() - start);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  using namespace snaplark;
  // The preview control's client area at 96 dpi (304 x 176 dialog units).
  const int clientWidth = 456, clientHeight = 264;
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, clientWidth, clientHeight, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) {
    std::printf("no window\n");
    return 1;
  }
  HDC dc = GetDC(window);
  RECT client{};
  GetClientRect(window, &client);

  // Share of one core at 30 frames and 30 ticks a second, beside the target.
  std::printf("%-10s %-16s %18s %15s %12s %8s\n", "frame", "bitmap", "callback us/frame", "paint us/tick", "core share",
              "target");
  for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(RgbBytesNeeded(width, height)));
    std::mt19937 random(1);
    for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
    const double target = width > 1000 ? 3.0 : 2.0;
    for (const bool shrunk : {false, true}) {
      PreviewSlot slot;
      PreviewScratch scratch;
      const int controlWidth = shrunk ? client.right : 0, controlHeight = shrunk ? client.bottom : 0;
      const int runs = width > 1000 ? 60 : 200;
      const double callback = MedianMicroseconds(
          runs, [&] { OnPreviewFrame(slot, scratch, frame.data(), width, height, controlWidth, controlHeight); });
      const double paint = MedianMicroseconds(runs, [&] {
        PaintPreview(dc, client, slot);
        GdiFlush();
      });
      const double share = (callback + paint) * 30 / 1e6 * 100;
      std::printf("%4dx%-5d %-16s %18.0f %15.0f %11.1f%% %7.0f%%\n", width, height,
                  shrunk ? "shown size" : "camera size", callback, paint, share, target);
      slot.Store(nullptr);
    }
  }
  ReleaseDC(window, dc);
  DestroyWindow(window);
  return 0;
}
