#include "camera/monitor.h"

namespace snaplark {

#ifdef _WIN32

void Monitor::lock() { AcquireSRWLockExclusive(&lock_); }

void Monitor::unlock() { ReleaseSRWLockExclusive(&lock_); }

void Monitor::Sleep(Lock&, std::chrono::milliseconds limit) {
  const DWORD wait = limit.count() < 0 ? INFINITE : static_cast<DWORD>(limit.count());
  SleepConditionVariableSRW(&changed_, &lock_, wait, 0);
}

void Monitor::NotifyAll() { WakeAllConditionVariable(&changed_); }

#else

void Monitor::lock() { mutex_.lock(); }

void Monitor::unlock() { mutex_.unlock(); }

void Monitor::Sleep(Lock&, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
  if (limit.count() < 0) {
    changed_.wait(held);
  } else {
    changed_.wait_for(held, limit);
  }
  held.release();  // still locked: the caller's lock owns it
}

void Monitor::NotifyAll() { changed_.notify_all(); }

#endif

}  // namespace snaplark
