// Start-up run inside the test process, where its process-wide state can be
// read: the settings it loaded with no key present, the camera it made and the
// tray icon record it filled. This test program deliberately carries none of
// the program's resources, to take the two paths a damaged executable would:
// the icon falls back to the system's application icon, and the capture
// window, whose template is missing, cannot be created, so start-up goes on
// to the tray.
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <future>

#include "app/startup.h"
#include "app/tray_program.h"
#include "camera/camera.h"
#include "settings/settings.h"
#include "support/program_process.h"
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

TEST(InProcessStartupTest, FillsTheProcessStateFromDefaultsAndEndsOnExit) {
  if (!RunningUnderWine()) GTEST_SKIP() << "would rewrite this desk's Snaplark settings";
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tollendale\\Glimmerdock");
  HANDLE other = OpenMutexW(SYNCHRONIZE, FALSE, L"Glimmerdock_SingleInstance");
  if (other) CloseHandle(other);
  ASSERT_EQ(other, nullptr) << "an instance of the program is already running";
  ASSERT_NE(WaitForShellTray(), nullptr) << "the shell's tray did not come up";
  TrayProgram program(GetModuleHandleW(nullptr));
  std::future<int> run = std::async(std::launch::async, [&] { return RunTrayProgram(program); });
  ExitOnScopeEnd exitOnFailure;

  HWND tray = WaitFor([] { return TrayWindowOf(GetCurrentProcessId()); });
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(WaitFor([&] { return TrayIconExists(tray, 1); }));
  // Returns once the program's thread runs its loop: everything before is set.
  SendMessageW(tray, WM_NULL, 0, 0);

  EXPECT_EQ(program.instance, GetModuleHandleW(nullptr));
  EXPECT_EQ(program.window, tray);
  EXPECT_EQ(TrayProgram::Of(tray), &program);
  EXPECT_EQ(program.settings.DeviceSymLink, L"");
  EXPECT_EQ(program.settings.DeviceName, L"");
  EXPECT_EQ(program.settings.DeviceIndex, 0);
  EXPECT_EQ(program.settings.Keybind, 121u) << "F10";
  EXPECT_FALSE(program.camera.IsOpen());
  // The window's creation failed and its clean-up ran: nothing shows. (The
  // message above may be answered while start-up waits on the shell, so the
  // end of that attempt is waited for.)
  EXPECT_TRUE(WaitFor([&] { return !program.captureWindowShowing; }));
  EXPECT_EQ(FindWindowW(L"#32770", L"Snaplark"), nullptr);

  EXPECT_EQ(program.icon.Record().cbSize, sizeof(void*) == 4 ? 956u : 976u);
  EXPECT_EQ(program.icon.Record().hWnd, tray);
  EXPECT_EQ(program.icon.Record().uID, 1u);
  EXPECT_EQ(program.icon.Record().uFlags, 7u);
  EXPECT_EQ(program.icon.Record().uCallbackMessage, 1124u);
  EXPECT_STREQ(program.icon.Record().szTip, L"Snaplark");
  EXPECT_EQ(program.icon.Record().hIcon, LoadIconW(nullptr, IDI_APPLICATION));
  EXPECT_EQ(program.icon.Record().dwInfoFlags, 0u);
  EXPECT_EQ(program.icon.Record().szInfo[0], L'\0');

  PostMessageW(tray, WM_COMMAND, 2003, 0);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(run.get(), 0);
  EXPECT_FALSE(TrayIconExists(tray, 1));
  EXPECT_FALSE(program.camera.IsOpen());
}

}  // namespace
}  // namespace snaplark::test
