#include "twain/manager_link.h"

#include <cstddef>

namespace snaplark {

using namespace twain;

bool ManagerLink::Adopt(const TW_ENTRYPOINT& entry) {
  if (entry.Size < sizeof(TW_ENTRYPOINT) || !entry.DSM_Entry) return false;
  // Memory functions come as a set or not at all; a partial set would pair
  // one allocator with another's free.
  const bool memory = entry.DSM_MemAllocate && entry.DSM_MemFree && entry.DSM_MemLock && entry.DSM_MemUnlock;
  entry_ = entry;
  if (!memory) {
    entry_.DSM_MemAllocate = nullptr;
    entry_.DSM_MemFree = nullptr;
    entry_.DSM_MemLock = nullptr;
    entry_.DSM_MemUnlock = nullptr;
  }
  return true;
}

HANDLE ManagerLink::Allocate(TW_UINT32 size) const {
  if (entry_.DSM_MemAllocate) return entry_.DSM_MemAllocate(size);
  return GlobalAlloc(GHND, size);
}

void ManagerLink::Free(HANDLE block) const {
  if (!block) return;
  if (entry_.DSM_MemFree) {
    entry_.DSM_MemFree(block);
  } else {
    GlobalFree(block);
  }
}

void* ManagerLink::Lock(HANDLE block) const {
  return entry_.DSM_MemLock ? entry_.DSM_MemLock(block) : GlobalLock(block);
}

void ManagerLink::Unlock(HANDLE block) const {
  if (entry_.DSM_MemUnlock) {
    entry_.DSM_MemUnlock(block);
  } else {
    GlobalUnlock(block);
  }
}

bool ManagerLink::Notify(TW_IDENTITY self, TW_IDENTITY application, TW_UINT16 message) const {
  if (!entry_.DSM_Entry) return false;
  // Copies: the application may close the source from inside this call,
  // and the manager may write into what it is given.
  return entry_.DSM_Entry(&self, &application, DG_CONTROL, DAT_NULL, message, nullptr) == TWRC_SUCCESS;
}

}  // namespace snaplark
