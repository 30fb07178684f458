#include "app/hotkey_lending.h"

#include "app/tray_hotkey.h"
#include "app/tray_program.h"
#include "settings/settings_store.h"

namespace snaplark {
namespace {

constexpr UINT BorrowerWatchPeriodMs = 1000;

void TakeBack(TrayProgram& program) {
  if (program.key.Holder() != KeyHolder::Borrower) return;
  program.key.Release();
  KillTimer(program.window, BorrowerWatchTimerId);
  // The source's window may have saved another key (or camera); while the
  // tray's own window is open it keeps what that window shows.
  if (!program.captureWindowShowing) program.settings = SettingsStore().Load();
  RegisterTrayHotkey(program, HotkeyNotice::OnlyIfFailed);
}

}  // namespace

void AnswerHotkeyLease(TrayProgram& program, WPARAM lend, LPARAM borrower) {
  if (!lend) {
    TakeBack(program);
    return;
  }
  program.key.LendTo(reinterpret_cast<HWND>(borrower));
  SetTimer(program.window, BorrowerWatchTimerId, BorrowerWatchPeriodMs, nullptr);
}

void WatchHotkeyBorrower(TrayProgram& program) {
  HWND borrower = program.key.Borrower();
  if (borrower && !IsWindow(borrower)) TakeBack(program);
}

}  // namespace snaplark
