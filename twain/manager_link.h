#pragma once
// What the source knows of the source manager: its entry points, when a 2.x
// manager handed them over. Containers the application will free are
// allocated through the manager's memory functions, and the source's news
// (a transfer ready, a request to close) reaches the application through
// the manager's DSM_Entry. An older manager gives neither: then memory is
// the system's global memory and news waits to be picked up through
// MSG_PROCESSEVENT.
#include "twain/twain_types.h"

namespace snaplark {

class ManagerLink {
 public:
  // Takes the entry points as given (the structure is the caller's);
  // false when it is too short to hold them or names no DSM_Entry.
  bool Adopt(const twain::TW_ENTRYPOINT& entry);
  bool HasEntryPoints() const { return entry_.DSM_Entry != nullptr; }

  // A movable block of `size` bytes; null when memory runs out.
  HANDLE Allocate(twain::TW_UINT32 size) const;
  void Free(HANDLE block) const;
  void* Lock(HANDLE block) const;
  void Unlock(HANDLE block) const;

  // Tells the application `message` through the manager, with no lock of
  // ours held: the application may call back into the source before this
  // returns. False when there is no manager to tell, or it refused.
  bool Notify(twain::TW_IDENTITY self, twain::TW_IDENTITY application, twain::TW_UINT16 message) const;

 private:
  twain::TW_ENTRYPOINT entry_{};
};

// A block of a container or a transfer buffer, locked for the scope.
class LockedBlock {
 public:
  LockedBlock(const ManagerLink& memory, HANDLE block) : memory_(memory), block_(block) {
    data_ = block ? memory.Lock(block) : nullptr;
  }
  ~LockedBlock() {
    if (data_) memory_.Unlock(block_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  template <typename T>
  T* As() const {
    return static_cast<T*>(data_);
  }

 private:
  const ManagerLink& memory_;
  HANDLE block_;
  void* data_;
};

}  // namespace snaplark
