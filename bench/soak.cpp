// Ten minutes with the capture window open over a 1080p camera at 30 fps,
// capturing every 10 seconds, to show that nothing grows: the process's
// memory (PagefileUsage; under Wine the other counters read 0) and the GDI
// objects the window holds. Every preview bitmap seen in the window's slot is
// remembered; at the end at most two (the shown one and the spare) may be
// alive, and the three fonts. A plain timing program, run in a throwaway
// prefix (captures go to its Pictures folder and are deleted as they come):
//
//   scripts/wine-env.sh run <prefix dir> build/<tree>/bench/soak.exe [seconds]
#include <windows.h>
#include <mfapi.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/media_platform.h"
#include "camera/virtual/virtual_devices.h"
#include "product_identity.h"
#include "res/resource_ids.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "ui/capture_window.h"
#include "ui/capture_window_state.h"

namespace {

using namespace snaplark;

constexpr wchar_t Link[] = L"\\\\?\\soak#1080p";
constexpr int Width = 1920, Height = 1080;

// A moving NV12 picture: luma x + y + 3n, chroma by column pair and row.
VirtualFrame MovingPicture(std::uint32_t n) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Width) * Height * 3 / 2);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x)
      bytes[static_cast<std::size_t>(y) * Width + x] = static_cast<std::uint8_t>(x + y + 3 * n);
  }
  for (std::size_t i = static_cast<std::size_t>(Width) * Height; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i / 7 + n);
  }
  return PitchedFrame(bytes, Width, Width);
}

SIZE_T PagefileUsage() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

void DeleteCaptures() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, folder);
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = std::wstring(folder) + L"\\Snaplark_Capture_*.bmp";
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    DeleteFileW((std::wstring(folder) + L"\\" + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

int AliveOf(const std::set<HGDIOBJ>& objects) {
  int alive = 0;
  for (HGDIOBJ object : objects) alive += GetObjectType(object) != 0 ? 1 : 0;
  return alive;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
  StartMediaPlatform();
  VirtualDevice device;
  device.name = L"Soak camera 1080p";
  device.symbolicLink = Link;
  device.script = [] {
    VirtualCameraScript script;
    script.nativeTypes = {{MFVideoFormat_NV12, Width, Height, 30}};
    script.frameMaker = MovingPicture;
    script.frameInterval = std::chrono::microseconds(33'333);
    script.freeRunning = true;
    return script;
  };
  UseVirtualDevices({device});
  const std::wstring soakKey = std::wstring(identity::MakerKey) + L"\\SnaplarkTests\\Soak";
  const SettingsStore store(HKEY_CURRENT_USER, soakKey);
  Settings settings;
  settings.DeviceSymLink = Link;
  Camera camera;
  std::future<CaptureOutcome> window = std::async(std::launch::async, [&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return ShowCaptureWindow(
        {nullptr, GetModuleHandleW(nullptr), &settings, &camera, CaptureWindowMode::Standalone, store});
  });
  HWND dialog = nullptr;
  for (int i = 0; i < 300 && !(dialog = FindWindowW(L"#32770", identity::ProductName)); ++i) Sleep(100);
  if (!dialog) {
    std::printf("the capture window did not come up\n");
    return 1;
  }
  auto* state = reinterpret_cast<CaptureWindowState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  std::set<HGDIOBJ> fonts{reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dialog, IDC_TITLE, WM_GETFONT, 0, 0)),
                          reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dialog, IDC_STATUS, WM_GETFONT, 0, 0)),
                          reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dialog, IDC_SUBTITLE, WM_GETFONT, 0, 0))};
  std::set<HGDIOBJ> bitmaps;

  // Warm-up: the first frames size every buffer, and the first capture
  // leaves the clipboard holding a frame, as every later one does.
  Sleep(10000);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
  DeleteCaptures();
  Sleep(1000);
  const SIZE_T memoryAtStart = PagefileUsage();
  int captures = 1;
  for (int second = 11; second < seconds; ++second) {
    if (const std::optional<HBITMAP> shown = state->preview.Peek(); shown && *shown) bitmaps.insert(*shown);
    if (second % 10 == 0) {
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
      ++captures;
      DeleteCaptures();
    }
    Sleep(1000);
  }
  const SIZE_T memoryAtEnd = PagefileUsage();
  wchar_t status[256] = {};
  GetDlgItemTextW(dialog, IDC_STATUS, status, 256);
  std::printf("soak: %d s with a 1080p camera at 30 fps, %d captures (last status: %ls)\n", seconds, captures, status);
  std::printf("  memory (PagefileUsage) after warm-up: %8.1f MB\n", memoryAtStart / 1048576.0);
  std::printf("  memory (PagefileUsage) at the end:    %8.1f MB  (%+.1f MB)\n", memoryAtEnd / 1048576.0,
              (static_cast<double>(memoryAtEnd) - static_cast<double>(memoryAtStart)) / 1048576.0);
  std::printf("  fonts alive: %d of 3\n", AliveOf(fonts));
  std::printf("  preview bitmaps seen in the slot: %zu, alive now: %d (at most 2: shown and spare)\n", bitmaps.size(),
              AliveOf(bitmaps));
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  window.wait();
  std::printf("  after the window ended, alive: fonts %d, preview bitmaps %d\n", AliveOf(fonts), AliveOf(bitmaps));
  RegDeleteTreeW(HKEY_CURRENT_USER, soakKey.c_str());
  camera.Close();
  UseMediaFoundationDevices();
  StopMediaPlatform();
  return 0;
}
