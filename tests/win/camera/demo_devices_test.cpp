// The demo cameras: listed NV12 first, and every frame exactly the fixed test
// pattern for some frame number n, checked against the formulas, pixel by pixel.
#include "camera/media_platform.h"
#include "camera/virtual/demo_devices.h"
#include "camera_test_support.h"

namespace snaplark::test {
namespace {

// The demo frame n as the camera must deliver it, straight from the formulas.
std::vector<std::uint8_t> DemoPicture(bool nv12, int width, int height, int n) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(Stride(width)) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int p = x / 2;
      const int luma = (x + y + 3 * n) & 0xFF;
      const int u = (4 * p + n) & 0xFF;
      const int v = ((nv12 ? 4 * (y / 2) : 4 * y) + 2 * n) & 0xFF;
      ReferenceYuvToBgr(luma, u, v, frame.data() + static_cast<std::size_t>(height - 1 - y) * Stride(width) + 3 * x);
    }
  }
  return frame;
}

// The frame number whose pattern the converted frame is, or -1.
int MatchingFrameNumber(const std::vector<std::uint8_t>& pixels, bool nv12, int width, int height) {
  const std::uint8_t* topLeft = pixels.data() + static_cast<std::size_t>(height - 1) * Stride(width);
  for (int n = 0; n < 256; ++n) {
    std::uint8_t first[3];
    ReferenceYuvToBgr(3 * n & 0xFF, n & 0xFF, 2 * n & 0xFF, first);
    if (!std::equal(first, first + 3, topLeft)) continue;  // cheap test before the whole frame
    if (FirstDifference(pixels, DemoPicture(nv12, width, height, n)) == -1) return n;
  }
  return -1;
}

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
  for (const Case& c : {Case{kDemoNv12Link, true, 640, 480}, Case{kDemoYuy2Link, false, 1280, 720}}) {
    Camera camera;
    ASSERT_TRUE(camera.Open(c.link));
    EXPECT_EQ(camera.width, c.width);
    EXPECT_EQ(camera.height, c.height);
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
  ASSERT_TRUE(camera.Open(kDemoNv12Link));
  int numbers[2] = {-1, -1};
  for (int& number : numbers) {
    HGLOBAL block = camera.SnapshotDib();
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

}  // namespace
}  // namespace snaplark::test
