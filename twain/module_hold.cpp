#include "twain/module_hold.h"

#include <new>

#include "camera/stallable_call.h"
#include "twain/source_cameras.h"

namespace snaplark {
namespace {

struct PendingRelease {
  HMODULE module;
  HWND beacon;  // of a system class, so that its window procedure is not ours
};

DWORD WINAPI ReleaseOnceReturned(void* parameter) {
  const PendingRelease release = *static_cast<PendingRelease*>(parameter);
  delete static_cast<PendingRelease*>(parameter);
  // Answered only when the caller's thread reads messages again; it returns
  // early (with no answer) if that thread has ended.
  SendMessageW(release.beacon, WM_NULL, 0, 0);
  PostMessageW(release.beacon, WM_CLOSE, 0, 0);
  FreeLibraryAndExitThread(release.module, 0);
}

}  // namespace

HMODULE HoldOwnModule() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&HoldOwnModule), &self)) {
    return nullptr;
  }
  return self;
}

void ReleaseAfterReturn(HMODULE module) {
  if (!module) return;
  HWND beacon = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!beacon) return;
  auto* release = new (std::nothrow) PendingRelease{module, beacon};
  if (!release) {
    DestroyWindow(beacon);
    return;
  }
  HANDLE thread = CreateThread(nullptr, 0, ReleaseOnceReturned, release, 0, nullptr);
  if (!thread) {
    delete release;
    DestroyWindow(beacon);
    return;
  }
  CloseHandle(thread);
}

void StayLoadedWhileInUse() {
  if (StallableCallThreadsAlive() == 0 && SourceCamerasReleased()) return;
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&StayLoadedWhileInUse), &self);
}

}  // namespace snaplark
