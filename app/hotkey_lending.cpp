#include "app/hotkey_lending.h"

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/tray_notices.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace snaplark {
namespace {

constexpr UINT BorrowerWatchPeriodMs = 1000;
HWND Borrower = nullptr;

void TakeBack() {
  if (!Borrower) return;
  Borrower = nullptr;
  KillTimer(TrayWindow, BorrowerWatchTimerId);
  // The source's window may have saved another key (or camera); while the
  // tray's own window is open it keeps what that window shows.
  if (!CaptureWindowShowing && AppSettings) *AppSettings = SettingsStore().Load();
  RegisterTrayHotkey(HotkeyNotice::OnlyIfFailed);
}

}  // namespace

bool TrayHotkeyLent() { return Borrower != nullptr; }

void AnswerHotkeyLease(WPARAM lend, LPARAM borrower) {
  if (!lend) {
    TakeBack();
    return;
  }
  Borrower = reinterpret_cast<HWND>(borrower);
  UnregisterHotKey(TrayWindow, CaptureHotkeyId);
  SetTimer(TrayWindow, BorrowerWatchTimerId, BorrowerWatchPeriodMs, nullptr);
}

void WatchHotkeyBorrower() {
  if (Borrower && !IsWindow(Borrower)) TakeBack();
}

}  // namespace snaplark
