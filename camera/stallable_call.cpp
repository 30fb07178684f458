#include "camera/stallable_call.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <system_error>
#include <utility>

namespace snaplark {
namespace {
std::atomic<int> threadsAlive{0};

// A worker left to a stuck call runs code of the file it was built into
// until that call returns, whenever that is, and for a moment after its
// count has dropped: that file (a data source a host may unload) stays
// loaded for good from then on.
void KeepOwnCodeLoaded() {
#ifdef _WIN32
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&KeepOwnCodeLoaded), &self);
#endif
}
}  // namespace

int StallableCallThreadsAlive() { return threadsAlive.load(); }

StallableCall::StallableCall(std::function<void()> call) : shared_(std::make_shared<Shared>()) {
  shared_->call = std::move(call);
  ++threadsAlive;
  try {
    worker_ = std::thread(&StallableCall::Work, shared_);
  } catch (const std::system_error&) {
    // No thread: every Run reports the call as unavailable.
    --threadsAlive;
  }
}

StallableCall::~StallableCall() {
  bool busy = false;
  {
    const std::lock_guard<Monitor> hold(shared_->monitor);
    shared_->quit = true;
    busy = shared_->requested != shared_->finished;
  }
  shared_->monitor.NotifyAll();
  if (!worker_.joinable()) return;
  if (busy) {
    KeepOwnCodeLoaded();
    worker_.detach();  // it ends once the stuck call returns
  } else {
    worker_.join();
  }
}

StallableCall::Outcome StallableCall::Run(std::chrono::milliseconds limit) {
  if (!worker_.joinable()) return Outcome::Unavailable;
  Shared& shared = *shared_;
  const auto deadline = Monitor::Clock::now() + limit;
  Monitor::Lock lock(shared.monitor);
  if (!shared.monitor.WaitUntil(lock, deadline,
                                [&] { return shared.cancelled || shared.finished == shared.requested; })) {
    return Outcome::TimedOut;
  }
  if (shared.cancelled) return Outcome::Cancelled;
  const std::uint64_t ticket = ++shared.requested;
  shared.monitor.NotifyAllUnlocked(lock);
  shared.monitor.WaitUntil(lock, deadline, [&] { return shared.cancelled || shared.finished >= ticket; });
  if (shared.finished >= ticket) return Outcome::Finished;
  return shared.cancelled ? Outcome::Cancelled : Outcome::TimedOut;
}

void StallableCall::Cancel() {
  {
    const std::lock_guard<Monitor> hold(shared_->monitor);
    shared_->cancelled = true;
  }
  shared_->monitor.NotifyAll();
}

void StallableCall::Resume() {
  const std::lock_guard<Monitor> hold(shared_->monitor);
  shared_->cancelled = false;
}

bool StallableCall::Busy() const {
  const std::lock_guard<Monitor> hold(shared_->monitor);
  return shared_->requested != shared_->finished;
}

void StallableCall::Work(std::shared_ptr<Shared> shared) {
  struct Alive {
    ~Alive() { --threadsAlive; }
  } alive;
  Monitor::Lock lock(shared->monitor);
  for (;;) {
    shared->monitor.Wait(lock, [&] { return shared->quit || shared->requested != shared->finished; });
    if (shared->quit) return;
    lock.unlock();
    shared->call();
    lock.lock();
    shared->finished = shared->requested;
    shared->monitor.NotifyAllUnlocked(lock);
  }
}

}  // namespace snaplark
