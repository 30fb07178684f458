#pragma once
// One open session of the data source with one application: the TWAIN
// states 4 (open) to 7 (transferring), the camera, the capability values and
// the picture of the acquisition. It lives from MSG_OPENDS to MSG_CLOSEDS and
// is used only on the application's thread, the one that opened it.
#include <windows.h>

#include <memory>

#include "camera/camera.h"
#include "handles/win_handles.h"
#include "settings/settings_store.h"
#include "twain/capabilities.h"
#include "twain/event_window.h"
#include "twain/image_transfer.h"
#include "twain/manager_link.h"
#include "twain/twain_types.h"

namespace snaplark {

struct CaptureWindowState;
class TrayHotkeyLease;

enum class SourceState { Open = 4, Enabled = 5, TransferReady = 6, Transferring = 7 };

class DataSource final : public EventTarget {
 public:
  // `self` is the source's identity as the manager handed it over at
  // MSG_OPENDS, `application` the application's; both are copied.
  DataSource(HINSTANCE module, const twain::TW_IDENTITY& self, const twain::TW_IDENTITY& application,
             const ManagerLink& manager, const SettingsStore& store);
  // Ends everything the session started: the window, the camera with its
  // threads, Media Foundation, COM, the event window and its class.
  ~DataSource() override;
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  // Starts COM (without changing the thread's apartment), Media Foundation
  // and the event window; false when the event window cannot be made.
  bool Start();

  // One triplet of the application's; DAT_IDENTITY is the entry's to answer.
  TwainAnswer Answer(twain::TW_UINT32 group, twain::TW_UINT16 data, twain::TW_UINT16 message, twain::TW_MEMREF pData);

  SourceState State() const { return state_; }
  // True while one of the event window's messages runs: the capture
  // window's loop or a call into the application may be on the stack, and
  // the session must not be deleted under them.
  bool Busy() const override { return running_ > 0; }
  // MSG_CLOSEDS while busy: ends the window as Cancel would and every state
  // of the acquisition, and leaves the session to be deleted by the
  // outermost event message once it has returned.
  void Abandon();
  bool Abandoned() const override { return abandoned_; }
  // Answers DAT_STATUS: the condition of the last failed triplet.
  twain::TW_UINT16 TakeCondition();
  void NoteCondition(twain::TW_UINT16 condition) { condition_ = condition; }

  // The event window's messages (posted, so that they run from the
  // application's own message loop, never inside one of its calls).
  // `wParam` is the enabling the message was posted for (a message left
  // over from an earlier one is dropped), or for EventWindowEnded the
  // result of a window without a loop of its own.
  void OnEventWindowMessage(UINT message, WPARAM wParam) override;

 private:
  TwainAnswer AnswerControl(twain::TW_UINT16 data, twain::TW_UINT16 message, twain::TW_MEMREF pData);
  TwainAnswer AnswerImage(twain::TW_UINT16 data, twain::TW_UINT16 message, twain::TW_MEMREF pData);
  TwainAnswer Layout(twain::TW_UINT16 message, twain::TW_IMAGELAYOUT& layout);
  // The picture's shape, or before the first one the saved camera's.
  PictureShape FrameShape();
  TwainAnswer Enable(const twain::TW_USERINTERFACE& ui);
  TwainAnswer Disable();
  TwainAnswer ProcessEvent(twain::TW_EVENT& event);
  TwainAnswer PendingTransfers(twain::TW_UINT16 message, twain::TW_PENDINGXFERS& pending);
  TwainAnswer NativeTransfer(HANDLE* target);
  TwainAnswer MemoryTransfer(twain::TW_IMAGEMEMXFER& request);

  void RunEventWindowMessage(UINT message);
  void ShowWindowAndWait();
  void OpenModelessWindow();
  // Ends a window without a loop of its own at once, the session ending.
  void EndModelessWindow();
  // After the window: the picture when Scan was pressed, and the news.
  void FinishWindow(int result);
  bool OpenSavedCamera(const Settings& settings);
  // Lets the opened camera run until its picture has settled; false when it
  // stops giving frames.
  bool WarmUp();
  bool TakePicture();
  void AcquireWithoutWindow();
  void EndTransfer();
  void Post(UINT message);
  void Announce(twain::TW_UINT16 message);
  bool InState(std::initializer_list<SourceState> states) const;

  HINSTANCE module_;
  twain::TW_IDENTITY self_;
  twain::TW_IDENTITY application_;
  ManagerLink manager_;
  SettingsStore store_;

  SourceState state_ = SourceState::Open;
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;
  CapabilityValues capabilities_;
  bool showWindow_ = false;
  bool modalWindow_ = true;
  HWND parent_ = nullptr;
  bool windowOpen_ = false;
  // The window of an application that asked for one that leaves its loop
  // running (ModalUI false), with what it needs while it shows.
  std::unique_ptr<CaptureWindowState> modeless_;
  std::unique_ptr<TrayHotkeyLease> lease_;
  Settings windowSettings_;
  int running_ = 0;
  bool abandoned_ = false;
  WPARAM enablings_ = 0;

  Camera camera_;
  GlobalMemory picture_;
  PictureShape shape_;
  PictureShape expectedShape_;
  bool frameAsked_ = false;
  twain::TW_UINT32 nextRow_ = 0;

  // News for an older manager, which asks through MSG_PROCESSEVENT.
  twain::TW_UINT16 pendingNews_ = twain::MSG_NULL;
  HWND eventWindow_ = nullptr;
  bool comJoined_ = false;
  bool mediaStarted_ = false;
};

}  // namespace snaplark
