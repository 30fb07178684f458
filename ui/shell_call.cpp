#include "ui/shell_call.h"

#include <objbase.h>

#include <thread>

namespace snaplark {

// Taken by size: a mismatched header would make every shell call fail quietly.
static_assert(sizeof(SHELLEXECUTEINFOW) == (sizeof(void*) == 4 ? 60 : 112));

bool ShellExecuteInApartment(SHELLEXECUTEINFOW& info) {
  info.cbSize = sizeof(info);
  info.fMask |= SEE_MASK_NOASYNC;
  bool succeeded = false;
  std::thread shell([&info, &succeeded] {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    succeeded = ShellExecuteExW(&info) != FALSE;
    if (SUCCEEDED(joined)) CoUninitialize();
  });
  shell.join();
  return succeeded;
}

void OpenSupportPage() {
  SHELLEXECUTEINFOW info{};
  info.lpVerb = L"open";
  info.lpFile = SupportPageUrl;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteInApartment(info);
}

}  // namespace snaplark
