#include "app/startup.h"

#include "app/app_state.h"
#include "app/capture_window_from_tray.h"
#include "app/taskbar_listener.h"
#include "app/tray_menu.h"
#include "app/tray_notices.h"
#include "app/tray_window.h"
#include "handles/win_handles.h"
#include "camera/camera.h"
#include "camera/media_platform.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"

namespace snaplark {

HINSTANCE AppInstance = nullptr;
HWND TrayWindow = nullptr;
Settings* AppSettings = nullptr;
Camera* AppCamera = nullptr;
NOTIFYICONDATAW TrayIconData = {};

// The system takes these records by size, so a header or packing mismatch
// would make the calls fail silently. The full icon record, balloon fields
// included, so that notices can use it as is.
static_assert(sizeof(NOTIFYICONDATAW) == (sizeof(void*) == 4 ? 956 : 976));
static_assert(sizeof(WNDCLASSEXW) == (sizeof(void*) == 4 ? 48 : 80));

namespace {

// Function-local statics: created on first use during start-up, Settings
// first, and destroyed after wWinMain returns in reverse order, so the camera
// goes before the settings it was opened from.
Settings& SettingsObject() {
  static Settings settings = SettingsStore().Load();
  return settings;
}

Camera& CameraObject() {
  static Camera camera;
  return camera;
}

void RegisterTrayWindowClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = AppInstance;
  windowClass.lpszClassName = TrayWindowClass;
  RegisterClassExW(&windowClass);
}

HWND CreateTrayWindow() {
  return CreateWindowExW(0, TrayWindowClass, ProgramTitle, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, AppInstance,
                         nullptr);
}

HICON LoadAppIcon() {
  HICON icon = LoadIconW(AppInstance, MAKEINTRESOURCEW(IDI_SNAPLARK));
  return icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

void FillTrayIconData() {
  TrayIconData = {};
  TrayIconData.cbSize = sizeof(NOTIFYICONDATAW);
  TrayIconData.hWnd = TrayWindow;
  TrayIconData.uID = TrayIconId;
  TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  TrayIconData.uCallbackMessage = TrayCallbackMessage;
  TrayIconData.hIcon = LoadAppIcon();
  lstrcpynW(TrayIconData.szTip, ProgramTitle, ARRAYSIZE(TrayIconData.szTip));
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int RunTrayProgram(HINSTANCE instance) {
  AppInstance = instance;

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
  AppSettings = &SettingsObject();
  AppCamera = &CameraObject();

  RegisterTrayWindowClass();
  TrayWindow = CreateTrayWindow();
  FillTrayIconData();
  // Listening before the icon is added: no new tray can go unheard.
  HWND listener = CreateTaskbarListener(AppInstance);
  SetTrayMenuOwner(TrayWindow, listener);
  LetUnelevatedSendersThrough(TrayWindow, listener);
  AddTrayIcon(listener);

  RegisterTrayHotkey();
  // The window shows at every start; the tray takes over when it closes.
  OpenCaptureWindowFromTray();
  RunMessageLoop();

  UnregisterHotKey(TrayWindow, CaptureHotkeyId);
  AppCamera->Close();
  StopMediaPlatform();
  // Closing the last handle removes the mutex; it is not released first.
  mutex.Reset();
  return 0;
}

}  // namespace snaplark
