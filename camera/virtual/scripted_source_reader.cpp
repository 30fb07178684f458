#include "camera/virtual/scripted_source_reader.h"

#include <mfapi.h>
#include <mferror.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "camera/virtual/com_object.h"

namespace snaplark {
namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD FirstVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

GUID SubtypeOf(IMFMediaType* type) {
  GUID subtype = GUID_NULL;
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) return GUID_NULL;
  return subtype;
}

// The size a type carries, as 0 x 0 when it carries none.
void SizeOf(IMFMediaType* type, UINT32& width, UINT32& height) {
  width = 0;
  height = 0;
  if (FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height))) width = height = 0;
}

// The frames per second a type asks for; 0 when it does not say.
UINT32 RateOf(IMFMediaType* type) {
  UINT32 numerator = 0;
  UINT32 denominator = 0;
  if (FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator)) || denominator == 0) return 0;
  return numerator / denominator;
}

// The types this reader hands out are never compared, so they can be counted.
HRESULT CreateTrackedType(const VirtualMediaType& description, IMFMediaType** type) {
  HRESULT hr = CreateVirtualMediaType(description, type);
  if (SUCCEEDED(hr)) hr = TrackAsLiveObject(*type);
  if (FAILED(hr) && *type) {
    (*type)->Release();
    *type = nullptr;
  }
  return hr;
}

class ScriptedSourceReader final
    : public ComObject<ScriptedSourceReader, Answers<IMFSourceReader, IMFSourceReaderEx>, IMFSourceReaderEx> {
 public:
  ScriptedSourceReader(ScriptedReaderScript script, std::shared_ptr<ScriptedReaderLog> log)
      : script_(std::move(script)), log_(std::move(log)) {
    if (!log_) log_ = std::make_shared<ScriptedReaderLog>();
    if (!script_.nativeTypes.empty()) current_ = script_.nativeTypes.front();
  }

  // IMFSourceReader
  STDMETHODIMP GetStreamSelection(DWORD stream, BOOL* selected) override {
    if (!selected) return E_POINTER;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    *selected = TRUE;
    return S_OK;
  }
  STDMETHODIMP SetStreamSelection(DWORD stream, BOOL) override {
    return IsVideoStream(stream) ? S_OK : MF_E_INVALIDSTREAMNUMBER;
  }

  STDMETHODIMP GetNativeMediaType(DWORD stream, DWORD index, IMFMediaType** type) override {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    ++log_->nativeTypeRequests;
    if (index >= script_.nativeTypes.size()) return MF_E_NO_MORE_TYPES;
    return CreateTrackedType(script_.nativeTypes[index], type);
  }

  STDMETHODIMP GetCurrentMediaType(DWORD stream, IMFMediaType** type) override {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!current_) return MF_E_INVALIDREQUEST;
    return CreateTrackedType(*current_, type);
  }

  STDMETHODIMP SetCurrentMediaType(DWORD stream, DWORD*, IMFMediaType* type) override {
    if (!type) return E_POINTER;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    const GUID subtype = SubtypeOf(type);
    UINT32 width = 0;
    UINT32 height = 0;
    SizeOf(type, width, height);
    {
      std::lock_guard<std::mutex> lock(log_->mutex);
      log_->setRequests.push_back(subtype);
    }
    std::optional<VirtualMediaType> accepted = Accept(subtype, width, height, RateOf(type));
    if (!accepted) return MF_E_INVALIDMEDIATYPE;
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = accepted;
    return S_OK;
  }

  STDMETHODIMP SetCurrentPosition(REFGUID, REFPROPVARIANT) override { return MF_E_INVALIDREQUEST; }

  // IMFSourceReaderEx: the device's own type, which a decoder then follows.
  STDMETHODIMP SetNativeMediaType(DWORD stream, IMFMediaType* type, DWORD* changes) override {
    if (!type) return E_POINTER;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    UINT32 width = 0;
    UINT32 height = 0;
    SizeOf(type, width, height);
    const std::optional<DWORD> index = NativeIndex(SubtypeOf(type), width, height, RateOf(type));
    if (!index) return MF_E_INVALIDMEDIATYPE;
    std::lock_guard<std::mutex> lock(mutex_);
    currentNative_ = *index;
    if (changes) *changes = 0;
    return S_OK;
  }
  STDMETHODIMP AddTransformForStream(DWORD, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveAllTransformsForStream(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetTransformForStream(DWORD, DWORD, GUID*, IMFTransform**) override { return E_NOTIMPL; }

  STDMETHODIMP ReadSample(DWORD stream, DWORD, DWORD* actualStream, DWORD* streamFlags, LONGLONG* timestamp,
                          IMFSample** sample) override {
    if (!streamFlags || !sample) return E_POINTER;
    *sample = nullptr;
    if (!IsVideoStream(stream)) return MF_E_INVALIDSTREAMNUMBER;
    ++log_->reads;
    ScriptedRead read;
    LONGLONG time = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (script_.reads.empty()) {
        read = ReadWithoutSample(MF_SOURCE_READERF_ENDOFSTREAM);
      } else {
        read = std::move(script_.reads.front());
        script_.reads.pop_front();
      }
      time = 333333 * readsDone_++;
    }
    if (actualStream) *actualStream = 0;
    if (timestamp) *timestamp = time;
    *streamFlags = read.streamFlags;
    if (FAILED(read.result)) return read.result;
    if (read.hasSample) return CreateVirtualSample(std::move(read.sample), time, 333333, sample);
    return S_OK;
  }

  STDMETHODIMP Flush(DWORD) override { return S_OK; }
  STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, LPVOID* object) override {
    if (object) *object = nullptr;
    return MF_E_UNSUPPORTED_SERVICE;
  }
  STDMETHODIMP GetPresentationAttribute(DWORD, REFGUID, PROPVARIANT*) override { return MF_E_ATTRIBUTENOTFOUND; }

 private:
  ~ScriptedSourceReader() = default;

  static bool IsVideoStream(DWORD stream) { return stream == FirstVideoStream || stream == 0; }

  // As a real reader does, a request is met by a native type that matches
  // everything it asks for (a request without a rate takes any rate) before
  // a decoder is tried.
  std::optional<VirtualMediaType> Accept(const GUID& subtype, UINT32 width, UINT32 height, UINT32 rate) const {
    if (IsEqualGUID(subtype, MFVideoFormat_RGB24) && script_.makesRgb24) {
      VirtualMediaType made;
      made.subtype = MFVideoFormat_RGB24;
      made.width = script_.rgbWidth;
      made.height = script_.rgbHeight;
      return made;
    }
    if (const std::optional<DWORD> index = NativeIndex(subtype, width, height, rate)) {
      return script_.nativeTypes[*index];
    }
    // A decoder makes its output from the device's current native type only.
    const auto& outputs = script_.decodesMjpgTo;
    const bool decodes =
        std::any_of(outputs.begin(), outputs.end(), [&](const GUID& output) { return IsEqualGUID(output, subtype); });
    if (!decodes || currentNative_ >= script_.nativeTypes.size() || IsRefused(currentNative_)) return std::nullopt;
    const VirtualMediaType& native = script_.nativeTypes[currentNative_];
    if (!IsEqualGUID(native.subtype, MFVideoFormat_MJPG) || native.width != width || native.height != height ||
        (rate != 0 && rate != native.framesPerSecond)) {
      return std::nullopt;
    }
    VirtualMediaType made = native;
    made.subtype = subtype;
    return made;
  }

  bool IsRefused(DWORD index) const {
    const auto& refused = script_.refusedNativeTypes;
    return std::find(refused.begin(), refused.end(), index) != refused.end();
  }

  // The native type of this description that the reader takes.
  std::optional<DWORD> NativeIndex(const GUID& subtype, UINT32 width, UINT32 height, UINT32 rate = 0) const {
    for (DWORD index = 0; index < script_.nativeTypes.size(); ++index) {
      const VirtualMediaType& native = script_.nativeTypes[index];
      if (!IsEqualGUID(native.subtype, subtype) || native.width != width || native.height != height) continue;
      if (rate != 0 && rate != native.framesPerSecond) continue;
      if (!IsRefused(index)) return index;
    }
    return std::nullopt;
  }

  ScriptedReaderScript script_;
  std::shared_ptr<ScriptedReaderLog> log_;
  std::mutex mutex_;
  std::optional<VirtualMediaType> current_;
  DWORD currentNative_ = 0;  // the device's type that a decoder follows
  LONGLONG readsDone_ = 0;
};

}  // namespace

ScriptedRead ReadOf(VirtualFrame frame) {
  ScriptedRead read;
  read.sample = FrameStep(std::move(frame));
  return read;
}

ScriptedRead ReadWithoutSample(DWORD streamFlags) {
  ScriptedRead read;
  read.hasSample = false;
  read.streamFlags = streamFlags;
  return read;
}

ScriptedRead FailedRead(HRESULT result) {
  ScriptedRead read;
  read.result = result;
  read.hasSample = false;
  return read;
}

HRESULT CreateScriptedSourceReader(ScriptedReaderScript script, std::shared_ptr<ScriptedReaderLog> log,
                                   IMFSourceReader** reader) {
  if (!reader) return E_POINTER;
  *reader = new (std::nothrow) ScriptedSourceReader(std::move(script), std::move(log));
  return *reader ? S_OK : E_OUTOFMEMORY;
}

}  // namespace snaplark
