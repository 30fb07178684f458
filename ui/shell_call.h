#pragma once
// Shell calls the way the shell wants them: on a short-lived thread of a
// single-threaded apartment (its URL and elevation handlers need one, and the
// program's own thread joined the multithreaded one). The calling thread keeps
// handling its messages meanwhile: an administrator prompt or a browser start
// may take long, and a shell that sends messages (DDE) to the top-level
// windows of the caller would otherwise wait for a thread that waits for it.
#include <windows.h>
#include <shellapi.h>

#include "product_identity.h"

namespace snaplark {

// Waits up to `milliseconds` (or INFINITE) for `object`, dispatching the
// thread's messages meanwhile. A WM_QUIT that arrives meanwhile is posted
// again for the loop further out.
void WaitHandlingMessages(HANDLE object, DWORD milliseconds);

using ShellExecuteCall = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);

// `call` (ShellExecuteExW unless a test stands in) with `info` on such a
// thread, SEE_MASK_NOASYNC added so that the call has finished its work when
// it returns. True on success; `info` then holds what the call filled in (a
// process handle, say).
bool ShellExecuteInApartment(SHELLEXECUTEINFOW& info, ShellExecuteCall call = ShellExecuteExW);

// The maker's support page, also offered from the tray menu.
using identity::SupportPageUrl;

// Opens the support page in the user's browser, in front of `owner`'s
// window; a failure is neither reported by the program nor by the shell.
void OpenSupportPage(HWND owner, ShellExecuteCall call = ShellExecuteExW);

}  // namespace snaplark
