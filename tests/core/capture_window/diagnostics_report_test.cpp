// The support report, byte for byte: a support person reads it as pasted.
#include "ui/diagnostics_report.h"

#include <gtest/gtest.h>

namespace snaplark {
namespace {

TEST(DiagnosticsReport, SaysWhatTheWindowKnowsOneLineFeedEndedLineAtATime) {
  Settings settings;  // nothing chosen yet, F10
  EXPECT_EQ(DiagnosticsReport(CaptureWindowMode::Standalone, settings, {}),
            L"Snaplark diagnostics\n"
            L"Version: 1.0.0\n"
            L"Mode: Standalone\n"
            L"Selected device: (none)\n"
            L"Device index: 0\n"
            L"Camera open: No\n"
            L"Capture hotkey: F10\n"
            L"Device link: (none)\n");

  settings.DeviceName = L"USB2.0 HD UVC WebCam";
  settings.DeviceIndex = -1;
  settings.DeviceSymLink = L"\\\\?\\usb#vid_0c45&pid_6366#6&1a2b#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
  settings.Keybind = 0;
  EXPECT_EQ(DiagnosticsReport(CaptureWindowMode::Twain, settings, {true, 1280, 720}),
            L"Snaplark diagnostics\n"
            L"Version: 1.0.0\n"
            L"Mode: TWAIN\n"
            L"Selected device: USB2.0 HD UVC WebCam\n"
            L"Device index: -1\n"
            L"Camera open: Yes\n"
            L"Resolution: 1280 x 720\n"
            L"Capture hotkey: (none)\n"
            L"Device link: \\\\?\\usb#vid_0c45&pid_6366#6&1a2b#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global\n");
}

}  // namespace
}  // namespace snaplark
