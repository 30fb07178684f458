// Choosing the reader's output: 24-bit RGB if the reader will make it,
// otherwise the first native type of the device that we can convert, in the
// device's own order. Compressed (MJPG) types are not set as they are: the
// reader is asked to decode them into NV12 or YUY2 instead.
#include <mfapi.h>
#include <mferror.h>

#include <initializer_list>

#include "camera/camera.h"
#include "camera/frame_layout.h"
#include "camera/media_foundation.h"

namespace snaplark {

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD FirstVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

// The device's native subtypes that we take, in the order compared.
const GUID* const AcceptedSubtypes[] = {&MFVideoFormat_RGB24, &MFVideoFormat_YUY2, &MFVideoFormat_NV12,
                                        &MFVideoFormat_MJPG};

bool IsAcceptedSubtype(const GUID& subtype) {
  for (const GUID* accepted : AcceptedSubtypes) {
    if (IsEqualGUID(subtype, *accepted)) return true;
  }
  return false;
}

HRESULT NewMediaType(ComPtr<IMFMediaType>& type) {
  const MediaFoundationCalls* calls = MediaFoundation();
  return calls ? calls->createMediaType(&type) : E_NOTIMPL;
}

// A bare video type of this subtype with the frame size, frame rate and pixel
// aspect of `native`, where it has them. Without the rate, a reader may meet
// the request with a raw native type of the same size at a far lower rate
// (a 1080p YUY2 type at 5 fps beside the 30 fps MJPG one) instead of
// decoding.
HRESULT MakeRequest(const GUID& subtype, IMFMediaType* native, ComPtr<IMFMediaType>& request) {
  HRESULT hr = NewMediaType(request);
  if (SUCCEEDED(hr)) hr = request->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr)) hr = request->SetGUID(MF_MT_SUBTYPE, subtype);
  for (const GUID* key : {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO}) {
    UINT64 value = 0;
    if (SUCCEEDED(hr) && native && SUCCEEDED(native->GetUINT64(*key, &value))) hr = request->SetUINT64(*key, value);
  }
  return hr;
}

// Asks the reader to decode a compressed native type into an uncompressed
// output of the same frame size. The decoder follows the device's current
// native type, so that is set to this one first. Where the platform has no
// decoder for it (Wine has none) this fails and the caller goes on with the
// next type.
bool RequestDecodedOutput(IMFSourceReader* reader, IMFMediaType* compressed, GUID& chosen) {
  ComPtr<IMFSourceReaderEx> extended;
  if (SUCCEEDED(reader->QueryInterface(IID_PPV_ARGS(&extended)))) {
    DWORD changes = 0;
    if (FAILED(extended->SetNativeMediaType(FirstVideoStream, compressed, &changes))) return false;
  }
  for (const GUID& output : {MFVideoFormat_NV12, MFVideoFormat_YUY2}) {
    ComPtr<IMFMediaType> request;
    if (FAILED(MakeRequest(output, compressed, request))) continue;
    if (SUCCEEDED(reader->SetCurrentMediaType(FirstVideoStream, nullptr, request.Get()))) {
      chosen = output;
      return true;
    }
  }
  return false;
}

// The rows the type shows when its display aperture keeps only the top of a
// padded picture (a 1920 x 1088 type showing 1080 rows); `height` otherwise.
// Only that case is taken: an aperture that is narrower or offset is ignored.
std::int32_t ShownHeight(IMFMediaType* type, std::int32_t width, std::int32_t height) {
  MFVideoArea area{};
  UINT32 bytes = 0;
  if (FAILED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area), &bytes)) ||
      bytes != sizeof(area)) {
    return height;
  }
  const bool atTopLeft =
      area.OffsetX.value == 0 && area.OffsetX.fract == 0 && area.OffsetY.value == 0 && area.OffsetY.fract == 0;
  if (!atTopLeft || area.Area.cx != width || area.Area.cy < 1 || area.Area.cy > height) return height;
  return static_cast<std::int32_t>(area.Area.cy);
}

}  // namespace

bool Camera::SelectMediaType() {
  if (!reader_) return false;

  GUID chosen = GUID_NULL;
  {
    ComPtr<IMFMediaType> request;
    if (FAILED(NewMediaType(request))) return false;
    HRESULT hr = request->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = request->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB24);
    if (SUCCEEDED(hr)) hr = reader_->SetCurrentMediaType(FirstVideoStream, nullptr, request.Get());
    if (SUCCEEDED(hr)) chosen = MFVideoFormat_RGB24;
  }

  // Most webcams refuse RGB24; take their first type that we can use.
  for (DWORD index = 0; IsEqualGUID(chosen, GUID_NULL); ++index) {
    ComPtr<IMFMediaType> native;
    if (FAILED(reader_->GetNativeMediaType(FirstVideoStream, index, &native))) return false;
    GUID nativeSubtype = GUID_NULL;
    if (FAILED(native->GetGUID(MF_MT_SUBTYPE, &nativeSubtype))) nativeSubtype = GUID_NULL;
    if (!IsAcceptedSubtype(nativeSubtype)) continue;
    if (IsEqualGUID(nativeSubtype, MFVideoFormat_MJPG)) {
      // A compressed frame is no picture to us: only a decoded output will do.
      RequestDecodedOutput(reader_.Get(), native.Get(), chosen);
    } else if (SUCCEEDED(reader_->SetCurrentMediaType(FirstVideoStream, nullptr, native.Get()))) {
      chosen = nativeSubtype;
    }
  }

  ComPtr<IMFMediaType> current;
  if (FAILED(reader_->GetCurrentMediaType(FirstVideoStream, &current))) return false;
  UINT64 size = 0;
  if (FAILED(current->GetUINT64(MF_MT_FRAME_SIZE, &size))) size = 0;
  width_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(size >> 32));
  height_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(size & 0xFFFFFFFFu));
  bufferHeight_ = height_;
  height_ = ShownHeight(current.Get(), width_, height_);
  subtype_ = chosen;
  UINT32 stride = 0;
  defaultStride_ = SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) ? static_cast<std::int32_t>(stride) : 0;
  // Beyond positive, the frame must fit in memory: an absurd size could
  // never be converted and would only fail allocations later.
  return IsNegotiableFrameSize(width_, height_);
}

}  // namespace snaplark
