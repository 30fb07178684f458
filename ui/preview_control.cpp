#include "ui/preview_control.h"

#include <commctrl.h>

namespace snaplark {

FrameCallback PreviewFrameCallback(CaptureWindowState& state) {
  return [&state](const std::uint8_t* pixels, int width, int height, int) {
    OnPreviewFrame(state.previewLock, state.previewBitmap, state.previewScratch, pixels, width, height);
  };
}

LRESULT CALLBACK PreviewSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR reference) {
  auto* state = reinterpret_cast<CaptureWindowState*>(reference);
  if (!state || message != WM_PAINT) return DefSubclassProc(window, message, wParam, lParam);
  const PaintScope paint(window);
  RECT client{};
  GetClientRect(window, &client);
  PaintPreview(paint.Get(), client, state->previewLock, state->previewBitmap);
  return 0;
}

}  // namespace snaplark
