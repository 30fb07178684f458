// The tray of the running program, from outside it: the global hotkey's
// capture (also as Linux sees the clipboard), the icon's return when the
// shell announces a new tray, and the TWAIN source installer's boxes.
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/demo_pattern.h"
#include "support/program_process.h"
#include "support/typed_keys.h"
#include "support/under_wine.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\Tollendale\\Glimmerdock";
constexpr UINT kTrayIconId = 1;
constexpr WPARAM kExitCommand = 2003;
constexpr WPARAM kInstallCommand = 2002;

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::uint8_t> ClipboardDib() {
  std::vector<std::uint8_t> bytes;
  if (!OpenClipboard(nullptr)) return bytes;
  if (HANDLE data = GetClipboardData(CF_DIB)) {
    if (const auto* begin = static_cast<const std::uint8_t*>(GlobalLock(data))) {
      bytes.assign(begin, begin + GlobalSize(data));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return bytes;
}

// Leaves a text of the test's own on the clipboard, to see whether anything replaced it.
void PutMarkerOnClipboard() {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
  std::memcpy(GlobalLock(block), L"mark", 8);
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
}

// Starts a Linux command line through the shell, as Wine starts Unix
// programs. Wine gives no usable wait or exit code for such a process, so
// callers watch for the file the command leaves when it is done.
bool StartUnixShell(const std::string& command) {
  std::wstring line = L"/bin/sh -c \"" + std::wstring(command.begin(), command.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class TrayProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "would rewrite this desk's Snaplark settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    ASSERT_NE(WaitForShellTray(), nullptr);
  }
};

TEST_F(TrayProgramTest, HotkeyPutsAFrameOfTheSavedCameraOnTheClipboardAsLinuxSeesItToo) {
  ProgramProcess program;
  HWND tray = StartToTray(program, WinePath(L"" SNAPLARK_DEMO_EXE));
  ASSERT_NE(tray, nullptr);
  PutMarkerOnClipboard();
  TypeKey(VK_F10);
  std::vector<std::uint8_t> dib;
  ASSERT_TRUE(WaitFor([&] { return !(dib = ClipboardDib()).empty(); }, std::chrono::seconds(10)));
  ASSERT_EQ(dib.size(), 921640u);
  const std::vector<std::uint8_t> rows(dib.begin() + 40, dib.end());
  const int n = MatchingFrameNumber(rows, true, 640, 480);
  EXPECT_GE(n, 0) << "the clipboard does not hold a test pattern frame";

  // X11's clipboard offers it as image/bmp; ImageMagick reads it top row first.
  const std::string rgb = "/tmp/snaplark-clipboard-" + std::to_string(GetCurrentProcessId()) + ".rgb";
  const std::wstring rgbPath = L"Z:" + std::wstring(rgb.begin(), rgb.end());
  DeleteFileW(rgbPath.c_str());
  ASSERT_TRUE(StartUnixShell("xclip -selection clipboard -t image/bmp -o | convert bmp:- -depth 8 rgb:" + rgb +
                             ".part && mv " + rgb + ".part " + rgb));
  ASSERT_TRUE(WaitFor([&] { return FileExists(rgbPath); }, std::chrono::seconds(20))) << "xclip or convert failed";
  const std::vector<std::uint8_t> seen = ReadFileBytes(rgbPath);
  DeleteFileW(rgbPath.c_str());
  ASSERT_EQ(seen.size(), 640u * 480u * 3u);
  int wrong = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const std::uint8_t* bgr = &rows[static_cast<std::size_t>(479 - y) * 1920 + 3 * x];
      const std::uint8_t* rgbPixel = &seen[(static_cast<std::size_t>(y) * 640 + x) * 3];
      if (rgbPixel[0] != bgr[2] || rgbPixel[1] != bgr[1] || rgbPixel[2] != bgr[0]) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);

  PostMessageW(tray, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(TrayProgramTest, HotkeyWithNoCameraEverChosenLeavesTheClipboardAlone) {
  ProgramProcess program;
  HWND tray = StartToTray(program, ProgramPath());  // the product: no camera under Wine
  ASSERT_NE(tray, nullptr);
  PutMarkerOnClipboard();
  TypeKey(VK_F10);
  SendMessageW(tray, WM_NULL, 0, 0);
  Sleep(300);
  EXPECT_TRUE(ClipboardDib().empty());
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_NE(GetClipboardData(CF_UNICODETEXT), nullptr) << "the clipboard was emptied";
  CloseClipboard();
  PostMessageW(tray, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(TrayProgramTest, TheIconComesBackWhenTheShellAnnouncesANewTray) {
  ProgramProcess program;
  ASSERT_TRUE(program.Start(WinePath(L"" SNAPLARK_DEMO_EXE)));
  HWND tray = program.WaitForTrayIcon(kTrayIconId);
  ASSERT_NE(tray, nullptr);
  ASSERT_NE(program.WaitForDialog(), nullptr) << "start-up did not reach the capture window";
  // The shell restarting loses every icon, as this removal does.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof(icon);
  icon.hWnd = tray;
  icon.uID = kTrayIconId;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  ASSERT_FALSE(TrayIconExists(tray, kTrayIconId));
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([&] { return TrayIconExists(tray, kTrayIconId); }, std::chrono::seconds(10)));
  PostMessageW(tray, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

// The installer, run from copies of the program in folders of the test's own
// with the data source built beside the program; the destination is the prefix's.
class InstallerTest : public TrayProgramTest {
 protected:
  void SetUp() override {
    TrayProgramTest::SetUp();
    if (IsSkipped()) return;
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    destination_ = std::wstring(windows) + L"\\twain_32\\Glimmerdock.ds";
    DeleteFileW(destination_.c_str());
  }
  void TearDown() override {
    if (!destination_.empty()) DeleteFileW(destination_.c_str());
  }

  // The demo data source, which the build puts beside the demo program.
  static std::wstring BuiltDataSource() {
    const std::wstring program = WinePath(L"" SNAPLARK_DEMO_EXE);
    return program.substr(0, program.rfind(L'\\') + 1) + L"Glimmerdock.ds";
  }

  // A copy of the demo program in `folder` (under the temp folder), with or
  // without a data source file beside it.
  std::wstring ProgramIn(const std::wstring& folder, bool withSource) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + folder;
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring exe = dir + L"\\SnaplarkDemo.exe";
    CopyFileW(WinePath(L"" SNAPLARK_DEMO_EXE).c_str(), exe.c_str(), FALSE);
    const std::wstring source = dir + L"\\Glimmerdock.ds";
    DeleteFileW(source.c_str());
    if (withSource) CopyFileW(BuiltDataSource().c_str(), source.c_str(), FALSE);
    return exe;
  }

  // Asks the tray to install, then reads and answers each box in turn.
  struct Box {
    std::wstring text;
    int buttons;
  };
  Box NextBox(ProgramProcess& program, int answer) {
    HWND box = program.WaitForDialog();
    if (!box) return {L"(no box)", 0};
    const BoxContents contents = ReadBox(box);
    PostMessageW(box, WM_COMMAND, answer, 0);
    WaitFor([&] { return !IsWindow(box); });
    return {contents.text, contents.buttons};
  }

  std::wstring destination_;
};

TEST_F(InstallerTest, AsksCopiesElevatedAndTellsTheOutcomeFromTheFileAlone) {
  ProgramProcess program;
  HWND tray = StartToTray(program, ProgramIn(L"Snaplark install", true));
  ASSERT_NE(tray, nullptr);

  PostMessageW(tray, WM_COMMAND, kInstallCommand, 0);
  Box question = NextBox(program, IDNO);
  EXPECT_EQ(question.text,
            L"Install Snaplark as a TWAIN source?\n\nThis lets scanning applications (Photoshop, document scanners, "
            L"etc.) use your webcam as a scanner input.\n\nAdministrator rights are required.");
  EXPECT_EQ(question.buttons, 2);
  Sleep(300);
  EXPECT_EQ(program.DialogCount(), 0) << "No starts nothing and says nothing";
  EXPECT_FALSE(FileExists(destination_));

  PostMessageW(tray, WM_COMMAND, kInstallCommand, 0);
  NextBox(program, IDYES);
  const Box outcome = NextBox(program, IDOK);
  EXPECT_EQ(outcome.text,
            L"TWAIN source installed successfully!\n\nRestart your scanning application and select \"Snaplark\" as "
            L"the source.");
  const std::vector<std::uint8_t> installed = ReadFileBytes(destination_);
  EXPECT_GT(installed.size(), 100000u);
  EXPECT_EQ(installed, ReadFileBytes(BuiltDataSource())) << "the real data source, byte for byte";

  // Installed: only the information box, no question.
  PostMessageW(tray, WM_COMMAND, kInstallCommand, 0);
  const Box already = NextBox(program, IDOK);
  EXPECT_EQ(already.text,
            L"Snaplark is already installed as a TWAIN source.\n\nScanning applications (Photoshop, etc.) can "
            L"already use your webcam as a scanner.");
  EXPECT_EQ(already.buttons, 1);
  PostMessageW(tray, WM_COMMAND, kExitCommand, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(InstallerTest, AMissingSourceOrAFolderTheInterpreterWouldMisreadStartsNothing) {
  struct Case {
    const wchar_t* folder;
    bool withSource;
    const wchar_t* text;
  } const cases[] = {
      {L"Snaplark bare", false,
       L"The TWAIN source is not installed.\n\nPlease run SnaplarkSetup.exe (the installer) to install it "
       L"automatically, or place Glimmerdock.ds in the same folder as this program and try again."},
      {L"Snaplark 100%WINDIR%", true,
       L"The TWAIN source cannot be installed from this folder.\n\nMove Snaplark to a folder whose path has no "
       L"percent sign and try again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder, c.folder + wcslen(c.folder)));
    ProgramProcess program;
    HWND tray = StartToTray(program, ProgramIn(c.folder, c.withSource));
    ASSERT_NE(tray, nullptr);
    PostMessageW(tray, WM_COMMAND, kInstallCommand, 0);
    const Box warning = NextBox(program, IDOK);
    EXPECT_EQ(warning.text, c.text);
    EXPECT_EQ(warning.buttons, 1);
    Sleep(300);
    EXPECT_EQ(program.DialogCount(), 0) << "nothing follows the warning";
    EXPECT_FALSE(FileExists(destination_));
    PostMessageW(tray, WM_COMMAND, kExitCommand, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
  }
}

}  // namespace
}  // namespace snaplark::test
