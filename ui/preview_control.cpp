#include "ui/preview_control.h"

#include <commctrl.h>

namespace snaplark {

FrameCallback PreviewFrameCallback(CaptureWindowState& state) {
  return [&state](const std::uint8_t* pixels, int width, int height, int) {
    const std::uint32_t client = state.previewClientSize.load(std::memory_order_relaxed);
    OnPreviewFrame(state.preview, state.previewScratch, pixels, width, height, static_cast<int>(client >> 16),
                   static_cast<int>(client & 0xFFFF));
  };
}

LRESULT CALLBACK PreviewSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR reference) {
  auto* state = reinterpret_cast<CaptureWindowState*>(reference);
  if (!state || message != WM_PAINT) return DefSubclassProc(window, message, wParam, lParam);
  const PaintScope paint(window);
  RECT client{};
  GetClientRect(window, &client);
  // Frames are shrunk to what this paint shows; a control of another size
  // (another DPI) is followed from its next frame on.
  state->previewClientSize.store(
      static_cast<std::uint32_t>(client.right & 0xFFFF) << 16 | static_cast<std::uint32_t>(client.bottom & 0xFFFF),
      std::memory_order_relaxed);
  PaintPreview(paint.Get(), client, state->preview);
  return 0;
}

}  // namespace snaplark
