#pragma once
// One showing of the real capture window on a thread of its own, as the
// program's interface thread would run it, driven from the test's thread
// with ordinary Win32 calls.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "support/typed_keys.h"
#include "ui/capture_window.h"
#include "ui/capture_window_state.h"

namespace snaplark::test {

class WindowRun {
 public:
  WindowRun(CaptureWindowMode mode, Settings& settings, Camera& camera, const SettingsStore& store);
  // Closes a window the test left open, so that a failed test cannot hang.
  ~WindowRun();
  WindowRun(const WindowRun&) = delete;
  WindowRun& operator=(const WindowRun&) = delete;

  // Null when the window did not come up.
  HWND Dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  // The window's own record (private to the window's code), read through
  // its dialog user data.
  CaptureWindowState& State() const;

  std::wstring Text(int id) const;
  std::vector<std::wstring> ComboEntries() const;
  int ComboSelection() const;
  // Selects an entry as a person's click does: the selection, then the
  // notification that CB_SETCURSEL alone does not raise.
  void ChooseDevice(int index) const;
  void Click(int id) const;
  // Brings the window to the front, so that typed keys reach it.
  bool Activate() const;

  // The window's outcome once it has ended, or nothing if it has not in time.
  std::optional<CaptureOutcome> Result(std::chrono::milliseconds limit = std::chrono::seconds(15));
  bool Ended() const;

  // The preview bitmap the window holds now (under its lock), or null.
  HBITMAP PreviewBitmap() const;

 private:
  std::future<CaptureOutcome> run_;
  std::atomic<DWORD> threadId_{0};
  HWND dialog_ = nullptr;
};

// The pixels of a window's client area (0x00RRGGBB, top row first).
struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> data;
  std::uint32_t At(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF; }
};
Pixels ClientPixels(HWND window);

// Saves what the screen shows of a window (frame included) as a 24-bit BMP.
bool SaveWindowShot(HWND window, const std::wstring& path);

}  // namespace snaplark::test
