// The camera chooser: the list in enumeration order, the saved camera found
// by its link, a person's choice of another camera, a camera that will not
// open, and cameras that go away.
#include <mfapi.h>

#include "res/resource_ids.h"
#include "support/wait_for.h"
#include "window_fixture.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kReady[] = L"Ready. Click Capture or press the hotkey anywhere on screen.";
constexpr wchar_t kGreeting[] = L"Select webcam and press Capture (or your hotkey) to grab a frame.";

int BitmapWidth(HBITMAP bitmap) {
  BITMAP info{};
  return bitmap && GetObjectW(bitmap, sizeof(info), &info) ? info.bmWidth : 0;
}

TEST_F(CaptureWindowTest, ListFollowsEnumerationOrderAndOpensTheSavedCameraOnce) {
  DeviceProbe a, b, c, d;
  // Names repeat and are not in alphabetical order; the link decides, and of
  // two devices with the saved link the later one is chosen.
  UseVirtualDevices({GreyCamera(L"Zeta", L"link-a", MFVideoFormat_NV12, 64, 48, a),
                     GreyCamera(L"Alpha", L"link-b", MFVideoFormat_NV12, 64, 48, b),
                     GreyCamera(L"Zeta", L"link-c", MFVideoFormat_YUY2, 32, 24, c),
                     GreyCamera(L"Alpha", L"link-c", MFVideoFormat_YUY2, 32, 24, d)});
  settings_.DeviceSymLink = L"link-c";
  {
    auto window = Open(CaptureWindowMode::Standalone);
    ASSERT_NE(window->Dialog(), nullptr);
    EXPECT_EQ(window->ComboEntries(), (std::vector<std::wstring>{L"Zeta", L"Alpha", L"Zeta", L"Alpha"}));
    EXPECT_EQ(window->ComboSelection(), 3);
    EXPECT_EQ(*a.opens + *b.opens + *c.opens + *d.opens, 1) << "one opening, by link";
    EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 32 x 24");
    EXPECT_EQ(window->Text(IDC_STATUS), kGreeting) << "the greeting replaces the ready text at opening";
    EXPECT_EQ(settings_.DeviceIndex, 3);
    EXPECT_EQ(settings_.DeviceName, L"Alpha");
    window->Click(IDC_CLOSE);
    EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  }

  // The saved camera is gone: the first one is opened and named instead.
  settings_.DeviceSymLink = L"unplugged since";
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  EXPECT_EQ(window->ComboSelection(), 0);
  EXPECT_EQ(*a.opens, 1);
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 64 x 48");
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  const Settings saved = Saved();
  EXPECT_EQ(saved.DeviceSymLink, L"link-a");
  EXPECT_EQ(saved.DeviceIndex, 0);
  EXPECT_EQ(saved.DeviceName, L"Zeta");
}

TEST_F(CaptureWindowTest, ChoosingACameraOpensItAndOneThatFailsKeepsTheLastPicture) {
  DeviceProbe first, third;
  UseVirtualDevices({GreyCamera(L"Desk camera", L"link-desk", MFVideoFormat_NV12, 64, 48, first),
                     BusyCamera(L"Busy camera", L"link-busy"),
                     GreyCamera(L"Document camera", L"link-doc", MFVideoFormat_YUY2, 32, 24, third)});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);

  window->ChooseDevice(2);
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 32 x 24");
  EXPECT_EQ(window->Text(IDC_STATUS), kReady);
  EXPECT_EQ(*third.opens, 1);
  ASSERT_TRUE(WaitFor([&] { return BitmapWidth(window->PreviewBitmap()) == 32; }, std::chrono::seconds(5)));
  const int deskRequests = first.stats->requests;
  EXPECT_TRUE(first.stats->shutdowns >= 1) << "the previous camera was let go";

  window->ChooseDevice(1);
  EXPECT_EQ(window->Text(IDC_STATUS), L"Failed to open camera. Try another device or click Refresh.");
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 32 x 24") << "the old line stays";
  EXPECT_FALSE(camera_->IsOpen());
  EXPECT_EQ(settings_.DeviceSymLink, L"link-busy") << "the settings name the failed camera";
  EXPECT_EQ(settings_.DeviceIndex, 1);
  EXPECT_EQ(settings_.DeviceName, L"Busy camera");
  Sleep(100);
  EXPECT_EQ(BitmapWidth(window->PreviewBitmap()), 32) << "the last picture stays on screen";
  EXPECT_EQ(first.stats->requests, deskRequests);

  // A capture request, by button or by the capture key, only says so.
  window->Click(IDC_CAPTURE);
  EXPECT_EQ(window->Text(IDC_STATUS), L"No camera open. Select a device first.");
  SetDlgItemTextW(window->Dialog(), IDC_STATUS, L"");
  SendMessageW(window->Dialog(), WM_HOTKEY, CaptureHotkeyId, 0);
  EXPECT_EQ(window->Text(IDC_STATUS), L"No camera open. Select a device first.");

  // No selection changes nothing but the capture thread.
  window->ChooseDevice(-1);
  EXPECT_EQ(window->Text(IDC_STATUS), L"No camera open. Select a device first.");
  EXPECT_EQ(settings_.DeviceSymLink, L"link-busy");

  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  EXPECT_EQ(Saved().DeviceSymLink, L"link-busy");
}

TEST_F(CaptureWindowTest, WithoutCamerasTheListSaysSoAndRefreshFindsThemAgain) {
  UseVirtualDevices({});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  EXPECT_EQ(window->ComboEntries(), (std::vector<std::wstring>{L"(No video devices found)"}));
  EXPECT_EQ(window->ComboSelection(), 0);
  EXPECT_EQ(window->Text(IDC_STATUS), kGreeting);
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"");
  // Picking the placeholder does nothing.
  window->ChooseDevice(0);
  EXPECT_EQ(window->Text(IDC_STATUS), kGreeting);
  EXPECT_FALSE(camera_->IsOpen());

  window->Click(IDC_REFRESH);
  EXPECT_EQ(window->Text(IDC_STATUS), L"No webcams detected. Connect a camera and click Refresh.");

  // A camera plugged in: Refresh lists and opens it.
  DeviceProbe probe;
  UseVirtualDevices({GreyCamera(L"Desk camera", L"link-desk", MFVideoFormat_NV12, 64, 48, probe)});
  window->Click(IDC_REFRESH);
  EXPECT_EQ(window->ComboEntries(), (std::vector<std::wstring>{L"Desk camera"}));
  EXPECT_EQ(window->Text(IDC_STATUS), kReady);
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 64 x 48");
  ASSERT_TRUE(WaitFor([&] { return window->PreviewBitmap(); }, std::chrono::seconds(5)));

  // Unplugged again: Refresh closes the camera, keeps the resolution line
  // and the last picture.
  UseVirtualDevices({});
  window->Click(IDC_REFRESH);
  EXPECT_EQ(window->ComboEntries(), (std::vector<std::wstring>{L"(No video devices found)"}));
  EXPECT_EQ(window->Text(IDC_STATUS), L"No webcams detected. Connect a camera and click Refresh.");
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 64 x 48");
  EXPECT_FALSE(camera_->IsOpen());
  EXPECT_EQ(probe.stats->shutdowns, 1);
  EXPECT_EQ(BitmapWidth(window->PreviewBitmap()), 64);
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
}

// A camera unplugged while the window shows it: the last frame does not
// stay on screen as if live, the status line says what happened, and once
// the camera is back "Refresh" opens it again.
TEST_F(CaptureWindowTest, ADisconnectedCameraShowsNoPreviewUntilRefreshOpensItAgain) {
  VirtualDevice unplugged = GreyCamera(L"Desk camera", L"link-desk", MFVideoFormat_NV12, 64, 48);
  unplugged.script = [] {
    VirtualCameraScript script;
    script.nativeTypes = {{MFVideoFormat_NV12, 64, 48, 30}};
    for (int i = 0; i < 10; ++i) script.steps.push_back(FrameStep(PackedFrame(std::vector<std::uint8_t>(4608, 90))));
    script.steps.push_back(RemovalStep());
    script.frameInterval = std::chrono::milliseconds(20);
    return script;
  };
  UseVirtualDevices({unplugged});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  EXPECT_TRUE(
      WaitFor([&] { return window->Text(IDC_STATUS) == L"Camera disconnected. Plug it back in and click Refresh."; },
              std::chrono::seconds(5)));
  EXPECT_EQ(window->PreviewBitmap(), nullptr) << "the last frame stayed in the slot";
  // No frame comes after the loss: the timer alone must put the change on screen.
  EXPECT_TRUE(WaitFor(
      [&] {
        const Pixels shown = ClientPixels(window->Control(IDC_PREVIEW));
        return shown.width > 0 && shown.At(shown.width / 2, 4) == 0;
      },
      std::chrono::seconds(2)))
      << "the last frame stayed on screen";

  DeviceProbe probe;
  UseVirtualDevices({GreyCamera(L"Desk camera", L"link-desk", MFVideoFormat_NV12, 64, 48, probe)});
  window->Click(IDC_REFRESH);
  EXPECT_EQ(window->Text(IDC_STATUS), kReady);
  EXPECT_TRUE(WaitFor([&] { return BitmapWidth(window->PreviewBitmap()) == 64; }, std::chrono::seconds(5)));
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
}

}  // namespace
}  // namespace snaplark::test
