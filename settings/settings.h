#pragma once
// The user's two persistent choices, the camera and the capture key. One
// record lives for the whole run; SettingsStore loads and saves it.
#include <cstdint>
#include <string>

namespace snaplark {

// The key F10, the capture key until the user picks another one.
inline constexpr std::uint32_t DefaultKeybind = 121;

// The one hotkey id under which the capture key is registered, always as a
// bare key: on the tray window, and in TWAIN mode on the capture window too
// (ids are per window, so the two never collide).
inline constexpr int CaptureHotkeyId = 0xBEEF;

struct Settings {
  // Symbolic link of the chosen camera: the identity it is found and opened by.
  std::wstring DeviceSymLink;
  // Where the camera stood in the device list when it was chosen; shown, never used to find it.
  std::int32_t DeviceIndex = 0;
  // Friendly name of the chosen camera; shown only.
  std::wstring DeviceName;
  // Virtual-key code of the capture key; 0 means no capture key.
  std::uint32_t Keybind = DefaultKeybind;
};

}  // namespace snaplark
