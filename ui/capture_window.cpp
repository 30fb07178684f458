#include "ui/capture_window.h"

#include <commctrl.h>

#include <string>

#include "camera/camera.h"
#include "res/resource_ids.h"
#include "settings/settings.h"
#include "ui/capture_action.h"
#include "ui/capture_window_state.h"
#include "ui/capture_window_texts.h"
#include "ui/copy_diagnostics.h"
#include "ui/device_list.h"
#include "ui/hotkey_picker.h"
#include "ui/preview.h"
#include "ui/preview_control.h"
#include "ui/shell_call.h"

namespace snaplark {

// The window's state pointer lives in the dialog's user slot, after two
// pointer-sized slots of the dialog manager's own.
static_assert(DWLP_USER == 2 * sizeof(void*));

namespace {

constexpr UINT_PTR PreviewTimerId = 1;
constexpr UINT PreviewTimerPeriod = 33;  // about 30 repaints a second, whatever the camera's rate
constexpr UINT_PTR PreviewSubclassId = 1;

// The status line, through which every operation of the window reports its
// outcome.
void ShowStatus(const CaptureWindowState& state, const wchar_t* text) {
  if (text) SetDlgItemTextW(state.hwnd, IDC_STATUS, text);
}

// Before work that blocks the window, painted at once, so that a slow
// device shows "Opening camera..." or "Capturing..." meanwhile.
void ShowStatusNow(const CaptureWindowState& state, const wchar_t* text) {
  ShowStatus(state, text);
  UpdateWindow(GetDlgItem(state.hwnd, IDC_STATUS));
}

void ShowKeyWarningIfTaken(CaptureWindowState& state) {
  if (state.IsTwain() && !RegisterWindowHotkey(state)) ShowStatus(state, HotkeyTakenText);
}

void OpenCamera(CaptureWindowState& state, int index) {
  if (IsListed(state, index)) ShowStatusNow(state, OpeningCameraText);
  const bool opened = OpenSelectedCamera(state, index);
  if (IsListed(state, index)) ShowStatus(state, opened ? TextsOf(state.mode).readyText : OpenFailedText);
}

void ListAndOpenCamera(CaptureWindowState& state) {
  const int chosen = FillDeviceList(state);
  if (chosen < 0) {
    ShowStatus(state, NoWebcamsText);
  } else {
    OpenCamera(state, chosen);
  }
}

// Captures when a camera is open; otherwise says that none is.
void TriggerCapture(CaptureWindowState& state) {
  if (!state.camera->IsOpen()) {
    ShowStatus(state, NoCameraOpenText);
    return;
  }
  ShowStatusNow(state, CapturingText);
  ShowStatus(state, CaptureImage(state).c_str());
}

// After the window: nothing runs on the capture thread any more, so the
// bitmap, the scratch and the fonts can go.
void CleanUp(CaptureWindowState& state) {
  state.camera->StopCapture();
  state.preview.Store(nullptr);
  state.titleFont.Reset();
  state.bodyFont.Reset();
  state.captionFont.Reset();
  state.devices.clear();
}

// The settings are saved however the window ends.
void End(CaptureWindowState& state, CaptureOutcome outcome) {
  state.store.Save(*state.settings);
  state.outcome = outcome;
  if (!state.endedNotify) {
    EndDialog(state.hwnd, 1);
    return;
  }
  DestroyWindow(state.hwnd);
  CleanUp(state);
  PostMessageW(state.endedNotify, state.endedMessage, static_cast<WPARAM>(outcome), 0);
  state.endedNotify = nullptr;
}

void Accept(CaptureWindowState& state) { End(state, CaptureOutcome::Accepted); }

void Dismiss(CaptureWindowState& state) { End(state, CaptureOutcome::Dismissed); }

HFONT MakeFont(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

void SetControlsFont(HWND hwnd, const GdiObject& font, std::initializer_list<int> controls) {
  for (int id : controls) SendDlgItemMessageW(hwnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
}

void CreateAndApplyFonts(CaptureWindowState& state) {
  state.titleFont.Reset(MakeFont(-20, FW_SEMIBOLD));
  state.bodyFont.Reset(MakeFont(-13, FW_NORMAL));
  state.captionFont.Reset(MakeFont(-11, FW_SEMIBOLD));
  SetControlsFont(state.hwnd, state.bodyFont,
                  {IDC_DEVICE_COMBO, IDC_RESOLUTION, IDC_STATUS, IDC_KEY_LABEL, IDC_KEY_HINT});
  SetControlsFont(state.hwnd, state.captionFont,
                  {IDC_SUBTITLE, IDC_CAMERA_CAPTION, IDC_PREVIEW_CAPTION, IDC_KEY_CAPTION});
  SetControlsFont(state.hwnd, state.titleFont, {IDC_TITLE});
}

void SetWindowIcon(const CaptureWindowState& state) {
  HICON icon = LoadIconW(state.instance, MAKEINTRESOURCEW(IDI_SNAPLARK));
  if (!icon) return;
  SendMessageW(state.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(state.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void CentreOnPrimaryScreen(HWND hwnd) {
  RECT frame{};
  GetWindowRect(hwnd, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void ApplyModeTexts(const CaptureWindowState& state) {
  const ModeTexts& texts = TextsOf(state.mode);
  SetWindowTextW(state.hwnd, WindowTitle);
  SetDlgItemTextW(state.hwnd, IDC_CAPTURE, texts.captureButton);
  SetDlgItemTextW(state.hwnd, IDC_CLOSE, texts.closeButton);
  SetDlgItemTextW(state.hwnd, IDC_SUBTITLE, texts.subtitle);
}

void Initialise(CaptureWindowState& state) {
  CreateAndApplyFonts(state);
  SetWindowIcon(state);
  CentreOnPrimaryScreen(state.hwnd);
  ApplyModeTexts(state);
  state.previewControl = GetDlgItem(state.hwnd, IDC_PREVIEW);
  SetWindowSubclass(state.previewControl, PreviewSubclassProc, PreviewSubclassId, reinterpret_cast<DWORD_PTR>(&state));
  ListAndOpenCamera(state);
  RefreshHotkeyLabel(state);
  SetTimer(state.hwnd, PreviewTimerId, PreviewTimerPeriod, nullptr);
  // The greeting replaces whatever opening the camera wrote. In TWAIN mode a
  // capture key that another program holds is worth more than the greeting,
  // so its warning is written after it and stays.
  ShowStatus(state, TextsOf(state.mode).greeting);
  ShowKeyWarningIfTaken(state);
}

void Refresh(CaptureWindowState& state) {
  state.key.Release();
  state.camera->StopCapture();
  state.camera->Close();
  ListAndOpenCamera(state);
  ShowKeyWarningIfTaken(state);
}

void Destroy(CaptureWindowState& state) {
  // Closing while picking leaves the key as it was, and no hook behind.
  FinishHotkeyPick(state, 0, true);
  KillTimer(state.hwnd, PreviewTimerId);
  // No frame callback runs after this; the camera itself stays open.
  state.camera->StopCapture();
  state.key.Release();
  if (state.previewControl) RemoveWindowSubclass(state.previewControl, PreviewSubclassProc, PreviewSubclassId);
}

// A camera found gone (unplugged, or its reads report the device lost) must
// not leave its last frame on screen as if it were live.
void ShowLossOfCamera(CaptureWindowState& state) {
  if (state.lossShown || !state.camera->IsLost()) return;
  state.lossShown = true;
  state.camera->StopCapture();
  state.preview.Store(nullptr);
  ShowStatus(state, CameraDisconnectedText);
}

// The main button and Enter: capture in this program, accept in TWAIN mode.
void PressMainButton(CaptureWindowState& state) {
  if (state.IsTwain()) {
    Accept(state);
  } else {
    TriggerCapture(state);
  }
}

void RunCommand(CaptureWindowState& state, WORD id, WORD notification) {
  switch (id) {
    case IDOK:
    case IDC_CAPTURE:
      PressMainButton(state);
      break;
    case IDCANCEL:
    case IDC_CLOSE:
      Dismiss(state);
      break;
    case IDC_DEVICE_COMBO:
      if (notification == CBN_SELCHANGE) {
        OpenCamera(state, static_cast<int>(SendDlgItemMessageW(state.hwnd, IDC_DEVICE_COMBO, CB_GETCURSEL, 0, 0)));
      }
      break;
    case IDC_CHANGE_KEY:
      BeginHotkeyPick(state);
      ShowStatus(state, PressAKeyText);
      break;
    case IDC_REFRESH:
      Refresh(state);
      break;
    case IDC_SUPPORT:
      OpenSupportPage(state.hwnd);
      break;
    case IDC_DIAGNOSTICS:
      ShowStatus(state, CopyDiagnostics(state));
      break;
    default:
      break;
  }
}

// Keys reach the window itself only when it has the focus: while picking
// without a hook, or in TWAIN mode when the capture key is not registered.
void OnKeyDown(CaptureWindowState& state, WPARAM key) {
  if (state.picking) {
    ShowStatus(state, FinishHotkeyPick(state, key, key == VK_ESCAPE));
  } else if (state.IsTwain() && key == state.settings->Keybind) {
    Accept(state);
  }
}

INT_PTR HandleMessage(CaptureWindowState& state, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise(state);
      return TRUE;
    case WM_COMMAND:
      RunCommand(state, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_TIMER:
      if (wParam != PreviewTimerId) return TRUE;
      ShowLossOfCamera(state);
      if (state.previewControl) RepaintIfChanged(state.previewControl, state.preview);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) != state.previewControl) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
      return reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH));
    case WM_HOTKEY:
      // In TWAIN mode the capture key scans, as the window's texts promise,
      // whether it arrives as the window's hotkey or as a plain key.
      if (wParam == CaptureHotkeyId && state.IsTwain()) {
        Accept(state);
      } else if (wParam == CaptureHotkeyId) {
        TriggerCapture(state);
      }
      return TRUE;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      OnKeyDown(state, wParam);
      return TRUE;
    case WM_CLOSE:
      Dismiss(state);
      return TRUE;
    case WM_DESTROY:
      Destroy(state);
      return FALSE;
    default:
      return FALSE;
  }
}

// The state comes with WM_INITDIALOG and is kept in the window's dialog user data.
INT_PTR CALLBACK CaptureWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<CaptureWindowState*>(lParam);
    if (!state) return FALSE;
    // The pointer-sized slot: a 64-bit build must not cut the address to 32 bits.
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    state->hwnd = hwnd;
    return HandleMessage(*state, message, wParam, lParam);
  }
  auto* state = reinterpret_cast<CaptureWindowState*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return state ? HandleMessage(*state, message, wParam, lParam) : FALSE;
}

}  // namespace

CaptureWindow::CaptureWindow(const CaptureWindowInputs& inputs)
    : state_(std::make_unique<CaptureWindowState>(inputs)) {}

CaptureWindow::~CaptureWindow() {
  if (state_->endedNotify && IsWindow(state_->hwnd)) Dismiss(*state_);
}

CaptureOutcome CaptureWindow::Show() {
  CaptureWindowState& state = *state_;
  const INT_PTR shown = DialogBoxParamW(state.instance, MAKEINTRESOURCEW(IDD_CAPTURE), state.owner, CaptureWindowProc,
                                        reinterpret_cast<LPARAM>(&state));
  CleanUp(state);
  return shown > 0 ? state.outcome : CaptureOutcome::NotShown;
}

bool CaptureWindow::Open(HWND notify, UINT endedMessage) {
  CaptureWindowState& state = *state_;
  state.endedNotify = notify;
  state.endedMessage = endedMessage;
  HWND window = CreateDialogParamW(state.instance, MAKEINTRESOURCEW(IDD_CAPTURE), state.owner, CaptureWindowProc,
                                   reinterpret_cast<LPARAM>(&state));
  if (window) ShowWindow(window, SW_SHOW);
  return window != nullptr;
}

bool CaptureWindow::TakeDialogMessage(MSG* message) {
  // A modal window's own loop hands it its keys already.
  return state_->endedNotify && IsWindow(state_->hwnd) && IsDialogMessageW(state_->hwnd, message);
}

void CaptureWindow::Close() {
  if (state_->hwnd && IsWindow(state_->hwnd)) {
    PostMessageW(state_->hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

}  // namespace snaplark
