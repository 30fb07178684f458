#include "app/twain_installer.h"

#include <shlwapi.h>

#include <cwchar>

#include "app/app_state.h"
#include "app/tray_texts.h"
#include "handles/win_handles.h"
#include "product_identity.h"
#include "ui/shell_call.h"

namespace snaplark {
namespace {

constexpr auto& DataSourceName = identity::DataSourceFile;
constexpr DWORD CopyWaitMilliseconds = 10000;

bool Exists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

// The interpreter expands %NAME% even inside quotes, and a quote ends the
// argument: such a path would make the elevated copy act on another file.
bool SafeForCommandLine(const std::wstring& path) { return path.find_first_of(L"%\"") == std::wstring::npos; }

std::wstring WindowsTwainFolder(bool& fit) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  fit = fit && length > 0 && length < MAX_PATH;
  return std::wstring(windows) + L"\\twain_32";
}

std::wstring SourceBeside(HMODULE module, bool& fit) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  fit = fit && length > 0 && length < MAX_PATH;
  std::wstring source = path;
  return source.substr(0, source.find_last_of(L'\\') + 1) + DataSourceName;
}

int Box(HWND owner, const wchar_t* text, UINT flags) { return MessageBoxW(owner, text, ProgramTitle, flags); }

// Starts the elevated copy and waits for it for a while; false when it could
// not be started (the user declined the administrator prompt, say).
bool RunElevatedCopy(const TwainSourcePaths& paths, HWND promptOwner) {
  wchar_t parameters[1040];
  std::swprintf(parameters, 1040, L"/c mkdir \"%ls\" 2>nul & copy /Y \"%ls\" \"%ls\"", paths.folder.c_str(),
                paths.source.c_str(), paths.destination.c_str());
  SHELLEXECUTEINFOW info{};
  // A declined prompt or a failed start is not reported, by us or the shell.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = promptOwner;
  info.lpVerb = L"runas";
  info.lpFile = L"cmd.exe";
  info.lpParameters = parameters;
  info.nShow = SW_HIDE;
  if (!ShellExecuteInApartment(info) || !info.hProcess) return false;
  const UniqueHandle process(info.hProcess);
  WaitHandlingMessages(process.Get(), CopyWaitMilliseconds);
  return true;
}

// Marks a window while an installation it started runs: the tray keeps
// working during the prompt, and a second request must not ask again.
class InstallingMark {
 public:
  explicit InstallingMark(HWND window) : window_(window) {
    taken_ = window_ && !GetPropW(window_, Name) && SetPropW(window_, Name, reinterpret_cast<HANDLE>(1));
  }
  ~InstallingMark() {
    if (taken_) RemovePropW(window_, Name);
  }
  InstallingMark(const InstallingMark&) = delete;
  InstallingMark& operator=(const InstallingMark&) = delete;
  // False when another installation holds the window.
  bool Free() const { return taken_ || !window_; }

 private:
  static constexpr auto& Name = identity::InstallingSourceProperty;
  HWND window_;
  bool taken_ = false;
};

}  // namespace

TwainSourcePaths TwainPaths(HMODULE module) {
  TwainSourcePaths paths;
  paths.folder = WindowsTwainFolder(paths.destinationFits);
  paths.destination = paths.folder + L"\\" + DataSourceName;
  paths.source = SourceBeside(module, paths.sourceFits);
  paths.destinationFits = paths.destinationFits && paths.destination.size() < MAX_PATH;
  paths.sourceFits = paths.sourceFits && paths.source.size() < MAX_PATH;
  return paths;
}

bool TwainSourceInstalled() { return Exists(TwainPaths(nullptr).destination); }

void InstallTwainSource(HWND owner, HMODULE module, HWND promptOwner) {
  InstallTwainSource(owner, TwainPaths(module), promptOwner);
}

void InstallTwainSource(HWND owner, const TwainSourcePaths& paths, HWND promptOwner) {
  if (owner) promptOwner = owner;
  const InstallingMark mark(promptOwner);
  if (!mark.Free()) return;
  // Each path counts on its own: a program folder too deep to name does not
  // hide a data source that is in place already.
  if (paths.destinationFits && Exists(paths.destination)) {
    Box(owner, AlreadyInstalledBox, MB_ICONINFORMATION);
    return;
  }
  if (!paths.destinationFits || !paths.sourceFits) {
    Box(owner, LongFolderBox, MB_ICONWARNING);
    return;
  }
  if (!Exists(paths.source)) {
    Box(owner, SourceMissingBox, MB_ICONWARNING);
    return;
  }
  if (!SafeForCommandLine(paths.folder) || !SafeForCommandLine(paths.source)) {
    Box(owner, UnsafeFolderBox, MB_ICONWARNING);
    return;
  }
  if (Box(owner, InstallQuestionBox, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  if (!RunElevatedCopy(paths, promptOwner)) return;
  // Only the file itself tells: the interpreter's exit code is not read.
  if (Exists(paths.destination)) {
    Box(owner, InstalledBox, MB_ICONINFORMATION);
  } else {
    Box(owner, InstallFailedBox, MB_ICONWARNING);
  }
}

}  // namespace snaplark
