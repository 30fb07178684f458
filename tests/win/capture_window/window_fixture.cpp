#include "window_fixture.h"

#include <mfapi.h>

#include "camera/media_platform.h"
#include "camera/virtual/live_objects.h"
#include "support/media_platform_environment.h"
#include "support/wait_for.h"

namespace snaplark::test {
namespace {

VirtualFrame GreyFrame(const GUID& subtype, UINT32 width, UINT32 height, std::uint32_t n) {
  const auto luma = static_cast<std::uint8_t>(60 + 2 * (n % 64));
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (subtype == MFVideoFormat_YUY2) {
    std::vector<std::uint8_t> bytes(pixels * 2, 128);
    for (std::size_t i = 0; i < bytes.size(); i += 2) bytes[i] = luma;
    return PackedFrame(std::move(bytes));
  }
  std::vector<std::uint8_t> bytes(pixels * 3 / 2, 128);
  std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pixels), luma);
  return PackedFrame(std::move(bytes));
}

}  // namespace

VirtualDevice GreyCamera(const std::wstring& name, const std::wstring& link, const GUID& subtype, UINT32 width,
                         UINT32 height, const DeviceProbe& probe, std::chrono::microseconds interval) {
  VirtualDevice device;
  device.name = name;
  device.symbolicLink = link;
  device.script = [=] {
    ++*probe.opens;
    VirtualCameraScript script;
    script.nativeTypes = {{subtype, width, height, 30}};
    script.frameMaker = [=](std::uint32_t n) { return GreyFrame(subtype, width, height, n); };
    script.frameInterval = interval;
    script.stats = probe.stats;
    return script;
  };
  return device;
}

VirtualDevice BusyCamera(const std::wstring& name, const std::wstring& link) {
  VirtualDevice device = GreyCamera(name, link, MFVideoFormat_NV12, 64, 48);
  device.openError = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
  return device;
}

void CaptureWindowTest::SetUp() {
  ASSERT_EQ(LiveVirtualObjects(), 0) << "an earlier test left virtual objects alive";
  RegDeleteTreeW(HKEY_CURRENT_USER, kTestSettingsKey);
  camera_.emplace();
}

void CaptureWindowTest::TearDown() {
  camera_.reset();
  UseMediaFoundationDevices();
  EXPECT_TRUE(WaitFor([] { return LiveVirtualObjects() == 0; }, std::chrono::seconds(5)))
      << LiveVirtualObjects() << " virtual objects were never released";
  RegDeleteTreeW(HKEY_CURRENT_USER, kTestSettingsKey);
}

std::unique_ptr<WindowRun> CaptureWindowTest::Open(CaptureWindowMode mode) {
  return std::make_unique<WindowRun>(mode, settings_, *camera_, store_);
}

bool CaptureWindowTest::SavedAnything() const {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kTestSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace snaplark::test
