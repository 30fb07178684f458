// Device enumeration against Wine's own Media Foundation (which has no camera)
// and against a layer of virtual devices. Every case also checks that nothing
// the layer handed out outlives the enumeration: the activation objects are
// counted, and the task-memory blocks (the array and every string) are watched
// through a malloc spy.
#include <windows.h>
#include <gtest/gtest.h>
#include <mfapi.h>
#include <objbase.h>
#include <objidl.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "camera/media_foundation.h"
#include "camera/media_platform.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_activate.h"

namespace snaplark {

bool operator==(const CameraDevice& a, const CameraDevice& b) {
  return a.name == b.name && a.symbolicLink == b.symbolicLink;
}
void PrintTo(const CameraDevice& d, std::ostream* os) {
  *os << '{' << ::testing::PrintToString(d.name) << ", " << ::testing::PrintToString(d.symbolicLink) << '}';
}

namespace {

// Sees every CoTaskMemAlloc/CoTaskMemFree of the process while registered and
// keeps the blocks of one thread (the test's) that are not yet freed.
class TaskMemorySpy final : public IMallocSpy {
 public:
  void Watch(DWORD thread) {
    std::lock_guard lock(mutex_);
    thread_ = thread;
    outstanding_.clear();
    freed_.clear();
  }
  std::set<void*> Outstanding() {
    std::lock_guard lock(mutex_);
    return outstanding_;
  }
  bool WasFreed(void* block) {
    std::lock_guard lock(mutex_);
    return freed_.count(block) != 0;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the test program.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
  STDMETHODIMP_(void*) PostAlloc(void* block) override {
    if (block && Mine()) {
      std::lock_guard lock(mutex_);
      outstanding_.insert(block);
    }
    return block;
  }
  STDMETHODIMP_(void*) PreFree(void* block, BOOL) override {
    if (block) {
      std::lock_guard lock(mutex_);
      outstanding_.erase(block);
      freed_.insert(block);
    }
    return block;
  }
  STDMETHODIMP_(void) PostFree(BOOL) override {}
  STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
    if (block) {
      std::lock_guard lock(mutex_);
      outstanding_.erase(block);
    }
    *newBlock = block;
    return size;
  }
  STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return PostAlloc(block); }
  STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
  STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
  STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
  STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int result) override { return result; }
  STDMETHODIMP_(void) PreHeapMinimize() override {}
  STDMETHODIMP_(void) PostHeapMinimize() override {}

 private:
  bool Mine() {
    std::lock_guard lock(mutex_);
    return GetCurrentThreadId() == thread_;
  }

  std::mutex mutex_;
  DWORD thread_ = 0;
  std::set<void*> outstanding_;
  std::set<void*> freed_;
};

TaskMemorySpy spy;

// The layer's devices and what it saw of the engine's call.
std::vector<VirtualDeviceInfo> layerDevices;
HRESULT layerResult = S_OK;
IMFActivate** handedOutArray = nullptr;
bool askedForVideoCapture = false;

HRESULT WINAPI EnumerateVirtualDevices(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count) {
  GUID type = GUID_NULL;
  askedForVideoCapture = attributes && SUCCEEDED(attributes->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &type)) &&
                         IsEqualGUID(type, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  if (FAILED(layerResult)) return layerResult;
  const HRESULT hr = CreateVirtualActivateArray(layerDevices, devices, count);
  handedOutArray = *devices;
  return hr;
}

HRESULT WINAPI NoDeviceSource(IMFAttributes*, IMFMediaSource** source) {
  *source = nullptr;
  return E_NOTIMPL;
}

// The system's calls with the devices replaced by the layer's; the system's
// come back however the test ends.
struct LayerInUse {
  LayerInUse() : calls_(*SystemMediaFoundation()) {
    calls_.enumDeviceSources = EnumerateVirtualDevices;
    calls_.createDeviceSource = NoDeviceSource;
    UseMediaFoundationCalls(&calls_);
  }
  ~LayerInUse() { UseSystemMediaFoundation(); }
  LayerInUse(const LayerInUse&) = delete;
  LayerInUse& operator=(const LayerInUse&) = delete;

 private:
  MediaFoundationCalls calls_;
};

class EnumerateCamerasTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK); }
  static void TearDownTestSuite() { CoRevokeMallocSpy(); }

  void SetUp() override {
    ASSERT_TRUE(StartMediaPlatform());
    layerDevices.clear();
    layerResult = S_OK;
    handedOutArray = nullptr;
    askedForVideoCapture = false;
    ASSERT_EQ(LiveVirtualObjects(), 0);
    spy.Watch(GetCurrentThreadId());
  }

  void TearDown() override {
    EXPECT_EQ(LiveVirtualObjects(), 0) << "an activation object was not released";
    EXPECT_TRUE(spy.Outstanding().empty()) << "task memory handed out was not freed";
    StopMediaPlatform();
  }

  std::vector<CameraDevice> EnumerateVirtual(std::vector<VirtualDeviceInfo> devices) {
    layerDevices = std::move(devices);
    LayerInUse layer;
    return EnumerateCameras();
  }
};

// Through the real Media Foundation: under Wine there is no camera at all; on a
// Windows desk whatever is attached is listed, so only Wine's answer is known.
TEST_F(EnumerateCamerasTest, RealMediaFoundationListsWithoutFailing) {
  const std::vector<CameraDevice> devices = EnumerateCameras();
  const bool underWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (underWine) {
    EXPECT_TRUE(devices.empty());
  }
  for (const CameraDevice& device : devices) EXPECT_FALSE(device.symbolicLink.empty());
}

TEST_F(EnumerateCamerasTest, AsksForVideoCaptureDevicesAndKeepsPlatformOrder) {
  const std::vector<CameraDevice> devices = EnumerateVirtual({
      {L"USB Camera", L"\\\\?\\usb#vid_046d&pid_0825#2"},
      {L"USB Camera", L"\\\\?\\usb#vid_046d&pid_0825#1"},
      {L"Integrated Webcam", L"\\\\?\\usb#vid_0c45&pid_6713#0"},
  });
  EXPECT_TRUE(askedForVideoCapture);
  const std::vector<CameraDevice> expected = {
      {L"USB Camera", L"\\\\?\\usb#vid_046d&pid_0825#2"},
      {L"USB Camera", L"\\\\?\\usb#vid_046d&pid_0825#1"},
      {L"Integrated Webcam", L"\\\\?\\usb#vid_0c45&pid_6713#0"},
  };
  EXPECT_EQ(devices, expected);
}

TEST_F(EnumerateCamerasTest, DeviceWithMissingTextsIsStillListed) {
  const std::vector<CameraDevice> devices = EnumerateVirtual({
      {std::nullopt, L"\\\\?\\usb#noname"},
      {L"No Link", std::nullopt},
      {std::nullopt, std::nullopt},
      {L"", L""},
  });
  const std::vector<CameraDevice> expected = {
      {L"", L"\\\\?\\usb#noname"},
      {L"No Link", L""},
      {L"", L""},
      {L"", L""},
  };
  EXPECT_EQ(devices, expected);
}

TEST_F(EnumerateCamerasTest, TextsEndAtTheirFirstNul) {
  using namespace std::string_literals;
  const std::vector<CameraDevice> devices = EnumerateVirtual({
      {L"Front\0Camera"s, L"\\\\?\\usb#front\0stale"s},
      {L"\0hidden"s, L"\\\\?\\usb#rear"s},
  });
  const std::vector<CameraDevice> expected = {
      {L"Front", L"\\\\?\\usb#front"},
      {L"", L"\\\\?\\usb#rear"},
  };
  EXPECT_EQ(devices, expected);
}

TEST_F(EnumerateCamerasTest, EmptyArrayIsStillFreed) {
  EXPECT_TRUE(EnumerateVirtual({}).empty());
  ASSERT_NE(handedOutArray, nullptr);
  EXPECT_TRUE(spy.WasFreed(handedOutArray));
}

TEST_F(EnumerateCamerasTest, FailingEnumerationGivesAnEmptyList) {
  layerResult = E_FAIL;
  EXPECT_TRUE(EnumerateVirtual({{L"Never Listed", L"never"}}).empty());
  EXPECT_TRUE(askedForVideoCapture);
}

}  // namespace
}  // namespace snaplark
