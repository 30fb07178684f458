#include "app/tray_program.h"

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/taskbar_listener.h"
#include "app/tray_hotkey.h"
#include "app/tray_window.h"
#include "camera/media_platform.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"

namespace snaplark {

// The system takes the record by size, so a header or packing mismatch
// would make the call fail silently.
static_assert(sizeof(WNDCLASSEXW) == (sizeof(void*) == 4 ? 48 : 80));

namespace {

void RegisterTrayWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = TrayWindowClass;
  RegisterClassExW(&windowClass);
}

HICON LoadAppIcon(HINSTANCE instance) {
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SNAPLARK));
  return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

TrayProgram::TrayProgram(HINSTANCE instance, NotifyShellCall notify) : instance(instance), icon(notify) {}

TrayProgram* TrayProgram::Of(HWND tray) { return reinterpret_cast<TrayProgram*>(GetWindowLongPtrW(tray, GWLP_USERDATA)); }

HWND TrayProgram::MenuOwner() const { return listener && IsWindow(listener) ? listener : window; }

int TrayProgram::Run() {
  // One instance per logon. A failed creation is no reason to refuse to run.
  HANDLE mutexHandle = CreateMutexW(nullptr, TRUE, SingleInstanceMutexName);
  const DWORD mutexError = GetLastError();
  mutex_.Reset(mutexHandle);
  if (mutexError == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, AlreadyRunningText, ProgramTitle, MB_ICONINFORMATION | MB_OK);
    mutex_.Reset();
    return 0;
  }
  // A platform that does not start only makes the camera fail to open later.
  StartMediaPlatform();
  Start();
  RegisterTrayHotkey(*this);
  // The window shows at every start; the tray takes over when it closes.
  OpenCaptureWindowFromTray(*this);
  RunMessageLoop();
  Stop();
  StopMediaPlatform();
  // Closing the last handle removes the mutex; it is not released first.
  mutex_.Reset();
  return 0;
}

void TrayProgram::Start() {
  settings = SettingsStore().Load();
  RegisterTrayWindowClass(instance);
  window = CreateWindowExW(0, TrayWindowClass, ProgramTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  icon.Fill(window, LoadAppIcon(instance));
  // Listening before the icon is added: no new tray can go unheard.
  listener = CreateTaskbarListener(instance, icon);
  LetUnelevatedSendersThrough(window, listener);
  AddTrayIcon(icon, listener);
}

void TrayProgram::Stop() {
  key.Release();
  camera.Close();
  // The windows end with the thread; nothing of theirs may reach this
  // object once it is gone.
  if (window) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  if (listener) SetWindowLongPtrW(listener, GWLP_USERDATA, 0);
}

}  // namespace snaplark
