#include "twain/data_source.h"

#include <objbase.h>

#include "camera/media_platform.h"
#include "twain/event_window.h"

namespace snaplark {

using namespace twain;

namespace {

constexpr TwainAnswer Success{};
constexpr TwainAnswer OutOfSequence{TWRC_FAILURE, TWCC_SEQERROR};
constexpr TwainAnswer BadValue{TWRC_FAILURE, TWCC_BADVALUE};
constexpr TwainAnswer Unsupported{TWRC_FAILURE, TWCC_BADPROTOCOL};

}  // namespace

DataSource::DataSource(HINSTANCE module, const TW_IDENTITY& self, const TW_IDENTITY& application,
                       const ManagerLink& manager, const SettingsStore& store)
    : module_(module), self_(self), application_(application), manager_(manager), store_(store) {}

DataSource::~DataSource() {
  DestroyEventWindow(eventWindow_, module_);
  picture_.Reset();
  camera_.Close();
  if (mediaStarted_) StopMediaPlatform();
  if (comJoined_) CoUninitialize();
}

bool DataSource::Start() {
  // A thread without COM joins a single-threaded apartment, which a later
  // OleInitialize of the application's accepts; a thread with COM keeps
  // whatever apartment the application chose.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  comJoined_ = SUCCEEDED(joined);
  // Without Media Foundation the source still opens; no camera will.
  StartMediaPlatform();
  mediaStarted_ = true;
  eventWindow_ = CreateEventWindow(module_, this);
  return eventWindow_ != nullptr;
}

TW_UINT16 DataSource::TakeCondition() {
  const TW_UINT16 condition = condition_;
  condition_ = TWCC_SUCCESS;
  return condition;
}

bool DataSource::InState(std::initializer_list<SourceState> states) const {
  for (SourceState state : states) {
    if (state == state_) return true;
  }
  return false;
}

TwainAnswer DataSource::Answer(TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, TW_MEMREF pData) {
  if (!pData) return BadValue;
  if (group == DG_CONTROL) return AnswerControl(data, message, pData);
  if (group == DG_IMAGE) return AnswerImage(data, message, pData);
  return Unsupported;
}

TwainAnswer DataSource::AnswerControl(TW_UINT16 data, TW_UINT16 message, TW_MEMREF pData) {
  switch (data) {
    case DAT_CAPABILITY:
      return AnswerCapability(message, *static_cast<TW_CAPABILITY*>(pData), capabilities_, manager_,
                              state_ == SourceState::Open, application_.ProtocolMajor < 2);
    case DAT_USERINTERFACE:
      if (message == MSG_ENABLEDS) return Enable(*static_cast<TW_USERINTERFACE*>(pData));
      if (message == MSG_DISABLEDS) return Disable();
      return Unsupported;
    case DAT_EVENT:
      return message == MSG_PROCESSEVENT ? ProcessEvent(*static_cast<TW_EVENT*>(pData)) : Unsupported;
    case DAT_PENDINGXFERS:
      return PendingTransfers(message, *static_cast<TW_PENDINGXFERS*>(pData));
    case DAT_SETUPMEMXFER:
      if (message != MSG_GET) return Unsupported;
      if (state_ == SourceState::Transferring) return OutOfSequence;
      *static_cast<TW_SETUPMEMXFER*>(pData) = MemorySetupFor(picture_ ? shape_ : PictureShape{});
      return Success;
    default:
      return Unsupported;
  }
}

TwainAnswer DataSource::AnswerImage(TW_UINT16 data, TW_UINT16 message, TW_MEMREF pData) {
  switch (data) {
    case DAT_IMAGEINFO:
      if (message != MSG_GET) return Unsupported;
      if (!InState({SourceState::TransferReady, SourceState::Transferring})) return OutOfSequence;
      *static_cast<TW_IMAGEINFO*>(pData) = ImageInfoFor(shape_);
      return Success;
    case DAT_IMAGELAYOUT:
      if (message != MSG_GET && message != MSG_GETDEFAULT) return Unsupported;
      if (state_ == SourceState::Transferring) return OutOfSequence;
      *static_cast<TW_IMAGELAYOUT*>(pData) = ImageLayoutFor(shape_);
      return Success;
    case DAT_IMAGENATIVEXFER:
      return message == MSG_GET ? NativeTransfer(static_cast<HANDLE*>(pData)) : Unsupported;
    case DAT_IMAGEMEMXFER:
      return message == MSG_GET ? MemoryTransfer(*static_cast<TW_IMAGEMEMXFER*>(pData)) : Unsupported;
    default:
      return Unsupported;
  }
}

TwainAnswer DataSource::Enable(const TW_USERINTERFACE& ui) {
  if (state_ != SourceState::Open) return OutOfSequence;
  showWindow_ = ui.ShowUI != 0;
  parent_ = static_cast<HWND>(ui.hParent);
  if (!showWindow_) {
    // Without a window the saved camera's picture is taken now, so that a
    // camera that cannot give one fails the enabling itself.
    const bool taken = OpenSavedCamera(store_.Load()) && TakePicture();
    camera_.Close();
    if (!taken) return {TWRC_FAILURE, TWCC_BUMMER};
  }
  // The news goes out from the application's own loop, after this call
  // returned: the standard lets ENABLEDS return before anything happens.
  state_ = SourceState::Enabled;
  ++enablings_;
  Post(showWindow_ ? EventShowWindow : EventAnnounceReady);
  return Success;
}

TwainAnswer DataSource::Disable() {
  if (state_ != SourceState::Enabled) return OutOfSequence;
  state_ = SourceState::Open;
  picture_.Reset();
  pendingNews_ = MSG_NULL;
  // An application that disables while the window shows ends the window;
  // its loop unwinds once this call has returned.
  if (windowOpen_) CloseCaptureWindowOfThread();
  return Success;
}

TwainAnswer DataSource::ProcessEvent(TW_EVENT& event) {
  if (pendingNews_ != MSG_NULL) {
    event.TWMessage = pendingNews_;
    pendingNews_ = MSG_NULL;
    return {TWRC_DSEVENT, TWCC_SUCCESS};
  }
  event.TWMessage = MSG_NULL;
  return {TWRC_NOTDSEVENT, TWCC_SUCCESS};
}

TwainAnswer DataSource::PendingTransfers(TW_UINT16 message, TW_PENDINGXFERS& pending) {
  pending.EOJ = 0;
  switch (message) {
    case MSG_GET:
      pending.Count = state_ >= SourceState::TransferReady ? 1 : 0;
      return Success;
    case MSG_ENDXFER:
      if (state_ < SourceState::TransferReady) return OutOfSequence;
      break;
    case MSG_RESET:
      if (state_ != SourceState::TransferReady) return OutOfSequence;
      break;
    default:
      return Unsupported;
  }
  // One picture per acquisition: none is left after this one.
  EndTransfer();
  pending.Count = 0;
  return Success;
}

void DataSource::EndTransfer() {
  picture_.Reset();
  nextRow_ = 0;
  state_ = SourceState::Enabled;
  // The window closed with the scan; nothing more can come from this
  // enabling, so the application is asked to close it.
  if (showWindow_) Post(EventAnnounceClose);
}

TwainAnswer DataSource::NativeTransfer(HANDLE* target) {
  if (state_ != SourceState::TransferReady || !picture_) return OutOfSequence;
  // The block becomes the application's, which frees it with GlobalFree.
  *target = picture_.Release();
  state_ = SourceState::Transferring;
  return {TWRC_XFERDONE, TWCC_SUCCESS};
}

TwainAnswer DataSource::MemoryTransfer(TW_IMAGEMEMXFER& request) {
  const bool started = state_ == SourceState::Transferring && nextRow_ > 0;
  if ((state_ != SourceState::TransferReady && !started) || !picture_) return OutOfSequence;
  const TwainAnswer answer = CopyNextStrip(picture_.Get(), shape_, request, nextRow_, manager_);
  if (answer.returnCode == TWRC_FAILURE) return answer;
  state_ = SourceState::Transferring;
  if (answer.returnCode == TWRC_XFERDONE) picture_.Reset();
  return answer;
}

bool DataSource::OpenSavedCamera(const Settings& settings) {
  // The saved camera and no other: with no window to show, a picture from
  // another camera would surprise. Only a source never set up takes the first.
  std::wstring link = settings.DeviceSymLink;
  if (link.empty()) {
    const std::vector<CameraDevice> devices = EnumerateCameras();
    if (devices.empty()) return false;
    link = devices.front().symbolicLink;
  }
  return camera_.Open(link);
}

bool DataSource::TakePicture() {
  picture_.Reset(camera_.SnapshotDib());
  nextRow_ = 0;
  if (picture_ && ShapeOfSnapshot(picture_.Get(), shape_)) return true;
  picture_.Reset();
  return false;
}

void DataSource::Post(UINT message) { PostMessageW(eventWindow_, message, enablings_, 0); }

void DataSource::Announce(TW_UINT16 message) {
  notifying_ = true;
  const bool told = manager_.Notify(self_, application_, message);
  notifying_ = false;
  if (told) return;
  // An older manager asks for news with every message of the application's
  // loop; a message of our own makes sure one comes.
  pendingNews_ = message;
  PostMessageW(eventWindow_, WM_NULL, 0, 0);
}

}  // namespace snaplark
