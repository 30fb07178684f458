// "Change" and the next key, typed through the input queue as a person
// types it (the hook sees such keys; posted messages would skip it).
#include <mfapi.h>

#include "res/resource_ids.h"
#include "support/wait_for.h"
#include "window_fixture.h"

namespace snaplark::test {
namespace {

// Starts picking and types one key; true once picking has ended.
bool PickWith(WindowRun& window, WORD key) {
  window.Click(IDC_CHANGE_KEY);
  if (window.Text(IDC_KEY_LABEL) != L"[press any key]") return false;
  TypeKey(key);
  return WaitFor([&] { return window.Text(IDC_KEY_LABEL) != L"[press any key]"; }, std::chrono::seconds(5));
}

bool KeyFreeForOthers(UINT key) {
  if (!RegisterHotKey(nullptr, 1, 0, key)) return false;
  UnregisterHotKey(nullptr, 1);
  return true;
}

TEST_F(CaptureWindowTest, StandalonePickerIgnoresEscapeAndModifiersAndSavesANewKeyAtOnce) {
  UseVirtualDevices({});
  auto window = Open(CaptureWindowMode::Standalone);
  ASSERT_NE(window->Dialog(), nullptr);
  ASSERT_TRUE(window->Activate());

  window->Click(IDC_CHANGE_KEY);
  EXPECT_EQ(window->Text(IDC_STATUS), L"Press a key to use as the capture hotkey, or Escape to cancel...");
  EXPECT_TRUE(window->State().pickerHook);
  TypeKey(VK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return window->Text(IDC_STATUS) == L"Hotkey unchanged."; }, std::chrono::seconds(5)));
  EXPECT_FALSE(window->Ended()) << "Escape while picking must not close the window";
  EXPECT_FALSE(window->State().pickerHook);

  for (WORD modifier : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_MENU}) {
    SCOPED_TRACE(modifier);
    ASSERT_TRUE(PickWith(*window, modifier));
    EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F10  (global hotkey)");
    EXPECT_EQ(window->Text(IDC_STATUS), L"Hotkey unchanged.");
  }
  EXPECT_EQ(settings_.Keybind, 121u);
  EXPECT_FALSE(SavedAnything()) << "an unchanged key writes nothing";

  ASSERT_TRUE(PickWith(*window, VK_F9));
  EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F9  (global hotkey)");
  EXPECT_EQ(window->Text(IDC_STATUS), L"Hotkey updated. It works globally, even when this window is closed.");
  EXPECT_EQ(Saved().Keybind, 120u) << "saved at once, before the window ends";
  EXPECT_TRUE(KeyFreeForOthers(VK_F9)) << "in this mode the tray, not the window, holds the key";

  // Closing while the label asks for a key: no hook stays behind.
  window->Click(IDC_CHANGE_KEY);
  ASSERT_EQ(window->Text(IDC_KEY_LABEL), L"[press any key]");
  const HHOOK hook = window->State().pickerHook.Get();
  ASSERT_NE(hook, nullptr);
  PostMessageW(window->Dialog(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
  EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the picker's hook outlived the window";
  EXPECT_EQ(Saved().Keybind, 120u);
}

TEST_F(CaptureWindowTest, TwainPickerTakesEnterAsAKeyAndHoldsEachNewKeyOnTheWindow) {
  UseVirtualDevices({});
  auto window = Open(CaptureWindowMode::Twain);
  ASSERT_NE(window->Dialog(), nullptr);
  ASSERT_TRUE(window->Activate());
  ASSERT_FALSE(KeyFreeForOthers(VK_F10));

  // Enter becomes the key; it does not press the default button ("Scan",
  // which would end the window).
  ASSERT_TRUE(PickWith(*window, VK_RETURN));
  EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"Enter");
  EXPECT_EQ(window->Text(IDC_STATUS), L"Capture key updated.");
  EXPECT_FALSE(window->Ended());
  EXPECT_TRUE(KeyFreeForOthers(VK_F10)) << "the old key was let go";

  ASSERT_TRUE(PickWith(*window, VK_F9));
  EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F9");
  EXPECT_FALSE(KeyFreeForOthers(VK_F9)) << "the window holds its new key";
  EXPECT_TRUE(KeyFreeForOthers(VK_RETURN));

  // A key that another program holds is kept, and the warning stays. Typed,
  // such a key goes to its holder; it reaches the picker as a key-down sent
  // to the window itself, the path that works without a hook.
  ASSERT_TRUE(RegisterHotKey(nullptr, 1, 0, VK_F8));
  window->Click(IDC_CHANGE_KEY);
  PostMessageW(window->Dialog(), WM_KEYDOWN, VK_F8, 0);
  EXPECT_TRUE(WaitFor([&] { return window->Text(IDC_KEY_LABEL) != L"[press any key]"; }, std::chrono::seconds(5)));
  UnregisterHotKey(nullptr, 1);
  EXPECT_EQ(window->Text(IDC_KEY_LABEL), L"F8");
  EXPECT_EQ(window->Text(IDC_STATUS),
            L"Warning: hotkey already taken by another application. Click Change to pick a different key.");
  EXPECT_EQ(Saved().Keybind, static_cast<std::uint32_t>(VK_F8));
  window->Click(IDC_CLOSE);
  EXPECT_EQ(window->Result(), CaptureOutcome::Dismissed);
}

}  // namespace
}  // namespace snaplark::test
