#include "ui/copy_diagnostics.h"

#include <cstring>
#include <string>

#include "camera/camera.h"
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

const wchar_t* CopyDiagnostics(const CaptureWindowState& state) {
  const Camera& camera = *state.camera;
  const std::wstring report = DiagnosticsReport(
      state.mode, *state.settings,
      {camera.IsOpen(), camera.Width(), camera.Height(), static_cast<std::uint32_t>(camera.LastOpenError())});
  switch (PutOnClipboard(state.hwnd, CF_UNICODETEXT, [&report] { return TextBlock(report); })) {
    case ClipboardOutcome::Placed:
      return DiagnosticsCopiedText;
    case ClipboardOutcome::Busy:
      return DiagnosticsClipboardBusyText;
    case ClipboardOutcome::NoBlock:
      return DiagnosticsNoMemoryText;
    case ClipboardOutcome::Refused:
      break;
  }
  return DiagnosticsRefusedText;
}

}  // namespace snaplark
