// The session's work that runs from the application's message loop: the
// capture window, and the news the application hears afterwards, delivered
// through the session's event window.
#include "twain/data_source.h"
#include "twain/event_window.h"
#include "twain/module_hold.h"
#include "twain/tray_hotkey_lease.h"

namespace snaplark {

using namespace twain;

namespace {

// The application may close the source, and its manager unload the file,
// from inside what runs here (the capture window's loop dispatches the
// application's own messages; the news calls the application). The
// outermost message holds the file until it has returned, and deletes a
// session closed under it: the window this runs in goes with it.
void RunEvent(DataSource* source, UINT message, WPARAM wParam) {
  if (source->Busy()) {
    source->OnEventWindowMessage(message, wParam);
    return;
  }
  const HMODULE hold = HoldOwnModule();
  source->OnEventWindowMessage(message, wParam);
  if (!source->Abandoned()) {
    // Still open, so the manager still holds the file.
    if (hold) FreeLibrary(hold);
    return;
  }
  delete source;
  StayLoadedWhileInUse();
  ReleaseAfterReturn(hold);
}

}  // namespace

LRESULT CALLBACK DataSource::EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* source = reinterpret_cast<DataSource*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (source && message >= EventShowWindow && message <= EventWindowEnded) {
    RunEvent(source, message, wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void DataSource::OnEventWindowMessage(UINT message, WPARAM wParam) {
  if (message == EventWindowEnded) {
    ++running_;
    window_.reset();
    lease_.reset();
    FinishWindow(static_cast<CaptureOutcome>(wParam));
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

CaptureWindowInputs DataSource::WindowInputs(Settings& settings) {
  return {parent_, module_, &settings, &camera_, CaptureWindowMode::Twain, store_};
}

void DataSource::ShowWindowAndWait() {
  windowOpen_ = true;
  // Read afresh: the tray program may have saved another camera or key
  // since the last acquisition.
  Settings settings = store_.Load();
  CaptureOutcome outcome = CaptureOutcome::NotShown;
  {
    const TrayHotkeyLease lease(eventWindow_);
    window_ = std::make_unique<CaptureWindow>(WindowInputs(settings));
    outcome = window_->Show();
    window_.reset();
  }
  FinishWindow(outcome);
}

void DataSource::OpenModelessWindow() {
  windowOpen_ = true;
  windowSettings_ = store_.Load();
  window_ = std::make_unique<CaptureWindow>(WindowInputs(windowSettings_));
  lease_ = std::make_unique<TrayHotkeyLease>(eventWindow_);
  if (window_->Open(eventWindow_, EventWindowEnded)) return;
  window_.reset();
  lease_.reset();
  FinishWindow(CaptureOutcome::NotShown);
}

void DataSource::EndModelessWindow() {
  window_.reset();
  lease_.reset();
}

void DataSource::FinishWindow(CaptureOutcome outcome) {
  const bool accepted = outcome == CaptureOutcome::Accepted;
  windowOpen_ = false;
  const bool scanned = accepted && state_ == SourceState::Enabled && TakePicture();
  // The device is not held between acquisitions.
  camera_.Close();
  if (state_ != SourceState::Enabled) return;
  if (scanned) {
    state_ = SourceState::TransferReady;
    Announce(MSG_XFERREADY);
    return;
  }
  if (accepted) condition_ = TWCC_BUMMER;  // Scan was pressed, but no picture came
  Announce(MSG_CLOSEDSREQ);
}

}  // namespace snaplark
