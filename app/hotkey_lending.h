#pragma once
// The tray's side of lending the capture key to the TWAIN data source's
// window (see res/tray_protocol.h): while lent, the tray holds no hotkey and
// registers none; it takes the key back when asked, or by itself once the
// borrowing window is gone (a scanning application that crashed).
#include <windows.h>

namespace snaplark {

struct TrayProgram;

inline constexpr UINT_PTR BorrowerWatchTimerId = 2;

// Answers TrayHotkeyLeaseMessage.
void AnswerHotkeyLease(TrayProgram& program, WPARAM lend, LPARAM borrower);
// The watch timer's tick: takes the key back if the borrower is gone.
void WatchHotkeyBorrower(TrayProgram& program);

}  // namespace snaplark
