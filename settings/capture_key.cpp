#include "settings/capture_key.h"

#include "settings/settings.h"

namespace snaplark {

bool CaptureKey::Hold(KeyHolder holder, HWND window, UINT key) {
  Release();
  if (!RegisterHotKey(window, CaptureHotkeyId, 0, key)) return false;
  holder_ = holder;
  window_ = window;
  return true;
}

void CaptureKey::Release() {
  // A borrower's registration is its own to end.
  if (holder_ == KeyHolder::Tray || holder_ == KeyHolder::Window) UnregisterHotKey(window_, CaptureHotkeyId);
  holder_ = KeyHolder::Nobody;
  window_ = nullptr;
}

void CaptureKey::LendTo(HWND borrower) {
  Release();
  holder_ = KeyHolder::Borrower;
  window_ = borrower;
}

}  // namespace snaplark
