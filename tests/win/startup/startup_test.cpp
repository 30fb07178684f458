// The tray program as a whole process: its start with no saved settings, the
// capture window it shows at start and on a click of its icon, the refusal
// of a second instance, and the ways its message loop ends.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_process.h"
#include "support/under_wine.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\Tollendale\\Glimmerdock";
constexpr wchar_t kMutexName[] = L"Glimmerdock_SingleInstance";
constexpr UINT kTrayIconId = 1;
constexpr WPARAM kExitCommand = 2003;
constexpr UINT kTrayCallbackMessage = WM_USER + 100;

bool ProductKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool MutexExists() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
  if (!mutex) return false;
  CloseHandle(mutex);
  return true;
}

std::vector<std::wstring> ComboEntries(HWND dialog) {
  std::vector<std::wstring> entries;
  const LRESULT count = SendDlgItemMessageW(dialog, 1001, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    SendDlgItemMessageW(dialog, 1001, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

std::wstring SavedDeviceLink() {
  wchar_t link[256] = {};
  DWORD bytes = sizeof(link);
  RegGetValueW(HKEY_CURRENT_USER, kProductKey, L"DeviceSymLink", RRF_RT_REG_SZ, nullptr, link, &bytes);
  return link;
}

// Each test starts as a user who never ran the program. Only a throwaway
// Wine prefix lets the product key be removed without harm.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "would rewrite this desk's Snaplark settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    ASSERT_FALSE(ProductKeyExists());
    ASSERT_FALSE(MutexExists()) << "an instance of the program is already running";
    ASSERT_NE(WaitForShellTray(), nullptr) << "the shell's tray did not come up";
  }
};

TEST_F(StartupTest, ComesUpInTheTrayAndWritesNoSettings) {
  ProgramProcess program;
  ASSERT_TRUE(program.Start());
  HWND tray = program.WaitForTrayIcon(kTrayIconId);
  ASSERT_NE(tray, nullptr) << "no message-only GlimmerdockTray window with an icon; window " << program.TrayWindow()
                           << ", exit code " << program.WaitForExit(0);

  EXPECT_EQ(WindowText(tray), L"Snaplark");
  // Message-only: its parent is the message root, not the desktop.
  EXPECT_NE(GetAncestor(tray, GA_PARENT), GetDesktopWindow());
  EXPECT_FALSE(IsWindowVisible(tray));
  EXPECT_TRUE(MutexExists());
  // Loading the settings must not create the key; only a save does.
  EXPECT_FALSE(ProductKeyExists());

  // The capture window shows at every start; the product finds no camera here.
  HWND window = program.WaitForDialog();
  ASSERT_NE(window, nullptr) << "no capture window at start";
  EXPECT_EQ(DialogItemText(window, 1005), L"Capture");
  EXPECT_EQ(ComboEntries(window), (std::vector<std::wstring>{L"(No video devices found)"}));

  // "Exit" while the window shows ends the program without saving anything.
  ASSERT_TRUE(PostMessageW(tray, WM_COMMAND, kExitCommand, 0));
  EXPECT_EQ(program.WaitForExit(), 0u);
  EXPECT_FALSE(ProductKeyExists());
}

TEST_F(StartupTest, SecondStartShowsTheNoticeAndLeavesTheFirstRunning) {
  ProgramProcess first;
  ASSERT_TRUE(first.Start());
  HWND tray = first.WaitForTrayIcon(kTrayIconId);
  ASSERT_NE(tray, nullptr);

  ProgramProcess second;
  ASSERT_TRUE(second.Start());
  HWND box = second.WaitForDialog();
  ASSERT_NE(box, nullptr) << "the second instance showed no message box";
  EXPECT_EQ(WindowText(box), L"Snaplark");
  const BoxContents contents = ReadBox(box);
  EXPECT_EQ(contents.text,
            L"Snaplark is already running.\n"
            L"Look for its icon in the system tray (bottom-right of the taskbar).");
  EXPECT_EQ(contents.buttons, 1) << "an OK button alone";
  EXPECT_TRUE(contents.icon) << "the information icon";
  // While its box shows, the second instance has set up nothing of its own.
  EXPECT_EQ(second.TrayWindow(), nullptr);

  ASSERT_TRUE(PostMessageW(box, WM_COMMAND, IDOK, 0));
  EXPECT_EQ(second.WaitForExit(), 0u);

  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(IsWindow(tray));
  EXPECT_TRUE(TrayIconExists(tray, kTrayIconId));
  EXPECT_TRUE(MutexExists()) << "the first instance must keep its mutex";
  EXPECT_FALSE(ProductKeyExists());

  ASSERT_TRUE(PostMessageW(tray, WM_COMMAND, kExitCommand, 0));
  EXPECT_EQ(first.WaitForExit(), 0u);
}

TEST_F(StartupTest, ShowsTheLiveCaptureWindowAtStartAndAgainOnAClickOfItsIcon) {
  ProgramProcess program;
  ASSERT_TRUE(program.Start(WinePath(L"" SNAPLARK_DEMO_EXE)));
  HWND window = program.WaitForDialog();
  ASSERT_NE(window, nullptr) << "no capture window at start";
  HWND tray = program.WaitForTrayIcon(kTrayIconId);
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(ComboEntries(window),
            (std::vector<std::wstring>{L"Snaplark Test Pattern (NV12)", L"Snaplark Test Pattern (YUY2)"}));
  EXPECT_EQ(DialogItemText(window, 1008), L"Resolution: 640 x 480");
  EXPECT_EQ(DialogItemText(window, 1004), L"F10  (global hotkey)");

  // A click on the icon while the window shows opens no second one.
  ASSERT_TRUE(PostMessageW(tray, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP));
  EXPECT_FALSE(WaitFor([&] { return program.DialogCount() > 1; }, std::chrono::milliseconds(700)))
      << "a second capture window opened";

  ASSERT_TRUE(PostMessageW(window, WM_COMMAND, 1006, 0));
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }));
  EXPECT_TRUE(program.Running()) << "closing the window leaves the program in the tray";
  EXPECT_EQ(SavedDeviceLink(), L"\\\\?\\snaplark-virtual#nv12") << "closing saves the camera chosen";

  // The icon's click brings it back, as does a double click's first half.
  ASSERT_TRUE(PostMessageW(tray, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP));
  HWND again = program.WaitForDialog();
  ASSERT_NE(again, nullptr) << "a click on the icon did not open the window";
  EXPECT_EQ(DialogItemText(again, 1008), L"Resolution: 640 x 480");

  ASSERT_TRUE(PostMessageW(tray, WM_COMMAND, kExitCommand, 0));
  EXPECT_EQ(program.WaitForExit(), 0u);
}

// "Exit" from the tray menu and the window's destruction end the program the
// same way: the icon leaves the tray, the loop ends and the process returns 0.
class EndOfLoopTest : public StartupTest, public ::testing::WithParamInterface<std::pair<UINT, WPARAM>> {};

TEST_P(EndOfLoopTest, RemovesTheIconAndExitsWithZero) {
  const auto [message, wParam] = GetParam();
  ProgramProcess program;
  ASSERT_TRUE(program.Start());
  HWND tray = program.WaitForTrayIcon(kTrayIconId);
  ASSERT_NE(tray, nullptr);

  // A command the tray does not know leaves everything as it is.
  ASSERT_TRUE(PostMessageW(tray, WM_COMMAND, 2999, 0));
  EXPECT_EQ(program.WaitForExit(300), STILL_ACTIVE);
  EXPECT_TRUE(TrayIconExists(tray, kTrayIconId));

  ASSERT_TRUE(PostMessageW(tray, message, wParam, 0));
  EXPECT_EQ(program.WaitForExit(), 0u);
  // The shell keeps the icons of a process that merely died, so a vanished
  // icon shows that the program removed it itself.
  EXPECT_FALSE(TrayIconExists(tray, kTrayIconId));
  EXPECT_FALSE(MutexExists());
}

INSTANTIATE_TEST_SUITE_P(ExitCommandAndDestroy, EndOfLoopTest,
                         ::testing::Values(std::pair<UINT, WPARAM>{WM_COMMAND, kExitCommand},
                                           std::pair<UINT, WPARAM>{WM_DESTROY, 0}));

}  // namespace
}  // namespace snaplark::test
