#include "ui/preview.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "camera/frame_layout.h"
#include "handles/win_handles.h"
#include "ui/preview_geometry.h"

namespace snaplark {

namespace {

// One row of blue-green-red pixels as 0x00RRGGBB words. Four pixels are
// twelve bytes, read as three little-endian words (Windows is little-endian
// on every processor it runs on).
void WidenRow(const std::uint8_t* from, std::uint32_t* to, std::size_t columns) {
  std::size_t x = 0;
  for (; x + 4 <= columns; x += 4, from += 12) {
    std::uint32_t a, b, c;
    std::memcpy(&a, from, 4);
    std::memcpy(&b, from + 4, 4);
    std::memcpy(&c, from + 8, 4);
    to[x] = a & 0xFFFFFF;
    to[x + 1] = a >> 24 | (b & 0xFFFF) << 8;
    to[x + 2] = b >> 16 | (c & 0xFF) << 16;
    to[x + 3] = c >> 8;
  }
  for (; x < columns; ++x, from += 3) {
    to[x] = from[0] | static_cast<std::uint32_t>(from[1]) << 8 | static_cast<std::uint32_t>(from[2]) << 16;
  }
}

// A 32-bit bottom-up frame of this size as GDI describes it.
BITMAPINFOHEADER WideHeader(int width, int height) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: the rows stay bottom-up
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  return header;
}

// The frame widened into `wide`, described by `header`. Under Wine the system
// turns 24-bit rows into the screen's 32-bit pixels several times slower than
// this does; the pixels are the same either way. A reused buffer keeps its
// size from frame to frame, so this allocates only when the frame grows.
const std::uint32_t* WidenFrame(const std::uint8_t* pixels, int width, int height, std::vector<std::uint32_t>& wide,
                                BITMAPINFOHEADER& header) {
  const std::size_t columns = static_cast<std::size_t>(width);
  wide.resize(columns * static_cast<std::size_t>(height));
  const std::size_t stride = static_cast<std::size_t>(FrameStride(width));
  for (int y = 0; y < height; ++y) {
    WidenRow(pixels + stride * static_cast<std::size_t>(y), wide.data() + columns * static_cast<std::size_t>(y),
             columns);
  }
  header = WideHeader(width, height);
  return wide.data();
}

// The pixels of `bitmap` when it is a DIB section of this size, else null.
std::uint32_t* SectionBits(HGDIOBJ bitmap, int width, int height) {
  DIBSECTION section{};
  if (!bitmap || GetObjectW(bitmap, sizeof(section), &section) != sizeof(section)) return nullptr;
  if (section.dsBm.bmWidth != width || section.dsBm.bmHeight != height || section.dsBm.bmBitsPixel != 32) {
    return nullptr;
  }
  return static_cast<std::uint32_t*>(section.dsBm.bmBits);
}

// The frame averaged down to `shown`'s size, in the spare bitmap when that
// fits, else in a new DIB section; null when that cannot be made.
HBITMAP ShrinkIntoBitmap(const std::uint8_t* pixels, int width, int height, const PreviewRect& shown,
                         PreviewScratch& scratch) {
  GdiObject bitmap(scratch.spare.Release());
  std::uint32_t* bits = SectionBits(bitmap.Get(), shown.width, shown.height);
  if (!bits) {
    const BITMAPINFOHEADER header = WideHeader(shown.width, shown.height);
    void* made = nullptr;
    bitmap.Reset(
        CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS, &made, nullptr, 0));
    bits = static_cast<std::uint32_t*>(made);
  }
  if (!bitmap || !bits) return nullptr;
  GdiFlush();  // nothing of GDI's may still be writing to it
  ShrinkFrame(pixels, width, height, bits, shown.width, shown.height, scratch.shrink);
  return static_cast<HBITMAP>(bitmap.Release());
}

HBITMAP CreateFromWide(const std::uint32_t* wide, const BITMAPINFOHEADER& header) {
  const WindowDc screen(nullptr);
  return CreateDIBitmap(screen.Get(), &header, CBM_INIT, wide, reinterpret_cast<const BITMAPINFO*>(&header),
                        DIB_RGB_COLORS);
}

// Black around the picture: the bars that the picture at `shown` leaves of
// the client area. (Filling the whole area first would paint the picture's
// own pixels twice.)
void FillBars(HDC dc, const RECT& client, const PreviewRect& shown) {
  const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  const RECT bars[] = {{0, 0, client.right, shown.y},
                       {0, shown.y + shown.height, client.right, client.bottom},
                       {0, shown.y, shown.x, shown.y + shown.height},
                       {shown.x + shown.width, shown.y, client.right, shown.y + shown.height}};
  for (const RECT& bar : bars) {
    if (bar.right > bar.left && bar.bottom > bar.top) FillRect(dc, &bar, black);
  }
}

// The frame callback's own bitmaps are 32-bit bottom-up DIB sections: they
// are drawn from their pixels, with no memory DC made for them on each paint
// (under Wine every new DC costs a graphics context of the X server).
bool DrawSection(HDC dc, const RECT& client, HBITMAP drawn) {
  DIBSECTION section{};
  if (GetObjectW(drawn, sizeof(section), &section) != sizeof(section) || section.dsBm.bmBitsPixel != 32 ||
      !section.dsBm.bmBits || section.dsBmih.biHeight < 0) {
    return false;
  }
  const int width = section.dsBm.bmWidth;
  const int height = section.dsBm.bmHeight;
  const BITMAPINFOHEADER header = WideHeader(width, height);
  const auto* info = reinterpret_cast<const BITMAPINFO*>(&header);
  const PreviewRect to = FitPreview(width, height, client.right, client.bottom);
  FillBars(dc, client, to);
  if (to.width == width && to.height == height) {  // shrunk already
    return SetDIBitsToDevice(dc, to.x, to.y, width, height, 0, 0, 0, height, section.dsBm.bmBits, info,
                             DIB_RGB_COLORS) != 0;
  }
  SetStretchBltMode(dc, HALFTONE);
  return StretchDIBits(dc, to.x, to.y, to.width, to.height, 0, 0, width, height, section.dsBm.bmBits, info,
                       DIB_RGB_COLORS, SRCCOPY) != 0;
}

// Any other bitmap, through a memory DC.
bool DrawBitmap(HDC dc, const RECT& client, HBITMAP drawn) {
  BITMAP info{};
  const MemoryDc memory(GetObjectW(drawn, sizeof(info), &info) != 0 ? CreateCompatibleDC(dc) : nullptr);
  if (!memory) return false;
  const SelectedObject selected(memory.Get(), drawn);  // deselected before the bitmap goes back
  const PreviewRect to = FitPreview(info.bmWidth, info.bmHeight, client.right, client.bottom);
  FillBars(dc, client, to);
  SetStretchBltMode(dc, HALFTONE);
  if (to.width == info.bmWidth && to.height == info.bmHeight) {
    BitBlt(dc, to.x, to.y, to.width, to.height, memory.Get(), 0, 0, SRCCOPY);  // shrunk already
  } else {
    StretchBlt(dc, to.x, to.y, to.width, to.height, memory.Get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
  return true;
}

}  // namespace

void PreviewSlot::Store(HBITMAP fresh) {
  // Deleting outside the lock keeps the paint's wait to the swap alone; the
  // old handle is unreachable to anyone else once swapped out.
  if (HBITMAP old = Swap(fresh)) DeleteObject(old);
}

HBITMAP PreviewSlot::Swap(HBITMAP fresh) {
  const std::lock_guard<std::mutex> hold(lock_);
  HBITMAP old = paintHasIt_ ? nullptr : held_;
  held_ = fresh;
  paintHasIt_ = false;
  changed_ = true;
  return old;
}

HBITMAP PreviewSlot::TakeForPaint() {
  const std::lock_guard<std::mutex> hold(lock_);
  paintHasIt_ = held_ != nullptr;
  changed_ = false;
  return held_;
}

void PreviewSlot::ReturnFromPaint(HBITMAP drawn) {
  if (!drawn) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (paintHasIt_) {
      paintHasIt_ = false;
      return;
    }
  }
  DeleteObject(drawn);
}

std::optional<HBITMAP> PreviewSlot::Peek() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (paintHasIt_) return std::nullopt;
  return held_;
}

bool PreviewSlot::ChangedSincePaint() {
  const std::lock_guard<std::mutex> hold(lock_);
  return changed_;
}

void OnPreviewFrame(PreviewSlot& slot, PreviewScratch& scratch, const std::uint8_t* pixels, int width, int height,
                    int controlWidth, int controlHeight) {
  if (width <= 0 || height <= 0) {
    slot.Store(nullptr);
    return;
  }
  if (controlWidth > 0 && controlHeight > 0) {
    const PreviewRect shown = FitPreview(width, height, controlWidth, controlHeight);
    if (ShrinkAccepts(width, height, shown.width, shown.height)) {
      scratch.spare.Reset(slot.Swap(ShrinkIntoBitmap(pixels, width, height, shown, scratch)));
      return;
    }
  }
  BITMAPINFOHEADER header;
  const std::uint32_t* wide = WidenFrame(pixels, width, height, scratch.wide, header);
  GdiObject bitmap(scratch.spare.Release());
  BITMAP info{};
  if (bitmap &&
      (GetObjectW(bitmap.Get(), sizeof(info), &info) == 0 || info.bmWidth != width || info.bmHeight != height)) {
    bitmap.Reset();  // another size: of no use any more
  }
  if (bitmap) {
    const WindowDc screen(nullptr);
    if (SetDIBits(screen.Get(), static_cast<HBITMAP>(bitmap.Get()), 0, static_cast<UINT>(height), wide,
                  reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS) != height) {
      bitmap.Reset();
    }
  }
  if (!bitmap) bitmap.Reset(CreateFromWide(wide, header));
  scratch.spare.Reset(slot.Swap(static_cast<HBITMAP>(bitmap.Release())));
}

void PaintPreview(HDC dc, const RECT& client, PreviewSlot& slot) {
  // The bitmap is drawn as it is, rather than copied (a copy costs as much
  // as the stretch).
  HBITMAP drawn = slot.TakeForPaint();
  const bool painted = drawn && (DrawSection(dc, client, drawn) || DrawBitmap(dc, client, drawn));
  slot.ReturnFromPaint(drawn);
  if (painted) return;
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetTextColor(dc, RGB(80, 80, 80));
  SetBkMode(dc, TRANSPARENT);
  RECT area = client;
  DrawTextW(dc, L"No preview", -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void RepaintIfChanged(HWND control, PreviewSlot& slot) {
  if (!slot.ChangedSincePaint()) return;
  RECT client{};
  const WindowDc dc(control);
  if (!dc || !GetClientRect(control, &client)) return;
  PaintPreview(dc.Get(), client, slot);
}

}  // namespace snaplark
