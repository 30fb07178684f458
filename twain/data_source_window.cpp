// The session's work that runs from the application's message loop: the
// capture window, and the news the application hears afterwards.
#include "twain/data_source.h"
#include "twain/event_window.h"
#include "twain/tray_hotkey_lease.h"
#include "ui/capture_window.h"

namespace snaplark {

using namespace twain;

void DataSource::OnEventWindowMessage(UINT message, WPARAM wParam) {
  if (message == EventWindowEnded) {
    ++running_;
    modeless_.reset();
    lease_.reset();
    FinishWindow(static_cast<int>(wParam));
    --running_;
    return;
  }
  if (state_ != SourceState::Enabled || wParam != enablings_) return;  // disabled before the message came
  ++running_;
  RunEventWindowMessage(message);
  --running_;
}

void DataSource::RunEventWindowMessage(UINT message) {
  switch (message) {
    case EventShowWindow:
      if (windowOpen_) break;
      if (modalWindow_) {
        ShowWindowAndWait();
      } else {
        OpenModelessWindow();
      }
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
  FinishWindow(result);
}

void DataSource::OpenModelessWindow() {
  windowOpen_ = true;
  windowSettings_ = store_.Load();
  modeless_ = std::make_unique<CaptureWindowState>();
  modeless_->owner = parent_;
  modeless_->instance = module_;
  modeless_->settings = &windowSettings_;
  modeless_->camera = &camera_;
  modeless_->mode = CaptureWindowMode::Twain;
  modeless_->store = &store_;
  modeless_->endedNotify = eventWindow_;
  modeless_->endedMessage = EventWindowEnded;
  lease_ = std::make_unique<TrayHotkeyLease>(eventWindow_);
  if (OpenCaptureWindow(*modeless_)) return;
  modeless_.reset();
  lease_.reset();
  FinishWindow(1);
}

void DataSource::EndModelessWindow() {
  if (modeless_ && IsWindow(modeless_->hwnd)) Dismiss(*modeless_);
  modeless_.reset();
  lease_.reset();
}

void DataSource::FinishWindow(int result) {
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
