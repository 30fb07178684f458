#include "ui/copy_diagnostics.h"

#include <cstring>
#include <string>

#include "camera/camera.h"
#include "ui/capture_window.h"
#include "ui/capture_window_texts.h"
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
                        {camera.IsOpen(), camera.Width(), camera.Height(),
                         static_cast<std::uint32_t>(camera.LastOpenError())});
  const ClipboardScope clipboard(hwnd);
  if (!clipboard) {
    ShowStatus(state, DiagnosticsClipboardBusyText);
    return;
  }
  EmptyClipboard();
  // Freed here, before the clipboard closes, unless the clipboard takes it.
  GlobalMemory block = TextBlock(report);
  if (!block) {
    ShowStatus(state, DiagnosticsNoMemoryText);
    return;
  }
  ShowStatus(state, GiveToClipboard(CF_UNICODETEXT, block) ? DiagnosticsCopiedText : DiagnosticsRefusedText);
}

}  // namespace snaplark
