// A shell call made from a window's thread: the shell may send messages to
// the caller's top-level windows (DDE) while it works, and the caller must
// answer them, or both wait for each other.
#include "ui/shell_call.h"

#include <windows.h>
#include <gtest/gtest.h>

namespace snaplark::test {
namespace {

constexpr UINT kQuestion = WM_APP + 7;
HWND caller = nullptr;

LRESULT CALLBACK AnswerQuestion(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == kQuestion ? 42 : DefWindowProcW(window, message, wParam, lParam);
}

// Stands in for ShellExecuteExW: asks the caller's window, and ends the
// caller's loop meanwhile, as a user choosing "Exit" would.
DWORD callerThread = 0;
BOOL WINAPI AskTheCaller(SHELLEXECUTEINFOW* info) {
  PostThreadMessageW(callerThread, WM_QUIT, 3, 0);
  DWORD_PTR answer = 0;
  const bool answered = SendMessageTimeoutW(caller, kQuestion, 0, 0, SMTO_NORMAL, 5000, &answer) && answer == 42;
  const bool quiet = (info->fMask & SEE_MASK_FLAG_NO_UI) != 0;
  return answered && quiet && info->hwnd == caller;
}

SHELLEXECUTEINFOW opened{};
BOOL WINAPI NoteAndAskTheCaller(SHELLEXECUTEINFOW* info) {
  opened = *info;
  return AskTheCaller(info);
}

TEST(ShellCall, TheCallerAnswersItsWindowsWhileTheShellWorksAndKeepsAQuitForLater) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = AnswerQuestion;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"SnaplarkShellCallTest";
  RegisterClassW(&windowClass);
  caller = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
  ASSERT_NE(caller, nullptr);
  callerThread = GetCurrentThreadId();

  SHELLEXECUTEINFOW info{};
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = caller;
  EXPECT_TRUE(ShellExecuteInApartment(info, AskTheCaller));
  MSG quit{};
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 3u);

  // The support page is opened the same way, quietly, in front of its owner.
  OpenSupportPage(caller, NoteAndAskTheCaller);
  EXPECT_STREQ(opened.lpFile, SupportPageUrl);
  EXPECT_TRUE(opened.fMask & SEE_MASK_FLAG_NO_UI);
  EXPECT_EQ(opened.hwnd, caller);
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  DestroyWindow(caller);
}

}  // namespace
}  // namespace snaplark::test
