// The demo cameras: listed NV12 first, and every frame exactly the fixed test
// pattern for some frame number n, checked against the formulas, pixel by pixel.
#include "camera/media_platform.h"
#include "camera/virtual/demo_devices.h"
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
