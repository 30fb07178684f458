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
  switch (message) {
    case EventShowWindow:
      if (!windowOpen_) ShowWindowAndWait();
      break;
    case EventAnnounceReady:
      if (!picture_) break;
      state_ = SourceState::TransferReady;
      Announce(MSG_XFERREADY);
      break;
    case EventAnnounceClose:
      if (!picture_) Announce(MSG_CLOSEDSREQ);
      break;
    default:
      break;
  }
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
