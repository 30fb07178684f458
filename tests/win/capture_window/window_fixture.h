#pragma once
// What every capture window test starts from: Media Foundation running,
// virtual cameras of the test's choosing, settings kept under a key of the
// tests' own, and a camera that the fixture lets go before it checks that
// every virtual object was released.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/virtual/virtual_devices.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "window_run.h"

namespace snaplark::test {

// Never the product's key: these tests may run on a desk with real settings.
inline constexpr wchar_t kTestSettingsKey[] = L"Software\\Tollendale\\SnaplarkTests\\CaptureWindow";

// What a test can learn of one virtual device from outside the window.
struct DeviceProbe {
  std::shared_ptr<VirtualCameraStats> stats = std::make_shared<VirtualCameraStats>();
  std::shared_ptr<std::atomic<int>> opens = std::make_shared<std::atomic<int>>(0);
};

// A camera of grey frames whose brightness moves with the frame number, so
// that a live preview changes; NV12 or YUY2, paced at `interval`.
VirtualDevice GreyCamera(const std::wstring& name, const std::wstring& link, const GUID& subtype, UINT32 width,
                         UINT32 height, const DeviceProbe& probe = {},
                         std::chrono::microseconds interval = std::chrono::milliseconds(20));

// A camera that is listed but cannot be opened, as one in use elsewhere.
VirtualDevice BusyCamera(const std::wstring& name, const std::wstring& link);

class CaptureWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Shows the window over the settings and camera of the fixture.
  std::unique_ptr<WindowRun> Open(CaptureWindowMode mode);
  // What the window saved, read back from the tests' key.
  Settings Saved() const { return store_.Load(); }
  bool SavedAnything() const;

  Settings settings_;
  std::optional<Camera> camera_;

 private:
  SettingsStore store_{HKEY_CURRENT_USER, kTestSettingsKey};
};

}  // namespace snaplark::test
