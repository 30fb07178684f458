#pragma once
// A TWAIN host of our own: the source manager and the application in one,
// behaving as the TWAIN Working Group's 2.x manager does. It loads the
// source to list it and unloads it, loads it again to open it, hands over
// its entry points before MSG_OPENDS, gives the source and the application
// different ids, passes a fresh copy of the application's identity with
// every call, and routes the source's DAT_NULL news to the application's
// callback on the calling thread (or queues it for a legacy application,
// which picks it up through MSG_PROCESSEVENT).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "twain/twain_types.h"

namespace snaplark::test {

// A window that a click did not end keeps the application's loop inside it:
// end it, so that a test fails instead of hanging.
void EndIfStillOpen(HWND window);

// The source's DS_Entry, looked up by its plain name as managers do.
inline twain::DSENTRYPROC FindSourceEntry(HMODULE module) {
  if (!module) return nullptr;
  return reinterpret_cast<twain::DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DS_Entry")));
}

class TwainHost {
 public:
  struct Options {
    bool entryPoints = true;         // false: an older manager that gives none
    twain::TW_UINT16 protocolMajor = 2;  // the application's protocol
  };

  explicit TwainHost(std::wstring sourcePath, Options options);
  TwainHost(const std::wstring& sourcePath) : TwainHost(sourcePath, Options{}) {}
  ~TwainHost();

  // Loads the file, asks its identity and unloads it, as at MSG_OPENDSM.
  bool List(twain::TW_IDENTITY& identity);
  // The manager's way to open: list, load again, entry points, MSG_OPENDS.
  twain::TW_UINT16 Open();
  // MSG_CLOSEDS, and the file unloaded at once on success.
  twain::TW_UINT16 Close();
  bool IsOpen() const { return entry_ != nullptr; }

  twain::TW_UINT16 Call(twain::TW_UINT32 group, twain::TW_UINT16 data, twain::TW_UINT16 message, void* pData);
  // DAT_STATUS: the condition of the last call.
  twain::TW_UINT16 Condition();

  // Runs the application's message loop (handing each message to the source
  // first when legacy) until `done` or the time is up.
  bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000);

  // News the application heard, in order; and a hook called as it hears one.
  std::vector<twain::TW_UINT16> heard;
  std::function<void(twain::TW_UINT16)> onNews;

  // Containers and buffers made through the manager's memory and not yet
  // freed; the application frees them through FreeBlock.
  static int LiveBlocks();
  static void FreeBlock(HANDLE block);

 private:
  static twain::TW_UINT16 WINAPI ManagerEntry(twain::TW_IDENTITY* origin, twain::TW_IDENTITY* destination,
                                              twain::TW_UINT32 group, twain::TW_UINT16 data,
                                              twain::TW_UINT16 message, twain::TW_MEMREF pData);
  void Hear(twain::TW_UINT16 message);
  bool Load();
  void Unload();

  std::wstring path_;
  Options options_;
  HMODULE module_ = nullptr;
  twain::DSENTRYPROC entry_ = nullptr;
  twain::TW_IDENTITY application_{};
  twain::TW_IDENTITY source_{};
  std::vector<twain::TW_UINT16> queued_;  // a legacy application's news
};

}  // namespace snaplark::test
