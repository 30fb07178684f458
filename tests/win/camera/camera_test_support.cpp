#include "camera_test_support.h"

#include "support/media_platform_environment.h"

namespace snaplark::test {
namespace {

std::uint8_t* OutputPixel(std::vector<std::uint8_t>& frame, int width, int height, int x, int y) {
  return frame.data() + static_cast<std::size_t>(height - 1 - y) * Stride(width) + 3 * x;
}

}  // namespace

std::vector<std::uint8_t> Nv12Bytes(int width, int height, int seed) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3 / 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bytes[static_cast<std::size_t>(y) * width + x] = PatternByte(x, y, seed);
  }
  for (int r = 0; r < height / 2; ++r) {
    for (int x = 0; x < width; ++x) {
      bytes[static_cast<std::size_t>(width) * height + static_cast<std::size_t>(r) * width + x] =
          PatternByte(x * 3, r * 5, seed + 1);
    }
  }
  return bytes;
}

std::vector<std::uint8_t> Yuy2Bytes(int width, int height, int seed) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 2);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 2 * width; ++i) bytes[static_cast<std::size_t>(y) * 2 * width + i] = PatternByte(i, y, seed);
  }
  return bytes;
}

std::vector<std::uint8_t> RgbBytes(int width, int height, int seed) {
  const int stride = Stride(width);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 3 * width; ++i) bytes[static_cast<std::size_t>(y) * stride + i] = PatternByte(i, y, seed);
  }
  return bytes;
}

std::vector<std::uint8_t> ExpectedFromNv12(const std::vector<std::uint8_t>& source, int width, int height) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(Stride(width)) * height, 0);
  const std::uint8_t* chroma = source.data() + static_cast<std::size_t>(width) * height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* pair = chroma + static_cast<std::size_t>(y / 2) * width + (x & ~1);
      ReferenceYuvToBgr(source[static_cast<std::size_t>(y) * width + x], pair[0], pair[1],
                        OutputPixel(frame, width, height, x, y));
    }
  }
  return frame;
}

std::vector<std::uint8_t> ExpectedFromYuy2(const std::vector<std::uint8_t>& source, int width, int height) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(Stride(width)) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* group = source.data() + static_cast<std::size_t>(y) * 2 * width + 4 * (x / 2);
      ReferenceYuvToBgr(group[(x % 2) * 2], group[1], group[3], OutputPixel(frame, width, height, x, y));
    }
  }
  return frame;
}

std::vector<std::uint8_t> ExpectedFromRgb(const std::vector<std::uint8_t>& source, int width, int height) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(Stride(width)) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 3 * width; ++i) {
      OutputPixel(frame, width, height, 0, y)[i] = source[static_cast<std::size_t>(y) * Stride(width) + i];
    }
  }
  return frame;
}

long FirstDifference(const std::vector<std::uint8_t>& actual, const std::vector<std::uint8_t>& expected) {
  if (actual.size() != expected.size()) return static_cast<long>(std::min(actual.size(), expected.size()));
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] != expected[i]) return static_cast<long>(i);
  }
  return -1;
}

VirtualDevice ScriptedDevice(const std::wstring& link, const VirtualCameraScript& script) {
  VirtualDevice device;
  device.name = L"Scripted camera";
  device.symbolicLink = link;
  device.script = [script] { return script; };
  return device;
}

VirtualCameraScript OneTypeScript(const GUID& subtype, UINT32 width, UINT32 height, std::deque<VirtualStep> steps) {
  VirtualCameraScript script;
  script.nativeTypes = {{subtype, width, height, 30}};
  script.steps = std::move(steps);
  return script;
}

void CameraTest::SetUp() {
  ASSERT_EQ(LiveVirtualObjects(), 0) << "an earlier test left virtual objects alive";
  lockedAtStart_ = VirtualBuffersReleasedLocked();
  notShutDownAtStart_ = VirtualSourcesNotShutDown();
}

bool CameraTest::OpenOver(Camera& camera, ReaderSeam::Reader reader) {
  const std::wstring link = L"\\\\?\\virtual#scripted-reader";
  seam_.reset();
  InstallDevices({ScriptedDevice(link, OneTypeScript(MFVideoFormat_NV12, 16, 8))});
  seam_.emplace(std::move(reader));
  return camera.Open(link);
}

void CameraTest::TearDown() {
  seam_.reset();
  UseMediaFoundationDevices();
  EXPECT_TRUE(WaitUntil([] { return LiveVirtualObjects() == 0; }))
      << LiveVirtualObjects() << " virtual objects were never released";
  EXPECT_EQ(VirtualBuffersReleasedLocked(), lockedAtStart_) << "a buffer was released while locked";
  EXPECT_TRUE(WaitUntil([&] { return VirtualSourcesNotShutDown() == notShutDownAtStart_; }))
      << VirtualSourcesNotShutDown() - notShutDownAtStart_ << " media sources were never shut down";
}

}  // namespace snaplark::test
