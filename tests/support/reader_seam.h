#pragma once
// The camera engine's seam for one test: every source reader an opening
// makes passes through `wrap`, or a reader of the test's own is handed out
// instead, and the last one handed out can be asked what was negotiated
// while its camera is open. Installed over the calls in use (virtual
// devices, say), which come back when the seam ends.
#include <windows.h>
#include <mfapi.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <functional>
#include <utility>

#include "camera/media_foundation.h"

namespace snaplark::test {

class ReaderSeam {
 public:
  using Reader = Microsoft::WRL::ComPtr<IMFSourceReader>;
  using Wrap = std::function<Reader(Reader made)>;

  explicit ReaderSeam(Wrap wrap = nullptr) : previous_(MediaFoundation()), wrap_(std::move(wrap)) { Install(); }
  // The next opening gets `instead`, and the platform makes no reader.
  explicit ReaderSeam(Reader instead) : previous_(MediaFoundation()), instead_(std::move(instead)) { Install(); }
  ~ReaderSeam() {
    UseMediaFoundationCalls(previous_);
    active = nullptr;
  }
  ReaderSeam(const ReaderSeam&) = delete;
  ReaderSeam& operator=(const ReaderSeam&) = delete;

  // The output subtype of the last reader handed out; GUID_NULL if none.
  GUID Subtype() const {
    Microsoft::WRL::ComPtr<IMFMediaType> current;
    GUID subtype = GUID_NULL;
    if (last_ && SUCCEEDED(last_->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current))) {
      current->GetGUID(MF_MT_SUBTYPE, &subtype);
    }
    return subtype;
  }
  IMFSourceReader* Last() const { return last_; }

 private:
  void Install() {
    calls_ = *previous_;
    calls_.createSourceReaderFromMediaSource = Create;
    active = this;
    UseMediaFoundationCalls(&calls_);
  }

  static HRESULT WINAPI Create(IMFMediaSource* source, IMFAttributes* attributes, IMFSourceReader** reader) {
    Reader made = std::move(active->instead_);
    if (!made) {
      const HRESULT hr = active->previous_->createSourceReaderFromMediaSource(source, attributes, &made);
      if (FAILED(hr)) return hr;
      if (active->wrap_) made = active->wrap_(made);
    }
    // Not held here: the camera's reader must go when the camera lets it go.
    active->last_ = made.Get();
    *reader = made.Detach();
    return *reader ? S_OK : E_FAIL;
  }

  static inline ReaderSeam* active = nullptr;
  const MediaFoundationCalls* previous_;
  MediaFoundationCalls calls_{};
  Wrap wrap_;
  Reader instead_;
  IMFSourceReader* last_ = nullptr;
};

}  // namespace snaplark::test
