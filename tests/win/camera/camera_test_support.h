#pragma once
// Shared pieces of the camera tests: a fixture that installs virtual devices
// and checks, after every test, that each virtual object was released and no
// buffer was left locked; picture makers; and an independent reference of the
// expected converted frame (bottom-up blue-green-red, zero row tails).
#include <windows.h>
#include <gtest/gtest.h>
#include <mfapi.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/dib_block.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_camera.h"
#include "camera/virtual/virtual_devices.h"
#include "support/demo_pattern.h"
#include "support/reader_seam.h"

namespace snaplark::test {

inline int Stride(int width) { return (3 * width + 3) & ~3; }

// A repeatable, position-dependent byte pattern.
inline std::uint8_t PatternByte(int x, int y, int seed) {
  return static_cast<std::uint8_t>(x * 7 + y * 13 + seed * 29);
}

// Packed source frames, top row first.
std::vector<std::uint8_t> Nv12Bytes(int width, int height, int seed);
std::vector<std::uint8_t> Yuy2Bytes(int width, int height, int seed);
// RGB rows `Stride(width)` apart; the row tails hold junk that must not be copied.
std::vector<std::uint8_t> RgbBytes(int width, int height, int seed);

// The frame each of those must become, computed from the conversion's
// definition (full-range BT.601, three-decimal coefficients, truncated products).
std::vector<std::uint8_t> ExpectedFromNv12(const std::vector<std::uint8_t>& source, int width, int height);
std::vector<std::uint8_t> ExpectedFromYuy2(const std::vector<std::uint8_t>& source, int width, int height);
std::vector<std::uint8_t> ExpectedFromRgb(const std::vector<std::uint8_t>& source, int width, int height);

// Index of the first differing byte, or -1 when equal (gives short failure texts).
long FirstDifference(const std::vector<std::uint8_t>& actual, const std::vector<std::uint8_t>& expected);

// A device whose every opening plays a copy of this script.
VirtualDevice ScriptedDevice(const std::wstring& link, const VirtualCameraScript& script);

// A script with one native type and these steps.
VirtualCameraScript OneTypeScript(const GUID& subtype, UINT32 width, UINT32 height, std::deque<VirtualStep> steps = {});

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// How long an action took.
template <typename Action>
std::chrono::steady_clock::duration Elapsed(Action&& action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::steady_clock::now() - start;
}

// Every test starts and ends with no virtual object alive and every media
// source it made shut down. Objects are released on the platform's threads
// too, so the end check waits a little.
class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void InstallDevices(std::vector<VirtualDevice> devices) { UseVirtualDevices(std::move(devices)); }
  // Opens `camera` over `reader` (handed out in place of the platform's) on
  // a device whose own pictures are never read.
  bool OpenOver(Camera& camera, ReaderSeam::Reader reader);

  // Installed by the test over the devices in use; gone before the end checks.
  std::optional<ReaderSeam> seam_;

 private:
  long lockedAtStart_ = 0;
  long notShutDownAtStart_ = 0;
};

}  // namespace snaplark::test
