#pragma once
// The live preview's two halves, as the capture window uses them: turning a
// delivered frame into a bitmap on the capture thread, and painting the
// latest bitmap into the preview control on the interface thread. The
// bitmap is shared between them under a lock that each holds only for a
// handle swap; the costly work runs outside it.
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "handles/win_handles.h"
#include "ui/preview_shrink.h"

namespace snaplark {

// The latest preview bitmap, owned, shared between the capture thread that
// makes it and the paint that draws it. The lock is held only for a handle
// swap; the capture thread takes it inside the camera's callback lock.
class PreviewSlot {
 public:
  PreviewSlot() = default;
  ~PreviewSlot() { Store(nullptr); }
  PreviewSlot(const PreviewSlot&) = delete;
  PreviewSlot& operator=(const PreviewSlot&) = delete;

  // Replaces the bitmap by `fresh` and deletes the one it held. A null
  // `fresh` is stored too: a frame that could not be converted shows
  // "No preview" rather than an old picture.
  void Store(HBITMAP fresh);
  // Takes `fresh` and gives up the bitmap it held (null while the paint
  // has that one out: the paint then deletes it).
  [[nodiscard]] HBITMAP Swap(HBITMAP fresh);
  // The paint takes the bitmap out to draw it and puts it back after,
  // unless a newer one has taken its place meanwhile; then it is deleted.
  HBITMAP TakeForPaint();
  void ReturnFromPaint(HBITMAP drawn);
  // The bitmap held now; nothing while the paint has it out.
  std::optional<HBITMAP> Peek();
  // Whether a bitmap (or the lack of one) came since a paint last took one.
  bool ChangedSincePaint();

 private:
  std::mutex lock_;
  HBITMAP held_ = nullptr;
  bool paintHasIt_ = false;
  bool changed_ = false;
};

// What the frame callback keeps from one frame to the next, used only on the
// capture thread: the frame in the screen's 32-bit layout, and the bitmap the
// last frame replaced, which the next frame of the same size refills rather
// than making a new one (a new bitmap of a large frame costs several times
// its filling). It belongs beside the slot in the window's state and is
// destroyed, with the bitmap it holds, after the capture thread has stopped.
struct PreviewScratch {
  std::vector<std::uint32_t> wide;
  ShrinkScratch shrink;
  GdiObject spare;
};

// The callback's whole work for one frame: the frame as a bitmap, swapped
// into the slot. Given the control's client size, a frame
// larger than the rectangle it is shown in is averaged down to that
// rectangle's size here, where it is still in the cache, so that the paint
// only copies it. After the first frame of a size it allocates nothing and
// creates no bitmap.
void OnPreviewFrame(PreviewSlot& slot, PreviewScratch& scratch, const std::uint8_t* pixels, int width, int height,
                    int controlWidth = 0, int controlHeight = 0);

// Paints the control's client area `client` (origin 0, 0) on `dc`: black,
// then the latest bitmap stretched with halftone into the aspect-fit
// rectangle (copied, when the callback made it that size already), or
// "No preview" in grey when there is none.
void PaintPreview(HDC dc, const RECT& client, PreviewSlot& slot);

// The timer's repaint: paints the control straight onto its screen when the
// slot changed since the last paint, and does nothing when it did not (a
// slower camera, or a frozen one). Under Wine, a repaint through
// InvalidateRect and WM_PAINT costs about ten calls into its server a tick,
// this one or two. The picture is the same either way, and WM_PAINT still
// answers whatever else uncovers or invalidates the control.
void RepaintIfChanged(HWND control, PreviewSlot& slot);

}  // namespace snaplark
