#include "twain/data_source.h"

#include <objbase.h>

#include <cstring>

#include "camera/dib_block.h"
#include "camera/media_platform.h"
#include "twain/event_window.h"
#include "twain/tray_hotkey_lease.h"
#include "ui/capture_window.h"

namespace snaplark {

using namespace twain;

namespace {

constexpr TwainAnswer Success{};
constexpr TwainAnswer OutOfSequence{TWRC_FAILURE, TWCC_SEQERROR};
constexpr TwainAnswer BadValue{TWRC_FAILURE, TWCC_BADVALUE};
constexpr TwainAnswer Unsupported{TWRC_FAILURE, TWCC_BADPROTOCOL};

struct ConditionText {
  TW_UINT16 condition;
  const char* text;
};

constexpr ConditionText ConditionTexts[] = {
    {TWCC_SUCCESS, "The operation succeeded."},
    {TWCC_BUMMER, "The camera gave no picture: it may be in use by another program, unplugged or stalled."},
    {TWCC_LOWMEMORY, "There is not enough memory for the picture."},
    {TWCC_MAXCONNECTIONS, "The camera source is already in use by another application."},
    {TWCC_BADCAP, "The camera does not offer this capability."},
    {TWCC_BADPROTOCOL, "The camera source does not offer this operation."},
    {TWCC_BADVALUE, "The camera cannot use this value."},
    {TWCC_SEQERROR, "The operation is not possible at this point of the acquisition."},
    {TWCC_CAPUNSUPPORTED, "The camera does not offer this capability."},
    {TWCC_CAPBADOPERATION, "This capability cannot be changed."},
};

// The text of a condition the application got earlier, in memory it frees
// through the manager.
TwainAnswer DescribeStatus(TW_STATUSUTF8& status, const ManagerLink& memory) {
  const char* text = "The camera source reported an unknown condition.";
  for (const ConditionText& known : ConditionTexts) {
    if (known.condition == status.Status.ConditionCode) text = known.text;
  }
  const auto size = static_cast<TW_UINT32>(std::strlen(text) + 1);
  HANDLE block = memory.Allocate(size);
  {
    const LockedBlock locked(memory, block);
    if (!locked.As<char>()) {
      memory.Free(block);
      return {TWRC_FAILURE, TWCC_LOWMEMORY};
    }
    std::memcpy(locked.As<char>(), text, size);
  }
  status.Size = size;
  status.UTF8string = block;
  return Success;
}

}  // namespace

DataSource::DataSource(HINSTANCE module, const TW_IDENTITY& self, const TW_IDENTITY& application,
                       const ManagerLink& manager, const SettingsStore& store)
    : module_(module), self_(self), application_(application), manager_(manager), store_(store) {}

DataSource::~DataSource() {
  EndModelessWindow();
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
  eventWindow_ = CreateEventWindow(module_, EventWindowProc, this);
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
    case DAT_CAPABILITY: {
      auto& capability = *static_cast<TW_CAPABILITY*>(pData);
      if (NeedsFrameSize(capability.Cap)) {
        const PictureShape frame = FrameShape();
        capabilities_.frameWidth = frame.width;
        capabilities_.frameHeight = frame.height;
      }
      return AnswerCapability(message, capability, capabilities_, manager_, state_ == SourceState::Open,
                              application_.ProtocolMajor < 2);
    }
    case DAT_XFERGROUP: {
      // Pictures are all this source transfers.
      auto& group = *static_cast<TW_UINT32*>(pData);
      if (message == MSG_GET) {
        group = DG_IMAGE;
        return Success;
      }
      if (message == MSG_SET) return group == DG_IMAGE ? Success : BadValue;
      return Unsupported;
    }
    case DAT_STATUSUTF8:
      return message == MSG_GET ? DescribeStatus(*static_cast<TW_STATUSUTF8*>(pData), manager_) : Unsupported;
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
      *static_cast<TW_SETUPMEMXFER*>(pData) = MemorySetupFor(picture_ ? shape_ : FrameShape());
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
      return Layout(message, *static_cast<TW_IMAGELAYOUT*>(pData));
    case DAT_IMAGENATIVEXFER:
      return message == MSG_GET ? NativeTransfer(static_cast<HANDLE*>(pData)) : Unsupported;
    case DAT_IMAGEMEMXFER:
      return message == MSG_GET ? MemoryTransfer(*static_cast<TW_IMAGEMEMXFER*>(pData)) : Unsupported;
    default:
      return Unsupported;
  }
}

TwainAnswer DataSource::Layout(TW_UINT16 message, TW_IMAGELAYOUT& layout) {
  const bool changes = message == MSG_SET || message == MSG_RESET;
  if (!changes && message != MSG_GET && message != MSG_GETDEFAULT && message != MSG_GETCURRENT) return Unsupported;
  if (state_ == SourceState::Transferring || (changes && state_ != SourceState::Open)) return OutOfSequence;
  // A camera gives its whole frame and no part of it: a frame asked for is
  // answered with the whole one.
  const TW_IMAGELAYOUT whole = ImageLayoutFor(FrameShape());
  const bool same = message == MSG_SET && std::memcmp(&layout.Frame, &whole.Frame, sizeof(TW_FRAME)) == 0;
  layout = whole;
  return message == MSG_SET && !same ? TwainAnswer{TWRC_CHECKSTATUS, TWCC_SUCCESS} : Success;
}

PictureShape DataSource::FrameShape() {
  if (shape_.width > 0) return shape_;
  // Before the first picture, the saved camera's negotiated size; asked of
  // the camera once, as opening it takes a while.
  if (!frameAsked_ && !windowOpen_) {
    frameAsked_ = true;
    if (OpenSavedCamera(store_.Load())) {
      expectedShape_ = PictureShapeFor(camera_.Width(), camera_.Height());
    }
    camera_.Close();
  }
  return expectedShape_;
}

TwainAnswer DataSource::Enable(const TW_USERINTERFACE& ui) {
  if (state_ != SourceState::Open) return OutOfSequence;
  showWindow_ = ui.ShowUI != 0;
  modalWindow_ = ui.ModalUI != 0;
  parent_ = static_cast<HWND>(ui.hParent);
  // Everything, the camera's start included (seconds for some), happens
  // from the application's own loop after this call has returned, as with
  // a scanner warming up.
  state_ = SourceState::Enabled;
  ++enablings_;
  Post(showWindow_ ? EventShowWindow : EventAcquire);
  return Success;
}

void DataSource::Abandon() {
  if (windowOpen_ && window_) window_->Close();
  abandoned_ = true;
  state_ = SourceState::Open;
  picture_.Reset();
  nextRow_ = 0;
  pendingNews_ = MSG_NULL;
}

TwainAnswer DataSource::Disable() {
  if (state_ != SourceState::Enabled) return OutOfSequence;
  state_ = SourceState::Open;
  picture_.Reset();
  pendingNews_ = MSG_NULL;
  // An application that disables while the window shows ends the window;
  // its loop unwinds once this call has returned.
  if (windowOpen_ && window_) window_->Close();
  return Success;
}

TwainAnswer DataSource::ProcessEvent(TW_EVENT& event) {
  if (pendingNews_ != MSG_NULL) {
    event.TWMessage = pendingNews_;
    pendingNews_ = MSG_NULL;
    return {TWRC_DSEVENT, TWCC_SUCCESS};
  }
  event.TWMessage = MSG_NULL;
  // A window without a loop of its own gets its keys (Tab, Enter, Escape) here.
  auto* msg = static_cast<MSG*>(event.pEvent);
  if (window_ && msg && window_->TakeDialogMessage(msg)) return {TWRC_DSEVENT, TWCC_SUCCESS};
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
  // The mechanism negotiated is the only one the acquisition offers.
  if (capabilities_.transferMechanism != TWSX_NATIVE) return OutOfSequence;
  if (state_ != SourceState::TransferReady || !picture_) return OutOfSequence;
  // The block becomes the application's, which frees it with GlobalFree.
  *target = picture_.Release();
  state_ = SourceState::Transferring;
  return {TWRC_XFERDONE, TWCC_SUCCESS};
}

TwainAnswer DataSource::MemoryTransfer(TW_IMAGEMEMXFER& request) {
  if (capabilities_.transferMechanism != TWSX_MEMORY) return OutOfSequence;
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

bool DataSource::WarmUp() {
  // A webcam's first frames are dark while its exposure settles: a few
  // frames, and not less than about half a second.
  constexpr DWORD WarmUpMs = 400;
  constexpr int SettledAfterFrames = 8;
  const DWORD start = GetTickCount();
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
  for (int frame = 0; frame < SettledAfterFrames || GetTickCount() - start < WarmUpMs; ++frame) {
    if (!camera_.ReadFrame(pixels, width, height, stride)) return false;
  }
  return true;
}

bool DataSource::TakePicture() {
  picture_ = SnapshotDib(camera_);
  nextRow_ = 0;
  if (picture_ && ShapeOfSnapshot(picture_.Get(), shape_)) return true;
  picture_.Reset();
  return false;
}

void DataSource::Post(UINT message) { PostMessageW(eventWindow_, message, enablings_, 0); }

void DataSource::Announce(TW_UINT16 message) {
  // A 2.x manager delivers the news itself, by the application's callback
  // or its own queue; whatever it answers, the news went out once.
  if (manager_.HasEntryPoints()) {
    manager_.Notify(self_, application_, message);
    return;
  }
  // An older manager asks for news with every message of the application's
  // loop; a message of our own makes sure one comes.
  pendingNews_ = message;
  PostMessageW(eventWindow_, WM_NULL, 0, 0);
}

}  // namespace snaplark
