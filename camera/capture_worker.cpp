#include "camera/capture_worker.h"

#include <system_error>
#include <utility>

namespace snaplark {

CaptureWorker::CaptureWorker(FrameReader readFrame, std::function<bool()> deviceGone)
    : readFrame_(std::move(readFrame)), deviceGone_(std::move(deviceGone)) {}

CaptureWorker::~CaptureWorker() { Stop(); }

bool CaptureWorker::Start(FrameCallback callback) {
  if (running_.load()) return false;
  {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    frameCallback_ = std::move(callback);
  }
  // Only reachable if a thread ended without Stop; never leave one unjoined.
  if (captureThread_.joinable()) captureThread_.join();
  running_.store(true);
  try {
    captureThread_ = std::thread(&CaptureWorker::CaptureLoop, this);
  } catch (const std::system_error&) {
    // The system refused a thread: stay in the state a Stop would leave.
    running_.store(false);
    return false;
  }
  return true;
}

void CaptureWorker::Stop() {
  running_.exchange(false);
  if (captureThread_.joinable()) captureThread_.join();
}

void CaptureWorker::CaptureLoop() {
  // One buffer for the life of the thread: once the first frame has sized
  // it, later frames of the same size are converted without allocating.
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
  int stride = 0;
  while (running_.load()) {
    if (readFrame_(pixels, width, height, stride)) {
      std::lock_guard<std::mutex> lock(callbackMutex_);
      if (frameCallback_) frameCallback_(pixels.data(), width, height, stride);
    } else if (deviceGone_ && deviceGone_()) {
      running_.store(false);
    } else {
      std::this_thread::sleep_for(RetryDelay);
    }
  }
}

}  // namespace snaplark
