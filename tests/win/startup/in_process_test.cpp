// Start-up run inside the test process, where its process-wide state can be
// read: the settings it loaded with no key present, the camera it made and the
// tray icon record it filled. This test program deliberately carries none of
// the program's resources, to take the two paths a damaged executable would:
// the icon falls back to the system's application icon, and the capture
// window, whose template is missing, cannot be created, so start-up goes on
// to the tray.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <future>

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/startup.h"
#include "camera/camera.h"
#include "program_process.h"
#include "settings/settings.h"
#include "support/under_wine.h"

namespace snaplark::test {
namespace {

// Ends the program's loop when a failed assertion leaves the test early, so
// that the wait for the program's thread does not hang.
struct ExitOnScopeEnd {
  ~ExitOnScopeEnd() {
    if (HWND tray = TrayWindowOf(GetCurrentProcessId())) PostMessageW(tray, WM_COMMAND, 2003, 0);
  }
};

// The objects live until the process ends, so start-up can run only once here.
TEST(InProcessStartupTest, FillsTheProcessStateFromDefaultsAndEndsOnExit) {
  if (!RunningUnderWine()) GTEST_SKIP() << "would rewrite this desk's Snaplark settings";
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tollendale\\Glimmerdock");
  HANDLE other = OpenMutexW(SYNCHRONIZE, FALSE, L"Glimmerdock_SingleInstance");
  if (other) CloseHandle(other);
  ASSERT_EQ(other, nullptr) << "an instance of the program is already running";
  ASSERT_NE(WaitForShellTray(), nullptr) << "the shell's tray did not come up";
  std::future<int> run = std::async(std::launch::async, RunTrayProgram, GetModuleHandleW(nullptr));
  ExitOnScopeEnd exitOnFailure;

  HWND tray = WaitFor([] { return TrayWindowOf(GetCurrentProcessId()); });
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(WaitFor([&] { return TrayIconExists(tray, 1); }));
  // Returns once the program's thread runs its loop: everything before is set.
  SendMessageW(tray, WM_NULL, 0, 0);

  EXPECT_EQ(AppInstance, GetModuleHandleW(nullptr));
  EXPECT_EQ(TrayWindow, tray);
  ASSERT_NE(AppSettings, nullptr);
  EXPECT_EQ(AppSettings->DeviceSymLink, L"");
  EXPECT_EQ(AppSettings->DeviceName, L"");
  EXPECT_EQ(AppSettings->DeviceIndex, 0);
  EXPECT_EQ(AppSettings->Keybind, 121u) << "F10";
  ASSERT_NE(AppCamera, nullptr);
  EXPECT_FALSE(AppCamera->IsOpen());
  // The window's creation failed and its clean-up ran: nothing shows. (The
  // message above may be answered while start-up waits on the shell, so the
  // end of that attempt is waited for.)
  EXPECT_TRUE(WaitFor([] { return !CaptureWindowShowing; }));
  EXPECT_EQ(FindWindowW(L"#32770", L"Snaplark"), nullptr);

  EXPECT_EQ(TrayIconData.cbSize, sizeof(void*) == 4 ? 956u : 976u);
  EXPECT_EQ(TrayIconData.hWnd, tray);
  EXPECT_EQ(TrayIconData.uID, 1u);
  EXPECT_EQ(TrayIconData.uFlags, 7u);
  EXPECT_EQ(TrayIconData.uCallbackMessage, 1124u);
  EXPECT_STREQ(TrayIconData.szTip, L"Snaplark");
  EXPECT_EQ(TrayIconData.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
  EXPECT_EQ(TrayIconData.dwInfoFlags, 0u);
  EXPECT_EQ(TrayIconData.szInfo[0], L'\0');

  PostMessageW(tray, WM_COMMAND, 2003, 0);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(run.get(), 0);
  EXPECT_FALSE(TrayIconExists(tray, 1));
  EXPECT_FALSE(AppCamera->IsOpen());
}

}  // namespace
}  // namespace snaplark::test
