// Once the first frame has sized the capture thread's buffer, the capture path
// (read, convert, callback) must not touch the heap again: it runs 30 times a
// second for as long as the window shows, on battery-powered laptops.
//
// The global allocation functions are replaced so that every allocation made
// through them on the capture thread is counted, between two frames chosen by
// the callback. The platform reader and the virtual source behind it (both
// reached only inside IMFSourceReader::ReadSample) are not our capture path:
// the camera's reader is wrapped so that what happens inside ReadSample is
// counted apart (the virtual source's request queue does allocate there now
// and then, on the capture thread). Media Foundation itself allocates from its
// own heaps, which never reach these functions; nothing on our capture path
// calls malloc directly, so it is not watched.
#include <windows.h>
#include <gtest/gtest.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/media_platform.h"
#include "camera/virtual/live_objects.h"
#include "camera/virtual/virtual_camera.h"
#include "camera/virtual/virtual_devices.h"
#include "support/media_platform_environment.h"
#include "support/reader_seam.h"
#include "ui/preview.h"

namespace {

// The thread whose allocations count (0: none), and whether it is inside the
// platform reader. Only that thread writes `insideReader`, so a plain atomic
// flag is enough.
std::atomic<DWORD> countedThread{0};
std::atomic<bool> insideReader{false};
std::atomic<long> pathAllocations{0};
std::atomic<long> readerAllocations{0};

void* CountedAllocate(std::size_t size) {
  const DWORD counted = countedThread.load(std::memory_order_relaxed);
  if (counted != 0 && counted == GetCurrentThreadId()) {
    (insideReader.load(std::memory_order_relaxed) ? readerAllocations : pathAllocations).fetch_add(1);
  }
  return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void Release(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedAllocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace snaplark {
namespace {

using Microsoft::WRL::ComPtr;

// Forwards every call to the platform's reader and marks the time spent in
// ReadSample on the calling thread.
class MarkingReader final : public IMFSourceReader {
 public:
  explicit MarkingReader(ComPtr<IMFSourceReader> inner) : inner_(std::move(inner)) {}

  STDMETHODIMP QueryInterface(REFIID id, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, __uuidof(IMFSourceReader))) {
      *out = static_cast<IMFSourceReader*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP ReadSample(DWORD stream, DWORD control, DWORD* actual, DWORD* flags, LONGLONG* time,
                          IMFSample** sample) override {
    insideReader = true;
    const HRESULT hr = inner_->ReadSample(stream, control, actual, flags, time, sample);
    insideReader = false;
    return hr;
  }
  STDMETHODIMP GetStreamSelection(DWORD stream, BOOL* selected) override {
    return inner_->GetStreamSelection(stream, selected);
  }
  STDMETHODIMP SetStreamSelection(DWORD stream, BOOL selected) override {
    return inner_->SetStreamSelection(stream, selected);
  }
  STDMETHODIMP GetNativeMediaType(DWORD stream, DWORD index, IMFMediaType** type) override {
    return inner_->GetNativeMediaType(stream, index, type);
  }
  STDMETHODIMP GetCurrentMediaType(DWORD stream, IMFMediaType** type) override {
    return inner_->GetCurrentMediaType(stream, type);
  }
  STDMETHODIMP SetCurrentMediaType(DWORD stream, DWORD* reserved, IMFMediaType* type) override {
    return inner_->SetCurrentMediaType(stream, reserved, type);
  }
  STDMETHODIMP SetCurrentPosition(REFGUID format, REFPROPVARIANT position) override {
    return inner_->SetCurrentPosition(format, position);
  }
  STDMETHODIMP Flush(DWORD stream) override { return inner_->Flush(stream); }
  STDMETHODIMP GetServiceForStream(DWORD stream, REFGUID service, REFIID id, void** out) override {
    return inner_->GetServiceForStream(stream, service, id, out);
  }
  STDMETHODIMP GetPresentationAttribute(DWORD stream, REFGUID attribute, PROPVARIANT* value) override {
    return inner_->GetPresentationAttribute(stream, attribute, value);
  }

 private:
  ComPtr<IMFSourceReader> inner_;
  std::atomic<long> references_{1};
};

constexpr wchar_t kLink[] = L"\\\\?\\snaplark-virtual#allocations";
constexpr int kWidth = 640, kHeight = 480;
// Frames before counting starts: the first sizes the buffer, the next few
// let anything lazily made on first use settle.
constexpr int kWarmUpFrames = 5;
constexpr int kCountedFrames = 300;

// A camera of one native type that answers every request at once with the
// same picture, so hundreds of frames take a moment, not seconds of pacing.
void InstallCamera(const GUID& subtype, VirtualFrame frame) {
  VirtualDevice device;
  device.name = L"Allocation test camera";
  device.symbolicLink = kLink;
  device.script = [subtype, frame] {
    VirtualCameraScript script;
    script.nativeTypes = {{subtype, kWidth, kHeight, 30}};
    script.frameMaker = [frame](std::uint32_t) { return frame; };
    return script;
  };
  UseVirtualDevices({device});
}

std::vector<std::uint8_t> Picture(std::size_t bytes) {
  std::vector<std::uint8_t> picture(bytes);
  for (std::size_t i = 0; i < bytes; ++i) picture[i] = static_cast<std::uint8_t>(i * 7 + i / 640);
  return picture;
}

struct Counts {
  int frames = 0;   // callbacks made in all
  long path = 0;    // our allocations on the capture thread while counting
  long reader = 0;  // the platform reader's and the source's, likewise
  bool finished = false;
};

// Opens the installed camera with a marking reader in front of the platform's,
// and captures until kCountedFrames frames after the warm-up have been
// delivered, counting the capture thread's allocations in between.
// `work` is the rest of the callback: it runs on the capture thread, counted.
template <typename Work>
Counts Capture(Work work) {
  pathAllocations = 0;
  readerAllocations = 0;
  Counts counts;
  const test::ReaderSeam seam([](test::ReaderSeam::Reader platform) {
    // (ComPtr::Attach of this toolchain adds a reference, so hand over the
    // creation's reference explicitly.)
    IMFSourceReader* marking = new MarkingReader(platform);
    test::ReaderSeam::Reader reader = marking;
    marking->Release();
    return reader;
  });
  Camera camera;
  if (!camera.Open(kLink)) {
    ADD_FAILURE() << "the virtual camera did not open";
    return counts;
  }

  std::atomic<int> frames{0};
  std::atomic<bool> finished{false};
  const bool started = camera.StartCapture([&](const std::uint8_t* pixels, int width, int height, int stride) {
    work(pixels, width, height, stride);
    // Counting covers whole iterations: from the end of one callback to the
    // end of another, every read, conversion and callback in between.
    const int n = ++frames;
    if (n == kWarmUpFrames) countedThread = GetCurrentThreadId();
    if (n == kWarmUpFrames + kCountedFrames) {
      countedThread = 0;
      finished = true;
    }
  });
  if (!started) {
    ADD_FAILURE() << "capture did not start";
    return counts;
  }
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!finished && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  camera.Close();
  countedThread = 0;
  counts.frames = frames;
  counts.path = pathAllocations;
  counts.reader = readerAllocations;
  counts.finished = finished;
  return counts;
}

void NoWork(const std::uint8_t*, int, int, int) {}

class CaptureAllocations : public ::testing::Test {
 protected:
  void TearDown() override {
    UseMediaFoundationDevices();
    // The platform releases the last samples on its own threads.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (LiveVirtualObjects() != 0 && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(LiveVirtualObjects(), 0) << "virtual objects were never released";
  }
};

// Without this the other cases could pass with the replacement not in force
// or the wrong thread watched.
TEST_F(CaptureAllocations, AnAllocationInTheCallbackIsCounted) {
  InstallCamera(MFVideoFormat_NV12, PackedFrame(Picture(kWidth * kHeight * 3 / 2)));
  const Counts counts = Capture([](const std::uint8_t*, int, int, int) {
    std::vector<std::uint8_t> scratch(16);  // one allocation per frame
    (void)scratch;
  });
  ASSERT_TRUE(counts.finished) << counts.frames << " frames delivered";
  EXPECT_EQ(counts.path, kCountedFrames);
}

TEST_F(CaptureAllocations, NoneOnTheCapturePathOnceTheFirstFrameHasSizedTheBuffer) {
  const std::vector<std::uint8_t> nv12 = Picture(kWidth * kHeight * 3 / 2);
  const std::vector<std::uint8_t> yuy2 = Picture(kWidth * kHeight * 2);
  const std::vector<std::uint8_t> rgb = Picture(static_cast<std::size_t>(kWidth) * 3 * kHeight);
  struct Case {
    const char* name;
    GUID subtype;
    VirtualFrame frame;
  };
  // Every conversion, from plain buffers and from 2-D ones (padded rows,
  // bottom-up RGB), which take other locking paths.
  const Case cases[] = {
      {"NV12", MFVideoFormat_NV12, PackedFrame(nv12)},
      {"YUY2", MFVideoFormat_YUY2, PackedFrame(yuy2)},
      {"RGB24", MFVideoFormat_RGB24, PackedFrame(rgb)},
      {"NV12 padded rows", MFVideoFormat_NV12, PitchedFrame(nv12, kWidth, kWidth + 64)},
      {"YUY2 padded rows", MFVideoFormat_YUY2, PitchedFrame(yuy2, 2 * kWidth, 2 * kWidth + 32)},
      {"RGB24 bottom-up rows", MFVideoFormat_RGB24, PitchedFrame(rgb, 3 * kWidth, -3 * kWidth)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallCamera(c.subtype, c.frame);
    const Counts counts = Capture(NoWork);
    ASSERT_TRUE(counts.finished) << counts.frames << " frames delivered";
    EXPECT_EQ(counts.path, 0) << "allocations by the capture path in " << kCountedFrames << " frames";
    RecordProperty(std::string(c.name) + " reader allocations", static_cast<int>(counts.reader));
  }
}

// The window's callback turns every frame into a bitmap, kept whole or
// shrunk to the control it is shown in; neither may allocate per frame.
TEST_F(CaptureAllocations, NoneWithThePreviewCallback) {
  for (const auto& [controlWidth, controlHeight] : {std::pair{0, 0}, std::pair{kWidth / 3, kHeight / 3}}) {
    SCOPED_TRACE(controlWidth ? "shrunk to the control" : "whole frame");
    InstallCamera(MFVideoFormat_NV12, PackedFrame(Picture(kWidth * kHeight * 3 / 2)));
    PreviewSlot slot;
    PreviewScratch scratch;
    const Counts counts = Capture([&](const std::uint8_t* pixels, int width, int height, int) {
      OnPreviewFrame(slot, scratch, pixels, width, height, controlWidth, controlHeight);
    });
    ASSERT_TRUE(counts.finished) << counts.frames << " frames delivered";
    EXPECT_EQ(counts.path, 0);
    const HBITMAP bitmap = *slot.Peek();
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, controlWidth ? controlWidth : kWidth);
  }
}

}  // namespace
}  // namespace snaplark
