// The demo build of the data source, driven through our own host the way a
// scanning application and the 2.x manager drive it: listing, negotiation,
// acquisitions with and without the window, native and memory transfers,
// the news the application hears, and the failures it must be told about.
#include <gtest/gtest.h>
#include <objbase.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "camera/virtual/demo_devices.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"
#include "support/demo_pattern.h"
#include "support/desk_windows.h"
#include "support/under_wine.h"
#include "support/wait_for.h"
#include "support/wine_paths.h"
#include "twain_host.h"

namespace snaplark::test {
namespace {

using namespace twain;

std::wstring DemoSource() { return WinePath(L"" SNAPLARK_DEMO_SOURCE); }

// The capability's container as the source handed it over, freed afterwards.
struct Container {
  TW_UINT16 rc = TWRC_FAILURE;
  TW_UINT16 conType = 0;
  std::vector<std::uint8_t> bytes;
  template <typename T>
  const T& As() const {
    return *reinterpret_cast<const T*>(bytes.data());
  }
  TW_UINT32 OneValue() const { return As<TW_ONEVALUE>().Item; }
};

Container Ask(TwainHost& host, TW_UINT16 message, TW_UINT16 cap) {
  TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
  Container result;
  result.rc = host.Call(DG_CONTROL, DAT_CAPABILITY, message, &capability);
  if (result.rc != TWRC_SUCCESS || !capability.hContainer) return result;
  result.conType = capability.ConType;
  const auto* data = static_cast<const std::uint8_t*>(GlobalLock(capability.hContainer));
  result.bytes.assign(data, data + GlobalSize(capability.hContainer));
  GlobalUnlock(capability.hContainer);
  TwainHost::FreeBlock(capability.hContainer);
  return result;
}

TW_UINT16 SetOne(TwainHost& host, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value) {
  HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
  auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(block));
  one->ItemType = itemType;
  one->Item = value;
  GlobalUnlock(block);
  TW_CAPABILITY capability{cap, TWON_ONEVALUE, block};
  const TW_UINT16 rc = host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
  GlobalFree(block);
  return rc;
}

// `modal` false: the application asks for a window that leaves its loop running.
TW_UINT16 Enable(TwainHost& host, bool showWindow, bool modal = true) {
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(showWindow), static_cast<TW_BOOL>(modal), nullptr};
  return host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TW_UINT16 Disable(TwainHost& host) {
  TW_USERINTERFACE ui{};
  return host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

bool Heard(const TwainHost& host, TW_UINT16 message) {
  return std::find(host.heard.begin(), host.heard.end(), message) != host.heard.end();
}

// The frame number of the NV12 demo pattern a native DIB shows, or -1.
int DemoFrameOf(HGLOBAL dib) {
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(header) + header->biSize;
  const std::vector<std::uint8_t> rows(pixels, pixels + BgrStride(header->biWidth) * header->biHeight);
  const int n = header->biBitCount == 24 ? MatchingFrameNumber(rows, true, header->biWidth, header->biHeight) : -1;
  GlobalUnlock(dib);
  return n;
}

// A native transfer and its end, as an application makes them: the demo
// frame the picture shows (-1: another picture, -2: no transfer), and how
// many transfers the source says are left.
struct NativeTransfer {
  int frame = -2;
  int left = -1;
};

NativeTransfer TransferNative(TwainHost& host) {
  NativeTransfer result;
  HANDLE dib = nullptr;
  if (host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib) != TWRC_XFERDONE || !dib) return result;
  result.frame = DemoFrameOf(dib);
  GlobalFree(dib);
  TW_PENDINGXFERS pending{};
  if (host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) == TWRC_SUCCESS) result.left = pending.Count;
  return result;
}

class SourceTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "rewrites the program's own settings key";
    SaveCamera(DemoNv12Link);
  }
  static void SaveCamera(const wchar_t* link) {
    Settings settings;
    settings.DeviceSymLink = link;
    SettingsStore().Save(settings);
  }
};

TEST(SourceListing, AFreshlyLoadedSourceNamesItselfAndOffersImages) {
  for (int load = 0; load < 2; ++load) {
    TwainHost host(DemoSource());
    TW_IDENTITY identity{};
    ASSERT_TRUE(host.List(identity)) << "the entry is found by its plain name, DS_Entry";
    EXPECT_STREQ(identity.ProductName, "Snaplark");
    EXPECT_STRNE(identity.Manufacturer, "");
    EXPECT_STRNE(identity.ProductFamily, "");
    EXPECT_EQ(identity.Version.MajorNum, 1);
    EXPECT_EQ(identity.Version.MinorNum, 0);
    EXPECT_EQ(identity.ProtocolMajor, 2);
    EXPECT_EQ(identity.SupportedGroups & (DG_CONTROL | DG_IMAGE | DF_DS2), DG_CONTROL | DG_IMAGE | DF_DS2);
  }
}

TEST_F(SourceTest, NegotiatesAndAcquiresTheSavedCameraWithoutItsWindowTimeAfterTime) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS) << "a source that left its class behind cannot open again";

    const Container supported = Ask(host, MSG_GET, CAP_SUPPORTEDCAPS);
    ASSERT_EQ(supported.conType, TWON_ARRAY);
    const auto& array = supported.As<TW_ARRAY>();
    std::vector<TW_UINT16> caps(array.NumItems);
    std::memcpy(caps.data(), array.ItemList, 2 * caps.size());
    // Every capability an application may ask of any source, with the
    // container it must come in and the camera's truth (a FIX32 item reads
    // whole | fraction << 16; 640 x 480 pixels at 96 dpi are 6.667 x 5 inches).
    struct Expected {
      TW_UINT16 cap;
      TW_UINT16 conType;
      TW_UINT32 value;  // the current value (one value) or the first item
    };
    for (const Expected& e : {Expected{CAP_XFERCOUNT, TWON_ONEVALUE, 0xFFFF},
                              {CAP_UICONTROLLABLE, TWON_ONEVALUE, 1},
                              {CAP_DEVICEONLINE, TWON_ONEVALUE, 1},
                              {CAP_INDICATORS, TWON_ENUMERATION, 0},
                              {ICAP_PIXELTYPE, TWON_ENUMERATION, TWPT_RGB},
                              {ICAP_BITDEPTH, TWON_ENUMERATION, 24},
                              {ICAP_UNITS, TWON_ENUMERATION, TWUN_INCHES},
                              {ICAP_XRESOLUTION, TWON_ENUMERATION, 96},
                              {ICAP_YRESOLUTION, TWON_ENUMERATION, 96},
                              {ICAP_XNATIVERESOLUTION, TWON_ONEVALUE, 96},
                              {ICAP_YNATIVERESOLUTION, TWON_ONEVALUE, 96},
                              {ICAP_PHYSICALWIDTH, TWON_ONEVALUE, 6 | 43691u << 16},
                              {ICAP_PHYSICALHEIGHT, TWON_ONEVALUE, 5},
                              {ICAP_COMPRESSION, TWON_ENUMERATION, TWCP_NONE},
                              {ICAP_PLANARCHUNKY, TWON_ENUMERATION, TWPC_CHUNKY},
                              {ICAP_BITORDER, TWON_ENUMERATION, TWBO_MSBFIRST},
                              {ICAP_PIXELFLAVOR, TWON_ENUMERATION, TWPF_CHOCOLATE},
                              {ICAP_SUPPORTEDSIZES, TWON_ENUMERATION, TWSS_NONE},
                              {CAP_SUPPORTEDDATS, TWON_ARRAY, DG_CONTROL << 16 | DAT_CAPABILITY}}) {
      SCOPED_TRACE(testing::Message() << std::hex << e.cap);
      const Container answer = Ask(host, MSG_GET, e.cap);
      ASSERT_EQ(answer.rc, TWRC_SUCCESS);
      EXPECT_EQ(answer.conType, e.conType);
      TW_UINT32 first = 0;
      if (e.conType == TWON_ONEVALUE) first = answer.OneValue();
      if (e.conType == TWON_ENUMERATION) std::memcpy(&first, answer.As<TW_ENUMERATION>().ItemList, 2);
      if (e.conType == TWON_ARRAY) std::memcpy(&first, answer.As<TW_ARRAY>().ItemList, 4);
      EXPECT_EQ(first, e.value);
      EXPECT_NE(std::find(caps.begin(), caps.end(), e.cap), caps.end());
    }
    for (TW_UINT16 cap : caps) {
      EXPECT_EQ(Ask(host, MSG_GET, cap).rc, TWRC_SUCCESS) << std::hex << cap;
      EXPECT_EQ(Ask(host, MSG_GETCURRENT, cap).rc, TWRC_SUCCESS) << std::hex << cap;
    }
    TW_UINT32 group = 0;
    EXPECT_EQ(host.Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group), TWRC_SUCCESS);
    EXPECT_EQ(group, DG_IMAGE);
    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), TWRC_SUCCESS);
    EXPECT_EQ(layout.Frame.Right.Whole, 6) << "the saved camera's frame before the first acquisition";
    EXPECT_EQ(layout.Frame.Bottom.Whole, 5);
    TW_IMAGELAYOUT cropped = layout;
    cropped.Frame.Right = {2, 0};
    EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &cropped), TWRC_CHECKSTATUS) << "a camera cannot crop";
    EXPECT_EQ(std::memcmp(&cropped, &layout, sizeof(layout)), 0) << "answered with the frame it gives";
    EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &cropped), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(host, ICAP_XRESOLUTION, TWTY_FIX32, 300), TWRC_CHECKSTATUS) << "rounded to the camera's own";
    EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_XRESOLUTION).OneValue(), 96u);
    // Integer capabilities in whatever integer type the application uses.
    EXPECT_EQ(SetOne(host, CAP_XFERCOUNT, TWTY_INT32, 0xFFFFFFFF), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(host, CAP_XFERCOUNT, TWTY_UINT16, 3), TWRC_SUCCESS);
    EXPECT_EQ(Ask(host, MSG_GETCURRENT, CAP_XFERCOUNT).OneValue(), 3u);
    EXPECT_EQ(SetOne(host, CAP_XFERCOUNT, TWTY_INT32, 70000), TWRC_FAILURE) << "too large for the count";
    const Container mechanisms = Ask(host, MSG_GET, ICAP_XFERMECH);
    ASSERT_EQ(mechanisms.conType, TWON_ENUMERATION);
    const auto& list = mechanisms.As<TW_ENUMERATION>();
    ASSERT_EQ(list.NumItems, 2u);
    EXPECT_EQ(list.ItemList[0] | list.ItemList[1] << 8, TWSX_NATIVE);
    EXPECT_EQ(list.ItemList[2] | list.ItemList[3] << 8, TWSX_MEMORY);
    EXPECT_EQ(Ask(host, MSG_QUERYSUPPORT, ICAP_XFERMECH).OneValue(),
              static_cast<TW_UINT32>(TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET));
    EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_PIXELTYPE).OneValue(), TWPT_RGB);
    EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_BITDEPTH).OneValue(), 24u);
    EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_XRESOLUTION).OneValue(), 96u) << "96.0 as TW_FIX32";
    EXPECT_EQ(Ask(host, MSG_GETDEFAULT, CAP_UICONTROLLABLE).OneValue(), 1u);
    EXPECT_EQ(SetOne(host, CAP_XFERCOUNT, TWTY_INT16, 1), TWRC_SUCCESS);
    EXPECT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE), TWRC_SUCCESS);

    ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
    EXPECT_TRUE(host.heard.empty()) << "news comes after ENABLEDS has returned";
    ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
    TW_IMAGEMEMXFER strip{};
    EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip), TWRC_FAILURE) << "the mechanism is native";
    EXPECT_EQ(host.Condition(), TWCC_SEQERROR);

    TW_IMAGEINFO info{};
    ASSERT_EQ(host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.ImageWidth, 640);
    EXPECT_EQ(info.ImageLength, 480);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(info.SamplesPerPixel, 3);
    EXPECT_EQ(info.PixelType, static_cast<TW_INT16>(TWPT_RGB));
    EXPECT_EQ(info.XResolution.Whole, 96);

    HANDLE dib = nullptr;
    ASSERT_EQ(host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(GlobalSize(dib), 40u + 640 * 3 * 480);
    EXPECT_GE(DemoFrameOf(dib), 8) << "the demo NV12 pattern, bottom row first, once the camera warmed up";
    GlobalFree(dib);

    TW_PENDINGXFERS pending{};
    ASSERT_EQ(host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    EXPECT_EQ(Disable(host), TWRC_SUCCESS);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    EXPECT_EQ(GetModuleHandleW(DemoSource().c_str()), nullptr) << "unloaded: no thread or object of it lives on";
    EXPECT_EQ(TwainHost::LiveBlocks(), 0) << "every container came through the manager's memory";
  }
}

// The loaded demo source's switch `name` (StallDemoCameras, NarrowDemoCameras).
void SwitchDemoCameras(const char* name, bool on) {
  using Switch = void(WINAPI*)(BOOL);
  const auto flip =
      reinterpret_cast<Switch>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(DemoSource().c_str()), name)));
  ASSERT_NE(flip, nullptr) << name;
  flip(on);
}

// Strips of whole rows, each padded to a multiple of 4 bytes as in a DIB;
// at 322 pixels a row holds 966 bytes and is padded to 968.
TEST_F(SourceTest, AMemoryTransferInSmallStripsReassemblesThePicture) {
  for (const bool narrow : {false, true}) {
    SCOPED_TRACE(narrow);
    const int width = narrow ? 322 : 640, height = narrow ? 242 : 480;
    const TW_UINT32 Row = BgrStride(width);
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    SwitchDemoCameras("NarrowDemoCameras", narrow);
    if (narrow) {
      // The native picture of the narrow camera, for a start.
      ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
      ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
      EXPECT_GE(TransferNative(host).frame, 0);
      EXPECT_EQ(Disable(host), TWRC_SUCCESS);
      host.heard.clear();
    }
    ASSERT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
    ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));

    HANDLE dib = nullptr;
    EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_FAILURE) << "the mechanism is memory";
    EXPECT_EQ(host.Condition(), TWCC_SEQERROR);

    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(host.Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    EXPECT_EQ(setup.MinBufSize, Row);
    EXPECT_EQ(setup.MaxBufSize, Row * height);
    EXPECT_GE(setup.Preferred, setup.MinBufSize);
    EXPECT_EQ(setup.Preferred % Row, 0u) << "whole rows";

    std::vector<std::uint8_t> buffer(Row - 1);
    TW_IMAGEMEMXFER strip{};
    strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, Row - 1, buffer.data()};
    EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip), TWRC_FAILURE) << "no room for one row";
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);

    // Seven rows (and a bit) per strip, alternately as a pointer and a handle.
    std::vector<std::uint8_t> picture(Row * height);
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT32 rowsSeen = 0;
    int strips = 0;
    HGLOBAL handle = GlobalAlloc(GHND, 7 * Row + 5);
    buffer.resize(7 * Row + 5);
    while (rc == TWRC_SUCCESS && strips < 100) {
      const bool byHandle = strips % 2 == 1;
      strip = {};
      strip.Memory = {TWMF_APPOWNS | (byHandle ? TWMF_HANDLE : TWMF_POINTER), 7 * Row + 5,
                      byHandle ? static_cast<void*>(handle) : buffer.data()};
      rc = host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
      ++strips;
      ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
      EXPECT_EQ(strip.YOffset, rowsSeen);
      EXPECT_EQ(strip.BytesPerRow, Row);
      EXPECT_EQ(strip.Columns, static_cast<TW_UINT32>(width));
      EXPECT_EQ(strip.BytesWritten, strip.Rows * Row);
      const auto* bytes = byHandle ? static_cast<const std::uint8_t*>(GlobalLock(handle)) : buffer.data();
      for (TW_UINT32 r = 0; r < strip.Rows; ++r) {
        // Red-green-blue rows from the top, back into the DIB's order.
        std::uint8_t* target = picture.data() + (height - 1 - (strip.YOffset + r)) * Row;
        for (int x = 0; x < width; ++x) {
          target[3 * x] = bytes[r * Row + 3 * x + 2];
          target[3 * x + 1] = bytes[r * Row + 3 * x + 1];
          target[3 * x + 2] = bytes[r * Row + 3 * x];
        }
      }
      if (byHandle) GlobalUnlock(handle);
      rowsSeen += strip.Rows;
    }
    GlobalFree(handle);
    EXPECT_EQ(rc, TWRC_XFERDONE);
    EXPECT_EQ(rowsSeen, static_cast<TW_UINT32>(height));
    EXPECT_EQ(strips, (height + 6) / 7) << "seven rows to a strip";
    EXPECT_GE(MatchingFrameNumber(picture, true, width, height), 0);

    TW_PENDINGXFERS pending{};
    EXPECT_EQ(host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(Disable(host), TWRC_SUCCESS);
    SwitchDemoCameras("NarrowDemoCameras", false);
  }
}

// The person at the keyboard, on a thread of their own: the window runs a
// modal loop on the application's thread.
HWND SourceWindow() {
  HWND window = FindWindowW(L"#32770", L"Snaplark");
  return window && IsWindowVisible(window) ? window : nullptr;
}

HWND WaitForSourceWindow() { return WaitFor(SourceWindow); }

bool Unloaded() { return GetModuleHandleW(DemoSource().c_str()) == nullptr; }

// The manager lets applications up to 2.2 call the source from inside their
// callback, and refuses it to later ones; an older application may even
// close the source from there, with the manager unloading it at once.
// A window that leaves the application's loop running (ModalUI false) gets
// its keys through that loop and ends the same way.
TEST_F(SourceTest, TheWindowScansIntoATransferOrAsksTheApplicationToClose) {
  struct Case {
    TW_UINT16 minor;
    bool modal;
  };
  for (const Case c : {Case{4, true}, Case{2, true}, Case{4, false}}) {
    SCOPED_TRACE(testing::Message() << "2." << c.minor << (c.modal ? " modal" : " modeless"));
    const TW_UINT16 minor = c.minor;
    const bool callsFromCallback = minor < 3;
    TwainHost host(DemoSource(), {true, 2, minor});
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    TW_IMAGEINFO infoInCallback{};
    TW_UINT16 infoAnswer = 0xFFFF, infoCondition = 0xFFFF;
    host.onNews = [&](TW_UINT16 message) {
      if (message != MSG_XFERREADY) return;
      infoAnswer = host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &infoInCallback);
      infoCondition = host.Condition();
    };

    ASSERT_EQ(Enable(host, true, c.modal), TWRC_SUCCESS);
    EXPECT_EQ(FindWindowW(L"#32770", L"Snaplark"), nullptr) << "ENABLEDS returns before the window opens";
    std::wstring scan, cancel, subtitle;
    std::atomic<bool> loopSawWindow{false};
    std::thread user([&] {
      HWND window = WaitForSourceWindow();
      if (!window) return;
      if (!c.modal) WaitFor([&] { return loopSawWindow.load(); }, std::chrono::seconds(5));
      scan = DialogItemText(window, IDC_CAPTURE);
      cancel = DialogItemText(window, IDC_CLOSE);
      subtitle = DialogItemText(window, IDC_SUBTITLE);
      if (c.modal) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
      } else {
        PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);  // Enter scans, through the application's loop
      }
      EndIfStillOpen(window);
    });
    if (!c.modal) {
      loopSawWindow = host.PumpUntil([] { return SourceWindow() != nullptr; }, 10000);
      EXPECT_TRUE(loopSawWindow) << "the application's own loop runs while the window shows";
    }
    const bool ready = host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); });
    user.join();
    ASSERT_TRUE(ready);
    EXPECT_EQ(scan, L"Scan");
    EXPECT_EQ(cancel, L"Cancel");
    EXPECT_EQ(subtitle, L"Acquire this camera feed from a TWAIN application");
    if (callsFromCallback) {
      EXPECT_EQ(infoAnswer, TWRC_SUCCESS);
      EXPECT_EQ(infoInCallback.ImageWidth, 640);
    } else {
      EXPECT_EQ(infoAnswer, TWRC_FAILURE) << "the manager keeps a 2.3 application out of the source";
      EXPECT_EQ(infoCondition, TWCC_SEQERROR);
    }

    const NativeTransfer transfer = TransferNative(host);
    EXPECT_GE(transfer.frame, 0);
    ASSERT_EQ(transfer.left, 0);
    EXPECT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_CLOSEDSREQ); })) << "the window is gone after a scan";
    ASSERT_EQ(Disable(host), TWRC_SUCCESS);

    host.heard.clear();
    TW_UINT16 disabled = 0xFFFF, closed = 0xFFFF;
    if (callsFromCallback) {
      host.onNews = [&](TW_UINT16 message) {
        if (message != MSG_CLOSEDSREQ) return;
        disabled = Disable(host);
        closed = host.Close();
      };
    }
    ASSERT_EQ(Enable(host, true, c.modal), TWRC_SUCCESS);
    user = std::thread([] {
      HWND window = WaitForSourceWindow();
      if (!window) return;
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), 0);
      EndIfStillOpen(window);
    });
    const bool closing = host.PumpUntil([&] { return Heard(host, MSG_CLOSEDSREQ); });
    user.join();
    EXPECT_TRUE(closing);
    EXPECT_FALSE(Heard(host, MSG_XFERREADY));
    if (callsFromCallback) {
      EXPECT_EQ(disabled, TWRC_SUCCESS);
      EXPECT_EQ(closed, TWRC_SUCCESS) << "closed from inside the news";
      EXPECT_TRUE(host.PumpUntil(Unloaded)) << "the source lets go of its file once its code has returned";
    } else {
      EXPECT_EQ(Disable(host), TWRC_SUCCESS);
      EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    }
  }
}

// An application that ends while the source is open closes the manager,
// which ends the source by force and unloads it at once, whatever it
// answers: from a timer of the application's that the capture window's loop
// dispatches, or from inside the application's callback. Returning into
// code of the unloaded file would crash the application.
TEST_F(SourceTest, TheManagersForcedCloseEndsTheSessionFromInsideItsOwnCode) {
  struct Case {
    const char* name;
    bool showWindow;
    bool fromCallback;
    bool modal;
  };
  for (const Case& c : {Case{"window's loop", true, false, true}, Case{"callback with window", true, true, true},
                        Case{"callback without window", false, true, true},
                        Case{"application's loop, modeless window", true, false, false}}) {
    SCOPED_TRACE(c.name);
    std::vector<TW_UINT16> answers;
    std::thread user;
    HWND window = nullptr;
    {
      TwainHost host(DemoSource());
      ASSERT_EQ(host.Open(), TWRC_SUCCESS);
      if (c.fromCallback) {
        host.onNews = [&](TW_UINT16 message) {
          if (message == MSG_XFERREADY) answers = host.CloseManager();
        };
      } else {
        host.OnTimerOnce([] { return SourceWindow() != nullptr; }, [&] { answers = host.CloseManager(); });
      }
      ASSERT_EQ(Enable(host, c.showWindow, c.modal), TWRC_SUCCESS);
      if (c.showWindow) {
        user = std::thread([&, scan = c.fromCallback] {
          window = WaitForSourceWindow();
          if (scan && window) PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
        });
      }
      EXPECT_TRUE(host.PumpUntil([&] { return !answers.empty() && Unloaded(); }));
      if (user.joinable()) user.join();
      EXPECT_FALSE(host.IsOpen());
    }
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[2], TWRC_SUCCESS) << "DISABLEDS";
    EXPECT_EQ(answers[3], TWRC_SUCCESS) << "CLOSEDS";
    if (window) {
      EXPECT_FALSE(IsWindow(window)) << "the capture window ended with the session";
      if (IsWindow(window)) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
  }
  // And the next application finds the source as usual.
  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
  ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
  EXPECT_GE(TransferNative(host).frame, 0);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
  EXPECT_EQ(host.Close(), TWRC_SUCCESS);
}

TEST_F(SourceTest, CallsOutOfSequenceAndFaultyRequestsFailWithTheirCondition) {
  {
    // A source that is loaded but not open answers nothing but its identity.
    HMODULE module = LoadLibraryW(DemoSource().c_str());
    const DSENTRYPROC entry = FindSourceEntry(module);
    ASSERT_NE(entry, nullptr);
    TW_IDENTITY application{};
    TW_CAPABILITY capability{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(entry(&application, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability), TWRC_FAILURE);
    TW_STATUS status{};
    EXPECT_EQ(entry(&application, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);
    TW_ENTRYPOINT tooShort{sizeof(TW_ENTRYPOINT) - 4, nullptr, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(entry(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &tooShort), TWRC_FAILURE);
    FreeLibrary(module);
  }

  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  const auto fails = [&](TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, void* pData) {
    return host.Call(group, data, message, pData) == TWRC_FAILURE ? host.Condition() : TW_UINT16{0xFFFF};
  };
  TW_IMAGEINFO info{};
  HANDLE dib = nullptr;
  TW_PENDINGXFERS pending{};
  TW_IDENTITY again{};
  EXPECT_EQ(fails(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWCC_SEQERROR);
  EXPECT_EQ(fails(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWCC_SEQERROR);
  EXPECT_EQ(fails(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWCC_SEQERROR);
  TW_USERINTERFACE ui{};
  EXPECT_EQ(fails(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWCC_SEQERROR);
  EXPECT_EQ(fails(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &again), TWCC_MAXCONNECTIONS);

  EXPECT_EQ(Ask(host, MSG_GET, 0x8123).rc, TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_CAPUNSUPPORTED);
  EXPECT_EQ(SetOne(host, ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
  EXPECT_EQ(SetOne(host, CAP_XFERCOUNT, TWTY_INT16, 0), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
  EXPECT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_FIX32, TWSX_MEMORY), TWRC_FAILURE) << "not an integer";
  EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
  EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_XFERMECH).OneValue(), TWSX_NATIVE) << "nothing was changed";
  EXPECT_EQ(SetOne(host, CAP_DEVICEONLINE, TWTY_BOOL, 1), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_CAPBADOPERATION) << "read only";
  // The text of a condition, in memory the application frees.
  TW_STATUSUTF8 text{{TWCC_CAPBADOPERATION, 0}, 0, nullptr};
  ASSERT_EQ(host.Call(DG_CONTROL, DAT_STATUSUTF8, MSG_GET, &text), TWRC_SUCCESS);
  ASSERT_NE(text.UTF8string, nullptr);
  const auto* utf8 = static_cast<const char*>(GlobalLock(text.UTF8string));
  EXPECT_EQ(std::strlen(utf8) + 1, text.Size);
  EXPECT_GT(text.Size, 10u);
  GlobalUnlock(text.UTF8string);
  TwainHost::FreeBlock(text.UTF8string);

  // Enabled: negotiation and closing are over until the source is disabled.
  ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
  EXPECT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
  EXPECT_EQ(host.Close(), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
  EXPECT_EQ(Enable(host, false), TWRC_FAILURE);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
  host.PumpUntil([] { return false; }, 300);  // time for news that should not come
  EXPECT_TRUE(host.heard.empty()) << "no news for an acquisition the application disabled";

  // A saved camera that cannot be opened ends the acquisition with a
  // request to close, and says why.
  SaveCamera(L"\\\\?\\snaplark-virtual#unplugged");
  EXPECT_EQ(Enable(host, false), TWRC_SUCCESS);
  EXPECT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_CLOSEDSREQ); }));
  EXPECT_FALSE(Heard(host, MSG_XFERREADY));
  EXPECT_EQ(host.Condition(), TWCC_BUMMER);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
  EXPECT_EQ(host.Close(), TWRC_SUCCESS);
}

// News reaches every kind of application exactly once: a legacy one through
// its event loop (from the manager's queue, or from the source itself under
// an older manager that gives no entry points), a 2.x one by its callback,
// even when that callback answers with a failure.
TEST_F(SourceTest, EveryKindOfApplicationHearsTheNewsOnce) {
  struct Case {
    const char* name;
    TwainHost::Options options;
    TW_UINT16 unknownCapCondition;
  };
  for (const Case& c :
       {Case{"legacy application", {true, 1, 9}, TWCC_BADCAP}, Case{"older manager", {false, 1, 9}, TWCC_BADCAP},
        Case{"callback that refuses", {true, 2, 4, TWRC_FAILURE}, TWCC_CAPUNSUPPORTED}}) {
    SCOPED_TRACE(c.name);
    TwainHost host(DemoSource(), c.options);
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    EXPECT_EQ(Ask(host, MSG_GET, 0x8123).rc, TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), c.unknownCapCondition) << "a 1.x application knows only the older code";
    ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
    ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
    const NativeTransfer transfer = TransferNative(host);
    EXPECT_GE(transfer.frame, 0);
    EXPECT_EQ(transfer.left, 0);
    host.PumpUntil([] { return false; }, 300);
    EXPECT_EQ(std::count(host.heard.begin(), host.heard.end(), MSG_XFERREADY), 1);
    EXPECT_EQ(Disable(host), TWRC_SUCCESS);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
  }
}

// A camera that stops sending fails the acquisition after the first frame's
// time limit, without holding ENABLEDS. Closing the source lets the camera go
// although its read is still stuck, which ends that read; the next session
// finds the camera working once it sends again.
TEST_F(SourceTest, ACameraThatStallsFailsTheAcquisitionAndIsLetGoWhenTheSessionEnds) {
  {
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    SwitchDemoCameras("StallDemoCameras", true);
    const DWORD start = GetTickCount();
    EXPECT_EQ(Enable(host, false), TWRC_SUCCESS);
    EXPECT_LT(GetTickCount() - start, 1000u) << "ENABLEDS does not wait for the camera";
    EXPECT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_CLOSEDSREQ); }));
    EXPECT_EQ(host.Condition(), TWCC_BUMMER);
    EXPECT_EQ(Disable(host), TWRC_SUCCESS);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
  }
  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  SwitchDemoCameras("StallDemoCameras", false);  // in case the file stayed loaded with its switch on
  ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
  ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
  EXPECT_GE(TransferNative(host).frame, 0);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
  EXPECT_EQ(host.Close(), TWRC_SUCCESS);
}

// The application's thread keeps the apartment it chose: a thread without
// COM may still call OleInitialize after opening the source (and has no COM
// again after closing it), a thread in the multithreaded apartment stays there.
TEST_F(SourceTest, TheApplicationsThreadKeepsItsComApartment) {
  const auto acquire = [](TwainHost& host) {
    if (Enable(host, false) != TWRC_SUCCESS) return false;
    const bool ready = host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); });
    TW_PENDINGXFERS pending{1, 0};
    const bool reset = host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending) == TWRC_SUCCESS;
    return Disable(host) == TWRC_SUCCESS && ready && reset && pending.Count == 0;
  };
  std::thread([&] {
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    const HRESULT ole = OleInitialize(nullptr);
    EXPECT_TRUE(SUCCEEDED(ole)) << std::hex << ole;
    EXPECT_TRUE(acquire(host));
    if (SUCCEEDED(ole)) OleUninitialize();
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    const HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(after, S_OK) << "the source left its apartment at CLOSEDS";
    if (SUCCEEDED(after)) CoUninitialize();
  }).join();
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    EXPECT_TRUE(acquire(host));
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace snaplark::test
