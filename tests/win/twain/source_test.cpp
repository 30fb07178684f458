// The demo build of the data source, driven through our own host the way a
// scanning application and the 2.x manager drive it: listing, negotiation,
// acquisitions with and without the window, native and memory transfers,
// the news the application hears, and the failures it must be told about.
#include <gtest/gtest.h>

#include <objbase.h>
#include <ole2.h>

#include <cstring>
#include <thread>
#include <vector>

#include "camera/virtual/demo_devices.h"
#include "res/resource_ids.h"
#include "settings/settings_store.h"
#include "support/demo_pattern.h"
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

TW_UINT16 Enable(TwainHost& host, bool showWindow) {
  TW_USERINTERFACE ui{static_cast<TW_BOOL>(showWindow), 0, nullptr};
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
    SaveCamera(kDemoNv12Link);
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
    for (TW_UINT16 cap : {CAP_XFERCOUNT, CAP_UICONTROLLABLE, CAP_INDICATORS, ICAP_XFERMECH, ICAP_PIXELTYPE,
                          ICAP_BITDEPTH, ICAP_UNITS, ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_COMPRESSION}) {
      EXPECT_NE(std::find(caps.begin(), caps.end(), cap), caps.end()) << std::hex << cap;
    }
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
    EXPECT_GE(DemoFrameOf(dib), 0) << "the DIB shows the demo NV12 pattern, bottom row first";
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

TEST_F(SourceTest, AMemoryTransferInSmallStripsReassemblesThePicture) {
  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  ASSERT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
  ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
  ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));

  TW_SETUPMEMXFER setup{};
  ASSERT_EQ(host.Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
  constexpr TW_UINT32 Row = 640 * 3;
  EXPECT_EQ(setup.MinBufSize, Row);
  EXPECT_EQ(setup.MaxBufSize, Row * 480);
  EXPECT_GE(setup.Preferred, setup.MinBufSize);

  std::vector<std::uint8_t> buffer(Row - 1);
  TW_IMAGEMEMXFER strip{};
  strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, Row - 1, buffer.data()};
  EXPECT_EQ(host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip), TWRC_FAILURE) << "no room for one row";
  EXPECT_EQ(host.Condition(), TWCC_BADVALUE);

  // Seven rows (and a bit) per strip, alternately as a pointer and a handle.
  std::vector<std::uint8_t> picture(BgrStride(640) * 480);
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
    EXPECT_EQ(strip.BytesWritten, strip.Rows * Row);
    const auto* bytes = byHandle ? static_cast<const std::uint8_t*>(GlobalLock(handle)) : buffer.data();
    for (TW_UINT32 r = 0; r < strip.Rows; ++r) {
      // Red-green-blue rows from the top, back into the DIB's order.
      std::uint8_t* target = picture.data() + (479 - (strip.YOffset + r)) * BgrStride(640);
      for (int x = 0; x < 640; ++x) {
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
  EXPECT_EQ(rowsSeen, 480u);
  EXPECT_EQ(strips, 69) << "480 rows, seven to a strip";
  EXPECT_GE(MatchingFrameNumber(picture, true, 640, 480), 0);

  TW_PENDINGXFERS pending{};
  EXPECT_EQ(host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
}

// The person at the keyboard, on a thread of their own: the window runs a
// modal loop on the application's thread.
HWND WaitForSourceWindow() {
  return WaitFor([]() -> HWND {
    HWND window = FindWindowW(L"#32770", L"Snaplark");
    return window && IsWindowVisible(window) ? window : nullptr;
  });
}

std::wstring ItemText(HWND window, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(window, id, text, 256);
  return text;
}

TEST_F(SourceTest, TheWindowScansIntoATransferOrAsksTheApplicationToClose) {
  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  TW_IMAGEINFO infoInCallback{};
  host.onNews = [&](TW_UINT16 message) {
    // The application may call the source back from inside the news.
    if (message == MSG_XFERREADY) host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &infoInCallback);
  };

  ASSERT_EQ(Enable(host, true), TWRC_SUCCESS);
  EXPECT_EQ(FindWindowW(L"#32770", L"Snaplark"), nullptr) << "ENABLEDS returns before the window opens";
  std::wstring scan, cancel, subtitle;
  std::thread user([&] {
    HWND window = WaitForSourceWindow();
    if (!window) return;
    scan = ItemText(window, IDC_CAPTURE);
    cancel = ItemText(window, IDC_CLOSE);
    subtitle = ItemText(window, IDC_SUBTITLE);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED), 0);
    EndIfStillOpen(window);
  });
  const bool ready = host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); });
  user.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(scan, L"Scan");
  EXPECT_EQ(cancel, L"Cancel");
  EXPECT_EQ(subtitle, L"Acquire this camera feed from a TWAIN application");
  EXPECT_EQ(infoInCallback.ImageWidth, 640);

  const NativeTransfer transfer = TransferNative(host);
  EXPECT_GE(transfer.frame, 0);
  ASSERT_EQ(transfer.left, 0);
  EXPECT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_CLOSEDSREQ); })) << "the window is gone after a scan";
  ASSERT_EQ(Disable(host), TWRC_SUCCESS);

  host.heard.clear();
  ASSERT_EQ(Enable(host, true), TWRC_SUCCESS);
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
  EXPECT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT32, TWSX_MEMORY), TWRC_FAILURE) << "the wrong item type";
  EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
  EXPECT_EQ(Ask(host, MSG_GETCURRENT, ICAP_XFERMECH).OneValue(), TWSX_NATIVE) << "nothing was changed";

  // Enabled: negotiation and closing are over until the source is disabled.
  ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
  EXPECT_EQ(SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
  EXPECT_EQ(host.Close(), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
  EXPECT_EQ(Enable(host, false), TWRC_FAILURE);
  EXPECT_EQ(Disable(host), TWRC_SUCCESS);
  EXPECT_TRUE(host.PumpUntil([] { return false; }, 300) == false);
  EXPECT_TRUE(host.heard.empty()) << "no news for an acquisition the application disabled";

  // A saved camera that cannot be opened fails the enabling itself.
  SaveCamera(L"\\\\?\\snaplark-virtual#unplugged");
  EXPECT_EQ(Enable(host, false), TWRC_FAILURE);
  EXPECT_EQ(host.Condition(), TWCC_BUMMER);
  EXPECT_EQ(host.Close(), TWRC_SUCCESS) << "still open (state 4), so it can be closed";
}

TEST_F(SourceTest, AnOlderManagerAndALegacyApplicationHearTheNewsThroughTheirEventLoop) {
  for (const bool managerGivesEntryPoints : {true, false}) {
    SCOPED_TRACE(managerGivesEntryPoints);
    TwainHost host(DemoSource(), {managerGivesEntryPoints, 1});
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    EXPECT_EQ(Ask(host, MSG_GET, 0x8123).rc, TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADCAP) << "a 1.x application knows only the older code";
    ASSERT_EQ(Enable(host, false), TWRC_SUCCESS);
    ASSERT_TRUE(host.PumpUntil([&] { return Heard(host, MSG_XFERREADY); }));
    const NativeTransfer transfer = TransferNative(host);
    EXPECT_GE(transfer.frame, 0);
    EXPECT_EQ(transfer.left, 0);
    EXPECT_EQ(Disable(host), TWRC_SUCCESS);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
  }
}

// A camera that stops sending fails the acquisition after the first frame's
// time limit. Closing the source lets the camera go although its read is
// still stuck, which ends that read; the next session finds the camera
// working once it sends again.
TEST_F(SourceTest, ACameraThatStallsFailsTheAcquisitionAndIsLetGoWhenTheSessionEnds) {
  using Stall = void(WINAPI*)(BOOL);
  const auto stall = [](BOOL stalled) {
    const auto set = reinterpret_cast<Stall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(DemoSource().c_str()), "StallDemoCameras")));
    ASSERT_NE(set, nullptr);
    set(stalled);
  };
  {
    TwainHost host(DemoSource());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    stall(TRUE);
    EXPECT_EQ(Enable(host, false), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BUMMER);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
  }
  TwainHost host(DemoSource());
  ASSERT_EQ(host.Open(), TWRC_SUCCESS);
  stall(FALSE);  // a file that stayed loaded kept its switch
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
    TW_PENDINGXFERS pending{};
    host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    return Disable(host) == TWRC_SUCCESS && ready;
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
