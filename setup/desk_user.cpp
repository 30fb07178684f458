#include "setup/desk_user.h"

#include <exdisp.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <memory>

#include "handles/win_handles.h"
#include "product_identity.h"

namespace snaplark {
namespace {

using Microsoft::WRL::ComPtr;

struct LocalMemoryFree {
  void operator()(void* memory) const { LocalFree(memory); }
};
struct BstrFree {
  void operator()(BSTR text) const { SysFreeString(text); }
};

// The shell's own window; Wine and some shells name only the taskbar.
HWND DesktopShellWindow() {
  HWND shell = GetShellWindow();
  return shell ? shell : FindWindowW(L"Shell_TrayWnd", nullptr);
}

// The token user's SID of a process, as text; empty if it cannot be read.
std::wstring UserSidOf(HANDLE process) {
  UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.Put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  auto user = std::make_unique<BYTE[]>(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user.get(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid, &text)) return {};
  const std::unique_ptr<wchar_t, LocalMemoryFree> owned(text);
  return text;
}

// An administrator's setup may read another user's process only with the
// debug privilege, which administrators hold but do not have switched on.
void SwitchOnDebugPrivilege() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
  }
}

bool ThisProcessIsSystemOrInSessionZero() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0) return true;
  return UserSidOf(GetCurrentProcess()) == L"S-1-5-18";
}

VARIANT Empty() {
  VARIANT value;
  VariantInit(&value);
  return value;
}

VARIANT Integer(LONG number) {
  VARIANT value = Empty();
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}

// The desktop folder view's IShellDispatch2, which runs in the shell's process.
ComPtr<IShellDispatch2> DesktopShellDispatch() {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows)))) return {};
  VARIANT desktop = Integer(CSIDL_DESKTOP);
  VARIANT none = Empty();
  long window = 0;
  ComPtr<IDispatch> found;
  if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &found) != S_OK || !found)
    return {};
  ComPtr<IServiceProvider> provider;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(found.As(&provider)) || FAILED(provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser))) ||
      FAILED(browser->QueryActiveShellView(&view)) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background))) || FAILED(background.As(&folderView)) ||
      FAILED(folderView->get_Application(&application)) || FAILED(application.As(&shell)))
    return {};
  return shell;
}

}  // namespace

std::wstring DeskUserSid() {
  if (ThisProcessIsSystemOrInSessionZero()) return {};
  HWND shell = DesktopShellWindow();
  DWORD id = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &id)) return {};
  SwitchOnDebugPrivilege();
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  return process ? UserSidOf(process.Get()) : std::wstring();
}

bool StartThroughDesktopShell(const std::wstring& program) {
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  bool started = false;
  {
    const ComPtr<IShellDispatch2> shell = DesktopShellDispatch();
    const std::unique_ptr<OLECHAR, BstrFree> file(SysAllocString(program.c_str()));
    VARIANT none = Empty();
    VARIANT show = Integer(SW_SHOWNORMAL);
    started = shell && file && SUCCEEDED(shell->ShellExecute(file.get(), none, none, none, show));
  }
  if (SUCCEEDED(joined)) CoUninitialize();
  return started;
}

bool RemoveUserSettings(const std::wstring& sid) {
  const std::wstring maker = sid + L"\\" + identity::MakerKey;
  const LSTATUS removed = RegDeleteTreeW(HKEY_USERS, (sid + L"\\" + identity::SettingsKey).c_str());
  // Only when empty: other programs of the maker may keep theirs there.
  RegDeleteKeyW(HKEY_USERS, maker.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

}  // namespace snaplark
