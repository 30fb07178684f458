#pragma once
// A call that may never return (a camera that stops sending leaves its read
// pending for good), run on a worker thread of its own so that the caller
// can wait for it with a time limit, or be told to stop waiting, and go on.
// A call that outlives the wait finishes on its own whenever it returns.
//
// The call keeps alive whatever it touches itself (it owns shared state):
// after a time-out, and after this object is gone, it may still be running.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "camera/monitor.h"

namespace snaplark {

// Worker threads, over the whole process, that have not ended yet: one
// that sits in a stuck call outlives its StallableCall. Code that is about
// to be unloaded must not be while any does.
int StallableCallThreadsAlive();

class StallableCall {
 public:
  enum class Outcome { Finished, TimedOut, Cancelled, Unavailable };

  explicit StallableCall(std::function<void()> call);
  // Never waits for a call in progress: a stuck call is left to finish.
  ~StallableCall();
  StallableCall(const StallableCall&) = delete;
  StallableCall& operator=(const StallableCall&) = delete;

  // Runs the call once, after one that timed out earlier has finished, and
  // waits until it returns, `limit` has passed or Cancel is called. One
  // caller at a time; whatever the call wrote may be read once it Finished.
  Outcome Run(std::chrono::milliseconds limit);

  // Makes every Run, waiting now or started before Resume, return Cancelled.
  void Cancel();
  void Resume();

  // Whether a call is under way (one that timed out, say).
  bool Busy() const;

 private:
  struct Shared {
    Monitor monitor;
    std::function<void()> call;
    std::uint64_t requested = 0;
    std::uint64_t finished = 0;
    bool cancelled = false;
    bool quit = false;
  };
  static void Work(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

}  // namespace snaplark
