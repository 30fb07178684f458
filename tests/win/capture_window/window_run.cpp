#include "window_run.h"

#include <objbase.h>

#include "handles/win_handles.h"
#include "res/resource_ids.h"
#include "support/desk_windows.h"
#include "support/wait_for.h"

namespace snaplark::test {
namespace {

BITMAPINFO TopDownInfo(int width, int height, WORD bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace

WindowRun::WindowRun(CaptureWindowMode mode, Settings& settings, Camera& camera, const SettingsStore& store) {
  run_ = std::async(std::launch::async, [this, mode, &settings, &camera, &store] {
    threadId_ = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const CaptureOutcome result =
        ShowCaptureWindow({nullptr, GetModuleHandleW(nullptr), &settings, &camera, mode, store});
    CoUninitialize();
    return result;
  });
  // Visible means initialised: the dialog shows only after WM_INITDIALOG.
  dialog_ = WaitFor([this]() -> HWND { return threadId_ != 0 ? VisibleWindowOfThread(threadId_) : nullptr; },
                    std::chrono::seconds(15));
}

WindowRun::~WindowRun() {
  if (!Ended() && dialog_) PostMessageW(dialog_, WM_CLOSE, 0, 0);
  if (run_.valid()) run_.wait();
}

CaptureWindowState& WindowRun::State() const {
  return *reinterpret_cast<CaptureWindowState*>(GetWindowLongPtrW(dialog_, DWLP_USER));
}

std::wstring WindowRun::Text(int id) const { return DialogItemText(dialog_, id); }

std::vector<std::wstring> WindowRun::ComboEntries() const {
  std::vector<std::wstring> entries;
  const LRESULT count = SendDlgItemMessageW(dialog_, IDC_DEVICE_COMBO, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    SendDlgItemMessageW(dialog_, IDC_DEVICE_COMBO, CB_GETLBTEXT, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

int WindowRun::ComboSelection() const {
  return static_cast<int>(SendDlgItemMessageW(dialog_, IDC_DEVICE_COMBO, CB_GETCURSEL, 0, 0));
}

void WindowRun::ChooseDevice(int index) const {
  SendDlgItemMessageW(dialog_, IDC_DEVICE_COMBO, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_COMBO, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Control(IDC_DEVICE_COMBO)));
}

void WindowRun::Click(int id) const { SendMessageW(Control(id), BM_CLICK, 0, 0); }

bool WindowRun::Activate() const {
  SetForegroundWindow(dialog_);
  return WaitFor([this] { return GetForegroundWindow() == dialog_; }, std::chrono::seconds(5));
}

std::optional<CaptureOutcome> WindowRun::Result(std::chrono::milliseconds limit) {
  if (!run_.valid() || run_.wait_for(limit) != std::future_status::ready) return std::nullopt;
  return run_.get();
}

bool WindowRun::Ended() const {
  return !run_.valid() || run_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

HBITMAP WindowRun::PreviewBitmap() const {
  // A paint may have the bitmap out while it draws it.
  for (;;) {
    if (const std::optional<HBITMAP> held = State().preview.Peek()) return *held;
    Sleep(1);
  }
}

Pixels ClientPixels(HWND window) {
  Pixels pixels;
  RECT client{};
  GetClientRect(window, &client);
  pixels.width = client.right;
  pixels.height = client.bottom;
  if (pixels.width <= 0 || pixels.height <= 0) return pixels;
  BITMAPINFO info = TopDownInfo(pixels.width, pixels.height, 32);
  void* bits = nullptr;
  const GdiObject target(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const MemoryDc memory(CreateCompatibleDC(nullptr));
  if (!target || !memory) return pixels;
  {
    const SelectedObject selected(memory.Get(), target.Get());
    const WindowDc source(window);
    BitBlt(memory.Get(), 0, 0, pixels.width, pixels.height, source.Get(), 0, 0, SRCCOPY);
  }
  GdiFlush();
  const auto* words = static_cast<const std::uint32_t*>(bits);
  pixels.data.assign(words, words + static_cast<std::size_t>(pixels.width) * pixels.height);
  return pixels;
}

bool SaveWindowShot(HWND window, const std::wstring& path) {
  RECT frame{};
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  BITMAPINFO info = TopDownInfo(width, height, 24);
  void* bits = nullptr;
  const GdiObject target(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const MemoryDc memory(CreateCompatibleDC(nullptr));
  if (!target || !memory) return false;
  {
    const SelectedObject selected(memory.Get(), target.Get());
    const WindowDc screen(nullptr);
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), frame.left, frame.top, SRCCOPY);
  }
  GdiFlush();
  const DWORD imageBytes = static_cast<DWORD>(((3 * width + 3) & ~3) * height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  const UniqueFile out(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out && WriteFile(out.Get(), &file, sizeof(file), &written, nullptr) &&
         WriteFile(out.Get(), &info.bmiHeader, sizeof(BITMAPINFOHEADER), &written, nullptr) &&
         WriteFile(out.Get(), bits, imageBytes, &written, nullptr);
}

}  // namespace snaplark::test
