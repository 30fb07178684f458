#include "ui/shell_call.h"

#include <objbase.h>

#include <optional>
#include <thread>

#include "handles/win_handles.h"

namespace snaplark {

// Taken by size: a mismatched header would make every shell call fail quietly.
static_assert(sizeof(SHELLEXECUTEINFOW) == (sizeof(void*) == 4 ? 60 : 112));

void WaitHandlingMessages(HANDLE object, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  std::optional<WPARAM> quit;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = milliseconds == INFINITE ? INFINITE : static_cast<DWORD>(now < end ? end - now : 0);
    // Messages already looked at but left in the queue count too.
    if (MsgWaitForMultipleObjectsEx(1, &object, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0 + 1) break;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // The loop that waits for it is further out.
  if (quit) PostQuitMessage(static_cast<int>(*quit));
}

bool ShellExecuteInApartment(SHELLEXECUTEINFOW& info, ShellExecuteCall call) {
  info.cbSize = sizeof(info);
  info.fMask |= SEE_MASK_NOASYNC;
  const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return false;
  bool succeeded = false;
  std::thread shell([&info, &succeeded, call, event = done.Get()] {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    succeeded = call(&info) != FALSE;
    if (SUCCEEDED(joined)) CoUninitialize();
    SetEvent(event);
  });
  WaitHandlingMessages(done.Get(), INFINITE);
  shell.join();
  return succeeded;
}

void OpenSupportPage(HWND owner, ShellExecuteCall call) {
  SHELLEXECUTEINFOW info{};
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner;
  info.lpVerb = L"open";
  info.lpFile = SupportPageUrl;
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteInApartment(info, call);
}

}  // namespace snaplark
