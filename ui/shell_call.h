#pragma once
// Shell calls the way the shell wants them: on a short-lived thread of a
// single-threaded apartment (its URL and elevation handlers need one, and the
// program's own thread joined the multithreaded one), waited for.
#include <windows.h>
#include <shellapi.h>

namespace snaplark {

// ShellExecuteExW with `info` on such a thread, SEE_MASK_NOASYNC added so
// that the call has finished its work when it returns. True on success;
// `info` then holds what the call filled in (a process handle, say).
bool ShellExecuteInApartment(SHELLEXECUTEINFOW& info);

// The maker's support page, also offered from the tray menu.
inline constexpr wchar_t SupportPageUrl[] = L"https://www.tollendale.com/support";

// Opens the support page in the user's browser; a failure is not reported.
void OpenSupportPage();

}  // namespace snaplark
