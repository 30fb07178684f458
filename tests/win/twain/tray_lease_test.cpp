// The data source beside a running tray program, which holds the capture key
// as a global hotkey: while the source's window is open the key scans there,
// and the tray gets it back when the window closes or its program vanishes.
// Both write the same settings; neither undoes what the other saved.
#include <gtest/gtest.h>

#include <thread>

#include "camera/virtual/demo_devices.h"
#include "res/resource_ids.h"
#include "res/tray_protocol.h"
#include "settings/settings_store.h"
#include "support/program_process.h"
#include "support/typed_keys.h"
#include "support/under_wine.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"
#include "twain_host.h"

namespace snaplark::test {
namespace {

using namespace twain;

bool KeyTaken(UINT key) {
  if (!RegisterHotKey(nullptr, 1, 0, key)) return true;
  UnregisterHotKey(nullptr, 1);
  return false;
}

TEST(TrayAndSource, TheTrayLendsItsKeyToTheSourceWindowWhereTheKeyScans) {
  if (!RunningUnderWine()) GTEST_SKIP() << "rewrites the program's own settings key";
  Settings settings;
  settings.DeviceSymLink = DemoNv12Link;
  SettingsStore().Save(settings);
  WaitForShellTray();
  ProgramProcess program;
  HWND tray = StartToTray(program, WinePath(L"" SNAPLARK_DEMO_EXE));
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(WaitFor([] { return KeyTaken(VK_F10); })) << "the tray should hold F10";

  TwainHost host(WinePath(L"" SNAPLARK_DEMO_SOURCE));
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  TW_USERINTERFACE ui{1, 1, nullptr};
  ASSERT_EQ(host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  std::wstring status;
  std::thread user([&] {
    HWND window = WaitFor([]() -> HWND {
      HWND found = FindWindowW(L"#32770", L"Snaplark");
      return found && IsWindowVisible(found) && WindowProcessId(found) == GetCurrentProcessId() ? found : nullptr;
    });
    if (!window) return;
    status = DialogItemText(window, IDC_STATUS);
    TypeKey(VK_F10);
    EndIfStillOpen(window);
  });
  const bool ready = host.PumpUntil(
      [&] { return std::find(host.heard.begin(), host.heard.end(), MSG_XFERREADY) != host.heard.end(); });
  user.join();
  EXPECT_TRUE(ready) << "F10 should scan, not copy to the clipboard from the tray";
  EXPECT_EQ(status, L"Select source, then click Scan or press the capture key.") << "no warning about our own tray";
  HANDLE dib = nullptr;
  EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  GlobalFree(dib);
  TW_PENDINGXFERS pending{};
  host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  TW_USERINTERFACE off{};
  EXPECT_EQ(host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off), TWRC_SUCCESS);
  EXPECT_EQ(host.Close(), TWRC_SUCCESS);
  EXPECT_TRUE(WaitFor([] { return KeyTaken(VK_F10); })) << "the tray takes its key back";

  // A borrower whose program vanished without handing the key back.
  HWND borrower = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  SendMessageW(tray, TrayHotkeyLeaseMessage, TRUE, reinterpret_cast<LPARAM>(borrower));
  EXPECT_FALSE(KeyTaken(VK_F10)) << "lent";
  DestroyWindow(borrower);
  EXPECT_TRUE(WaitFor([] { return KeyTaken(VK_F10); }, std::chrono::seconds(5))) << "taken back by itself";

  // The source saved another camera meanwhile: the tray's window shows it,
  // and closing that window keeps it.
  Settings chosenInSource;
  chosenInSource.DeviceSymLink = DemoYuy2Link;
  SettingsStore().Save(chosenInSource);
  PostMessageW(tray, WM_COMMAND, 2001, 0);
  HWND window = program.WaitForDialog();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(window, IDC_DEVICE_COMBO, CB_GETCURSEL, 0, 0), 1);
  PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(window); }));
  EXPECT_EQ(SettingsStore().Load().DeviceSymLink, DemoYuy2Link);

  PostMessageW(tray, WM_COMMAND, 2003, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

}  // namespace
}  // namespace snaplark::test
