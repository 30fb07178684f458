#pragma once
// A source reader that plays a script instead of reading a media source. It
// stands in for Media Foundation's reader where a case cannot be produced
// through the real one: a reader that makes RGB24 or decodes MJPG, a reader
// that refuses a native type, a read that fails outright, an exact count of
// reads. It counts as a live virtual object, as do the samples and media
// types it hands out.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/virtual/virtual_camera.h"

namespace snaplark {

// One answer to ReadSample.
struct ScriptedRead {
  HRESULT result = S_OK;
  DWORD streamFlags = 0;
  bool hasSample = true;
  VirtualStep sample;  // Frame or EmptySample
};

ScriptedRead ReadOf(VirtualFrame frame);  // a sample holding this frame
ScriptedRead ReadWithoutSample(DWORD streamFlags = MF_SOURCE_READERF_STREAMTICK);
ScriptedRead FailedRead(HRESULT result);

struct ScriptedReaderScript {
  std::vector<VirtualMediaType> nativeTypes;
  // The RGB24 request is taken, with this frame size (0 x 0: a current type
  // without a frame size).
  bool makesRgb24 = false;
  UINT32 rgbWidth = 0;
  UINT32 rgbHeight = 0;
  // Native types (by index) that the reader refuses to set or to decode.
  std::vector<DWORD> refusedNativeTypes;
  // Uncompressed subtypes it can decode an MJPG native type into: only the
  // current native type (the first until SetNativeMediaType), and only at
  // its own frame size, as a real reader's decoder does.
  std::vector<GUID> decodesMjpgTo;
  // Answers in order; once they are used up every read reports end of stream.
  std::deque<ScriptedRead> reads;
};

// What the reader was asked, for the test to check.
struct ScriptedReaderLog {
  std::mutex mutex;
  std::vector<GUID> setRequests;  // subtype of every SetCurrentMediaType, in order
  std::atomic<int> nativeTypeRequests{0};
  std::atomic<int> reads{0};
};

HRESULT CreateScriptedSourceReader(ScriptedReaderScript script, std::shared_ptr<ScriptedReaderLog> log,
                                   IMFSourceReader** reader);

}  // namespace snaplark
