#pragma once
// The record of one showing of the capture window: created by
// ShowCaptureWindow, bound to the dialog at its creation, gone when the
// call returns (or, for a window without a loop of its own, kept by its
// host until the window has said it ended).
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "camera/media_platform.h"
#include "handles/win_handles.h"
#include "ui/capture_window_mode.h"
#include "ui/preview.h"

namespace snaplark {

struct Settings;
class Camera;
class SettingsStore;

struct CaptureWindowState {
  HWND hwnd = nullptr;  // null until the dialog initialises
  HWND owner = nullptr;
  HINSTANCE instance = nullptr;  // holds the dialog template and the icon
  Settings* settings = nullptr;  // shared, not owned
  Camera* camera = nullptr;      // shared, not owned
  CaptureWindowMode mode = CaptureWindowMode::Standalone;
  std::int32_t cancelled = 1;  // what ShowCaptureWindow returns
  bool picking = false;        // waiting for a new capture key
  // The latest preview frame, owned; touched only under previewLock, which
  // the capture thread takes inside the camera's callback lock.
  HBITMAP previewBitmap = nullptr;
  std::mutex previewLock;
  HWND previewControl = nullptr;
  // The preview control's client size (width << 16 | height) as last
  // painted, which the capture thread shrinks frames to.
  std::atomic<std::uint32_t> previewClientSize{0};
  // Entry i of the combo box is device i.
  std::vector<CameraDevice> devices;
  bool hotkeyRegistered = false;  // the window itself holds the capture key (TWAIN mode only)
  bool lossShown = false;         // the open camera was found gone and the window says so
  std::int32_t captureCount = 0;
  GdiObject titleFont;
  GdiObject bodyFont;
  GdiObject captionFont;
  // Used only on the capture thread, and destroyed with the state, after the
  // capture thread has stopped.
  PreviewScratch previewScratch;
  // Where Accept and Dismiss save the settings; the product's key unless a
  // test gives its own.
  const SettingsStore* store = nullptr;
  // A window without a loop of its own (OpenCaptureWindow) posts
  // `endedMessage` to `endedNotify`, with `cancelled` as wParam, once it is gone.
  HWND endedNotify = nullptr;
  UINT endedMessage = 0;
};

}  // namespace snaplark
