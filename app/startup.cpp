#include "app/startup.h"

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/taskbar_listener.h"
#include "app/tray_hotkey.h"
#include "app/tray_program.h"
#include "app/tray_window.h"
#include "camera/media_platform.h"
#include "handles/win_handles.h"
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

void Start(TrayProgram& program) {
  program.settings = SettingsStore().Load();
  RegisterTrayWindowClass(program.instance);
  program.window = CreateWindowExW(0, TrayWindowClass, ProgramTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   program.instance, &program);
  program.icon.Fill(program.window, LoadAppIcon(program.instance));
  // Listening before the icon is added: no new tray can go unheard.
  program.listener = CreateTaskbarListener(program.instance, program.icon);
  LetUnelevatedSendersThrough(program.window, program.listener);
  AddTrayIcon(program.icon, program.listener);
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Stop(TrayProgram& program) {
  program.key.Release();
  program.camera.Close();
  // The windows end with the thread; nothing of theirs may reach the
  // program once it is gone.
  if (program.window) SetWindowLongPtrW(program.window, GWLP_USERDATA, 0);
  if (program.listener) SetWindowLongPtrW(program.listener, GWLP_USERDATA, 0);
}

}  // namespace

int RunTrayProgram(TrayProgram& program) {
  // One instance per logon. A failed creation is no reason to refuse to run.
  HANDLE mutexHandle = CreateMutexW(nullptr, TRUE, SingleInstanceMutexName);
  const DWORD mutexError = GetLastError();
  UniqueHandle mutex(mutexHandle);
  if (mutexError == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, AlreadyRunningText, ProgramTitle, MB_ICONINFORMATION | MB_OK);
    return 0;
  }
  // A platform that does not start only makes the camera fail to open later.
  StartMediaPlatform();
  Start(program);
  RegisterTrayHotkey(program);
  // The window shows at every start; the tray takes over when it closes.
  OpenCaptureWindowFromTray(program);
  RunMessageLoop();
  Stop(program);
  StopMediaPlatform();
  // Closing the last handle removes the mutex; it is not released first.
  mutex.Reset();
  return 0;
}

}  // namespace snaplark
