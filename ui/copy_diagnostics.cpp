#include "ui/copy_diagnostics.h"

#include <cstring>
#include <string>

#include "camera/camera.h"
#include "ui/capture_window.h"
#include "ui/capture_window_texts.h"
#include "ui/clipboard.h"
#include "ui/diagnostics_report.h"

namespace snaplark {
namespace {

// The text and its terminating NUL, in a movable block; null on failure.
GlobalMemory TextBlock(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, bytes));
  const GlobalLockGuard locked(block.Get());
  if (!locked) return GlobalMemory();
  std::memcpy(locked.Data(), text.c_str(), bytes);
  return block;
}

}  // namespace

void CopyDiagnostics(CaptureWindowState& state, HWND hwnd) {
  const Camera& camera = *state.camera;
  const std::wstring report =
      DiagnosticsReport(state.mode, *state.settings,
                        {camera.IsOpen(), camera.width, camera.height,
                         static_cast<std::uint32_t>(camera.LastOpenError())});
  switch (PutOnClipboard(hwnd, CF_UNICODETEXT, [&report] { return TextBlock(report); })) {
    case ClipboardOutcome::Placed:
      ShowStatus(state, DiagnosticsCopiedText);
      break;
    case ClipboardOutcome::Busy:
      ShowStatus(state, DiagnosticsClipboardBusyText);
      break;
    case ClipboardOutcome::NoBlock:
      ShowStatus(state, DiagnosticsNoMemoryText);
      break;
    case ClipboardOutcome::Refused:
      ShowStatus(state, DiagnosticsRefusedText);
      break;
  }
}

}  // namespace snaplark
