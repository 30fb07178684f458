// The capture thread on its own, driven by a fake frame reader: delivery,
// one thread at most, stopping, the retry pause and buffer reuse. These run
// under the thread sanitizer too.
#include "camera/capture_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace snaplark {
namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Frames of 4 x 2 pixels whose first byte is the frame number. It can be told
// to fail, and to hold a read until the test lets it go.
class FakeReader {
 public:
  static constexpr int kWidth = 4;
  static constexpr int kHeight = 2;
  static constexpr int kStride = 12;

  bool Read(std::vector<std::uint8_t>& pixels, int& width, int& height, int& stride) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++reads_;
      entered_.notify_all();
      released_.wait(lock, [&] { return !holdReads_; });
      if (failing_) return false;
    }
    pixels.resize(kStride * kHeight);
    pixels[0] = static_cast<std::uint8_t>(frames_++);
    width = kWidth;
    height = kHeight;
    stride = kStride;
    buffers_.store(&pixels);
    return true;
  }
  FrameReader AsReader() {
    return [this](std::vector<std::uint8_t>& p, int& w, int& h, int& s) { return Read(p, w, h, s); };
  }

  void SetFailing(bool failing) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_ = failing;
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdReads_ = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdReads_ = false;
    released_.notify_all();
  }
  // Waits until at least `count` reads have begun.
  bool WaitForReads(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return entered_.wait_for(lock, 5s, [&] { return reads_ >= count; });
  }
  int Reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }
  const void* LastBuffer() const { return buffers_.load(); }

 private:
  std::mutex mutex_;
  std::condition_variable entered_;
  std::condition_variable released_;
  int reads_ = 0;
  bool failing_ = false;
  bool holdReads_ = false;
  std::atomic<int> frames_{0};  // written by the capture thread only
  std::atomic<const void*> buffers_{nullptr};
};

// What a callback saw, safe to read from the test thread.
struct Seen {
  std::mutex mutex;
  std::vector<int> frameNumbers;
  std::vector<const std::uint8_t*> pointers;
  bool geometryOk = true;

  FrameCallback Callback() {
    return [this](const std::uint8_t* pixels, int width, int height, int stride) {
      std::lock_guard<std::mutex> lock(mutex);
      frameNumbers.push_back(pixels[0]);
      pointers.push_back(pixels);
      geometryOk =
          geometryOk && width == FakeReader::kWidth && height == FakeReader::kHeight && stride == FakeReader::kStride;
    };
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return frameNumbers.size();
  }
};

TEST(CaptureWorker, DeliversEveryFrameInOrderFromOneReusedBuffer) {
  FakeReader reader;
  Seen seen;
  CaptureWorker worker(reader.AsReader());
  ASSERT_TRUE(worker.Start(seen.Callback()));
  ASSERT_TRUE(WaitFor([&] { return seen.Count() >= 20; }));
  worker.Stop();

  std::lock_guard<std::mutex> lock(seen.mutex);
  EXPECT_TRUE(seen.geometryOk);
  for (std::size_t i = 0; i < seen.frameNumbers.size(); ++i) EXPECT_EQ(seen.frameNumbers[i], static_cast<int>(i % 256));
  // The same vector and the same storage for every frame: no allocation per frame.
  for (const std::uint8_t* pointer : seen.pointers) EXPECT_EQ(pointer, seen.pointers.front());
}

TEST(CaptureWorker, OneThreadAtMostAndTheFirstCallbackStays) {
  FakeReader reader;
  Seen first;
  Seen second;
  CaptureWorker worker(reader.AsReader());
  ASSERT_TRUE(worker.Start(first.Callback()));
  EXPECT_FALSE(worker.Start(second.Callback()));
  EXPECT_TRUE(worker.IsRunning());
  ASSERT_TRUE(WaitFor([&] { return first.Count() >= 5; }));
  worker.Stop();
  EXPECT_EQ(second.Count(), 0u);

  // After a stop a new thread starts, with the new callback only.
  const std::size_t firstTotal = first.Count();
  ASSERT_TRUE(worker.Start(second.Callback()));
  ASSERT_TRUE(WaitFor([&] { return second.Count() >= 5; }));
  worker.Stop();
  EXPECT_EQ(first.Count(), firstTotal);
}

TEST(CaptureWorker, NoCallbackOnceStopHasReturned) {
  FakeReader reader;
  Seen seen;
  CaptureWorker worker(reader.AsReader());
  ASSERT_TRUE(worker.Start(seen.Callback()));
  ASSERT_TRUE(WaitFor([&] { return seen.Count() >= 3; }));
  worker.Stop();
  EXPECT_FALSE(worker.IsRunning());
  const std::size_t atStop = seen.Count();
  const int readsAtStop = reader.Reads();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(seen.Count(), atStop);
  EXPECT_EQ(reader.Reads(), readsAtStop);
}

TEST(CaptureWorker, AReadInProgressAtStopIsDeliveredBeforeStopReturns) {
  FakeReader reader;
  Seen seen;
  CaptureWorker worker(reader.AsReader());
  reader.Hold();
  ASSERT_TRUE(worker.Start(seen.Callback()));
  ASSERT_TRUE(reader.WaitForReads(1));

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    worker.Stop();
    stopped = true;
  });
  // Stop has cleared the flag and now waits for the read in progress.
  ASSERT_TRUE(WaitFor([&] { return !worker.IsRunning(); }));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(stopped.load());
  reader.Release();
  stopper.join();

  EXPECT_EQ(seen.Count(), 1u);  // that frame, and no further read
  EXPECT_EQ(reader.Reads(), 1);
}

TEST(CaptureWorker, FailedReadsAreRetriedAfterAPause) {
  FakeReader reader;
  Seen seen;
  reader.SetFailing(true);
  CaptureWorker worker(reader.AsReader());
  ASSERT_TRUE(worker.Start(seen.Callback()));
  std::this_thread::sleep_for(300ms);
  const int failedReads = reader.Reads();
  // 30 ms apart: about ten in 300 ms, not thousands.
  EXPECT_GE(failedReads, 2);
  EXPECT_LE(failedReads, 12);
  EXPECT_EQ(seen.Count(), 0u);

  // A device that comes back is read again without a restart.
  reader.SetFailing(false);
  EXPECT_TRUE(WaitFor([&] { return seen.Count() >= 1; }));
  worker.Stop();
}

// An unplugged camera: once the device is gone the thread stops reading by
// itself, instead of retrying for as long as the window shows.
TEST(CaptureWorker, AGoneDeviceEndsTheReading) {
  FakeReader reader;
  reader.SetFailing(true);
  std::atomic<bool> gone{false};
  CaptureWorker worker(reader.AsReader(), [&] { return gone.load(); });
  Seen seen;
  ASSERT_TRUE(worker.Start(seen.Callback()));
  ASSERT_TRUE(reader.WaitForReads(2)) << "a failed read of a present device is retried";
  gone = true;
  ASSERT_TRUE(WaitFor([&] { return !worker.IsRunning(); }));
  const int reads = reader.Reads();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(reader.Reads(), reads);
  worker.Stop();
  // Back again: a new start reads anew.
  gone = false;
  reader.SetFailing(false);
  ASSERT_TRUE(worker.Start(seen.Callback()));
  EXPECT_TRUE(WaitFor([&] { return seen.Count() >= 1; }));
  worker.Stop();
}

TEST(CaptureWorker, AnEmptyCallbackStillReadsFrames) {
  FakeReader reader;
  CaptureWorker worker(reader.AsReader());
  ASSERT_TRUE(worker.Start(FrameCallback{}));
  EXPECT_TRUE(reader.WaitForReads(5));
  worker.Stop();
  EXPECT_NE(reader.LastBuffer(), nullptr);
}

TEST(CaptureWorker, StoppingWithoutAThreadAndTwiceIsHarmless) {
  FakeReader reader;
  Seen seen;
  {
    CaptureWorker worker(reader.AsReader());
    worker.Stop();
    worker.Stop();
    EXPECT_EQ(reader.Reads(), 0);
    ASSERT_TRUE(worker.Start(seen.Callback()));
    ASSERT_TRUE(WaitFor([&] { return seen.Count() >= 1; }));
    worker.Stop();
    worker.Stop();
    ASSERT_TRUE(worker.Start(seen.Callback()));
  }  // destruction stops and joins the running thread
  const std::size_t atEnd = seen.Count();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(seen.Count(), atEnd);
}

// Many start/stop cycles while frames flow, each callback taking a lock of
// its own inside the worker's (as the preview does). The thread sanitizer
// reports any race on the callback or any lock taken in the other order.
TEST(CaptureWorker, RepeatedStartStopWithANestedCallbackLock) {
  FakeReader reader;
  CaptureWorker worker(reader.AsReader());
  std::mutex previewLock;
  int previewFrames = 0;
  for (int cycle = 0; cycle < 40; ++cycle) {
    std::atomic<int> calls{0};
    ASSERT_TRUE(worker.Start([&](const std::uint8_t*, int, int, int) {
      std::lock_guard<std::mutex> lock(previewLock);
      ++previewFrames;
      ++calls;
    }));
    {
      // The UI side takes only the preview lock, never while stopping.
      std::lock_guard<std::mutex> lock(previewLock);
      (void)previewFrames;
    }
    ASSERT_TRUE(WaitFor([&] { return calls.load() >= 1; }));
    worker.Stop();
  }
  std::lock_guard<std::mutex> lock(previewLock);
  EXPECT_GE(previewFrames, 40);
}

}  // namespace
}  // namespace snaplark
