// The built SnaplarkSetup.exe, run silently in the test's throwaway Wine
// prefix: what it installs and registers, that it ends a running copy through
// the program's own Exit command before replacing it, and what its
// uninstaller removes and keeps.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "support/under_wine.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"
#include "win/startup/program_process.h"

#ifdef SNAPLARK_SETUP_EXE

namespace snaplark::test {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Snaplark";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kSettingsKey[] = L"Software\\Tollendale\\Glimmerdock";
constexpr WPARAM kTrayExit = 2003;

std::wstring SetupPath() { return WinePath(L"" SNAPLARK_SETUP_EXE); }
std::wstring BuiltDataSource() {
  std::wstring program = ProgramPath();
  return program.substr(0, program.rfind(L'\\')) + L"\\Glimmerdock.ds";
}

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
std::wstring InstallDir() { return Folder(CSIDL_PROGRAM_FILESX86) + L"\\Snaplark"; }
std::wstring InstalledProgram() { return InstallDir() + L"\\Snaplark.exe"; }
std::wstring Shortcut() { return Folder(CSIDL_COMMON_PROGRAMS) + L"\\Snaplark.lnk"; }
std::wstring TwainCopy() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\twain_32\\Glimmerdock.ds";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Bytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}
// Whether an installed file is the built one, byte for byte.
bool SameFile(const std::wstring& installed, const std::wstring& built) {
  const std::string bytes = Bytes(installed);
  return !bytes.empty() && bytes == Bytes(built);
}

// The installer is 32-bit and writes the machine's keys in the 32-bit view.
HKEY OpenKey(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  return RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS ? key : nullptr;
}
bool KeyExists(HKEY root, const wchar_t* path) {
  HKEY key = OpenKey(root, path);
  if (key) RegCloseKey(key);
  return key != nullptr;
}
template <typename T>
std::optional<T> Read(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type) {
  HKEY key = OpenKey(root, path);
  if (!key) return std::nullopt;
  T value = {};
  DWORD size = sizeof(value);
  const LSTATUS status = RegGetValueW(key, nullptr, name, type, nullptr, &value, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}
std::optional<std::wstring> ReadString(HKEY root, const wchar_t* path, const wchar_t* name) {
  struct Text {
    wchar_t chars[1024];
  };
  const auto text = Read<Text>(root, path, name, RRF_RT_REG_SZ);
  return text ? std::optional<std::wstring>(text->chars) : std::nullopt;
}
std::optional<DWORD> ReadDword(HKEY root, const wchar_t* path, const wchar_t* name) {
  return Read<DWORD>(root, path, name, RRF_RT_REG_DWORD);
}

// Runs a command line to its end; its exit code, or STILL_ACTIVE on time-out.
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

DWORD InstallSilently() { return Run(L"\"" + SetupPath() + L"\" /S"); }

// Runs the registered quiet uninstall command. The uninstaller hands over to a
// copy of itself and returns at once, so the removal is waited for.
bool UninstallSilently(const std::wstring& extra = L"") {
  const auto command = ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString");
  if (!command || Run(*command + extra) != 0) return false;
  return WaitFor([] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey) && !Exists(InstallDir()); }, 20s);
}

std::wstring ImageOf(DWORD pid) {
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
  }
  return path;
}

// The process of the installed program's tray window, other than `previous`.
DWORD WaitForInstalledInstance(DWORD previous = 0) {
  return WaitFor([previous]() -> DWORD {
    HWND window = nullptr;
    while ((window = FindWindowExW(HWND_MESSAGE, window, L"GlimmerdockTray", nullptr)) != nullptr) {
      const DWORD pid = WindowProcessId(window);
      if (pid != previous && lstrcmpiW(ImageOf(pid).c_str(), InstalledProgram().c_str()) == 0) return pid;
    }
    return 0;
  }, 15s);
}

bool InstanceRunning() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Glimmerdock_SingleInstance");
  if (mutex) CloseHandle(mutex);
  return mutex != nullptr;
}

// Ends every running copy through its Exit command, as a person would.
bool EndRunningInstances() {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, L"GlimmerdockTray", nullptr)) != nullptr) {
    PostMessageW(window, WM_COMMAND, kTrayExit, 0);
  }
  return WaitFor([] { return !InstanceRunning(); }, 10s);
}

// After a failure, copies that Exit cannot reach (one that found another
// running shows a message box and waits) are ended by force, so that the
// next test starts clean.
void TerminateInstalledCopies() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(ImageOf(entry.th32ProcessID).c_str(), InstalledProgram().c_str()) != 0) continue;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(process, 99);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

std::wstring ShortcutTarget(const std::wstring& link) {
  wchar_t target[MAX_PATH] = {};
  IShellLinkW* shellLink = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shellLink)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(link.c_str(), STGM_READ))) shellLink->GetPath(target, MAX_PATH, nullptr, 0);
      file->Release();
    }
    shellLink->Release();
  }
  return target;
}

// How many images the file's first icon group has, or -1.
BOOL CALLBACK CountFirstGroup(HMODULE module, LPCWSTR, LPWSTR id, LONG_PTR out) {
  const auto* group = static_cast<const WORD*>(LockResource(LoadResource(module, FindResourceW(module, id, RT_GROUP_ICON))));
  *reinterpret_cast<int*>(out) = group ? group[2] : -1;  // idReserved, idType, idCount
  return FALSE;
}
int IconImageCount(const std::wstring& file) {
  int count = -1;
  if (HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    EnumResourceNamesW(module, RT_GROUP_ICON, CountFirstGroup, reinterpret_cast<LONG_PTR>(&count));
    FreeLibrary(module);
  }
  return count;
}

class SetupProgram : public testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "installs for the whole machine: only in a throwaway Wine prefix";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A run that failed half-way may have left an installation behind.
    RemoveLeftovers();
    ASSERT_FALSE(InstanceRunning()) << "another Snaplark runs in this prefix";
    // The program's icon needs the shell's tray to be up.
    ASSERT_TRUE(WaitForShellTray());
  }
  void TearDown() override {
    if (!RunningUnderWine()) return;
    RemoveLeftovers();
    CoUninitialize();
  }
  // Whatever a test failed to do, the next one and the rest of the suite get
  // a prefix with no copy running and none installed.
  static void RemoveLeftovers() {
    if (!EndRunningInstances()) TerminateInstalledCopies();
    if (KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) UninstallSilently();
  }
};

TEST_F(SetupProgram, SilentInstallPutsEverythingInPlaceAndStartsTheInstalledCopy) {
  ASSERT_EQ(InstallSilently(), 0u);

  EXPECT_TRUE(SameFile(InstalledProgram(), ProgramPath()));
  EXPECT_TRUE(SameFile(InstallDir() + L"\\Glimmerdock.ds", BuiltDataSource()));
  EXPECT_TRUE(SameFile(TwainCopy(), BuiltDataSource()));
  EXPECT_TRUE(Exists(InstallDir() + L"\\Uninstall.exe"));
  EXPECT_EQ(lstrcmpiW(ShortcutTarget(Shortcut()).c_str(), InstalledProgram().c_str()), 0)
      << "shortcut leads to " << testing::PrintToString(ShortcutTarget(Shortcut()));

  const std::wstring quoted = L"\"" + InstalledProgram() + L"\"";
  const std::wstring uninstaller = L"\"" + InstallDir() + L"\\Uninstall.exe\"";
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Snaplark"), quoted);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Snaplark");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"1.0.0.0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Tollendale");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon"), InstalledProgram() + L",0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"), uninstaller);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString"), uninstaller + L" /S");
  // Kilobytes: at least the program and its two data source copies.
  const auto kilobytes = ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
  ASSERT_TRUE(kilobytes);
  EXPECT_GE(*kilobytes * 1024 + 2048, Bytes(ProgramPath()).size() + 2 * Bytes(BuiltDataSource()).size());
  EXPECT_LT(*kilobytes, 64u * 1024);

  EXPECT_NE(WaitForInstalledInstance(), 0u) << "the installed program did not start";
}

TEST_F(SetupProgram, InstallingOverARunningCopyEndsItThroughExitAndReplacesItsFiles) {
  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);
  ASSERT_TRUE(EndRunningInstances());

  // An older copy: other program bytes in the installed place, running, and an
  // old data source. A running program's file cannot be written, so the new
  // one can only land once the old copy has ended.
  ASSERT_TRUE(CopyFileW(WinePath(L"" SNAPLARK_DEMO_EXE).c_str(), InstalledProgram().c_str(), FALSE));
  std::ofstream(TwainCopy().c_str(), std::ios::binary) << "older data source";
  ProgramProcess older;
  ASSERT_TRUE(older.Start(InstalledProgram()));
  ASSERT_TRUE(older.WaitForTrayWindow());

  ASSERT_EQ(InstallSilently(), 0u);
  EXPECT_EQ(older.WaitForExit(), 0u) << "the running copy did not end by itself";
  EXPECT_TRUE(SameFile(InstalledProgram(), ProgramPath()));
  EXPECT_TRUE(SameFile(TwainCopy(), BuiltDataSource()));
  EXPECT_NE(WaitForInstalledInstance(older.Id()), 0u) << "the new copy did not start";
}

TEST_F(SetupProgram, UninstallRemovesEverythingAndKeepsTheSettingsUnlessAskedTo) {
  HKEY settings = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &settings, nullptr),
            ERROR_SUCCESS);
  const wchar_t device[] = L"Kept Camera";
  RegSetValueExW(settings, L"DeviceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(device), sizeof(device));
  RegCloseKey(settings);

  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_NE(WaitForInstalledInstance(), 0u);
  ASSERT_TRUE(UninstallSilently());
  EXPECT_FALSE(InstanceRunning()) << "the uninstaller left the program running";
  for (const std::wstring& path : {InstallDir(), TwainCopy(), Shortcut()}) {
    EXPECT_FALSE(Exists(path)) << testing::PrintToString(path);
  }
  EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Snaplark"));
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettingsKey, L"DeviceName"), device);

  ASSERT_EQ(InstallSilently(), 0u);
  ASSERT_TRUE(UninstallSilently(L" /REMOVESETTINGS"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

// The setup file itself, as Explorer shows it: the version block and the
// product's icon group, every image of it.
TEST(SetupProgramFile, CarriesTheVersionAndTheProductIcon) {
  DWORD ignored = 0;
  const std::wstring setup = SetupPath();
  std::string block(GetFileVersionInfoSizeW(setup.c_str(), &ignored), '\0');
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoW(setup.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  wchar_t* name = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                             reinterpret_cast<void**>(&name), &length));
  EXPECT_STREQ(name, L"Snaplark");

  // The setup's icon group holds the program's images, as many of them.
  EXPECT_EQ(IconImageCount(setup), IconImageCount(ProgramPath()));
  EXPECT_GT(IconImageCount(setup), 1);
}

}  // namespace
}  // namespace snaplark::test

#else

TEST(SetupProgram, IsBuiltWithThe32BitProductOnly) { GTEST_SKIP() << "no installer in this build tree"; }

#endif
