#pragma once
// The camera's capture thread: it reads frames one after another and hands
// each to the frame callback. It knows nothing of the platform, only a frame
// reader, so its locking is checked natively under the thread sanitizer too.
//
// Lock order: the callback runs with callbackMutex_ held, so a callback that
// takes a lock of its own (the preview's) nests it inside callbackMutex_. No
// code may take them the other way round.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace snaplark {

// One converted frame: `height` rows of `stride` bytes, blue-green-red,
// bottom row first. The pointer is valid only during the call.
using FrameCallback = std::function<void(const std::uint8_t* pixels, int width, int height, int stride)>;

// Reads one converted frame into `pixels` and its outs; false when no frame
// could be read. Called only on the capture thread.
using FrameReader = std::function<bool(std::vector<std::uint8_t>& pixels, int& width, int& height, int& stride)>;

class CaptureWorker {
 public:
  // A failed read is retried after this pause, so a dead device does not spin.
  static constexpr std::chrono::milliseconds RetryDelay{30};

  // `deviceGone`, if given, is asked after each failed read: once it says
  // the device is gone, the thread stops reading instead of retrying.
  explicit CaptureWorker(FrameReader readFrame, std::function<bool()> deviceGone = {});
  ~CaptureWorker();
  CaptureWorker(const CaptureWorker&) = delete;
  CaptureWorker& operator=(const CaptureWorker&) = delete;

  // Starts the thread with this callback. False while a thread runs (the
  // stored callback is then left alone) or when no thread can be created.
  // An empty callback is allowed: frames are then read and dropped.
  bool Start(FrameCallback callback);

  // Clears the flag and joins the thread. The iteration in progress, with its
  // read and callback, finishes first; no callback is made after this returns.
  // Must not be called from within the callback.
  void Stop();

  // False once Stop was called, and once the device was found gone.
  bool IsRunning() const { return running_.load(); }

 private:
  void CaptureLoop();

  FrameReader readFrame_;
  std::function<bool()> deviceGone_;
  std::thread captureThread_;
  std::atomic<bool> running_{false};
  FrameCallback frameCallback_;  // guarded by callbackMutex_; outlives Stop
  std::mutex callbackMutex_;
};

}  // namespace snaplark
