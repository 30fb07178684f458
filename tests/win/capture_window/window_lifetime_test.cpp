// What the window leaves behind: nothing. After it has ended no frame
// callback runs and every GDI object it made (three fonts, the preview
// bitmaps) is gone, opening after opening.
#include <mfapi.h>

#include <set>

#include "res/resource_ids.h"
#include "support/wait_for.h"
#include "window_fixture.h"

namespace snaplark::test {
namespace {

TEST_F(CaptureWindowTest, NoCallbackAndNoGdiObjectOutliveTheWindowOverThirtyOpenings) {
  DeviceProbe probe;
  // Fast frames, so that bitmaps are being replaced while the window closes.
  UseVirtualDevices(
      {GreyCamera(L"Desk camera", L"link-desk", MFVideoFormat_NV12, 96, 64, probe, std::chrono::milliseconds(2))});
  for (int opening = 0; opening < 30; ++opening) {
    SCOPED_TRACE(opening);
    auto window = Open(CaptureWindowMode::Standalone);
    ASSERT_NE(window->Dialog(), nullptr);
    std::set<HGDIOBJ> made;
    for (int id : {IDC_TITLE, IDC_STATUS, IDC_SUBTITLE}) {
      made.insert(reinterpret_cast<HGDIOBJ>(SendMessageW(window->Control(id), WM_GETFONT, 0, 0)));
    }
    ASSERT_EQ(made.size(), 3u) << "three distinct fonts";
    for (HGDIOBJ font : made) ASSERT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
    // The slot and the callback's spare take turns: watch until both showed.
    // (A paint may meanwhile delete one that went stale while it drew.)
    const auto start = std::chrono::steady_clock::now();
    while (made.size() < 5 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      if (HBITMAP bitmap = window->PreviewBitmap()) made.insert(bitmap);
      Sleep(1);
    }
    ASSERT_GE(made.size(), 5u) << "fewer than two preview bitmaps seen";

    if (opening % 2) {
      window->Click(IDC_CLOSE);
    } else {
      PostMessageW(window->Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    ASSERT_EQ(window->Result(), CaptureOutcome::Dismissed);
    const int requests = probe.stats->requests;
    Sleep(50);
    EXPECT_EQ(probe.stats->requests, requests) << "frames are still read after the window ended";
    for (HGDIOBJ object : made) EXPECT_EQ(GetObjectType(object), 0u) << "a GDI object outlived the window";
  }
  EXPECT_EQ(*probe.opens, 30);
}

}  // namespace
}  // namespace snaplark::test
