// Start and stop of COM and Media Foundation. Both are reference-counted by the
// system, so an extra or a missing call shows up later as a count that is one
// off: COM through what the next CoInitializeEx returns on the same thread,
// Media Foundation through whether a work queue can still be allocated.
// Each case runs on a thread of its own so that no COM state outlives it.
#include <windows.h>
#include <gtest/gtest.h>
#include <mfapi.h>
#include <objbase.h>

#include <thread>

#include "camera/camera.h"
#include "camera/media_foundation.h"
#include "camera/media_platform.h"

namespace snaplark {
namespace {

template <typename Observe>
auto OnOwnThread(Observe observe) {
  decltype(observe()) result{};
  std::thread([&] { result = observe(); }).join();
  return result;
}

bool MediaFoundationRunning() {
  DWORD queue = 0;
  if (FAILED(MFAllocateWorkQueue(&queue))) return false;
  MFUnlockWorkQueue(queue);
  return true;
}

// What CoInitializeEx answers now: S_OK when the thread had no COM left,
// S_FALSE when it still had. The probe's own initialisation is undone.
HRESULT ProbeCom(DWORD model) {
  const HRESULT hr = CoInitializeEx(nullptr, model);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr;
}

struct Observed {
  bool firstStart = false;
  bool secondStart = false;
  bool mediaAfterStart = false;
  bool mediaAfterStop = false;
  HRESULT comAfterStop = E_UNEXPECTED;
};

TEST(MediaPlatform, SecondStartCallsNothingAndOneStopUndoesIt) {
  const Observed seen = OnOwnThread([] {
    Observed o;
    o.firstStart = StartMediaPlatform();
    o.secondStart = StartMediaPlatform();
    o.mediaAfterStart = MediaFoundationRunning();
    StopMediaPlatform();
    o.mediaAfterStop = MediaFoundationRunning();
    o.comAfterStop = ProbeCom(COINIT_MULTITHREADED);
    return o;
  });
  EXPECT_TRUE(seen.firstStart);
  EXPECT_TRUE(seen.secondStart);
  EXPECT_TRUE(seen.mediaAfterStart);
  EXPECT_FALSE(seen.mediaAfterStop) << "a second MFStartup was made";
  EXPECT_EQ(seen.comAfterStop, S_OK) << "a second CoInitializeEx was made";
}

TEST(MediaPlatform, StartsAgainAfterAStop) {
  const Observed seen = OnOwnThread([] {
    Observed o;
    o.firstStart = StartMediaPlatform();
    StopMediaPlatform();
    o.secondStart = StartMediaPlatform();
    o.mediaAfterStart = MediaFoundationRunning();
    o.comAfterStop = ProbeCom(COINIT_MULTITHREADED);  // still ours: S_FALSE
    StopMediaPlatform();
    o.mediaAfterStop = MediaFoundationRunning();
    return o;
  });
  EXPECT_TRUE(seen.firstStart);
  EXPECT_TRUE(seen.secondStart);
  EXPECT_TRUE(seen.mediaAfterStart);
  EXPECT_EQ(seen.comAfterStop, S_FALSE);
  EXPECT_FALSE(seen.mediaAfterStop);
}

// The thread holds COM and Media Foundation once itself, so that a stop which
// undid more than its own start would take them away from under it.
struct Borrowed {
  bool mediaStillRunning = false;
  HRESULT comStillThere = E_UNEXPECTED;
};

TEST(MediaPlatform, SecondStopDoesNothing) {
  const Borrowed seen = OnOwnThread([] {
    Borrowed b;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET);
    StartMediaPlatform();
    StopMediaPlatform();
    StopMediaPlatform();
    b.mediaStillRunning = MediaFoundationRunning();
    b.comStillThere = ProbeCom(COINIT_MULTITHREADED);
    MFShutdown();
    if (SUCCEEDED(com)) CoUninitialize();
    return b;
  });
  EXPECT_TRUE(seen.mediaStillRunning);
  EXPECT_EQ(seen.comStillThere, S_FALSE);
}

TEST(MediaPlatform, StopWithoutStartDoesNothing) {
  const Borrowed seen = OnOwnThread([] {
    Borrowed b;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET);
    StopMediaPlatform();
    b.mediaStillRunning = MediaFoundationRunning();
    b.comStillThere = ProbeCom(COINIT_MULTITHREADED);
    MFShutdown();
    if (SUCCEEDED(com)) CoUninitialize();
    return b;
  });
  EXPECT_TRUE(seen.mediaStillRunning);
  EXPECT_EQ(seen.comStillThere, S_FALSE);
}

TEST(MediaPlatform, StartInASingleThreadedApartmentLeavesItsComAlone) {
  struct {
    HRESULT apartment = E_UNEXPECTED;
    bool started = false;
    bool mediaAfterStart = false;
    bool mediaAfterStop = false;
    HRESULT apartmentAfterStop = E_UNEXPECTED;
  } seen;
  std::thread([&] {
    seen.apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    seen.started = StartMediaPlatform();
    seen.mediaAfterStart = MediaFoundationRunning();
    StopMediaPlatform();
    seen.mediaAfterStop = MediaFoundationRunning();
    // S_FALSE: the apartment is still the thread's own, one level deep.
    seen.apartmentAfterStop = ProbeCom(COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(seen.apartment)) CoUninitialize();
  }).join();
  ASSERT_EQ(seen.apartment, S_OK);
  EXPECT_TRUE(seen.started);
  EXPECT_TRUE(seen.mediaAfterStart);
  EXPECT_FALSE(seen.mediaAfterStop) << "Media Foundation must still go down";
  EXPECT_EQ(seen.apartmentAfterStop, S_FALSE) << "stop uninitialised a COM it did not initialise";
}

}  // namespace
}  // namespace snaplark

namespace snaplark {
namespace {

// A Windows edition without the media features: the program runs on, the
// platform does not start, no camera is listed and none opens.
TEST(MediaPlatform, WithoutMediaFoundationNothingStartsAndNoCameraIsListed) {
  UseMediaFoundationCalls(nullptr);
  struct Seen {
    bool started = true;
    std::size_t cameras = 99;
    bool opened = true;
  };
  const Seen seen = OnOwnThread([] {
    Seen s;
    s.started = StartMediaPlatform();
    s.cameras = EnumerateCameras().size();
    Camera camera;
    s.opened = camera.Open(L"\\\\?\\any#camera");
    StopMediaPlatform();
    return s;
  });
  UseSystemMediaFoundation();
  EXPECT_FALSE(seen.started);
  EXPECT_EQ(seen.cameras, 0u);
  EXPECT_FALSE(seen.opened);
  EXPECT_NE(MediaFoundation(), nullptr) << "the system's Media Foundation is back";
}

}  // namespace
}  // namespace snaplark
