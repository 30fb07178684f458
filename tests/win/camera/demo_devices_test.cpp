// The demo cameras: listed NV12 first, and every frame exactly the fixed test
// pattern for some frame number n, checked against the formulas, pixel by pixel.
#include "camera/virtual/demo_devices.h"

#include <wrl/client.h>

#include "camera/media_platform.h"
#include "camera_test_support.h"
#include "support/demo_pattern.h"

namespace snaplark::test {
namespace {

class DemoDevices : public CameraTest {};

TEST_F(DemoDevices, AreListedNv12First) {
  UseDemoDevices();
  const auto devices = EnumerateCameras();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, L"Snaplark Test Pattern (NV12)");
  EXPECT_EQ(devices[0].symbolicLink, L"\\\\?\\snaplark-virtual#nv12");
  EXPECT_EQ(devices[1].name, L"Snaplark Test Pattern (YUY2)");
  EXPECT_EQ(devices[1].symbolicLink, L"\\\\?\\snaplark-virtual#yuy2");
}

TEST_F(DemoDevices, DeliverTheirPatternsExactly) {
  UseDemoDevices();
  struct Case {
    const wchar_t* link;
    bool nv12;
    int width;
    int height;
  };
  for (const Case& c : {Case{DemoNv12Link, true, 640, 480}, Case{DemoYuy2Link, false, 1280, 720}}) {
    Camera camera;
    ASSERT_TRUE(camera.Open(c.link));
    EXPECT_EQ(camera.Width(), c.width);
    EXPECT_EQ(camera.Height(), c.height);
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int stride = 0;
    ASSERT_TRUE(camera.ReadFrame(pixels, width, height, stride));
    EXPECT_EQ(MatchingFrameNumber(pixels, c.nv12, c.width, c.height), 0) << "the first frame after the start";
    ASSERT_TRUE(camera.ReadFrame(pixels, width, height, stride));
    EXPECT_EQ(MatchingFrameNumber(pixels, c.nv12, c.width, c.height), 1);
  }
}

TEST_F(DemoDevices, TwoSnapshotsInARowHoldDifferentFrames) {
  UseDemoDevices();
  Camera camera;
  ASSERT_TRUE(camera.Open(DemoNv12Link));
  int numbers[2] = {-1, -1};
  for (int& number : numbers) {
    HGLOBAL block = SnapshotDib(camera).Release();
    ASSERT_NE(block, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    const std::vector<std::uint8_t> pixels(bytes + 40, bytes + GlobalSize(block));
    GlobalUnlock(block);
    GlobalFree(block);
    number = MatchingFrameNumber(pixels, true, 640, 480);
    ASSERT_NE(number, -1);
  }
  EXPECT_EQ(numbers[1], (numbers[0] + 1) % 256);
}

// The pictures' definition, byte by byte (see demo_devices.h).
std::uint8_t DemoByte(bool nv12, int height, int n, int column, int row) {
  if (nv12 && row >= height) {
    const int r = row - height;
    return static_cast<std::uint8_t>(column % 2 == 0 ? 4 * (column / 2) + n : 4 * r + 2 * n);
  }
  if (nv12) return static_cast<std::uint8_t>(column + row + 3 * n);
  const int p = column / 4;
  switch (column % 4) {
    case 0:
      return static_cast<std::uint8_t>(2 * p + row + 3 * n);
    case 1:
      return static_cast<std::uint8_t>(4 * p + n);
    case 2:
      return static_cast<std::uint8_t>(2 * p + 1 + row + 3 * n);
    default:
      return static_cast<std::uint8_t>(4 * row + 2 * n);
  }
}

// A stream's frames are written into a few recycled blocks, as a driver's
// pool hands them out, and every frame number (the tables wrap at 64, 128 and
// 256) still gives exactly the documented bytes, whichever frame a block held
// before: the NV12 pattern leaves the luma where an earlier frame put it.
TEST_F(DemoDevices, FramesComeFromAFewRecycledBlocksWithTheirExactBytes) {
  for (const bool nv12 : {true, false}) {
    const VirtualCameraScript script = nv12 ? DemoNv12Script() : DemoYuy2Script();
    const int width = nv12 ? 640 : 1280, height = nv12 ? 480 : 720;
    std::vector<Microsoft::WRL::ComPtr<IMFSample>> held;  // three out at a time, as a reader queues them
    Microsoft::WRL::ComPtr<IMFSample> keptLong;           // frame 5, whose block frame 61 gets back
    for (int n = 0; n < 300; ++n) {
      Microsoft::WRL::ComPtr<IMFSample> sample;
      ASSERT_EQ(CreateVirtualSample(FrameStep(script.frameMaker(n)), 0, 0, &sample), S_OK);
      if (held.size() == 3) held.erase(held.begin());
      held.push_back(sample);
      if (n == 5) keptLong = sample;
      if (n == 60) keptLong.Reset();
      if (n % 64 > 2 && n % 85 != 0 && n != 61 && n < 296) continue;
      Microsoft::WRL::ComPtr<IMFMediaBuffer> buffer;
      Microsoft::WRL::ComPtr<IMF2DBuffer> plane;
      ASSERT_EQ(sample->GetBufferByIndex(0, &buffer), S_OK);
      ASSERT_EQ(buffer.As(&plane), S_OK);
      BYTE* top = nullptr;
      LONG pitch = 0;
      ASSERT_EQ(plane->Lock2D(&top, &pitch), S_OK);
      long wrong = 0;
      const int rows = nv12 ? height * 3 / 2 : height, rowBytes = nv12 ? width : 2 * width;
      for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < rowBytes; ++column) {
          wrong += top[row * pitch + column] != DemoByte(nv12, height, n, column, row);
        }
      }
      plane->Unlock2D();
      EXPECT_EQ(wrong, 0) << (nv12 ? "NV12" : "YUY2") << " frame " << n;
    }
    EXPECT_EQ(script.framePool->BlocksAllocated(), 5) << "three held, one kept long and the one being written";
  }
}

}  // namespace
}  // namespace snaplark::test
