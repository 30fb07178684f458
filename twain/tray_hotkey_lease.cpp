#include "twain/tray_hotkey_lease.h"

#include "res/tray_protocol.h"

namespace snaplark {
namespace {

// A tray that hangs must not hang the scanning application with it.
constexpr UINT TrayAnswerLimitMs = 2000;

void Tell(HWND tray, BOOL lend, HWND holder) {
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(tray, TrayHotkeyLeaseMessage, lend, reinterpret_cast<LPARAM>(holder), SMTO_ABORTIFHUNG,
                      TrayAnswerLimitMs, &answer);
}

}  // namespace

TrayHotkeyLease::TrayHotkeyLease(HWND holder)
    : tray_(FindWindowExW(HWND_MESSAGE, nullptr, TrayWindowClass, nullptr)), holder_(holder) {
  if (tray_) Tell(tray_, TRUE, holder_);
}

TrayHotkeyLease::~TrayHotkeyLease() {
  if (tray_ && IsWindow(tray_)) Tell(tray_, FALSE, holder_);
}

}  // namespace snaplark
