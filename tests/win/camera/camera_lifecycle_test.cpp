// Opening, closing and the capture thread of the Camera, against virtual
// devices read through Media Foundation's real source reader. The fixture
// checks after each test that every virtual object was released.
#include <atomic>
#include <mutex>
#include <set>

#include "camera/media_foundation.h"
#include "camera/stallable_call.h"
#include "camera_test_support.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kLink[] = L"\\\\?\\virtual#lifecycle";
constexpr wchar_t kOtherLink[] = L"\\\\?\\virtual#other";

// Frames of 8 x 4 NV12 whose luma bytes all hold the frame number.
VirtualCameraScript CountingScript(std::shared_ptr<VirtualCameraStats> stats) {
  VirtualCameraScript script = OneTypeScript(MFVideoFormat_NV12, 8, 4);
  script.stats = std::move(stats);
  script.frameMaker = [](std::uint32_t n) {
    std::vector<std::uint8_t> bytes(8 * 4 * 3 / 2, 128);
    std::fill(bytes.begin(), bytes.begin() + 32, static_cast<std::uint8_t>(n));
    return PackedFrame(std::move(bytes));
  };
  return script;
}

// Records what the frame callback saw (frame numbers from the pixel values).
struct CallbackLog {
  std::mutex mutex;
  std::vector<int> frames;
  std::atomic<int> count{0};

  FrameCallback Callback() {
    return [this](const std::uint8_t* pixels, int width, int height, int stride) {
      EXPECT_EQ(width, 8);
      EXPECT_EQ(height, 4);
      EXPECT_EQ(stride, 24);
      std::lock_guard<std::mutex> lock(mutex);
      frames.push_back(pixels[0]);  // grey: blue = luma
      ++count;
    };
  }
};

class CameraLifecycle : public CameraTest {};

TEST_F(CameraLifecycle, ANewCameraIsClosedAndRefusesCapture) {
  Camera camera;
  EXPECT_FALSE(camera.IsOpen());
  EXPECT_EQ(camera.Width(), 0);
  EXPECT_EQ(camera.Height(), 0);
  EXPECT_FALSE(camera.StartCapture([](const std::uint8_t*, int, int, int) {}));
  camera.StopCapture();
  camera.StopCapture();
  camera.Close();
  camera.Close();
  EXPECT_FALSE(camera.IsOpen());
}

TEST_F(CameraLifecycle, OpensByLinkAndCloseShutsTheDeviceDown) {
  auto stats = std::make_shared<VirtualCameraStats>();
  InstallDevices({ScriptedDevice(kLink, CountingScript(stats))});
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  EXPECT_TRUE(camera.IsOpen());
  EXPECT_EQ(camera.Width(), 8);
  EXPECT_EQ(camera.Height(), 4);
  EXPECT_EQ(stats->starts, 0) << "opening alone does not start the device";

  camera.Close();
  EXPECT_FALSE(camera.IsOpen());
  EXPECT_EQ(camera.Width(), 0);
  EXPECT_EQ(camera.Height(), 0);
  EXPECT_EQ(stats->shutdowns, 1);
  EXPECT_FALSE(camera.StartCapture([](const std::uint8_t*, int, int, int) {}));
}

// Each way Open can fail leaves the camera closed and leaks nothing (the
// fixture checks the leaks), even when another device was open before.
TEST_F(CameraLifecycle, EveryFailedOpenLeavesTheCameraClosed) {
  VirtualDevice unplugged = ScriptedDevice(L"unplugged", CountingScript(nullptr));
  unplugged.openError = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
  VirtualCameraScript noTypes = CountingScript(nullptr);
  noTypes.nativeTypes.clear();
  VirtualCameraScript noUsableType = CountingScript(nullptr);
  noUsableType.nativeTypes = {{MFVideoFormat_RGB32, 8, 4, 30}, {MFVideoFormat_I420, 8, 4, 30}};
  VirtualCameraScript noFrameSize = CountingScript(nullptr);
  noFrameSize.nativeTypes = {{MFVideoFormat_NV12, 0, 0, 30}};
  auto goodStats = std::make_shared<VirtualCameraStats>();
  InstallDevices({ScriptedDevice(kLink, CountingScript(goodStats)), unplugged, ScriptedDevice(L"no types", noTypes),
                  ScriptedDevice(L"no usable type", noUsableType), ScriptedDevice(L"no frame size", noFrameSize)});

  Camera camera;
  for (const wchar_t* link : {L"not listed", L"unplugged", L"no types", L"no usable type", L"no frame size"}) {
    SCOPED_TRACE(testing::Message() << "device " << std::string(link, link + wcslen(link)));
    ASSERT_TRUE(camera.Open(kLink));
    EXPECT_FALSE(camera.Open(link));
    EXPECT_FALSE(camera.IsOpen());
    EXPECT_EQ(camera.Width(), 0);
    EXPECT_EQ(camera.Height(), 0);
    EXPECT_FALSE(camera.StartCapture([](const std::uint8_t*, int, int, int) {}));
  }
  EXPECT_EQ(goodStats->shutdowns, 5) << "each failed Open first let the open device go";
}

// The device's source exists but no reader takes it: shutting it down is the
// opener's duty, or the device stays held until the process ends. (Wine's
// own reader shuts a source down when it fails to take it, so the failure is
// made here, in the one place Media Foundation is reached.)
HRESULT WINAPI RefuseReader(IMFMediaSource*, IMFAttributes*, IMFSourceReader**) { return E_FAIL; }

TEST_F(CameraLifecycle, ASourceThatNoReaderTookIsShutDown) {
  auto stats = std::make_shared<VirtualCameraStats>();
  InstallDevices({ScriptedDevice(kLink, CountingScript(stats))});
  ASSERT_NE(MediaFoundation(), nullptr);
  MediaFoundationCalls refusing = *MediaFoundation();
  refusing.createSourceReaderFromMediaSource = RefuseReader;
  UseMediaFoundationCalls(&refusing);
  Camera camera;
  const bool opened = camera.Open(kLink);
  UseSystemMediaFoundation();
  EXPECT_FALSE(opened);
  EXPECT_EQ(stats->shutdowns, 1);
}

TEST_F(CameraLifecycle, OneCaptureThreadDeliversEveryFrameAndNoneAfterStop) {
  auto stats = std::make_shared<VirtualCameraStats>();
  InstallDevices({ScriptedDevice(kLink, CountingScript(stats))});
  CallbackLog log;  // outlives the camera and its capture thread
  CallbackLog refused;
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  EXPECT_FALSE(camera.StartCapture(refused.Callback()));
  ASSERT_TRUE(WaitUntil([&] { return log.count >= 5; }));
  camera.StopCapture();
  EXPECT_TRUE(camera.IsOpen()) << "stopping capture keeps the device open";
  const int atStop = log.count;
  Sleep(100);
  EXPECT_EQ(log.count, atStop);
  EXPECT_EQ(refused.count, 0);

  // The frame number is a byte: an unpaced source may pass 256 frames
  // before the stop.
  std::lock_guard<std::mutex> lock(log.mutex);
  for (std::size_t i = 0; i < log.frames.size(); ++i) EXPECT_EQ(log.frames[i], static_cast<int>(i % 256));
}

TEST_F(CameraLifecycle, OpenWhileCapturingJoinsTheThreadAndReleasesTheOldDeviceFirst) {
  auto oldStats = std::make_shared<VirtualCameraStats>();
  auto newStats = std::make_shared<VirtualCameraStats>();
  InstallDevices(
      {ScriptedDevice(kLink, CountingScript(oldStats)), ScriptedDevice(kOtherLink, CountingScript(newStats))});
  CallbackLog log;  // outlives the camera and its capture thread
  CallbackLog after;
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  ASSERT_TRUE(WaitUntil([&] { return log.count >= 3; }));

  ASSERT_TRUE(camera.Open(kOtherLink));
  EXPECT_EQ(oldStats->shutdowns, 1);
  const int atOpen = log.count;
  Sleep(100);
  EXPECT_EQ(log.count, atOpen) << "the old capture thread is gone";
  EXPECT_EQ(newStats->starts, 0) << "Open never restarts capture";

  // Open, not capturing: a new capture may start.
  EXPECT_TRUE(camera.StartCapture(after.Callback()));
  EXPECT_TRUE(WaitUntil([&] { return after.count >= 1; }));
}

// A device unplugged while capturing: the thread stops reading instead of
// retrying for ever, the camera counts as closed, and once the device is
// back the next Open works.
TEST_F(CameraLifecycle, ADeviceRemovedWhileCapturingIsLostUntilOpenedAgain) {
  std::deque<VirtualStep> steps;
  for (int i = 0; i < 3; ++i) steps.push_back(FrameStep(PackedFrame(std::vector<std::uint8_t>(48, 100))));
  steps.push_back(RemovalStep());
  VirtualCameraScript script = OneTypeScript(MFVideoFormat_NV12, 8, 4, std::move(steps));
  auto stats = script.stats;
  InstallDevices({ScriptedDevice(kLink, script)});
  CallbackLog log;  // outlives the camera and its capture thread
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  ASSERT_TRUE(WaitUntil([&] { return !camera.IsOpen(); })) << "the removal was not noticed";
  const int requestsAtLoss = stats->requests;
  Sleep(200);
  EXPECT_EQ(stats->requests, requestsAtLoss) << "a lost device is not read again";
  EXPECT_EQ(log.count, 3);
  EXPECT_FALSE(camera.StartCapture(log.Callback())) << "a lost camera does not capture";
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
  EXPECT_FALSE(camera.ReadFrame(pixels, width, height, stride));

  // Plugged in again: the same link opens and delivers.
  auto again = std::make_shared<VirtualCameraStats>();
  InstallDevices({ScriptedDevice(kLink, CountingScript(again))});
  ASSERT_TRUE(camera.Open(kLink));
  EXPECT_TRUE(camera.ReadFrame(pixels, width, height, stride));
  EXPECT_EQ(stats->shutdowns, 1) << "the lost device was let go";
}

// A camera that stops sending without an error (a USB stall, a privacy
// shutter): nothing waits on it for good. Stopping, a snapshot and closing
// each come back within their bound; no callback follows the stop; when the
// camera wakes, the reads left behind end and release everything.
TEST_F(CameraLifecycle, AStalledCameraHoldsNothingUp) {
  auto stats = std::make_shared<VirtualCameraStats>();
  VirtualCameraScript script = CountingScript(stats);
  script.frameInterval = std::chrono::milliseconds(5);
  InstallDevices({ScriptedDevice(kLink, script)});
  CallbackLog log;  // outlives the camera and its capture thread
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  ASSERT_TRUE(WaitUntil([&] { return log.count >= 3; }));
  stats->stalled = true;
  Sleep(100);  // the capture thread's read is now waiting on the camera

  EXPECT_LT(Elapsed([&] { camera.StopCapture(); }), std::chrono::seconds(1)) << "StopCapture waited on the camera";
  const int atStop = log.count;
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
  bool read = true;
  EXPECT_LT(Elapsed([&] { read = camera.ReadFrame(pixels, width, height, stride); }),
            Camera::ReadTimeLimit + std::chrono::seconds(1));
  EXPECT_FALSE(read) << "a stalled camera gave a snapshot";
  EXPECT_LT(Elapsed([&] { camera.Close(); }), std::chrono::seconds(1)) << "Close waited on the camera";
  EXPECT_FALSE(camera.IsOpen());

  // The camera wakes: the abandoned reads get their samples and end; the
  // fixture then finds every object released and the source shut down.
  stats->stalled = false;
  Sleep(200);
  EXPECT_EQ(log.count, atStop) << "a callback ran after StopCapture";
  ASSERT_TRUE(camera.Open(kLink)) << "the camera opens again";
  EXPECT_TRUE(camera.ReadFrame(pixels, width, height, stride));
}

// Many USB webcams take seconds to send their first frame: that is no camera
// in use. The capture thread and a snapshot both wait it out. A camera that
// then goes silent costs a snapshot the read limit once; while that read is
// stuck, the next snapshot fails at once instead of blocking the window again.
TEST_F(CameraLifecycle, ACameraSlowToStartDeliversAndADeadOneBlocksOnlyOnce) {
  auto stats = std::make_shared<VirtualCameraStats>();
  VirtualCameraScript script = CountingScript(stats);
  script.frameInterval = std::chrono::milliseconds(5);
  script.firstFrameDelay = std::chrono::milliseconds(3500);
  InstallDevices({ScriptedDevice(kLink, script)});
  CallbackLog log;  // outlives the camera and its capture thread
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  HGLOBAL block = nullptr;
  EXPECT_GE(Elapsed([&] { block = SnapshotDib(camera).Release(); }), std::chrono::milliseconds(3000));
  EXPECT_NE(block, nullptr) << "the first snapshot gave up on a camera that was starting";
  if (block) GlobalFree(block);
  EXPECT_TRUE(WaitUntil([&] { return log.count >= 1; })) << "the preview gave up on a camera that was starting";
  stats->stalled = true;
  Sleep(100);  // frames on their way have arrived; the capture thread waits
  camera.StopCapture();

  EXPECT_LT(Elapsed([&] { block = SnapshotDib(camera).Release(); }), Camera::ReadTimeLimit + std::chrono::seconds(1));
  EXPECT_EQ(block, nullptr);
  EXPECT_LT(Elapsed([&] { block = SnapshotDib(camera).Release(); }), std::chrono::milliseconds(200))
      << "the second snapshot waited on the dead camera again";
  EXPECT_EQ(block, nullptr);
  camera.Close();
}

// A camera silent for good: Close lets the device go although a read still
// waits on it, so that cycles of opening, reading and closing leave no
// source running and no reading thread behind.
TEST_F(CameraLifecycle, ACameraSilentForGoodIsLetGoAtEveryClose) {
  auto stats = std::make_shared<VirtualCameraStats>();
  stats->stalled = true;
  InstallDevices({ScriptedDevice(kLink, CountingScript(stats))});
  const long sourcesBefore = VirtualSourcesNotShutDown();
  const int threadsBefore = StallableCallThreadsAlive();
  CallbackLog log;  // outlives the camera and its capture thread
  Camera camera;
  for (int cycle = 0; cycle < 4; ++cycle) {
    ASSERT_TRUE(camera.Open(kLink));
    ASSERT_TRUE(camera.StartCapture(log.Callback()));
    ASSERT_TRUE(WaitUntil([&] { return stats->requests > cycle; })) << "the capture thread never asked";
    camera.Close();
    EXPECT_EQ(VirtualSourcesNotShutDown(), sourcesBefore) << "cycle " << cycle << " left its device running";
  }
  EXPECT_TRUE(WaitUntil([&] { return StallableCallThreadsAlive() <= threadsBefore; }))
      << StallableCallThreadsAlive() - threadsBefore << " reading threads stayed behind";
  EXPECT_EQ(stats->shutdowns, 4);
  EXPECT_EQ(log.count, 0);
}

// The snapshot reads on the main thread while the capture thread reads too:
// each read gets its own sample, so no frame reaches both.
TEST_F(CameraLifecycle, SnapshotsAndTheCaptureThreadShareTheDevice) {
  auto stats = std::make_shared<VirtualCameraStats>();
  VirtualCameraScript script = CountingScript(stats);
  script.frameInterval = std::chrono::milliseconds(2);  // frame numbers must not wrap
  InstallDevices({ScriptedDevice(kLink, script)});
  CallbackLog log;  // outlives the camera and its capture thread
  Camera camera;
  ASSERT_TRUE(camera.Open(kLink));
  ASSERT_TRUE(camera.StartCapture(log.Callback()));
  std::set<int> snapshotFrames;
  for (int i = 0; i < 20; ++i) {
    HGLOBAL block = SnapshotDib(camera).Release();
    ASSERT_NE(block, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    snapshotFrames.insert(bytes[40]);
    GlobalUnlock(block);
    GlobalFree(block);
  }
  // On a busy machine the twenty snapshots can all come before the capture
  // thread's first frame; its frames must still be others than theirs.
  EXPECT_TRUE(WaitUntil([&] { return log.count > 0; })) << "the capture thread had no frame";
  camera.StopCapture();
  EXPECT_EQ(snapshotFrames.size(), 20u);
  std::lock_guard<std::mutex> lock(log.mutex);
  ASSERT_LT(stats->framesDelivered.load(), 256);
  for (int frame : log.frames) EXPECT_EQ(snapshotFrames.count(frame), 0u) << "frame " << frame << " went to both";
}

}  // namespace
}  // namespace snaplark::test
