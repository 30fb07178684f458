#include "ui/capture_action.h"

#include <shlobj.h>

#include <cwchar>
#include <string>

#include "camera/camera.h"
#include "camera/dib_block.h"
#include "ui/capture_file.h"
#include "ui/capture_window_texts.h"
#include "ui/clipboard.h"

namespace snaplark {
namespace {

CaptureFileSystem WindowsFiles(UniqueFile& file) {
  return {
      [&file](const std::wstring& path) {
        file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return CreateOutcome::Created;
        return GetLastError() == ERROR_FILE_EXISTS ? CreateOutcome::AlreadyExists : CreateOutcome::Failed;
      },
      [&file](const void* data, std::size_t size) {
        DWORD written = 0;
        return WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
      },
      [&file] { file.Reset(); }, [](const std::wstring& path) { DeleteFileW(path.c_str()); }};
}

LocalTime Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// The file holds a frame of its own, read after the clipboard's, not a copy
// of that block: a capture is defined as two reads of the camera, so both
// stay, although one shared frame would save a read and a conversion.
bool SaveToPictures(Camera& camera) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, SHGFP_TYPE_CURRENT, folder))) return false;
  const GlobalMemory block = SnapshotDib(camera);
  const GlobalLockGuard locked(block.Get());
  if (!locked) return false;
  UniqueFile file;
  return !SaveCaptureFile(folder, Now(), static_cast<const std::uint8_t*>(locked.Data()), GlobalSize(block.Get()),
                          WindowsFiles(file))
              .empty();
}

// White for a moment, then the next paint puts the picture back.
void Flash(HWND preview) {
  if (!preview) return;
  {
    const WindowDc dc(preview);
    if (!dc) return;
    RECT client{};
    GetClientRect(preview, &client);
    FillRect(dc.Get(), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  Sleep(50);
  InvalidateRect(preview, nullptr, FALSE);
}

std::wstring CapturedStatus(const CaptureWindowState& state, bool saved) {
  wchar_t text[256];
  std::swprintf(text, 256, saved ? CapturedText : CapturedNotSavedText, static_cast<int>(state.captureCount));
  return text;
}

// Hands one snapshot to the clipboard; the status when it did not get there, else null.
const wchar_t* CopyToClipboard(const CaptureWindowState& state) {
  switch (PutSnapshotOnClipboard(state.hwnd, *state.camera)) {
    case ClipboardOutcome::NoBlock:
      return CaptureFailedText;
    case ClipboardOutcome::Busy:
      return ClipboardBusyText;
    case ClipboardOutcome::Placed:
      return nullptr;
    case ClipboardOutcome::Refused:
      break;
  }
  return ClipboardRefusedText;
}

}  // namespace

std::wstring CaptureImage(CaptureWindowState& state) {
  if (const wchar_t* failure = CopyToClipboard(state)) return failure;
  const bool saved = SaveToPictures(*state.camera);
  ++state.captureCount;
  Flash(state.previewControl);
  return CapturedStatus(state, saved);
}

}  // namespace snaplark
