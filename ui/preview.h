#pragma once
// The live preview's two halves, as the capture window uses them: turning a
// delivered frame into a bitmap on the capture thread, and painting the
// latest bitmap into the preview control on the interface thread. The
// bitmap is shared between them under a lock that each holds only for a
// handle swap; the costly work runs outside it.
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "handles/win_handles.h"
#include "ui/preview_shrink.h"

namespace snaplark {

// A screen-compatible bitmap holding one frame (24-bit, bottom-up rows padded
// to 4 bytes), or null when the system cannot make one. Allocates a buffer
// for the widened frame on every call; the callback uses OnPreviewFrame.
HBITMAP CreatePreviewBitmap(const std::uint8_t* pixels, int width, int height);

// Replaces `shared` by `fresh` under `lock` and deletes the bitmap it held.
// A null `fresh` is stored too: a frame that could not be converted shows
// "No preview" rather than an old picture.
void StorePreviewBitmap(std::mutex& lock, HBITMAP& shared, HBITMAP fresh);

// What the frame callback keeps from one frame to the next, used only on the
// capture thread: the frame in the screen's 32-bit layout, and the bitmap the
// last frame replaced, which the next frame of the same size refills rather
// than making a new one (a new bitmap of a large frame costs several times
// its filling). It belongs beside `shared` in the window's state and is
// destroyed, with the bitmap it holds, after the capture thread has stopped.
struct PreviewScratch {
  std::vector<std::uint32_t> wide;
  ShrinkScratch shrink;
  GdiObject spare;
};

// The callback's whole work for one frame: the frame as a bitmap, swapped
// into `shared` under `lock`. Given the control's client size, a frame
// larger than the rectangle it is shown in is averaged down to that
// rectangle's size here, where it is still in the cache, so that the paint
// only copies it. After the first frame of a size it allocates nothing and
// creates no bitmap.
void OnPreviewFrame(std::mutex& lock, HBITMAP& shared, PreviewScratch& scratch, const std::uint8_t* pixels,
                    int width, int height, int controlWidth = 0, int controlHeight = 0);

// Paints the control's client area `client` (origin 0, 0) on `dc`: black,
// then the latest bitmap stretched with halftone into the aspect-fit
// rectangle (copied, when the callback made it that size already), or
// "No preview" in grey when there is none. The bitmap is taken
// out of `shared` (under `lock`) for the drawing and put back afterwards
// unless a newer frame has replaced it meanwhile; the callback meanwhile
// finds a marker in `shared` that it must not delete (StorePreviewBitmap
// knows it). Anything else reads `shared` only on the paint's thread and
// never during a paint, so it always finds a plain handle or null.
void PaintPreview(HDC dc, const RECT& client, std::mutex& lock, HBITMAP& shared);

}  // namespace snaplark
