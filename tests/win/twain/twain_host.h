#pragma once
// A TWAIN host of our own: the source manager and the application in one,
// behaving as the TWAIN Working Group's 2.x manager does. It loads the
// source to list it and unloads it, loads it again to open it, hands over
// its entry points before MSG_OPENDS, gives the source and the application
// different ids, passes a fresh copy of the application's identity with
// every call, and routes the source's DAT_NULL news to the application's
// callback on the calling thread (or queues it for a legacy application,
// which picks it up through MSG_PROCESSEVENT). Like that manager, it refuses
// calls from inside the callback to applications of protocol 2.3 or later,
// and at MSG_CLOSEDSM closes an open source by force and unloads it.
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
    bool entryPoints = true;             // false: an older manager that gives none
    twain::TW_UINT16 protocolMajor = 2;  // the application's protocol
    twain::TW_UINT16 protocolMinor = 4;
    // What the application's callback answers (a refusal still hears the news).
    twain::TW_UINT16 callbackAnswer = twain::TWRC_SUCCESS;
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
  // MSG_CLOSEDSM with the source open: MSG_ENDXFER, MSG_RESET,
  // MSG_DISABLEDS and MSG_CLOSEDS whatever each answers (even from inside
  // the callback), then the file unloaded whatever MSG_CLOSEDS answered.
  // The four answers, in order.
  std::vector<twain::TW_UINT16> CloseManager();
  bool IsOpen() const { return entry_ != nullptr; }

  twain::TW_UINT16 Call(twain::TW_UINT32 group, twain::TW_UINT16 data, twain::TW_UINT16 message, void* pData);
  // DAT_STATUS: the condition of the last call.
  twain::TW_UINT16 Condition();

  // Runs the application's message loop, handing each message to the
  // source first while it is open, until `done` or the time is up.
  bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000);
  // Runs `action` from a timer of the application's thread, at the first
  // tick at which `when` holds: whichever loop runs then dispatches it, the
  // capture window's included.
  void OnTimerOnce(std::function<bool()> when, std::function<void()> action);

  // News the application heard, in order; and a hook called as it hears one.
  std::vector<twain::TW_UINT16> heard;
  std::function<void(twain::TW_UINT16)> onNews;

  // Containers and buffers made through the manager's memory and not yet
  // freed; the application frees them through FreeBlock.
  static int LiveBlocks();
  static void FreeBlock(HANDLE block);

 private:
  static twain::TW_UINT16 WINAPI ManagerEntry(twain::TW_IDENTITY* origin, twain::TW_IDENTITY* destination,
                                              twain::TW_UINT32 group, twain::TW_UINT16 data, twain::TW_UINT16 message,
                                              twain::TW_MEMREF pData);
  static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD);
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
  int inCallback_ = 0;
  bool refused_ = false;  // the last call, refused by the manager itself
  UINT_PTR timer_ = 0;
  std::function<bool()> timerWhen_;
  std::function<void()> timerAction_;
};

}  // namespace snaplark::test
