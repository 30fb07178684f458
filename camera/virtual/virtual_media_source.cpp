// The virtual camera's media source, its one stream, and the buffers, samples
// and media types they hand out. The source follows the contract that Media
// Foundation's source reader relies on: Start answers with MENewStream (or
// MEUpdatedStream), MESourceStarted and MEStreamStarted; every RequestSample
// is answered by one MEMediaSample (or ends the stream); Shutdown ends the
// event queues. Samples are delivered by a pacing thread of the source, so
// requests return at once as they do on a real device.
#include <mfapi.h>
#include <mferror.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "camera/monitor.h"
#include "camera/virtual/com_object.h"
#include "camera/virtual/virtual_camera.h"

namespace snaplark {
namespace {

using Microsoft::WRL::ComPtr;

// Attribute that ties a live-object tracker to a platform-made object such
// as a sample, so that it is counted until its last reference goes.
// {F678915B-88CC-4474-9588-71F2989981EE}
const GUID LiveTrackerAttribute = {0xf678915b, 0x88cc, 0x4474, {0x95, 0x88, 0x71, 0xf2, 0x98, 0x99, 0x81, 0xee}};

// The token attribute of a requested sample ({8294DA66-F328-4805-B551-00DEB4C57A61}).
const GUID SampleTokenAttribute = {0x8294da66, 0xf328, 0x4805, {0xb5, 0x51, 0x00, 0xde, 0xb4, 0xc5, 0x7a, 0x61}};

constexpr LONGLONG HundredNsPerSecond = 10'000'000;

std::atomic<long> buffersReleasedLocked{0};
std::atomic<long> sourcesNotShutDown{0};

// Takes over the one reference of a newly made object. (MinGW's ComPtr::Attach
// adds a reference of its own, so it cannot be used for this.)
template <typename T>
ComPtr<T> Adopt(T* object) {
  ComPtr<T> owner;
  *owner.GetAddressOf() = object;
  return owner;
}

// Counts one live object for as long as any attribute store holds it.
class LiveTracker final : public ComObject<LiveTracker, Answers<IUnknown>, IUnknown> {};

HRESULT AttachTracker(IMFAttributes* attributes) {
  auto* tracker = new (std::nothrow) LiveTracker();
  if (!tracker) return E_OUTOFMEMORY;
  const HRESULT hr = attributes->SetUnknown(LiveTrackerAttribute, tracker);
  tracker->Release();
  return hr;
}

// Named, so that a profile or the timing programs can tell the camera's own
// cost from the program's. Looked up: older systems lack the call.
void NameThisThread(const wchar_t* name) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set =
      kernel ? reinterpret_cast<SetDescription>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
             : nullptr;
  if (set) set(GetCurrentThread(), name);
}

// A media buffer over a VirtualFrame. It keeps count of its locks, so that a
// buffer released while still locked is noticed.
class VirtualBuffer final : public ComObject<VirtualBuffer, Answers<IMFMediaBuffer, IMF2DBuffer, IMF2DBuffer2>,
                                             IMFMediaBuffer, IMF2DBuffer2> {
 public:
  explicit VirtualBuffer(VirtualFrame frame) : frame_(std::move(frame)) {}

  // Only a 2-D frame is a 2-D buffer, and only some of those have the sized lock.
  bool Offers(REFIID riid) const {
    if (IsEqualIID(riid, IID_IMF2DBuffer)) return frame_.twoDimensional;
    if (IsEqualIID(riid, IID_IMF2DBuffer2)) return frame_.twoDimensional && frame_.sizedLock;
    return true;
  }

  // IMFMediaBuffer
  STDMETHODIMP Lock(BYTE** data, DWORD* maxLength, DWORD* currentLength) override {
    if (!data) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    BYTE* start = frame_.bytes.data() + frame_.offset;
    DWORD length = static_cast<DWORD>(frame_.bytes.size() - frame_.offset);
    if (frame_.twoDimensional && !IsPacked()) {
      // A plain lock of a 2-D buffer gives the rows packed, as the platform's do.
      packedCopy_.resize(static_cast<std::size_t>(frame_.rowBytes) * frame_.rows);
      for (DWORD row = 0; row < frame_.rows; ++row) {
        std::memcpy(packedCopy_.data() + static_cast<std::size_t>(row) * frame_.rowBytes, RowAt(row), frame_.rowBytes);
      }
      start = packedCopy_.data();
      length = static_cast<DWORD>(packedCopy_.size());
    }
    ++locks_;
    *data = start;
    if (maxLength) *maxLength = length;
    if (currentLength) *currentLength = length;
    return S_OK;
  }
  STDMETHODIMP Unlock() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (locks_ == 0) return E_INVALIDARG;
    --locks_;
    return S_OK;
  }
  STDMETHODIMP GetCurrentLength(DWORD* length) override {
    if (!length) return E_POINTER;
    *length = frame_.twoDimensional ? frame_.rowBytes * frame_.rows : static_cast<DWORD>(frame_.bytes.size());
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD length) override { return length <= frame_.bytes.size() ? S_OK : E_INVALIDARG; }
  STDMETHODIMP GetMaxLength(DWORD* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<DWORD>(frame_.bytes.size());
    return S_OK;
  }

  // IMF2DBuffer
  STDMETHODIMP Lock2D(BYTE** scanline0, LONG* pitch) override {
    if (!scanline0 || !pitch) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    ++locks2D_;
    *scanline0 = RowAt(0);
    *pitch = frame_.pitch;
    return S_OK;
  }
  STDMETHODIMP Unlock2D() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (locks2D_ == 0) return MF_E_UNEXPECTED;
    --locks2D_;
    return S_OK;
  }
  STDMETHODIMP GetScanline0AndPitch(BYTE** scanline0, LONG* pitch) override {
    if (!scanline0 || !pitch) return E_POINTER;
    *scanline0 = RowAt(0);
    *pitch = frame_.pitch;
    return S_OK;
  }
  STDMETHODIMP IsContiguousFormat(BOOL* contiguous) override {
    if (!contiguous) return E_POINTER;
    *contiguous = IsPacked() ? TRUE : FALSE;
    return S_OK;
  }
  STDMETHODIMP GetContiguousLength(DWORD* length) override { return GetCurrentLength(length); }
  STDMETHODIMP ContiguousCopyTo(BYTE* destination, DWORD length) override {
    if (!destination) return E_POINTER;
    if (length < frame_.rowBytes * frame_.rows) return E_INVALIDARG;
    for (DWORD row = 0; row < frame_.rows; ++row) {
      std::memcpy(destination + static_cast<std::size_t>(row) * frame_.rowBytes, RowAt(row), frame_.rowBytes);
    }
    return S_OK;
  }
  STDMETHODIMP ContiguousCopyFrom(const BYTE*, DWORD) override { return E_NOTIMPL; }

  // IMF2DBuffer2
  STDMETHODIMP Lock2DSize(MF2DBuffer_LockFlags, BYTE** scanline0, LONG* pitch, BYTE** bufferStart,
                          DWORD* bufferLength) override {
    if (!scanline0 || !pitch || !bufferStart || !bufferLength) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    ++locks2D_;
    *scanline0 = RowAt(0);
    *pitch = frame_.pitch;
    *bufferStart = frame_.bytes.data();
    *bufferLength = static_cast<DWORD>(frame_.bytes.size());
    return S_OK;
  }
  STDMETHODIMP Copy2DTo(IMF2DBuffer2*) override { return E_NOTIMPL; }

 private:
  ~VirtualBuffer() {
    if (locks_ != 0 || locks2D_ != 0) ++buffersReleasedLocked;
    if (frame_.pool) frame_.pool->Give(std::move(frame_.bytes));
  }

  bool IsPacked() const { return frame_.pitch == static_cast<LONG>(frame_.rowBytes); }

  // Row `row` counted from the top of the picture.
  BYTE* RowAt(DWORD row) {
    const std::size_t distance = static_cast<std::size_t>(frame_.pitch < 0 ? -frame_.pitch : frame_.pitch);
    const DWORD memoryRow = frame_.pitch < 0 ? frame_.rows - 1 - row : row;
    return frame_.bytes.data() + frame_.offset + distance * memoryRow;
  }

  VirtualFrame frame_;
  std::mutex mutex_;
  std::vector<std::uint8_t> packedCopy_;
  int locks_ = 0;
  int locks2D_ = 0;
};

class VirtualMediaSource;

class VirtualMediaStream final : public ComObject<VirtualMediaStream, Answers<IMFMediaStream, IMFMediaEventGenerator>,
                                                  QueuedEvents<IMFMediaStream>> {
 public:
  VirtualMediaStream(VirtualMediaSource* source, IMFStreamDescriptor* descriptor, IMFMediaEventQueue* queue);

  // IMFMediaStream
  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
  STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override {
    if (!descriptor) return E_POINTER;
    // The reader identifies the stream of the end it is told at shutdown.
    if (IsShutDown() && !endedAtShutdown_) return MF_E_SHUTDOWN;
    descriptor_.CopyTo(descriptor);
    return S_OK;
  }
  STDMETHODIMP RequestSample(IUnknown* token) override;

  // Called by the source when it shuts down: ends the queue and drops the
  // reference to the source that closed the loop between the two. With
  // requests still open the stream first ends for them, and the queue stays
  // until the reader has taken that news: a reader waiting on a request of
  // a shut-down device is told, not left waiting for good.
  void Shutdown(bool requestsOpen);

  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
    const HRESULT hr = queue_->EndGetEvent(result, event);
    MediaEventType type = MEUnknown;
    if (SUCCEEDED(hr) && event && *event && SUCCEEDED((*event)->GetType(&type)) && type == MEEndOfStream &&
        endingAtShutdown_.exchange(false)) {
      queue_->Shutdown();
    }
    return hr;
  }

 private:
  ~VirtualMediaStream() {
    if (queue_) queue_->Shutdown();
  }
  bool IsShutDown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shutDown_;
  }

  std::mutex mutex_;
  bool shutDown_ = false;
  std::atomic<bool> endingAtShutdown_{false};  // the end is queued, not yet taken
  std::atomic<bool> endedAtShutdown_{false};
  ComPtr<IMFMediaSource> source_;
  VirtualMediaSource* sourceImpl_;
  ComPtr<IMFStreamDescriptor> descriptor_;
};

class VirtualMediaSource final : public ComObject<VirtualMediaSource, Answers<IMFMediaSource, IMFMediaEventGenerator>,
                                                  QueuedEvents<IMFMediaSource>> {
 public:
  static HRESULT Create(VirtualCameraScript script, IMFMediaSource** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<VirtualMediaSource> source = Adopt(new (std::nothrow) VirtualMediaSource(std::move(script)));
    if (!source) return E_OUTOFMEMORY;
    HRESULT hr = source->Initialise();
    if (FAILED(hr)) {
      source->Shutdown();
      return hr;
    }
    *out = source.Detach();
    return S_OK;
  }

  // IMFMediaSource
  STDMETHODIMP GetCharacteristics(DWORD* characteristics) override {
    if (!characteristics) return E_POINTER;
    std::lock_guard<Monitor> lock(monitor_);
    if (shutDown_) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
  }

  STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override {
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    std::lock_guard<Monitor> lock(monitor_);
    if (shutDown_) return MF_E_SHUTDOWN;
    // A device whose stream offers no type has nothing to describe.
    if (!presentation_) return MF_E_INVALIDMEDIATYPE;
    return presentation_->Clone(descriptor);
  }

  STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* position) override {
    if (!descriptor || !position) return E_INVALIDARG;
    if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL)) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (position->vt != VT_I8 && position->vt != VT_EMPTY) return MF_E_UNSUPPORTED_TIME_FORMAT;

    ComPtr<VirtualMediaStream> stream;
    bool newStream = false;
    {
      std::lock_guard<Monitor> lock(monitor_);
      if (shutDown_) return MF_E_SHUTDOWN;
      if (!presentation_) return MF_E_INVALIDREQUEST;
      if (!stream_) {
        ComPtr<IMFStreamDescriptor> streamDescriptor;
        BOOL selected = FALSE;
        HRESULT hr = presentation_->GetStreamDescriptorByIndex(0, &selected, &streamDescriptor);
        if (FAILED(hr)) return hr;
        ComPtr<IMFMediaEventQueue> streamQueue;
        hr = MFCreateEventQueue(&streamQueue);
        if (FAILED(hr)) return hr;
        stream_ = Adopt(new (std::nothrow) VirtualMediaStream(this, streamDescriptor.Get(), streamQueue.Get()));
        if (!stream_) return E_OUTOFMEMORY;
        newStream = true;
      }
      if (!started_) {
        // A live source starts counting its frames afresh.
        framesDelivered_ = 0;
        startedAt_ = std::chrono::steady_clock::now() + script_.firstFrameDelay;
        nextDue_ = startedAt_;
      }
      started_ = true;
      stream = stream_;
      if (!pacer_.joinable()) {
        try {
          pacer_ = std::thread(&VirtualMediaSource::PacerLoop, this);
        } catch (const std::system_error&) {
          started_ = false;
          return E_OUTOFMEMORY;  // nothing may be thrown across the interface
        }
      }
    }
    ++script_.stats->starts;

    PROPVARIANT startTime;
    PropVariantInit(&startTime);
    startTime.vt = VT_I8;
    startTime.hVal.QuadPart = 0;
    HRESULT hr = queue_->QueueEventParamUnk(newStream ? MENewStream : MEUpdatedStream, GUID_NULL, S_OK,
                                            static_cast<IMFMediaStream*>(stream.Get()));
    if (SUCCEEDED(hr)) hr = queue_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &startTime);
    if (SUCCEEDED(hr)) hr = stream->QueueEvent(MEStreamStarted, GUID_NULL, S_OK, &startTime);
    monitor_.NotifyAll();
    return hr;
  }

  STDMETHODIMP Stop() override {
    ComPtr<VirtualMediaStream> stream;
    {
      std::lock_guard<Monitor> lock(monitor_);
      if (shutDown_) return MF_E_SHUTDOWN;
      started_ = false;
      pending_.clear();
      stream = stream_;
    }
    monitor_.NotifyAll();
    if (stream) stream->QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
    return queue_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
  }

  // A live camera cannot pause.
  STDMETHODIMP Pause() override { return MF_E_INVALID_STATE_TRANSITION; }

  STDMETHODIMP Shutdown() override {
    ComPtr<VirtualMediaStream> stream;
    bool requestsOpen = false;
    {
      std::lock_guard<Monitor> lock(monitor_);
      if (shutDown_) return MF_E_SHUTDOWN;
      shutDown_ = true;
      started_ = false;
      requestsOpen = !pending_.empty();
      pending_.clear();
      stream.Swap(stream_);  // (MinGW's ComPtr move-assignment copies)
    }
    monitor_.NotifyAll();
    JoinPacer();
    if (stream) stream->Shutdown(requestsOpen);
    if (queue_) queue_->Shutdown();
    ++script_.stats->shutdowns;
    --sourcesNotShutDown;
    return S_OK;
  }

  // From the stream.
  HRESULT RequestSampleFromStream(IUnknown* token) {
    Monitor::Lock lock(monitor_);
    ++script_.stats->requests;
    if (shutDown_) return MF_E_SHUTDOWN;
    if (removed_) return MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
    if (!started_) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    if (ended_) return MF_E_END_OF_STREAM;
    // An error or a removal that is next in the script answers this request.
    if (pending_.empty() && !script_.steps.empty()) {
      const VirtualStep& next = script_.steps.front();
      if (next.kind == VirtualStepKind::Error) {
        const HRESULT error = next.error;
        PopStep();
        return error;
      }
      if (next.kind == VirtualStepKind::Removal) {
        PopStep();
        removed_ = true;
        lock.unlock();
        queue_->QueueEventParamVar(MEError, GUID_NULL, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, nullptr);
        return MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
      }
    }
    pending_.emplace_back(token);
    const bool wake = awaitingRequest_;
    lock.unlock();
    if (wake) monitor_.NotifyAll();
    return S_OK;
  }

 private:
  explicit VirtualMediaSource(VirtualCameraScript script) : script_(std::move(script)) {
    ++sourcesNotShutDown;
    if (!script_.stats) script_.stats = std::make_shared<VirtualCameraStats>();
    script_.stats->stepsLeft = static_cast<int>(script_.steps.size());
  }

  ~VirtualMediaSource() {
    // Released without a shutdown (never started, or a failed creation).
    {
      std::lock_guard<Monitor> lock(monitor_);
      shutDown_ = true;
    }
    monitor_.NotifyAll();
    JoinPacer();
    if (stream_) stream_->Shutdown(false);
    if (queue_) queue_->Shutdown();
  }

  HRESULT Initialise() {
    HRESULT hr = MFCreateEventQueue(&queue_);
    if (FAILED(hr)) return hr;
    if (script_.nativeTypes.empty()) return S_OK;

    std::vector<ComPtr<IMFMediaType>> types;
    std::vector<IMFMediaType*> typePointers;
    for (const VirtualMediaType& description : script_.nativeTypes) {
      ComPtr<IMFMediaType> type;
      hr = CreateVirtualMediaType(description, &type);
      if (FAILED(hr)) return hr;
      typePointers.push_back(type.Get());
      types.push_back(std::move(type));
    }
    ComPtr<IMFStreamDescriptor> streamDescriptor;
    hr = MFCreateStreamDescriptor(0, static_cast<DWORD>(typePointers.size()), typePointers.data(), &streamDescriptor);
    if (FAILED(hr)) return hr;
    ComPtr<IMFMediaTypeHandler> handler;
    hr = streamDescriptor->GetMediaTypeHandler(&handler);
    if (FAILED(hr)) return hr;
    hr = handler->SetCurrentMediaType(typePointers.front());
    if (FAILED(hr)) return hr;
    IMFStreamDescriptor* descriptors[] = {streamDescriptor.Get()};
    hr = MFCreatePresentationDescriptor(1, descriptors, &presentation_);
    if (FAILED(hr)) return hr;
    return presentation_->SelectStream(0);
  }

  void JoinPacer() {
    if (!pacer_.joinable()) return;
    if (pacer_.get_id() == std::this_thread::get_id()) {
      pacer_.detach();
    } else {
      pacer_.join();
    }
  }

  void PopStep() {
    script_.steps.pop_front();
    script_.stats->stepsLeft = static_cast<int>(script_.steps.size());
  }

  std::chrono::steady_clock::duration Interval() const {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(script_.frameInterval);
  }

  LONGLONG FrameDuration() const {
    if (script_.frameInterval.count() > 0) return script_.frameInterval.count() * 10;
    const UINT32 fps = script_.nativeTypes.empty() ? 30 : script_.nativeTypes.front().framesPerSecond;
    return HundredNsPerSecond / (fps ? fps : 30);
  }

  // Answers the open requests, one frame per interval, until shutdown.
  void PacerLoop() {
    NameThisThread(L"virtual camera");
    Monitor::Lock lock(monitor_);
    for (;;) {
      // Until the next frame is due, a request has nothing to wake the thread
      // for: sleeping straight through to that time spares a wake-up a frame.
      if (started_ && !shutDown_ && pending_.empty() && std::chrono::steady_clock::now() < nextDue_) {
        monitor_.WaitUntil(lock, nextDue_, [&] { return shutDown_ || !started_; });
        continue;
      }
      awaitingRequest_ = true;
      monitor_.Wait(lock, [&] { return shutDown_ || (started_ && !pending_.empty()); });
      awaitingRequest_ = false;
      if (shutDown_) return;
      if (script_.stats->stalled) {
        // A stalled camera answers nothing and says nothing; look again soon.
        monitor_.WaitFor(lock, std::chrono::milliseconds(5));
        continue;
      }
      if (script_.freeRunning && Interval().count() > 0) {
        // A camera that runs on its own beat has the next frame ready only
        // at the next tick after the request, however long it sat idle.
        const auto now = std::chrono::steady_clock::now();
        if (now - nextDue_ >= Interval()) {
          const auto ticks = (now - startedAt_) / Interval() + 1;
          nextDue_ = startedAt_ + ticks * Interval();
        }
      }
      if (std::chrono::steady_clock::now() < nextDue_) {
        monitor_.WaitUntil(lock, nextDue_, [&] { return shutDown_ || !started_; });
        continue;  // look again: stopped, shut down or due
      }
      ComPtr<IUnknown> token = std::move(pending_.front());
      pending_.pop_front();
      nextDue_ = (script_.freeRunning ? nextDue_ : std::max(nextDue_, std::chrono::steady_clock::now())) + Interval();
      Answer(lock, token.Get());
    }
  }

  // Answers one request with the next steps of the script. Called and
  // returning with the lock held; the lock is let go while a frame is made
  // and events are queued.
  void Answer(Monitor::Lock& lock, IUnknown* token) {
    for (;;) {
      if (shutDown_ || !started_) return;
      ComPtr<VirtualMediaStream> stream = stream_;
      std::optional<VirtualStep> step;
      std::uint32_t frameNumber = framesDelivered_;
      if (!script_.steps.empty()) {
        step = std::move(script_.steps.front());
        PopStep();
      }
      const bool makeFrame = !step && script_.frameMaker;
      if (!step && !makeFrame) step = EndOfStreamStep();
      const LONGLONG duration = FrameDuration();
      const LONGLONG time = static_cast<LONGLONG>(frameNumber) * duration;

      lock.unlock();
      if (makeFrame) step = FrameStep(script_.frameMaker(frameNumber));
      bool answered = true;
      bool delivered = false;
      switch (step->kind) {
        case VirtualStepKind::Frame:
        case VirtualStepKind::EmptySample: {
          ComPtr<IMFSample> sample;
          HRESULT hr = CreateVirtualSample(std::move(*step), time, duration, &sample);
          if (SUCCEEDED(hr) && token) hr = sample->SetUnknown(SampleTokenAttribute, token);
          if (SUCCEEDED(hr)) {
            PROPVARIANT value;
            PropVariantInit(&value);
            value.vt = VT_UNKNOWN;
            value.punkVal = sample.Get();  // borrowed: the queue keeps its own reference
            stream->QueueEvent(MEMediaSample, GUID_NULL, S_OK, &value);
            delivered = step->kind == VirtualStepKind::Frame;
          } else {
            stream->QueueEvent(MEError, GUID_NULL, hr, nullptr);
          }
          break;
        }
        case VirtualStepKind::Tick: {
          PROPVARIANT value;
          PropVariantInit(&value);
          value.vt = VT_I8;
          value.hVal.QuadPart = time;
          stream->QueueEvent(MEStreamTick, GUID_NULL, S_OK, &value);
          answered = false;  // a gap, not an answer: the request stays open
          break;
        }
        case VirtualStepKind::Error:
          // Reached only with several requests open at once: fail this one.
          stream->QueueEvent(MEError, GUID_NULL, step->error, nullptr);
          break;
        case VirtualStepKind::Removal:
          stream->QueueEvent(MEError, GUID_NULL, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, nullptr);
          queue_->QueueEventParamVar(MEError, GUID_NULL, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, nullptr);
          break;
        case VirtualStepKind::EndOfStream:
          stream->QueueEvent(MEEndOfStream, GUID_NULL, S_OK, nullptr);
          queue_->QueueEventParamVar(MEEndOfPresentation, GUID_NULL, S_OK, nullptr);
          break;
      }
      lock.lock();
      if (step->kind == VirtualStepKind::Removal) removed_ = true;
      if (step->kind == VirtualStepKind::EndOfStream) {
        ended_ = true;
        pending_.clear();
      }
      if (delivered) {
        ++framesDelivered_;
        ++script_.stats->framesDelivered;
      }
      if (answered) return;
    }
  }

  VirtualCameraScript script_;
  ComPtr<IMFPresentationDescriptor> presentation_;

  Monitor monitor_;
  bool shutDown_ = false;
  bool started_ = false;
  bool removed_ = false;
  bool ended_ = false;
  ComPtr<VirtualMediaStream> stream_;     // created by the first Start, dropped by Shutdown
  std::deque<ComPtr<IUnknown>> pending_;  // tokens of the open requests
  bool awaitingRequest_ = false;          // the pacer waits for a request, not for a frame's time
  std::uint32_t framesDelivered_ = 0;
  std::chrono::steady_clock::time_point nextDue_;
  std::chrono::steady_clock::time_point startedAt_;
  std::thread pacer_;
};

VirtualMediaStream::VirtualMediaStream(VirtualMediaSource* source, IMFStreamDescriptor* descriptor,
                                       IMFMediaEventQueue* queue)
    : source_(source), sourceImpl_(source), descriptor_(descriptor) {
  queue_ = queue;
}

STDMETHODIMP VirtualMediaStream::GetMediaSource(IMFMediaSource** source) {
  if (!source) return E_POINTER;
  *source = nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (shutDown_) return MF_E_SHUTDOWN;
  return source_.CopyTo(source);
}

STDMETHODIMP VirtualMediaStream::RequestSample(IUnknown* token) {
  ComPtr<IMFMediaSource> keepAlive;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return MF_E_SHUTDOWN;
    keepAlive = source_;
  }
  return sourceImpl_->RequestSampleFromStream(token);
}

void VirtualMediaStream::Shutdown(bool requestsOpen) {
  ComPtr<IMFMediaSource> source;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutDown_ = true;
    source.Swap(source_);
  }
  if (requestsOpen) {
    endingAtShutdown_ = true;
    endedAtShutdown_ = true;
    if (SUCCEEDED(queue_->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr))) return;
    endingAtShutdown_ = false;
  }
  queue_->Shutdown();
}

}  // namespace

std::vector<std::uint8_t> VirtualFramePool::Take(std::size_t size,
                                                 const std::function<std::vector<std::uint8_t>()>& makeNew) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!free_.empty()) {
      std::vector<std::uint8_t> block = std::move(free_.back());
      free_.pop_back();
      if (block.size() == size) return block;
    }
  }
  ++allocated_;
  return makeNew();
}

void VirtualFramePool::Give(std::vector<std::uint8_t> block) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(std::move(block));
}

VirtualFrame PackedFrame(std::vector<std::uint8_t> bytes) {
  VirtualFrame frame;
  frame.bytes = std::move(bytes);
  return frame;
}

VirtualFrame PitchedFrame(const std::vector<std::uint8_t>& packed, DWORD rowBytes, LONG pitch, std::uint8_t filler) {
  VirtualFrame frame;
  frame.twoDimensional = true;
  frame.pitch = pitch;
  frame.rowBytes = rowBytes;
  frame.rows = rowBytes ? static_cast<DWORD>(packed.size() / rowBytes) : 0;
  const std::size_t distance = static_cast<std::size_t>(pitch < 0 ? -pitch : pitch);
  frame.bytes.assign(distance * frame.rows, filler);
  for (DWORD row = 0; row < frame.rows; ++row) {
    const DWORD memoryRow = pitch < 0 ? frame.rows - 1 - row : row;
    std::memcpy(frame.bytes.data() + distance * memoryRow, packed.data() + static_cast<std::size_t>(row) * rowBytes,
                rowBytes);
  }
  return frame;
}

namespace {
VirtualStep StepOf(VirtualStepKind kind) {
  VirtualStep step;
  step.kind = kind;
  return step;
}
}  // namespace

VirtualStep FrameStep(VirtualFrame frame) {
  VirtualStep step = StepOf(VirtualStepKind::Frame);
  step.frame = std::move(frame);
  return step;
}
VirtualStep EmptySampleStep() { return StepOf(VirtualStepKind::EmptySample); }
VirtualStep TickStep() { return StepOf(VirtualStepKind::Tick); }
VirtualStep ErrorStep(HRESULT error) {
  VirtualStep step = StepOf(VirtualStepKind::Error);
  step.error = error;
  return step;
}
VirtualStep RemovalStep() { return StepOf(VirtualStepKind::Removal); }
VirtualStep EndOfStreamStep() { return StepOf(VirtualStepKind::EndOfStream); }

HRESULT CreateVirtualMediaSource(VirtualCameraScript script, IMFMediaSource** source) {
  return VirtualMediaSource::Create(std::move(script), source);
}

HRESULT CreateVirtualSample(VirtualStep step, LONGLONG time, LONGLONG duration, IMFSample** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<IMFSample> sample;
  HRESULT hr = MFCreateSample(&sample);
  if (FAILED(hr)) return hr;
  hr = AttachTracker(sample.Get());
  if (FAILED(hr)) return hr;
  if (step.kind == VirtualStepKind::Frame) {
    ComPtr<IMFMediaBuffer> buffer =
        Adopt(static_cast<IMFMediaBuffer*>(new (std::nothrow) VirtualBuffer(std::move(step.frame))));
    if (!buffer) return E_OUTOFMEMORY;
    hr = sample->AddBuffer(buffer.Get());
    if (FAILED(hr)) return hr;
  }
  sample->SetSampleTime(time);
  sample->SetSampleDuration(duration);
  *out = sample.Detach();
  return S_OK;
}

HRESULT CreateVirtualMediaType(const VirtualMediaType& description, IMFMediaType** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(&type);
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr) && !IsEqualGUID(description.subtype, GUID_NULL)) {
    hr = type->SetGUID(MF_MT_SUBTYPE, description.subtype);
  }
  if (SUCCEEDED(hr) && description.width && description.height) {
    hr = MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, description.width, description.height);
  }
  if (SUCCEEDED(hr) && description.framesPerSecond) {
    hr = MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, description.framesPerSecond, 1);
  }
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  if (SUCCEEDED(hr) && description.apertureHeight != 0) {
    MFVideoArea area{};
    area.Area.cx = static_cast<LONG>(description.width);
    area.Area.cy = static_cast<LONG>(description.apertureHeight);
    hr = type->SetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<const UINT8*>(&area), sizeof(area));
  }
  if (SUCCEEDED(hr) && description.defaultStride != 0) {
    hr = type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(description.defaultStride));
  }
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (FAILED(hr)) return hr;
  *out = type.Detach();
  return S_OK;
}

HRESULT TrackAsLiveObject(IMFAttributes* attributes) {
  if (!attributes) return E_POINTER;
  return AttachTracker(attributes);
}

long VirtualBuffersReleasedLocked() { return buffersReleasedLocked.load(); }

long VirtualSourcesNotShutDown() { return sourcesNotShutDown.load(); }

}  // namespace snaplark
