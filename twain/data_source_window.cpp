// The session's work that runs from the application's message loop: the
// capture window, and the news the application hears afterwards.
#include "twain/data_source.h"
#include "twain/event_window.h"
#include "twain/tray_hotkey_lease.h"
#include "ui/capture_window.h"

namespace snaplark {

using namespace twain;

void DataSource::OnEventWindowMessage(UINT message, WPARAM enabling) {
  if (state_ != SourceState::Enabled || enabling != enablings_) return;  // disabled before the message came
  ++running_;
  RunEventWindowMessage(message);
  --running_;
}

void DataSource::RunEventWindowMessage(UINT message) {
  switch (message) {
    case EventShowWindow:
      if (!windowOpen_) ShowWindowAndWait();
      break;
    case EventAcquire:
      AcquireWithoutWindow();
      break;
    case EventAnnounceClose:
      if (!picture_) Announce(MSG_CLOSEDSREQ);
      break;
    default:
      break;
  }
}

void DataSource::AcquireWithoutWindow() {
  const bool taken = OpenSavedCamera(store_.Load()) && WarmUp() && TakePicture();
  camera_.Close();
  if (state_ != SourceState::Enabled) return;
  if (taken) {
    state_ = SourceState::TransferReady;
    Announce(MSG_XFERREADY);
    return;
  }
  condition_ = TWCC_BUMMER;
  Announce(MSG_CLOSEDSREQ);
}

void DataSource::ShowWindowAndWait() {
  windowOpen_ = true;
  // Read afresh: the tray program may have saved another camera or key
  // since the last acquisition.
  Settings settings = store_.Load();
  int result = 1;
  {
    const TrayHotkeyLease lease(eventWindow_);
    result = ShowCaptureWindow(parent_, module_, &settings, &camera_, CaptureWindowMode::Twain, store_);
  }
  windowOpen_ = false;
  const bool scanned = result == 0 && state_ == SourceState::Enabled && TakePicture();
  // The device is not held between acquisitions.
  camera_.Close();
  if (state_ != SourceState::Enabled) return;
  if (scanned) {
    state_ = SourceState::TransferReady;
    Announce(MSG_XFERREADY);
    return;
  }
  if (result == 0) condition_ = TWCC_BUMMER;  // Scan was pressed, but no picture came
  Announce(MSG_CLOSEDSREQ);
}

}  // namespace snaplark
