#include "ui/preview.h"

#include "app/win_handles.h"
#include "ui/preview_geometry.h"

namespace snaplark {

HBITMAP CreatePreviewBitmap(const std::uint8_t* pixels, int width, int height) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: the rows are bottom-up
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const WindowDc screen(nullptr);
  return CreateDIBitmap(screen.Get(), &header, CBM_INIT, pixels, reinterpret_cast<const BITMAPINFO*>(&header),
                        DIB_RGB_COLORS);
}

void StorePreviewBitmap(std::mutex& lock, HBITMAP& shared, HBITMAP fresh) {
  HBITMAP old = nullptr;
  {
    const std::lock_guard<std::mutex> hold(lock);
    old = shared;
    shared = fresh;
  }
  // Deleting outside the lock keeps the paint's wait to the swap alone; the
  // old handle is unreachable to anyone else once swapped out.
  if (old) DeleteObject(old);
}

void PaintPreview(HDC dc, const RECT& client, std::mutex& lock, const HBITMAP& shared) {
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  GdiObject copy(nullptr);
  {
    const std::lock_guard<std::mutex> hold(lock);
    if (shared) copy = GdiObject(CopyImage(shared, IMAGE_BITMAP, 0, 0, 0));
  }
  BITMAP info{};
  if (copy && GetObjectW(copy.Get(), sizeof(info), &info) != 0) {
    const MemoryDc memory(CreateCompatibleDC(dc));
    if (memory) {
      const SelectedObject selected(memory.Get(), copy.Get());
      const PreviewRect to = FitPreview(info.bmWidth, info.bmHeight, client.right, client.bottom);
      SetStretchBltMode(dc, HALFTONE);
      StretchBlt(dc, to.x, to.y, to.width, to.height, memory.Get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    }
    return;  // the selection ends before the copy is deleted (declared first, destroyed last)
  }
  SetTextColor(dc, RGB(80, 80, 80));
  SetBkMode(dc, TRANSPARENT);
  RECT area = client;
  DrawTextW(dc, L"No preview", -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace snaplark
