// A call that may never return, waited for with a limit: what the caller is
// told, what happens to a call left behind, and cancelling a wait. These run
// under the thread sanitizer too.
#include "camera/stallable_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace snaplark {
namespace {

using namespace std::chrono_literals;
using Outcome = StallableCall::Outcome;

// A call that can be held (as a camera that stopped sending holds a read),
// counting its runs in state it shares, as the camera's read shares its slot.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool held = false;
  int runs = 0;

  void Pass() {
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait(lock, [&] { return !held; });
    ++runs;
  }
  // Notifies under the lock: once a released call has run, the gate may be
  // gone with it.
  void Hold(bool hold) {
    const std::lock_guard<std::mutex> lock(mutex);
    held = hold;
    opened.notify_all();
  }
  int Runs() {
    const std::lock_guard<std::mutex> lock(mutex);
    return runs;
  }
};

std::function<void()> Through(const std::shared_ptr<Gate>& gate) {
  return [gate] { gate->Pass(); };
}

TEST(StallableCall, AHeldCallTimesOutAndIsFinishedBeforeTheNextRuns) {
  auto gate = std::make_shared<Gate>();
  StallableCall call(Through(gate));
  EXPECT_EQ(call.Run(1s), Outcome::Finished);
  EXPECT_EQ(gate->Runs(), 1);

  gate->Hold(true);
  EXPECT_EQ(call.Run(50ms), Outcome::TimedOut);
  EXPECT_TRUE(call.Busy());
  EXPECT_EQ(call.Run(50ms), Outcome::TimedOut) << "the held call is still under way";
  gate->Hold(false);
  EXPECT_EQ(call.Run(1s), Outcome::Finished);
  EXPECT_EQ(gate->Runs(), 3) << "the late call finished, then one more ran; none was lost or doubled";
  EXPECT_FALSE(call.Busy());
}

TEST(StallableCall, CancelEndsAWaitAtOnceUntilResumed) {
  auto gate = std::make_shared<Gate>();
  StallableCall call(Through(gate));
  gate->Hold(true);
  std::atomic<int> outcome{-1};
  std::thread waiter([&] { outcome = static_cast<int>(call.Run(10s)); });
  while (!call.Busy()) std::this_thread::sleep_for(1ms);
  call.Cancel();
  waiter.join();
  EXPECT_EQ(outcome, static_cast<int>(Outcome::Cancelled));
  EXPECT_EQ(call.Run(10s), Outcome::Cancelled) << "cancelled until resumed";
  call.Resume();
  gate->Hold(false);
  EXPECT_EQ(call.Run(1s), Outcome::Finished);
}

TEST(StallableCall, DestroyingDoesNotWaitForAStuckCallWhichEndsOnItsOwn) {
  auto gate = std::make_shared<Gate>();
  std::weak_ptr<Gate> watch = gate;
  {
    StallableCall call(Through(gate));
    gate->Hold(true);
    EXPECT_EQ(call.Run(20ms), Outcome::TimedOut);
  }  // returns at once, the call still held
  Gate* raw = gate.get();
  gate.reset();
  EXPECT_FALSE(watch.expired()) << "the stuck call keeps what it uses";
  raw->Hold(false);
  for (int i = 0; i < 5000 && !watch.expired(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(watch.expired()) << "the call ended and let go of its state";
}

}  // namespace
}  // namespace snaplark
