// The capture window as a person meets it: its texts, fonts, icon and place
// in each mode, the live preview, the capture key it holds in TWAIN mode, and
// every way of ending it.
#include <mfapi.h>

#include "camera/virtual/demo_devices.h"
#include "res/resource_ids.h"
#include "support/under_wine.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"
#include "window_fixture.h"

namespace snaplark::test {
namespace {

constexpr wchar_t kNv12Link[] = L"\\\\?\\window-test#nv12";
constexpr wchar_t kYuy2Link[] = L"\\\\?\\window-test#yuy2";

LOGFONTW FontOf(const WindowRun& window, int id) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HGDIOBJ>(SendMessageW(window.Control(id), WM_GETFONT, 0, 0));
  GetObjectW(handle, sizeof(font), &font);
  return font;
}

void ExpectFont(const WindowRun& window, std::initializer_list<int> ids, LONG height, LONG weight) {
  const HGDIOBJ shared = reinterpret_cast<HGDIOBJ>(SendMessageW(window.Control(*ids.begin()), WM_GETFONT, 0, 0));
  for (int id : ids) {
    SCOPED_TRACE(id);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(window.Control(id), WM_GETFONT, 0, 0)), shared);
    const LOGFONTW font = FontOf(window, id);
    EXPECT_EQ(font.lfHeight, height);
    EXPECT_EQ(font.lfWeight, weight);
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  }
}

bool IsGrey(std::uint32_t c) { return (c & 0xFF) == (c >> 8 & 0xFF) && (c & 0xFF) == (c >> 16 & 0xFF); }

TEST_F(CaptureWindowTest, StandaloneWindowShowsItsTextsFontsIconAndTheLiveCamera) {
  DeviceProbe probe;
  UseVirtualDevices({GreyCamera(L"Desk camera", kNv12Link, MFVideoFormat_NV12, 640, 480, probe),
                     GreyCamera(L"Document camera", kYuy2Link, MFVideoFormat_YUY2, 320, 240)});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr) << "the window did not come up";

  wchar_t title[64] = {};
  GetWindowTextW(window->Dialog(), title, 64);
  EXPECT_STREQ(title, L"Snaplark");
  EXPECT_EQ(window->Text(IDC_TITLE), L"Snaplark");
  EXPECT_EQ(window->Text(IDC_SUBTITLE), L"Capture camera frames to clipboard and Pictures");
  EXPECT_EQ(window->Text(IDC_CAPTURE), L"Capture");
  EXPECT_EQ(window->Text(IDC_CLOSE), L"Close");
  EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F10  (global hotkey)");
  EXPECT_EQ(window->Text(IDC_RESOLUTION), L"Resolution: 640 x 480");
  EXPECT_EQ(window->Text(IDC_STATUS), L"Select webcam and press Capture (or your hotkey) to grab a frame.");
  EXPECT_EQ(window->Text(IDC_KEY_HINT), L"Use the same key inside TWAIN, or globally when the tray app is running.");
  EXPECT_EQ(window->ComboEntries(), (std::vector<std::wstring>{L"Desk camera", L"Document camera"}));
  EXPECT_EQ(window->ComboSelection(), 0);
  EXPECT_EQ(*probe.opens, 1) << "the window's own selection opens the camera once";

  ExpectFont(*window, {IDC_DEVICE_COMBO, IDC_RESOLUTION, IDC_STATUS, IDC_KEY_LABEL, IDC_KEY_HINT}, -13, 400);
  ExpectFont(*window, {IDC_SUBTITLE, IDC_CAMERA_CAPTION, IDC_PREVIEW_CAPTION, IDC_KEY_CAPTION}, -11, 600);
  ExpectFont(*window, {IDC_TITLE}, -20, 600);

  const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SNAPLARK));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window->Dialog(), WM_GETICON, ICON_BIG, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(window->Dialog(), WM_GETICON, ICON_SMALL, 0)), icon);

  RECT frame{};
  GetWindowRect(window->Dialog(), &frame);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);

  // The tray holds the capture key in this mode; the window leaves it free.
  ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, VK_F10)) << "the Standalone window took the capture key";
  UnregisterHotKey(nullptr, 1);

  // Live: frames reach the bitmap, and the control shows a grey 4:3 picture
  // between black side bars that changes from one moment to the next.
  ASSERT_TRUE(WaitFor([&] { return window->PreviewBitmap(); }, std::chrono::seconds(5)));
  // Until the first paint the control shows whatever was there, and a read
  // may meet a paint half done: wait for a whole picture, a grey 4:3 frame
  // between black side bars.
  Pixels first;
  int mid = 0;
  const auto fitted = [&mid](const Pixels& p) {
    if (p.width == 0) return false;
    mid = p.height / 2;
    const int pictureWidth = p.height * 4 / 3;
    const int left = (p.width - pictureWidth) / 2;
    if (p.At(left - 2, mid) != 0 || p.At(p.width - left + 1, mid) != 0) return false;
    for (int x : {left + 2, p.width / 2, left + pictureWidth - 3}) {
      if (!IsGrey(p.At(x, mid)) || p.At(x, mid) < 0x3C3C3Cu) return false;
    }
    return true;
  };
  EXPECT_TRUE(WaitFor(
      [&] {
        first = ClientPixels(window->Control(IDC_PREVIEW));
        return fitted(first);
      },
      std::chrono::seconds(5)))
      << "no frame fitted between black bars; centre " << std::hex
      << (first.width ? first.At(first.width / 2, first.height / 2) : 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        const Pixels later = ClientPixels(window->Control(IDC_PREVIEW));
        return fitted(later) && later.At(later.width / 2, mid) != first.At(first.width / 2, mid);
      },
      std::chrono::seconds(3)))
      << "the preview does not move";

  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  const Settings saved = Saved();
  EXPECT_EQ(saved.DeviceSymLink, kNv12Link);
  EXPECT_EQ(saved.DeviceIndex, 0);
  EXPECT_EQ(saved.DeviceName, L"Desk camera");
  EXPECT_EQ(saved.Keybind, 121u);
  EXPECT_TRUE(camera_->IsOpen()) << "the window leaves the camera open";
}

TEST_F(CaptureWindowTest, TwainWindowUsesItsOwnTextsAndHoldsTheCaptureKeyWhileOpen) {
  UseVirtualDevices({GreyCamera(L"Desk camera", kNv12Link, MFVideoFormat_NV12, 64, 48)});
  {
    auto window = Open(CaptureWindowMode::Twain);
    ASSERT_NE(window->Dialog(), nullptr);
    EXPECT_EQ(window->Text(IDC_SUBTITLE), L"Acquire this camera feed from a TWAIN application");
    EXPECT_EQ(window->Text(IDC_CAPTURE), L"Scan");
    EXPECT_EQ(window->Text(IDC_CLOSE), L"Cancel");
    EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F10");
    EXPECT_EQ(window->Text(IDC_STATUS), L"Select source, then click Scan or press the capture key.");
    EXPECT_FALSE(RegisterHotKey(nullptr, 1, 0, VK_F10)) << "the window should hold F10";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));

    // Refresh lets the key go and takes it again around the new enumeration.
    window->Click(IDC_REFRESH);
    EXPECT_EQ(window->Text(IDC_STATUS), L"Ready. Click Scan or press the capture key.");
    EXPECT_FALSE(RegisterHotKey(nullptr, 1, 0, VK_F10));

    SendMessageW(window->Dialog(), WM_HOTKEY, CaptureHotkeyId, 0);
    EXPECT_EQ(window->Result(), CaptureOutcome::Accepted) << "the capture key scans";
  }
  EXPECT_EQ(Saved().DeviceSymLink, kNv12Link);
  ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, VK_F10)) << "the ended window still holds F10";

  // With the key taken elsewhere, the window says so instead of greeting.
  auto window = Open(CaptureWindowMode::Twain);
  ASSERT_NE(window->Dialog(), nullptr);
  EXPECT_EQ(window->Text(IDC_STATUS),
            L"Warning: hotkey already taken by another application. Click Change to pick a different key.");
  EXPECT_EQ(window->State().key.Holder(), KeyHolder::Nobody);
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  UnregisterHotKey(nullptr, 1);
}

// Each way out of the window, with a camera open: what it returns, whether
// the window stays, and that an ending saves the settings.
struct Ending {
  const char* name;
  CaptureWindowMode mode;
  void (*act)(WindowRun&);
  std::optional<CaptureOutcome> result;  // none: the window stays open
};

const Ending kEndings[] = {
    {"Close button", CaptureWindowMode::Standalone, [](WindowRun& w) { w.Click(IDC_CLOSE); },
     CaptureOutcome::Dismissed},
    {"Escape", CaptureWindowMode::Standalone, [](WindowRun&) { TypeKey(VK_ESCAPE); }, CaptureOutcome::Dismissed},
    {"close box", CaptureWindowMode::Standalone,
     [](WindowRun& w) { PostMessageW(w.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }, CaptureOutcome::Dismissed},
    {"Enter", CaptureWindowMode::Standalone, [](WindowRun&) { TypeKey(VK_RETURN); }, std::nullopt},
    {"Capture button", CaptureWindowMode::Standalone, [](WindowRun& w) { w.Click(IDC_CAPTURE); }, std::nullopt},
    {"Scan button", CaptureWindowMode::Twain, [](WindowRun& w) { w.Click(IDC_CAPTURE); }, CaptureOutcome::Accepted},
    {"Enter", CaptureWindowMode::Twain, [](WindowRun&) { TypeKey(VK_RETURN); }, CaptureOutcome::Accepted},
    {"Cancel button", CaptureWindowMode::Twain, [](WindowRun& w) { w.Click(IDC_CLOSE); }, CaptureOutcome::Dismissed},
    {"Escape", CaptureWindowMode::Twain, [](WindowRun&) { TypeKey(VK_ESCAPE); }, CaptureOutcome::Dismissed},
};

TEST_F(CaptureWindowTest, EveryWayOutGivesItsResultAndSavesTheSettings) {
  UseVirtualDevices({GreyCamera(L"Desk camera", kNv12Link, MFVideoFormat_NV12, 64, 48)});
  // A key no test types, so that TWAIN mode's own key cannot end the window.
  settings_.Keybind = VK_F7;
  for (const Ending& ending : kEndings) {
    SCOPED_TRACE(testing::Message() << ending.name << (ending.mode == CaptureWindowMode::Twain ? " (TWAIN)" : ""));
    // A capture that stays in the window saves a picture into the Pictures folder.
    if (!ending.result && !RunningUnderWine()) continue;
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestSettingsKey);
    auto window = Open(ending.mode);
    ASSERT_NE(window->Dialog(), nullptr);
    ASSERT_TRUE(window->Activate());
    ending.act(*window);
    if (ending.result) {
      EXPECT_EQ(window->Result(), ending.result);
      EXPECT_EQ(Saved().DeviceSymLink, kNv12Link);
      EXPECT_EQ(Saved().Keybind, static_cast<std::uint32_t>(VK_F7));
    } else {
      EXPECT_EQ(window->Result(std::chrono::milliseconds(500)), std::nullopt) << "the window should stay open";
      EXPECT_FALSE(SavedAnything()) << "nothing is saved while the window stays";
    }
  }
}

// The demo's NV12 test pattern live in the window, left as a picture in the
// build tree for people to look at.
TEST_F(CaptureWindowTest, ScreenshotOfTheLiveTestPattern) {
  VirtualDevice pattern;
  pattern.name = DemoNv12Name;
  pattern.symbolicLink = DemoNv12Link;
  pattern.script = DemoNv12Script;
  UseVirtualDevices({pattern});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  ASSERT_TRUE(window->Activate());
  ASSERT_TRUE(WaitFor([&] { return window->PreviewBitmap(); }, std::chrono::seconds(5)));
  Sleep(300);  // a few repaints of the 33 ms timer
  const std::wstring path =
      WinePath(L"" SNAPLARK_SHOT_DIR) + (sizeof(void*) == 4 ? L"\\capture_window_32.bmp" : L"\\capture_window_64.bmp");
  EXPECT_TRUE(SaveWindowShot(window->Dialog(), path));
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
}

}  // namespace
}  // namespace snaplark::test
