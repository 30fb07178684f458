#pragma once
// Where one thread's frame reads happen: a synchronous ReadSample on the
// reader, made on a thread of its own so that the reading thread can give up
// on a camera that stopped sending. The channel owns its reader reference
// and the sample slot, so an abandoned read finishes safely whenever the
// device wakes.
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <memory>

#include "camera/stallable_call.h"

namespace snaplark {

struct SampleSlot {
  Microsoft::WRL::ComPtr<IMFSourceReader> reader;
  HRESULT result = S_OK;
  DWORD flags = 0;
  Microsoft::WRL::ComPtr<IMFSample> sample;
};

struct ReadChannel {
  explicit ReadChannel(IMFSourceReader* forReader);

  IMFSourceReader* madeFor;  // compared only, never used through this pointer
  std::shared_ptr<SampleSlot> slot;
  StallableCall read;
};

}  // namespace snaplark
