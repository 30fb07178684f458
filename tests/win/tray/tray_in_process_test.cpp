// The tray program run inside the test: every record it hands to the shell
// is caught on its way (the notices' exact texts, which the screen of a
// second notice would hide; the first icon is refused, as by a taskbar busy
// at sign-in), keys are typed through the input queue, and the menu is read
// where it is built. The tests follow one run of the program, in order, from
// start to "Exit".
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/taskbar_listener.h"
#include "app/tray_menu.h"
#include "app/tray_program.h"
#include "app/tray_texts.h"
#include "app/twain_installer.h"
#include "camera/camera.h"
#include "camera/virtual/demo_devices.h"
#include "res/tray_protocol.h"
#include "settings/settings.h"
#include "support/desk_windows.h"
#include "support/typed_keys.h"
#include "support/under_wine.h"
#include "support/wait_for.h"

namespace snaplark::test {
namespace {

std::unique_ptr<TrayProgram> program;

std::mutex recordsLock;
std::vector<std::pair<DWORD, NOTIFYICONDATAW>> records;
int addsToRefuse = 1;

BOOL WINAPI RecordAndNotify(DWORD message, PNOTIFYICONDATAW data) {
  {
    const std::lock_guard<std::mutex> hold(recordsLock);
    records.emplace_back(message, *data);
    if (message == NIM_ADD && addsToRefuse > 0) {
      --addsToRefuse;
      return FALSE;
    }
  }
  return Shell_NotifyIconW(message, data);
}

std::size_t RecordCount() {
  const std::lock_guard<std::mutex> hold(recordsLock);
  return records.size();
}

// The texts of the notices handed over since record `from`.
std::vector<std::wstring> NoticesSince(std::size_t from) {
  const std::lock_guard<std::mutex> hold(recordsLock);
  std::vector<std::wstring> texts;
  for (std::size_t i = from; i < records.size(); ++i) {
    if (records[i].first == NIM_MODIFY && (records[i].second.uFlags & NIF_INFO))
      texts.emplace_back(records[i].second.szInfo);
  }
  return texts;
}

// A visible top-level window of the program's thread.
HWND VisibleWindowOfClass(const wchar_t* className) {
  return VisibleWindowOfThread(GetWindowThreadProcessId(program->window, nullptr), className);
}

HWND WaitForCaptureWindow() {
  return WaitFor([] { return VisibleWindowOfClass(L"#32770"); }, std::chrono::seconds(15));
}

// Runs `work` on the program's own thread, where its state lives, through a
// hook that sees a message sent to the tray window.
std::function<void()> pendingWork;
LRESULT CALLBACK RunPendingWork(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && pendingWork) std::exchange(pendingWork, nullptr)();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
void OnProgramThread(std::function<void()> work) {
  pendingWork = std::move(work);
  HHOOK hook =
      SetWindowsHookExW(WH_CALLWNDPROC, RunPendingWork, nullptr, GetWindowThreadProcessId(program->window, nullptr));
  SendMessageW(program->window, WM_NULL, 0, 0);
  UnhookWindowsHookEx(hook);
}

// Closes the window and returns the notices of its closing.
std::vector<std::wstring> CloseCaptureWindow(HWND window) {
  const std::size_t before = RecordCount();
  PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  WaitFor([] { return !program->captureWindowShowing && !VisibleWindowOfClass(L"#32770"); }, std::chrono::seconds(15));
  SendMessageW(program->window, WM_NULL, 0, 0);
  return NoticesSince(before);
}

// A capture key press, and the notices it caused within a moment.
std::vector<std::wstring> NoticesAfterKey(WORD key) {
  const std::size_t before = RecordCount();
  TypeKey(key);
  WaitFor([&] { return !NoticesSince(before).empty(); }, std::chrono::milliseconds(1500));
  return NoticesSince(before);
}

void PickKeyInWindow(HWND window, WORD key) {
  SendMessageW(GetDlgItem(window, 1003), BM_CLICK, 0, 0);
  TypeKey(key);
  WaitFor([&] { return DialogItemText(window, 1004) != L"[press any key]"; }, std::chrono::seconds(5));
}

std::future<int> run;

class TrayInProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!RunningUnderWine()) return;
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tollendale\\Glimmerdock");
    program = std::make_unique<TrayProgram>(GetModuleHandleW(nullptr), RecordAndNotify);
    UseDemoDevices();
    GetDesktopWindow();
    WaitFor([] { return FindWindowW(L"Shell_TrayWnd", nullptr); });
    run = std::async(std::launch::async, [] { return RunTrayProgram(*program); });
    WaitFor([] { return program->window; });
  }
  static void TearDownTestSuite() {
    if (!run.valid()) return;
    if (run.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      if (HWND window = VisibleWindowOfClass(L"#32770")) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
      PostMessageW(program->window, WM_COMMAND, 2003, 0);
    }
    run.wait_for(std::chrono::seconds(30));
  }
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "would rewrite this desk's Snaplark settings";
    ASSERT_NE(program->window, nullptr) << "the program did not start";
  }
};

TEST_F(TrayInProcess, StartAddsTheIconAndEachClosingOfTheWindowSaysTwoThings) {
  HWND window = WaitForCaptureWindow();
  ASSERT_NE(window, nullptr);
  // The refused icon is asked for again until the taskbar takes it.
  EXPECT_TRUE(WaitFor([] { return TrayIconExists(program->window, 1); }, std::chrono::seconds(12)));
  {
    const std::lock_guard<std::mutex> hold(recordsLock);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].first, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(records[0].second.uFlags, 7u);
    const auto notice = std::find_if(records.begin(), records.end(),
                                     [](const auto& record) { return record.second.uFlags & NIF_INFO; });
    ASSERT_NE(notice, records.end());
    EXPECT_EQ(notice->first, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(notice->second.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(notice->second.uFlags, 0x17u);
    EXPECT_EQ(notice->second.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(notice->second.uTimeout, 3000u);
    EXPECT_STREQ(notice->second.szInfoTitle, L"Snaplark");
    EXPECT_STREQ(notice->second.szInfo, L"Hotkey registered: F10  (press it anywhere to capture)");
    EXPECT_EQ(program->icon.Record().uFlags, 7u) << "the stored record stays without the balloon";
  }
  EXPECT_EQ(CloseCaptureWindow(window),
            (std::vector<std::wstring>{L"Hotkey registered: F10  (press it anywhere to capture)",
                                       L"Still running in the tray. Press F10 anywhere to capture."}));
  EXPECT_FALSE(program->camera.IsOpen()) << "the camera is let go in the tray";
}

TEST_F(TrayInProcess, TheHotkeyCapturesTheSavedCameraOrSaysThereIsNone) {
  EXPECT_EQ(NoticesAfterKey(VK_F10), std::vector<std::wstring>{L"Captured to clipboard."});
  EXPECT_TRUE(program->camera.IsOpen()) << "kept open for the next press";

  std::wstring saved;
  OnProgramThread([&] {
    program->camera.Close();
    saved = std::exchange(program->settings.DeviceSymLink, L"");
  });
  EXPECT_EQ(NoticesAfterKey(VK_F10),
            std::vector<std::wstring>{L"No camera open. Open the app and select a device first."});
  EXPECT_FALSE(program->camera.IsOpen());
  OnProgramThread([&] { program->settings.DeviceSymLink = saved; });
}

TEST_F(TrayInProcess, AKeyPickedInTheWindowTakesOverOnlyWhenTheWindowCloses) {
  PostMessageW(program->window, WM_COMMAND, 2001, 0);
  HWND window = WaitForCaptureWindow();
  ASSERT_NE(window, nullptr);
  PickKeyInWindow(window, VK_F9);
  ASSERT_EQ(DialogItemText(window, 1004), L"F9  (global hotkey)");
  EXPECT_TRUE(NoticesAfterKey(VK_F9).empty()) << "the new key works before the window closes";
  EXPECT_EQ(NoticesAfterKey(VK_F10), std::vector<std::wstring>{L"Captured to clipboard."});

  EXPECT_EQ(CloseCaptureWindow(window),
            (std::vector<std::wstring>{L"Hotkey registered: F9  (press it anywhere to capture)",
                                       L"Still running in the tray. Press F9 anywhere to capture."}));
  EXPECT_TRUE(NoticesAfterKey(VK_F10).empty()) << "the old key still works";
  EXPECT_EQ(NoticesAfterKey(VK_F9), std::vector<std::wstring>{L"Captured to clipboard."});
}

TEST_F(TrayInProcess, AKeyTakenElsewhereOrNoKeyAtAllIsReported) {
  PostMessageW(program->window, WM_COMMAND, 2001, 0);
  HWND window = WaitForCaptureWindow();
  ASSERT_NE(window, nullptr);
  PickKeyInWindow(window, VK_F8);
  ASSERT_TRUE(RegisterHotKey(nullptr, 7, 0, VK_F8)) << "F8 should be free while the tray holds F9";
  EXPECT_EQ(CloseCaptureWindow(window),
            (std::vector<std::wstring>{L"Could not register hotkey (error 1409). Another app may be using that key. "
                                       L"Open the app and pick a different one.",
                                       L"Still running in the tray. Press F8 anywhere to capture."}));
  UnregisterHotKey(nullptr, 7);

  PostMessageW(program->window, WM_COMMAND, 2001, 0);
  window = WaitForCaptureWindow();
  ASSERT_NE(window, nullptr);
  OnProgramThread([] { program->settings.Keybind = 0; });
  EXPECT_EQ(CloseCaptureWindow(window),
            (std::vector<std::wstring>{L"No capture hotkey set. Open the app and click Change to set one.",
                                       L"Still running in the tray. Open the app to set a capture hotkey."}));
}

TEST_F(TrayInProcess, TheMenuListsSixEntriesAndGreysTheInstalledDataSource) {
  const std::wstring destination = TwainPaths(nullptr).destination;
  CreateDirectoryW(TwainPaths(nullptr).folder.c_str(), nullptr);
  for (const bool installed : {false, true}) {
    SCOPED_TRACE(installed);
    if (installed) CloseHandle(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    HMENU menu = BuildTrayMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 6);
    const UINT ids[] = {2001, 0, 2002, 2004, 0, 2003};
    const wchar_t* texts[] = {L"Open Snaplark",
                              L"",
                              installed ? L"TWAIN source: installed" : L"Install TWAIN source (admin)...",
                              L"Submit Support Ticket...",
                              L"",
                              L"Exit"};
    for (int i = 0; i < 6; ++i) {
      wchar_t text[64] = {};
      MENUITEMINFOW item{};
      item.cbSize = sizeof(item);
      item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
      item.dwTypeData = text;
      item.cch = 64;
      ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &item));
      EXPECT_EQ(item.wID, ids[i]) << i;
      EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, ids[i] == 0) << i;
      EXPECT_STREQ(text, texts[i]) << i;
      if (ids[i] != 0) {
        EXPECT_EQ((item.fState & MFS_GRAYED) != 0, installed && ids[i] == 2002) << i;
      }
      EXPECT_FALSE(item.fState & (MFS_DEFAULT | MFS_CHECKED)) << i;
    }
    DestroyMenu(menu);
  }
  DeleteFileW(destination.c_str());
}

// What showing the menu asks of the system, with the window each call names.
std::vector<std::wstring> menuCalls;
UINT menuAnswer = 0;
std::wstring NameOf(HWND window) {
  return window == program->window ? L"tray" : window == program->MenuOwner() ? L"owner" : L"other";
}
BOOL WINAPI RecordForeground(HWND window) {
  menuCalls.push_back(L"foreground " + NameOf(window));
  return TRUE;
}
BOOL WINAPI RecordTrack(HMENU, UINT, int, int, int, HWND window, const RECT*) {
  menuCalls.push_back(L"track " + NameOf(window));
  return static_cast<BOOL>(menuAnswer);
}
BOOL WINAPI RecordPost(HWND window, UINT message, WPARAM wParam, LPARAM) {
  menuCalls.push_back(L"post " + NameOf(window) + L" " + std::to_wstring(message) + L" " + std::to_wstring(wParam));
  return TRUE;
}

TEST_F(TrayInProcess, TheMenuIsOwnedByAWindowThatCanComeToTheFront) {
  HWND owner = program->MenuOwner();
  ASSERT_NE(owner, program->window);
  EXPECT_EQ(GetAncestor(owner, GA_PARENT), GetDesktopWindow()) << "a message-only window cannot be in front";
  for (const UINT answer : {0u, 2004u}) {
    menuCalls.clear();
    menuAnswer = answer;
    ShowTrayMenu(program->window, program->MenuOwner(), {RecordForeground, RecordTrack, RecordPost});
    std::vector<std::wstring> expected = {L"foreground owner", L"track owner", L"post owner 0 0"};
    if (answer) expected.push_back(L"post tray 273 2004");
    EXPECT_EQ(menuCalls, expected);
  }
}

std::vector<std::pair<HWND, UINT>> letThrough;
BOOL WINAPI RecordFilter(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
  if (action == MSGFLT_ALLOW) letThrough.emplace_back(window, message);
  return TRUE;
}

// An elevated tray hears the unelevated shell and TWAIN source.
TEST_F(TrayInProcess, TheShellsAndTheDataSourcesMessagesPassThePrivilegeFilter) {
  HWND listener = program->MenuOwner();
  LetUnelevatedSendersThrough(program->window, listener, RecordFilter);
  EXPECT_EQ(letThrough, (std::vector<std::pair<HWND, UINT>>{{listener, RegisterWindowMessageW(L"TaskbarCreated")},
                                                            {program->window, TrayHotkeyLeaseMessage}}));
}

// The text of the box the installer shows for `paths`, answered with OK.
std::wstring InstallerBox(const TwainSourcePaths& paths) {
  std::atomic<DWORD> thread{0};
  auto install = std::async(std::launch::async, [&] {
    thread = GetCurrentThreadId();
    InstallTwainSource(nullptr, paths);
  });
  HWND box =
      WaitFor([&]() -> HWND { return thread ? VisibleWindowOfThread(thread) : nullptr; }, std::chrono::seconds(5));
  const std::wstring text = box ? ReadBox(box).text : L"no box";
  if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
  install.wait_for(std::chrono::seconds(5));
  return text;
}

TEST_F(TrayInProcess, EachInstallerPathIsCheckedOnItsOwn) {
  const TwainSourcePaths real = TwainPaths(nullptr);
  CreateDirectoryW(real.folder.c_str(), nullptr);
  TwainSourcePaths deep = real;
  deep.source = L"C:\\" + std::wstring(300, L'd') + L"\\Glimmerdock.ds";
  deep.sourceFits = false;
  TwainSourcePaths missing = real;
  missing.source = real.folder + L"\\absent\\Glimmerdock.ds";
  for (const bool installed : {true, false}) {
    SCOPED_TRACE(installed);
    if (installed)
      CloseHandle(CreateFileW(real.destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(InstallerBox(deep), installed ? AlreadyInstalledBox : LongFolderBox);
    EXPECT_EQ(InstallerBox(missing), installed ? AlreadyInstalledBox : SourceMissingBox);
    DeleteFileW(real.destination.c_str());
  }
}

// Last: the real menu, opened by a right click on the icon and answered with
// keys, ends the program.
TEST_F(TrayInProcess, ExitChosenFromTheMenuRemovesTheIconAndEndsTheProgram) {
  PostMessageW(program->window, 1124, 1, WM_RBUTTONUP);
  ASSERT_TRUE(WaitFor([] { return FindWindowW(L"#32768", nullptr); }, std::chrono::seconds(5))) << "no popup menu";
  TypeKey(VK_UP);  // from no selection, Up selects the last item
  TypeKey(VK_RETURN);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(15)), std::future_status::ready);
  EXPECT_EQ(run.get(), 0);
  const std::lock_guard<std::mutex> hold(recordsLock);
  EXPECT_EQ(records.back().first, static_cast<DWORD>(NIM_DELETE));
}

}  // namespace
}  // namespace snaplark::test
