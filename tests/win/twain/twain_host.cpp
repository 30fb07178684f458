#include "twain_host.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "support/wait_for.h"

namespace snaplark::test {

using namespace twain;

namespace {

TwainHost* Current = nullptr;
std::atomic<int> liveBlocks{0};

TW_HANDLE WINAPI Allocate(TW_UINT32 size) {
  HGLOBAL block = GlobalAlloc(GHND, size);
  if (block) ++liveBlocks;
  return block;
}
void WINAPI Free(TW_HANDLE block) {
  if (block && !GlobalFree(block)) --liveBlocks;
}
TW_MEMREF WINAPI Lock(TW_HANDLE block) { return GlobalLock(block); }
void WINAPI Unlock(TW_HANDLE block) { GlobalUnlock(block); }

TW_IDENTITY ApplicationIdentity(TW_UINT16 protocolMajor, TW_UINT16 protocolMinor) {
  TW_IDENTITY identity{};
  identity.Id = 1;
  identity.Version.MajorNum = 3;
  identity.ProtocolMajor = protocolMajor;
  identity.ProtocolMinor = protocolMinor;
  identity.SupportedGroups = DG_CONTROL | DG_IMAGE | (protocolMajor == 2 ? DF_APP2 : 0);
  std::strcpy(identity.ProductName, "Test host");
  return identity;
}

}  // namespace

void EndIfStillOpen(HWND window) {
  if (!WaitFor([&] { return !IsWindow(window); }, std::chrono::seconds(10))) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  }
}

int TwainHost::LiveBlocks() { return liveBlocks.load(); }
void TwainHost::FreeBlock(HANDLE block) { Free(block); }

TwainHost::TwainHost(std::wstring sourcePath, Options options)
    : path_(std::move(sourcePath)),
      options_(options),
      application_(ApplicationIdentity(options.protocolMajor, options.protocolMinor)) {
  Current = this;
}

TwainHost::~TwainHost() {
  if (timer_) KillTimer(nullptr, timer_);
  if (IsOpen()) Close();
  Unload();
  Current = nullptr;
}

bool TwainHost::Load() {
  module_ = LoadLibraryW(path_.c_str());
  entry_ = FindSourceEntry(module_);
  return entry_ != nullptr;
}

void TwainHost::Unload() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
  entry_ = nullptr;
}

bool TwainHost::List(TW_IDENTITY& identity) {
  if (!Load()) return false;
  identity = {};
  const TW_UINT16 rc = entry_(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
  Unload();
  return rc == TWRC_SUCCESS;
}

TW_UINT16 TwainHost::Open() {
  if (!List(source_) || !Load()) return TWRC_FAILURE;
  source_.Id = 2;
  if (options_.entryPoints && (source_.SupportedGroups & DF_DS2)) {
    TW_ENTRYPOINT entry{sizeof(TW_ENTRYPOINT), &TwainHost::ManagerEntry, Allocate, Free, Lock, Unlock};
    if (entry_(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry) != TWRC_SUCCESS) {
      Unload();
      return TWRC_FAILURE;
    }
  }
  TW_IDENTITY identity = source_;
  const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
  if (rc != TWRC_SUCCESS) Unload();
  return rc;
}

TW_UINT16 TwainHost::Close() {
  TW_IDENTITY identity = source_;
  const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
  if (rc == TWRC_SUCCESS) Unload();
  return rc;
}

std::vector<TW_UINT16> TwainHost::CloseManager() {
  std::vector<TW_UINT16> answers;
  const auto send = [&](TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, void* pData) {
    TW_IDENTITY origin = application_;
    answers.push_back(entry_ ? entry_(&origin, group, data, message, pData) : TWRC_FAILURE);
  };
  TW_PENDINGXFERS pending{};
  send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
  pending = {};
  send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
  TW_USERINTERFACE ui{};
  send(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
  TW_IDENTITY identity = source_;
  send(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
  Unload();
  return answers;
}

void TwainHost::OnTimerOnce(std::function<bool()> when, std::function<void()> action) {
  timerWhen_ = std::move(when);
  timerAction_ = std::move(action);
  timer_ = SetTimer(nullptr, 0, 50, &TwainHost::Tick);
}

void CALLBACK TwainHost::Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  TwainHost* host = Current;
  if (!host || timer != host->timer_ || !host->timerWhen_()) return;
  KillTimer(nullptr, timer);
  host->timer_ = 0;
  host->timerAction_();
}

TW_UINT16 TwainHost::Call(TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, void* pData) {
  if (!entry_) return TWRC_FAILURE;
  const bool since23 = options_.protocolMajor > 2 || (options_.protocolMajor == 2 && options_.protocolMinor >= 3);
  refused_ = inCallback_ > 0 && since23;
  if (refused_) return TWRC_FAILURE;
  // A fresh copy every time, and scribbled over afterwards: a source that
  // kept the pointer would read garbage.
  auto origin = std::make_unique<TW_IDENTITY>(application_);
  const TW_UINT16 rc = entry_(origin.get(), group, data, message, pData);
  std::memset(origin.get(), 0xCD, sizeof(TW_IDENTITY));
  return rc;
}

TW_UINT16 TwainHost::Condition() {
  if (refused_) return TWCC_SEQERROR;
  TW_STATUS status{};
  return Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS ? status.ConditionCode : 0xFFFF;
}

TW_UINT16 WINAPI TwainHost::ManagerEntry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 data,
                                         TW_UINT16 message, TW_MEMREF) {
  TwainHost* host = Current;
  // The manager refuses news that does not say who sends it to whom.
  if (!host || group != DG_CONTROL || data != DAT_NULL || !origin || !destination) return TWRC_FAILURE;
  if (origin->Id != host->source_.Id || destination->Id != host->application_.Id) return TWRC_FAILURE;
  if (host->options_.protocolMajor < 2) {
    // Handed back through the application's next MSG_PROCESSEVENT; a message
    // makes sure there is one.
    host->queued_.push_back(message);
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    return TWRC_SUCCESS;
  }
  ++host->inCallback_;
  host->Hear(message);
  --host->inCallback_;
  return host->options_.callbackAnswer;
}

void TwainHost::Hear(TW_UINT16 message) {
  heard.push_back(message);
  if (onNews) onNews(message);
}

bool TwainHost::PumpUntil(const std::function<bool()>& done, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limitMs) return false;
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      continue;
    }
    if (IsOpen()) {
      // The application hands every message to the source first. News the
      // manager keeps for an application without a callback comes back
      // through this call, from the manager itself.
      TW_EVENT event{&msg, MSG_NULL};
      TW_UINT16 rc = TWRC_DSEVENT;
      if (!queued_.empty()) {
        event.TWMessage = queued_.front();
        queued_.erase(queued_.begin());
      } else {
        rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
      }
      if (rc == TWRC_DSEVENT && event.TWMessage != MSG_NULL) Hear(event.TWMessage);
      if (rc == TWRC_DSEVENT) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace snaplark::test
