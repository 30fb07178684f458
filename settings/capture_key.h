#pragma once
// The capture key's registration as a hotkey, and who holds it. Every
// registration of the key goes through one of these, so that it is never
// held twice by mistake nor left behind: the tray's is the program's global
// hotkey, a capture window inside a TWAIN acquisition holds its own, and the
// tray lends its key to a data source's window while that shows.
#include <windows.h>

namespace snaplark {

enum class KeyHolder { Nobody, Tray, Window, Borrower };

class CaptureKey {
 public:
  CaptureKey() = default;
  ~CaptureKey() { Release(); }
  CaptureKey(const CaptureKey&) = delete;
  CaptureKey& operator=(const CaptureKey&) = delete;

  // Registers `key` as a bare key on `window` for `holder`, after letting go
  // of any earlier registration. False when the system refuses (its error is
  // then in GetLastError); nobody holds the key then.
  bool Hold(KeyHolder holder, HWND window, UINT key);
  // Lets go of the registration; nobody holds the key.
  void Release();
  // Lets go for the window of another program, which registers the key itself.
  void LendTo(HWND borrower);

  KeyHolder Holder() const { return holder_; }
  HWND Borrower() const { return holder_ == KeyHolder::Borrower ? window_ : nullptr; }

 private:
  KeyHolder holder_ = KeyHolder::Nobody;
  HWND window_ = nullptr;  // where the key is registered, or its borrower
};

}  // namespace snaplark
