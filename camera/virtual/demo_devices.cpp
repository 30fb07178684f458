#include "camera/virtual/demo_devices.h"

#include <mfapi.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "camera/virtual/virtual_camera.h"
#include "camera/virtual/virtual_devices.h"

namespace snaplark {
namespace {

constexpr std::chrono::microseconds kThirtyFramesPerSecond{33'333};

VirtualFrame Nv12Pattern(std::uint32_t n, int width, int height) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 3 / 2);
  std::uint8_t* luma = bytes.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) luma[y * width + x] = static_cast<std::uint8_t>(x + y + 3 * n);
  }
  std::uint8_t* chroma = luma + static_cast<std::size_t>(width) * height;
  for (int r = 0; r < height / 2; ++r) {
    for (int p = 0; p < width / 2; ++p) {
      chroma[r * width + 2 * p] = static_cast<std::uint8_t>(4 * p + n);
      chroma[r * width + 2 * p + 1] = static_cast<std::uint8_t>(4 * r + 2 * n);
    }
  }
  // Webcams hand over 2-D buffers; this one's rows are 64 bytes longer than
  // the picture, as a driver's aligned allocation makes them.
  return PitchedFrame(bytes, static_cast<DWORD>(width), width + 64);
}

VirtualFrame Yuy2Pattern(std::uint32_t n, int width, int height) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 2);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bytes.data() + static_cast<std::size_t>(y) * width * 2;
    for (int p = 0; p < width / 2; ++p) {
      row[4 * p] = static_cast<std::uint8_t>(2 * p + y + 3 * n);
      row[4 * p + 1] = static_cast<std::uint8_t>(4 * p + n);
      row[4 * p + 2] = static_cast<std::uint8_t>(2 * p + 1 + y + 3 * n);
      row[4 * p + 3] = static_cast<std::uint8_t>(4 * y + 2 * n);
    }
  }
  return PitchedFrame(bytes, static_cast<DWORD>(2 * width), 2 * width);
}

VirtualCameraScript PatternScript(const GUID& subtype, int width, int height,
                                  VirtualFrame (*pattern)(std::uint32_t, int, int)) {
  VirtualCameraScript script;
  script.nativeTypes = {{subtype, static_cast<UINT32>(width), static_cast<UINT32>(height), 30}};
  script.frameMaker = [=](std::uint32_t n) { return pattern(n, width, height); };
  script.frameInterval = kThirtyFramesPerSecond;
  return script;
}

}  // namespace

VirtualCameraScript DemoNv12Script() { return PatternScript(MFVideoFormat_NV12, 640, 480, Nv12Pattern); }
VirtualCameraScript DemoYuy2Script() { return PatternScript(MFVideoFormat_YUY2, 1280, 720, Yuy2Pattern); }

void UseDemoDevices(std::shared_ptr<VirtualCameraStats> sharedStats) {
  const auto playing = [sharedStats](VirtualCameraScript (*script)()) {
    return [sharedStats, script] {
      VirtualCameraScript played = script();
      if (sharedStats) played.stats = sharedStats;
      return played;
    };
  };
  std::vector<VirtualDevice> devices(2);
  devices[0].name = kDemoNv12Name;
  devices[0].symbolicLink = kDemoNv12Link;
  devices[0].script = playing(DemoNv12Script);
  devices[1].name = kDemoYuy2Name;
  devices[1].symbolicLink = kDemoYuy2Link;
  devices[1].script = playing(DemoYuy2Script);
  UseVirtualDevices(std::move(devices));
}

}  // namespace snaplark
