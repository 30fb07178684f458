#pragma once
// A lock with a condition to wait on; it locks as a mutex does, so that
// std::lock_guard and std::unique_lock hold it. On Windows it is the system's
// slim reader/writer lock and condition variable: the C++ library's mutex and
// condition variable of our toolchain wait on kernel semaphores, and a frame
// handed from thread to thread then costs several trips to the kernel (under
// Wine, to its server) per frame instead of none.
#include <chrono>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <condition_variable>
#endif

namespace snaplark {

class Monitor {
 public:
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<Monitor>;

  Monitor() = default;
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void lock();
  void unlock();

  // Wait with `held` locked on this monitor, which is let go meanwhile, until
  // `ready` holds; WaitUntil is false when `deadline` came first.
  template <typename Ready>
  void Wait(Lock& held, Ready ready) {
    while (!ready()) Sleep(held, std::chrono::milliseconds(-1));
  }
  template <typename Ready>
  bool WaitUntil(Lock& held, Clock::time_point deadline, Ready ready) {
    while (!ready()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      Sleep(held, left);
    }
    return true;
  }
  // One wait of at most `limit`, however it ends.
  void WaitFor(Lock& held, std::chrono::milliseconds limit) { Sleep(held, limit); }

  void NotifyAll();
  // The same with `held` let go meanwhile: a waiter woken while the lock is
  // still held wakes only to wait for the lock, and is woken a second time
  // when it is let go.
  void NotifyAllUnlocked(Lock& held) {
    held.unlock();
    NotifyAll();
    held.lock();
  }

 private:
  // Until woken or `limit` has passed (a negative limit: no limit).
  void Sleep(Lock& held, std::chrono::milliseconds limit);

#ifdef _WIN32
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
#else
  std::mutex mutex_;
  std::condition_variable changed_;
#endif
};

}  // namespace snaplark
