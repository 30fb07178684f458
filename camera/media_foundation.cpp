#include "camera/media_foundation.h"

namespace snaplark {
namespace {

HMODULE LoadSystemDll(const wchar_t* name) { return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

template <typename Function>
bool Find(HMODULE module, const char* name, Function& function) {
  function = module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
  return function != nullptr;
}

// Loaded once; the DLLs stay for the life of the process.
const MediaFoundationCalls* LoadSystemCalls() {
  static const MediaFoundationCalls* const loaded = []() -> const MediaFoundationCalls* {
    static MediaFoundationCalls calls{};
    const HMODULE platform = LoadSystemDll(L"mfplat.dll");
    const HMODULE devices = LoadSystemDll(L"mf.dll");
    const HMODULE readers = LoadSystemDll(L"mfreadwrite.dll");
    const bool found = Find(platform, "MFStartup", calls.startup) && Find(platform, "MFShutdown", calls.shutdown) &&
                       Find(platform, "MFCreateAttributes", calls.createAttributes) &&
                       Find(platform, "MFCreateMediaType", calls.createMediaType) &&
                       Find(devices, "MFEnumDeviceSources", calls.enumDeviceSources) &&
                       Find(devices, "MFCreateDeviceSource", calls.createDeviceSource) &&
                       Find(readers, "MFCreateSourceReaderFromMediaSource", calls.createSourceReaderFromMediaSource);
    return found ? &calls : nullptr;
  }();
  return loaded;
}

bool replaced = false;
const MediaFoundationCalls* replacement = nullptr;

}  // namespace

const MediaFoundationCalls* MediaFoundation() { return replaced ? replacement : LoadSystemCalls(); }

const MediaFoundationCalls* SystemMediaFoundation() { return LoadSystemCalls(); }

void UseMediaFoundationCalls(const MediaFoundationCalls* calls) {
  replaced = true;
  replacement = calls;
}

void UseSystemMediaFoundation() {
  replaced = false;
  replacement = nullptr;
}

}  // namespace snaplark
