#pragma once
// Owners for the Win32 handles the program uses. Each one releases its handle
// exactly once, is movable and not copyable, and can give the handle up
// (Release) where ownership passes on, as when the clipboard takes a block.
#include <windows.h>

#include <utility>

namespace snaplark {

// One owner template; Traits says what "no handle" is and how to free one.
template <typename Traits>
class UniqueHandleOf {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Handle handle) : handle_(handle) {}
  ~UniqueHandleOf() { Reset(); }

  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
  UniqueHandleOf(UniqueHandleOf&& other) noexcept : handle_(other.Release()) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  // Gives up ownership without freeing: the caller now owns the handle.
  [[nodiscard]] Handle Release() { return std::exchange(handle_, Traits::Invalid()); }

  void Reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Free(old);
  }

  // For out-parameters of APIs that create the handle: frees any held one first.
  Handle* Put() {
    Reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {  // CreateMutex, CreateEvent, CreateThread, OpenProcess...
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile reports failure as INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Free(Handle h) { CloseHandle(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { RegCloseKey(h); }
};
struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { GlobalFree(h); }
};
struct GdiObjectTraits {  // fonts, bitmaps, brushes, pens made by this program
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { DeleteObject(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { DeleteDC(h); }
};
struct HookTraits {
  using Handle = HHOOK;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { UnhookWindowsHookEx(h); }
};
struct MenuTraits {
  using Handle = HMENU;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { DestroyMenu(h); }
};

using UniqueHandle = UniqueHandleOf<KernelHandleTraits>;
using UniqueFile = UniqueHandleOf<FileHandleTraits>;
using UniqueRegKey = UniqueHandleOf<RegKeyTraits>;
using GlobalMemory = UniqueHandleOf<GlobalMemoryTraits>;
using GdiObject = UniqueHandleOf<GdiObjectTraits>;
using MemoryDc = UniqueHandleOf<MemoryDcTraits>;
using UniqueHook = UniqueHandleOf<HookTraits>;
using UniqueMenu = UniqueHandleOf<MenuTraits>;

// A locked global memory block; unlocked when the guard ends, on every path.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(block ? GlobalLock(block) : nullptr) {}
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(block_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  void* Data() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  HGLOBAL block_;
  void* data_;
};

// A window's DC from GetDC, handed back with ReleaseDC to the same window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint/EndPaint as a scope.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
  ~PaintScope() { EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  HDC Get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// An object selected into a DC; the previous one is selected back at scope end,
// so the selected object can be deleted by its owner afterwards.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// The clipboard, open for one operation; closed on every path.
class ClipboardScope {
 public:
  explicit ClipboardScope(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~ClipboardScope() {
    if (open_) CloseClipboard();
  }
  ClipboardScope(const ClipboardScope&) = delete;
  ClipboardScope& operator=(const ClipboardScope&) = delete;

  explicit operator bool() const { return open_; }

 private:
  bool open_;
};

// Hands a block to the clipboard, which owns it once SetClipboardData succeeds;
// on failure the block stays with (and is freed by) `block`.
inline bool GiveToClipboard(UINT format, GlobalMemory& block) {
  if (!block || !SetClipboardData(format, block.Get())) return false;
  (void)block.Release();
  return true;
}

}  // namespace snaplark
