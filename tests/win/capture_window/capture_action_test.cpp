// "Capture" and "Diagnostics" over the demo's NV12 test pattern: what lands
// on the clipboard and in the Pictures folder, and what the status line says
// when the clipboard or the folder lets the user down.
#include <mfapi.h>
#include <mferror.h>

#include <cstring>
#include <new>

#include "camera/virtual/demo_devices.h"
#include "captures.h"
#include "res/resource_ids.h"
#include "support/demo_pattern.h"
#include "support/under_wine.h"
#include "support/wait_for.h"
#include "ui/diagnostics_report.h"
#include "window_fixture.h"

namespace snaplark::test {
namespace {

VirtualDevice PatternCamera() {
  VirtualDevice pattern;
  pattern.name = DemoNv12Name;
  pattern.symbolicLink = DemoNv12Link;
  pattern.script = DemoNv12Script;
  return pattern;
}

std::wstring ClipboardText() {
  const std::vector<std::uint8_t> bytes = ClipboardBytes(CF_UNICODETEXT);
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

class CaptureActionTest : public CaptureWindowTest {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "saves into and deletes from the user's own Pictures folder";
    CaptureWindowTest::SetUp();
    RestorePicturesFolder();
    DeleteCaptureFiles();
    UseVirtualDevices({PatternCamera()});
  }
  void TearDown() override {
    if (!RunningUnderWine()) return;
    DeleteCaptureFiles();
    CaptureWindowTest::TearDown();
  }
};

std::wstring CapturedText(int n) {
  return L"Captured! Image #" + std::to_wstring(n) + L" copied to clipboard and saved to Pictures.";
}

// The pattern frame that a packed DIB (header + rows) shows, or -1.
int PatternFrameOf(const std::vector<std::uint8_t>& dib) {
  if (dib.size() < 40) return -1;
  return MatchingFrameNumber(std::vector<std::uint8_t>(dib.begin() + 40, dib.end()), true, 640, 480);
}

TEST_F(CaptureActionTest, EachCaptureGoesToTheClipboardAndToANewFileInPictures) {
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  SYSTEMTIME before{};
  GetLocalTime(&before);
  window->Click(IDC_CAPTURE);
  EXPECT_EQ(window->Text(IDC_STATUS), CapturedText(1));
  // The flash's white gives way to the picture again, between its black bars.
  EXPECT_TRUE(WaitFor(
      [&] {
        const Pixels preview = ClientPixels(window->Control(IDC_PREVIEW));
        const int mid = preview.height / 2;
        return preview.width > 0 && preview.At(0, mid) == 0 && preview.At(preview.width / 2, mid) != 0xFFFFFFu &&
               preview.At(preview.width / 2, mid) != 0;
      },
      std::chrono::seconds(3)))
      << "the preview did not come back after the flash";

  const std::vector<std::uint8_t> dib = ClipboardBytes(CF_DIB);
  ASSERT_EQ(dib.size(), 921640u);
  EXPECT_GE(PatternFrameOf(dib), 0) << "the clipboard does not hold a pattern frame";

  const std::vector<std::wstring> files = CaptureFiles();
  ASSERT_EQ(files.size(), 1u);
  SYSTEMTIME after{};
  GetLocalTime(&after);
  const auto minuteOf = [](const SYSTEMTIME& t) {
    wchar_t minute[32];
    swprintf(minute, 32, L"Snaplark_Capture_%04d%02d%02d_%02d%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return std::wstring(minute);
  };
  // The capture may fall on either side of a minute's turn.
  EXPECT_TRUE(files[0].rfind(minuteOf(before), 0) == 0 || files[0].rfind(minuteOf(after), 0) == 0)
      << "named from the local time";
  EXPECT_EQ(files[0].size(), std::wstring(L"Snaplark_Capture_20260105_090703.bmp").size());
  const std::vector<std::uint8_t> bmp = ReadWholeFile(PicturesFolder() + L"\\" + files[0]);
  ASSERT_EQ(bmp.size(), 921654u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  const std::vector<std::uint8_t> fileDib(bmp.begin() + 14, bmp.end());
  EXPECT_EQ(std::memcmp(fileDib.data(), dib.data(), 40), 0) << "the same header as the clipboard's";
  EXPECT_GE(PatternFrameOf(fileDib), 0) << "the file does not hold a pattern frame";

  // Two more at once: within a second at least twice, and no picture lost.
  window->Click(IDC_CAPTURE);
  EXPECT_EQ(window->Text(IDC_STATUS), CapturedText(2));
  window->Click(IDC_CAPTURE);
  EXPECT_EQ(window->Text(IDC_STATUS), CapturedText(3));
  EXPECT_EQ(CaptureFiles().size(), 3u);
}

TEST_F(CaptureActionTest, ABusyClipboardOrAnUnusablePicturesFolderIsReportedAsSuch) {
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  ASSERT_TRUE(OpenClipboard(nullptr)) << "the test could not take the clipboard";
  window->Click(IDC_CAPTURE);
  CloseClipboard();
  EXPECT_EQ(window->Text(IDC_STATUS), L"Could not open clipboard.");
  EXPECT_TRUE(CaptureFiles().empty());

  // A file where the Pictures folder should be: no picture can be saved.
  const std::wstring blocker = PicturesFolder() + L"\\not-a-folder";
  {
    const UniqueFile file(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
  }
  {
    const PicturesFolderRedirect redirect(blocker);
    window->Click(IDC_CAPTURE);
  }
  DeleteFileW(blocker.c_str());
  EXPECT_EQ(window->Text(IDC_STATUS), L"Captured! Image #1 copied to clipboard, but it could not be saved to Pictures.")
      << "the busy clipboard counted nothing";
  EXPECT_EQ(ClipboardBytes(CF_DIB).size(), 921640u);
  EXPECT_TRUE(CaptureFiles().empty());

  window->Click(IDC_CAPTURE);
  EXPECT_EQ(window->Text(IDC_STATUS), CapturedText(2));
}

TEST_F(CaptureActionTest, APicturesFolderLeftRedirectedByACrashedTestIsPutBack) {
  const std::wstring own = PicturesFolder();
  // A redirect whose end never came, as in a test that crashed.
  alignas(PicturesFolderRedirect) unsigned char crashed[sizeof(PicturesFolderRedirect)];
  new (crashed) PicturesFolderRedirect(own + L"\\elsewhere");
  ASSERT_EQ(PicturesFolder(), own + L"\\elsewhere");
  RestorePicturesFolder();
  EXPECT_EQ(PicturesFolder(), own);
  // A second crashed redirect is undone by the next one's start.
  new (crashed) PicturesFolderRedirect(own + L"\\elsewhere");
  { const PicturesFolderRedirect next(own + L"\\other"); }
  EXPECT_EQ(PicturesFolder(), own);
}

TEST_F(CaptureActionTest, DiagnosticsPutTheReportOnTheClipboardAsText) {
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  window->Click(IDC_DIAGNOSTICS);
  EXPECT_EQ(window->Text(IDC_STATUS), L"Diagnostics copied. Paste them into your support ticket.");
  const std::vector<std::uint8_t> bytes = ClipboardBytes(CF_UNICODETEXT);
  const std::wstring expected = DiagnosticsReport(CaptureWindowMode::Standalone, settings_, {true, 640, 480});
  ASSERT_EQ(bytes.size(), (expected.size() + 1) * sizeof(wchar_t));
  std::wstring text(expected.size() + 1, L'?');
  std::memcpy(text.data(), bytes.data(), bytes.size());
  EXPECT_EQ(text.back(), L'\0');
  text.pop_back();
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
  EXPECT_NE(text.find(L"Selected device: Snaplark Test Pattern (NV12)\n"), std::wstring::npos);

  ASSERT_TRUE(OpenClipboard(nullptr));
  window->Click(IDC_DIAGNOSTICS);
  CloseClipboard();
  EXPECT_EQ(window->Text(IDC_STATUS), L"Could not open clipboard for diagnostics.");
}

// A camera turned away by the privacy setting and one held by another
// application fail alike on screen, in the window's own words; the report
// then tells them apart in one line more, after everything it said before.
TEST_F(CaptureActionTest, AccessDeniedAndBusyCamerasAreToldApartInTheDiagnostics) {
  VirtualDevice denied = BusyCamera(L"Denied camera", L"link-denied");
  denied.openError = E_ACCESSDENIED;
  VirtualDevice held = BusyCamera(L"Held camera", L"link-held");
  held.openError = MF_E_HW_MFT_FAILED_START_STREAMING;
  UseVirtualDevices({PatternCamera(), denied, held});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  const std::pair<int, const wchar_t*> cases[] = {
      {1, L"Last camera error: 0x80070005 (access denied by privacy settings)\n"},
      {2, L"Last camera error: 0xC00D3704 (camera in use by another application)\n"},
  };
  for (const auto& [device, line] : cases) {
    window->ChooseDevice(device);
    EXPECT_EQ(window->Text(IDC_STATUS), L"Failed to open camera. Try another device or click Refresh.");
    window->Click(IDC_DIAGNOSTICS);
    const std::wstring report = DiagnosticsReport(CaptureWindowMode::Standalone, settings_, {});
    EXPECT_EQ(ClipboardText(), report + line);
  }
}

}  // namespace
}  // namespace snaplark::test
