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

TW_IDENTITY ApplicationIdentity(TW_UINT16 protocolMajor) {
  TW_IDENTITY identity{};
  identity.Id = 1;
  identity.Version.MajorNum = 3;
  identity.ProtocolMajor = protocolMajor;
  identity.ProtocolMinor = protocolMajor == 2 ? 4 : 9;
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
    : path_(std::move(sourcePath)), options_(options), application_(ApplicationIdentity(options.protocolMajor)) {
  Current = this;
}

TwainHost::~TwainHost() {
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

TW_UINT16 TwainHost::Call(TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, void* pData) {
  if (!entry_) return TWRC_FAILURE;
  // A fresh copy every time, and scribbled over afterwards: a source that
  // kept the pointer would read garbage.
  auto origin = std::make_unique<TW_IDENTITY>(application_);
  const TW_UINT16 rc = entry_(origin.get(), group, data, message, pData);
  std::memset(origin.get(), 0xCD, sizeof(TW_IDENTITY));
  return rc;
}

TW_UINT16 TwainHost::Condition() {
  TW_STATUS status{};
  return Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS ? status.ConditionCode : 0xFFFF;
}

TW_UINT16 WINAPI TwainHost::ManagerEntry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group,
                                         TW_UINT16 data, TW_UINT16 message, TW_MEMREF) {
  TwainHost* host = Current;
  // The manager refuses news that does not say who sends it to whom.
  if (!host || group != DG_CONTROL || data != DAT_NULL || !origin || !destination) return TWRC_FAILURE;
  if (origin->Id != host->source_.Id || destination->Id != host->application_.Id) return TWRC_FAILURE;
  if (host->options_.protocolMajor < 2) {
    // Handed back through the application's next MSG_PROCESSEVENT; a message
    // makes sure there is one.
    host->queued_.push_back(message);
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
  } else {
    host->Hear(message);
  }
  return TWRC_SUCCESS;
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
    if (options_.protocolMajor < 2 && IsOpen()) {
      // A legacy application hands every message to the source first, and
      // hears the news the manager queued (or the source keeps) that way.
      TW_EVENT event{&msg, MSG_NULL};
      const TW_UINT16 rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
      if (!queued_.empty()) {
        Hear(queued_.front());
        queued_.erase(queued_.begin());
      } else if (rc == TWRC_DSEVENT && event.TWMessage != MSG_NULL) {
        Hear(event.TWMessage);
      }
      if (rc == TWRC_DSEVENT) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace snaplark::test
