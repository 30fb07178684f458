#pragma once
// The capture window's own words: what it says in each mode, and the status
// line's texts for every outcome.
#include "product_identity.h"
#include "ui/capture_window_mode.h"

namespace snaplark {

struct ModeTexts {
  const wchar_t* captureButton;
  const wchar_t* closeButton;
  const wchar_t* subtitle;
  const wchar_t* greeting;   // the status line at opening
  const wchar_t* readyText;  // the status line once a camera has opened
};

inline const ModeTexts& TextsOf(CaptureWindowMode mode) {
  static constexpr ModeTexts Standalone{L"Capture", L"Close", L"Capture camera frames to clipboard and Pictures",
                                        L"Select webcam and press Capture (or your hotkey) to grab a frame.",
                                        L"Ready. Click Capture or press the hotkey anywhere on screen."};
  static constexpr ModeTexts Twain{L"Scan", L"Cancel", L"Acquire this camera feed from a TWAIN application",
                                   L"Select source, then click Scan or press the capture key.",
                                   L"Ready. Click Scan or press the capture key."};
  return mode == CaptureWindowMode::Twain ? Twain : Standalone;
}

inline constexpr wchar_t WindowTitle[] = L"" SNAPLARK_PRODUCT;
inline constexpr wchar_t NoDevicesEntry[] = L"(No video devices found)";
inline constexpr wchar_t NoWebcamsText[] = L"No webcams detected. Connect a camera and click Refresh.";
inline constexpr wchar_t OpeningCameraText[] = L"Opening camera...";
inline constexpr wchar_t OpenFailedText[] = L"Failed to open camera. Try another device or click Refresh.";
inline constexpr wchar_t NoCameraOpenText[] = L"No camera open. Select a device first.";
inline constexpr wchar_t CameraDisconnectedText[] = L"Camera disconnected. Plug it back in and click Refresh.";
inline constexpr wchar_t HotkeyTakenText[] =
    L"Warning: hotkey already taken by another application. Click Change to pick a different key.";
inline constexpr wchar_t GlobalHotkeySuffix[] = L"  (global hotkey)";

// The capture action.
inline constexpr wchar_t CapturingText[] = L"Capturing...";
inline constexpr wchar_t CaptureFailedText[] = L"Capture failed. Camera may be in use by another app.";
inline constexpr wchar_t ClipboardBusyText[] = L"Could not open clipboard.";
inline constexpr wchar_t ClipboardRefusedText[] = L"Failed to copy to clipboard.";
inline constexpr wchar_t CapturedText[] = L"Captured! Image #%d copied to clipboard and saved to Pictures.";
inline constexpr wchar_t CapturedNotSavedText[] =
    L"Captured! Image #%d copied to clipboard, but it could not be saved to Pictures.";

// The key picker.
inline constexpr wchar_t PressAnyKeyLabel[] = L"[press any key]";
inline constexpr wchar_t PressAKeyText[] = L"Press a key to use as the capture hotkey, or Escape to cancel...";
inline constexpr wchar_t HotkeyUnchangedText[] = L"Hotkey unchanged.";
inline constexpr wchar_t HotkeyUpdatedText[] = L"Hotkey updated. It works globally, even when this window is closed.";
inline constexpr wchar_t CaptureKeyUpdatedText[] = L"Capture key updated.";

// The diagnostics report.
inline constexpr wchar_t DiagnosticsClipboardBusyText[] = L"Could not open clipboard for diagnostics.";
inline constexpr wchar_t DiagnosticsNoMemoryText[] = L"Could not allocate diagnostics text.";
inline constexpr wchar_t DiagnosticsRefusedText[] = L"Could not copy diagnostics.";
inline constexpr wchar_t DiagnosticsCopiedText[] = L"Diagnostics copied. Paste them into your support ticket.";

}  // namespace snaplark
