// The built SnaplarkSetup.exe, run silently in the test's throwaway Wine
// prefix: what it installs and registers, that it ends a running copy through
// the program's own Exit command before replacing it, and what the
// uninstaller removes and keeps.
#include <windows.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "handles/win_handles.h"
#include "support/program_process.h"
#include "support/under_wine.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"

namespace snaplark::test {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Snaplark";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kSettingsKey[] = L"Software\\Tollendale\\Glimmerdock";
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
// The installer is of this test's own word size, and so is its Program Files.
std::wstring InstallDir() {
  return Folder(sizeof(void*) == 4 ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES) + L"\\Snaplark";
}
std::wstring Installed(const wchar_t* name) { return InstallDir() + L"\\" + name; }
std::wstring Shortcut() { return Folder(CSIDL_COMMON_PROGRAMS) + L"\\Snaplark.lnk"; }
std::wstring TwainCopy() { return Folder(CSIDL_WINDOWS) + L"\\twain_32\\Glimmerdock.ds"; }
std::wstring BuiltDataSource() { return ProgramPath().substr(0, ProgramPath().rfind(L'\\')) + L"\\Glimmerdock.ds"; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string Bytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}
bool SameFile(const std::wstring& installed, const std::wstring& built) {
  const std::string bytes = Bytes(installed);
  return !bytes.empty() && bytes == Bytes(built);
}

// This test program has the installer's word size: both see the same view of HKLM.
std::optional<std::wstring> ReadString(HKEY root, const wchar_t* key, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return std::nullopt;
  return value;
}
bool KeyExists(HKEY root, const wchar_t* key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// Runs a command line to its end: its exit code, or STILL_ACTIVE after a minute.
DWORD Run(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return GetLastError();
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return code;
}

DWORD InstallSilently() { return Run(L"\"" + WinePath(L"" SNAPLARK_SETUP_EXE) + L"\" /S"); }

// Runs the registered quiet uninstall command, with `options` before its
// closing "_?=<folder>": its exit code, once the removal is done. Only the
// uninstaller's own file, and with it the folder, go a moment later.
DWORD UninstallSilently(const std::wstring& options = L"") {
  std::wstring command = ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString").value_or(L"");
  const std::size_t inPlace = command.find(L" _?=");
  if (inPlace == std::wstring::npos) return ERROR_BAD_FORMAT;
  return Run(command.insert(inPlace, options));
}

bool InstanceRunning() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Glimmerdock_SingleInstance");
  if (mutex) CloseHandle(mutex);
  return mutex != nullptr;
}

// Ends every running copy through its Exit command, as a person would.
// Asks again while waiting: a copy that setup has just started through the
// shell may take its mutex before its tray window exists.
bool EndRunningInstances() {
  return WaitFor(
      [] {
        HWND window = nullptr;
        while ((window = FindWindowExW(HWND_MESSAGE, window, L"GlimmerdockTray", nullptr)) != nullptr) {
          PostMessageW(window, WM_COMMAND, 2003, 0);
        }
        return !InstanceRunning();
      },
      10s);
}

// The process of the installed program's tray window, other than `previous`.
DWORD WaitForInstalledInstance(DWORD previous = 0) {
  const auto installedImage = [](DWORD pid) {
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
      QueryFullProcessImageNameW(process, 0, path, &size);
      CloseHandle(process);
    }
    return lstrcmpiW(path, Installed(L"Snaplark.exe").c_str()) == 0;
  };
  return WaitFor(
      [&]() -> DWORD {
        HWND window = nullptr;
        while ((window = FindWindowExW(HWND_MESSAGE, window, L"GlimmerdockTray", nullptr)) != nullptr) {
          const DWORD pid = WindowProcessId(window);
          if (pid != previous && installedImage(pid)) return pid;
        }
        return 0;
      },
      15s);
}

class SetupProgram : public testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "installs for the whole machine: only in a throwaway Wine prefix";
    RemoveLeftovers();
    ASSERT_FALSE(InstanceRunning()) << "another Snaplark runs in this prefix";
    // The program's icon needs the shell's tray to be up.
    ASSERT_TRUE(WaitForShellTray());
  }
  void TearDown() override {
    if (!RunningUnderWine()) return;
    RemoveLeftovers();
  }
  // Whatever a test failed to do, the next one starts with no copy running
  // and none installed.
  static void RemoveLeftovers() {
    EndRunningInstances();
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) UninstallSilently();
    WaitFor([] { return !Exists(Installed(L"Uninstall.exe")); }, 10s);
  }
};

TEST_F(SetupProgram, SilentInstallPutsEverythingInPlaceAndStartsTheInstalledCopy) {
  ASSERT_EQ(InstallSilently(), 0u);

  const std::wstring program = Installed(L"Snaplark.exe");
  EXPECT_TRUE(SameFile(program, ProgramPath()));
  EXPECT_TRUE(SameFile(Installed(L"Glimmerdock.ds"), BuiltDataSource()));
  EXPECT_TRUE(SameFile(TwainCopy(), BuiltDataSource()));
  EXPECT_TRUE(Exists(Installed(L"Uninstall.exe")));
  EXPECT_TRUE(Exists(Shortcut()));

  const std::wstring uninstaller = L"\"" + Installed(L"Uninstall.exe") + L"\"";
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Snaplark"), L"\"" + program + L"\"");
  const std::pair<const wchar_t*, std::wstring> entry[] = {
      {L"DisplayName", L"Snaplark"},     {L"DisplayVersion", L"1.0.0.0"},
      {L"Publisher", L"Tollendale"},     {L"DisplayIcon", program + L",0"},
      {L"UninstallString", uninstaller}, {L"QuietUninstallString", uninstaller + L" /S _?=" + InstallDir()}};
  for (const auto& [name, expected] : entry) {
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, name), expected) << testing::PrintToString(name);
  }
  EXPECT_EQ(
      RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize", RRF_RT_REG_DWORD, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);

  EXPECT_NE(WaitForInstalledInstance(), 0u) << "the installed program did not start";
}

TEST_F(SetupProgram, InstallingOverARunningCopyEndsItThroughExitAndReplacesItsFiles) {
  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);
  ASSERT_TRUE(EndRunningInstances());

  // An older copy: other program bytes in the installed place, running, and an
  // old data source. A running program's file cannot be written, so the new
  // one can only land once the old copy has ended.
  ASSERT_TRUE(CopyFileW(WinePath(L"" SNAPLARK_DEMO_EXE).c_str(), Installed(L"Snaplark.exe").c_str(), FALSE));
  std::ofstream(TwainCopy().c_str(), std::ios::binary) << "older data source";
  ProgramProcess older;
  ASSERT_TRUE(older.Start(Installed(L"Snaplark.exe")));
  ASSERT_TRUE(older.WaitForTrayWindow());

  ASSERT_EQ(InstallSilently(), 0u);
  EXPECT_EQ(older.WaitForExit(), 0u) << "the running copy did not end by itself";
  EXPECT_TRUE(SameFile(Installed(L"Snaplark.exe"), ProgramPath()));
  EXPECT_TRUE(SameFile(TwainCopy(), BuiltDataSource()));
  EXPECT_NE(WaitForInstalledInstance(older.Id()), 0u) << "the new copy did not start";
}

TEST_F(SetupProgram, UninstallRemovesEverythingAndKeepsTheSettingsUnlessAskedTo) {
  const wchar_t device[] = L"Kept Camera";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"DeviceName", REG_SZ, device, sizeof(device)),
            ERROR_SUCCESS);
  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);

  // Done when the command returns.
  ASSERT_EQ(UninstallSilently(), 0u);
  EXPECT_FALSE(InstanceRunning()) << "the uninstaller left the program running";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  for (const std::wstring& path : {Installed(L"Snaplark.exe"), Installed(L"Glimmerdock.ds"), TwainCopy(), Shortcut()}) {
    EXPECT_FALSE(Exists(path)) << testing::PrintToString(path);
  }
  EXPECT_TRUE(WaitFor([] { return !Exists(InstallDir()); }, 10s));
  EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Snaplark"));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettingsKey, L"DeviceName"), device);

  // Setup starts the program through the shell and does not wait for it: an
  // uninstall must not race that start.
  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);
  ASSERT_EQ(UninstallSilently(L" /REMOVESETTINGS"), 0u);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

// Another account's copy (setup elevated with an administrator's password):
// its mutex refuses to open, as this one of another owner with an empty
// access list does.
TEST_F(SetupProgram, ACopyThatCannotBeOpenedCountsAsRunningUntilItEnds) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(
      ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYG:SYD:", SDDL_REVISION_1, &descriptor, nullptr));
  const std::unique_ptr<void, decltype(&LocalFree)> ownedDescriptor(descriptor, LocalFree);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  const auto startCopy = [&] {
    UniqueHandle copy(CreateMutexW(&attributes, TRUE, L"Glimmerdock_SingleInstance"));
    EXPECT_FALSE(InstanceRunning());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the stand-in can be opened";
    return copy;
  };

  UniqueHandle copy = startCopy();
  EXPECT_EQ(InstallSilently(), 2u) << "setup went on past a copy that still runs";
  EXPECT_FALSE(Exists(Installed(L"Snaplark.exe")));
  std::thread ending([&] {
    Sleep(2000);
    copy.Reset();
  });
  EXPECT_EQ(InstallSilently(), 0u) << "setup did not wait for the copy to end";
  ending.join();
  EXPECT_TRUE(SameFile(Installed(L"Snaplark.exe"), ProgramPath()));

  ASSERT_TRUE(EndRunningInstances());
  copy = startCopy();
  EXPECT_EQ(UninstallSilently(), 2u);
  EXPECT_TRUE(Exists(Installed(L"Snaplark.exe")));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "the entry went, the program stayed";
}

std::wstring PendingRenames() {
  std::wstring names(32768, L'\0');
  DWORD size = static_cast<DWORD>(names.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                   names.data(), &size) != ERROR_SUCCESS)
    return L"";
  names.resize(size / sizeof(wchar_t));
  CharLowerBuffW(names.data(), static_cast<DWORD>(names.size()));
  return names;
}

TEST_F(SetupProgram, ADataSourceHeldByAScanningApplicationGoesAtTheNextRestart) {
  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);
  // As a scanning application holds it: nobody may delete it meanwhile.
  UniqueFile held(CreateFileW(TwainCopy().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  EXPECT_EQ(UninstallSilently(), 3010u) << "done, but only after a restart";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_FALSE(Exists(Installed(L"Snaplark.exe")));
  EXPECT_TRUE(Exists(TwainCopy()));
  EXPECT_NE(PendingRenames().find(L"twain_32\\glimmerdock.ds"), std::wstring::npos);

  held.Reset();
  DeleteFileW(TwainCopy().c_str());
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
}

}  // namespace
}  // namespace snaplark::test
