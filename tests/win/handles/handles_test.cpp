// The handle owners, checked where ownership passes on: every owner frees its
// handle exactly once, a move hands it on, Release gives it up, and a block
// the clipboard took is no longer the owner's to free. Whether a handle was
// freed is asked of the system right after the owner ended.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "handles/win_handles.h"

namespace snaplark {
namespace {

bool KernelHandleOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

bool GlobalBlockAlive(HGLOBAL block) { return GlobalFlags(block) != GMEM_INVALID_HANDLE; }

UINT GlobalLockCount(HGLOBAL block) { return GlobalFlags(block) & GMEM_LOCKCOUNT; }

HGLOBAL FilledBlock(const char* text) {
  const size_t size = std::strlen(text) + 1;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block) {
    std::memcpy(GlobalLock(block), text, size);
    GlobalUnlock(block);
  }
  return block;
}

LRESULT CALLBACK PassKeyOn(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(UniqueHandle, ClosesWhenItEnds) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  { UniqueHandle owner(event); }
  EXPECT_FALSE(KernelHandleOpen(event));
}

TEST(UniqueHandle, MovesHandOwnershipOnExactlyOnce) {
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  {
    UniqueHandle a(first);
    UniqueHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Get(), first);
    {
      UniqueHandle moved(std::move(b));
      EXPECT_FALSE(b);
    }
    // The moved-to owner has closed it; the moved-from ones must not again.
    EXPECT_FALSE(KernelHandleOpen(first));

    UniqueHandle c(second);
    UniqueHandle d(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE replaced = d.Get();
    d = std::move(c);  // closes what d held, takes c's
    EXPECT_FALSE(KernelHandleOpen(replaced));
    EXPECT_TRUE(KernelHandleOpen(second));
    EXPECT_FALSE(c);
    d = std::move(d);  // a self-move keeps the handle
    EXPECT_TRUE(KernelHandleOpen(second));
    EXPECT_EQ(d.Get(), second);
  }
  EXPECT_FALSE(KernelHandleOpen(second));
}

TEST(UniqueHandle, ReleaseGivesOwnershipUp) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  HANDLE released = nullptr;
  {
    UniqueHandle owner(event);
    released = owner.Release();
    EXPECT_FALSE(owner);
  }
  EXPECT_EQ(released, event);
  EXPECT_TRUE(KernelHandleOpen(event));
  CloseHandle(event);
}

TEST(UniqueHandle, ResetAndPutCloseTheHandleHeldBefore) {
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  UniqueHandle owner(first);
  owner.Reset(second);
  EXPECT_FALSE(KernelHandleOpen(first));
  HANDLE* slot = owner.Put();
  EXPECT_FALSE(KernelHandleOpen(second));
  EXPECT_EQ(*slot, nullptr);
}

TEST(UniqueFile, ClosesAndTreatsInvalidHandleValueAsEmpty) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"snl", 0, path), 0u);
  {
    // Deleted when its last handle closes: the file's absence shows the close.
    UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file);
    EXPECT_NE(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);

  UniqueFile failed(CreateFileW(L"Z:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(failed);
}

TEST(UniqueRegKey, ClosesWhenItEnds) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  { UniqueRegKey owner(key); }
  DWORD subkeys = 0;
  EXPECT_NE(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
}

TEST(GdiOwners, DeleteTheirObjects) {
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(brush, nullptr);
  ASSERT_NE(dc, nullptr);
  {
    GdiObject brushOwner(brush);
    MemoryDc dcOwner(dc);
    EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_MEMDC));
  }
  EXPECT_EQ(GetObjectType(brush), 0u);
  EXPECT_EQ(GetObjectType(dc), 0u);
}

TEST(GdiOwners, SelectedObjectPutsThePreviousOneBack) {
  MemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  GdiObject bitmap(CreateCompatibleBitmap(dc.Get(), 4, 4));
  GdiObject font(CreateFontW(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma"));
  ASSERT_TRUE(bitmap);
  ASSERT_TRUE(font);
  HGDIOBJ originalBitmap = GetCurrentObject(dc.Get(), OBJ_BITMAP);
  HGDIOBJ originalFont = GetCurrentObject(dc.Get(), OBJ_FONT);
  {
    SelectedObject selectBitmap(dc.Get(), bitmap.Get());
    SelectedObject selectFont(dc.Get(), font.Get());
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), bitmap.Get());
    EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_FONT), font.Get());
  }
  EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_BITMAP), originalBitmap);
  EXPECT_EQ(GetCurrentObject(dc.Get(), OBJ_FONT), originalFont);
}

// The program makes no icons of its own; a test's traits show that the
// owner frees a user object as its traits say.
struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static void Free(Handle h) { DestroyIcon(h); }
};

TEST(UserObjectOwners, IconAndHookAreFreed) {
  BYTE andMask[4 * 4 / 8 * 4] = {};
  BYTE xorMask[4 * 4 / 8 * 4] = {};
  HICON icon = CreateIcon(nullptr, 4, 4, 1, 1, andMask, xorMask);
  ASSERT_NE(icon, nullptr);
  { UniqueHandleOf<IconTraits> owner(icon); }
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(icon, &info));

  HHOOK hook = SetWindowsHookExW(WH_KEYBOARD, PassKeyOn, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  { UniqueHook owner(hook); }
  EXPECT_FALSE(UnhookWindowsHookEx(hook)) << "the hook was still installed";
}

TEST(GlobalMemory, FreesItsBlockAndReleaseGivesItUp) {
  HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, 16);
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(freed, nullptr);
  {
    GlobalMemory owner(freed);
    GlobalMemory giver(kept);
    EXPECT_EQ(giver.Release(), kept);
  }
  EXPECT_FALSE(GlobalBlockAlive(freed));
  EXPECT_TRUE(GlobalBlockAlive(kept));
  GlobalFree(kept);
}

TEST(GlobalMemory, LockGuardUnlocksOnEveryPath) {
  GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, 16));
  ASSERT_TRUE(block);
  {
    GlobalLockGuard outer(block.Get());
    ASSERT_TRUE(outer);
    EXPECT_NE(outer.Data(), nullptr);
    {
      GlobalLockGuard inner(block.Get());
      EXPECT_EQ(GlobalLockCount(block.Get()), 2u);
    }
    EXPECT_EQ(GlobalLockCount(block.Get()), 1u);
  }
  EXPECT_EQ(GlobalLockCount(block.Get()), 0u);

  GlobalLockGuard none(nullptr);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.Data(), nullptr);
}

TEST(UserObjectOwners, WindowDcGoesBackToItsWindow) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  HDC dc = nullptr;
  {
    WindowDc windowDc(window);
    ASSERT_TRUE(windowDc);
    dc = windowDc.Get();
  }
  // A common DC handed back already cannot be handed back again.
  EXPECT_EQ(ReleaseDC(window, dc), 0);
  DestroyWindow(window);
}

// The clipboard needs an owner window: with none, SetClipboardData fails.
class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    format_ = RegisterClipboardFormatW(L"SnaplarkHandleTest");
    ASSERT_NE(format_, 0u);
  }
  void TearDown() override {
    if (OpenClipboard(window_)) {
      EmptyClipboard();
      CloseClipboard();
    }
    DestroyWindow(window_);
  }

  HWND window_ = nullptr;
  UINT format_ = 0;
};

TEST_F(ClipboardTest, BlockGivenToTheClipboardOutlivesItsOwner) {
  HGLOBAL handle = nullptr;
  {
    GlobalMemory block(FilledBlock("clipboard block"));
    ASSERT_TRUE(block);
    handle = block.Get();
    ClipboardScope clipboard(window_);
    ASSERT_TRUE(clipboard);
    ASSERT_TRUE(EmptyClipboard());
    EXPECT_TRUE(GiveToClipboard(format_, block));
    EXPECT_FALSE(block) << "the owner still holds a block the clipboard owns";
  }
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr) << "the clipboard was left open";
  EXPECT_TRUE(GlobalBlockAlive(handle));

  ClipboardScope clipboard(window_);
  ASSERT_TRUE(clipboard);
  HANDLE data = GetClipboardData(format_);
  ASSERT_NE(data, nullptr);
  GlobalLockGuard lock(data);
  ASSERT_TRUE(lock);
  EXPECT_STREQ(static_cast<const char*>(lock.Data()), "clipboard block");
}

TEST_F(ClipboardTest, FailedHandOverKeepsAndFreesTheBlock) {
  ASSERT_EQ(GetOpenClipboardWindow(), nullptr);
  HGLOBAL handle = nullptr;
  {
    GlobalMemory block(FilledBlock("never taken"));
    ASSERT_TRUE(block);
    handle = block.Get();
    EXPECT_FALSE(GiveToClipboard(format_, block));  // the clipboard is not open
    EXPECT_EQ(block.Get(), handle);
    EXPECT_TRUE(GlobalBlockAlive(handle));
  }
  EXPECT_FALSE(GlobalBlockAlive(handle));

  GlobalMemory empty;
  ClipboardScope clipboard(window_);
  ASSERT_TRUE(clipboard);
  EXPECT_FALSE(GiveToClipboard(format_, empty));
}

}  // namespace
}  // namespace snaplark
