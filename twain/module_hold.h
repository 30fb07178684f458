#pragma once
// The file's own lifetime. A manager unloads the file as soon as MSG_CLOSEDS
// has returned, even when the application called it from inside code of
// ours (the capture window's loop, the news we sent it); returning into
// unloaded code would take the application down. So that code holds a
// reference of its own, given back only once it has returned.
#include <windows.h>

namespace snaplark {

// One more reference on the file that holds this code; null on failure.
HMODULE HoldOwnModule();

// Gives `module`'s reference back once the calling thread has returned out
// of this file's code: a thread of ours waits until the caller's thread
// reads its messages again, which it does only outside our code, and then
// frees the file and ends in one call. Call it last, with nothing of ours
// pumping messages after it. If that cannot be set up, the file stays loaded.
void ReleaseAfterReturn(HMODULE module);

// After a session has ended: keeps the file loaded for good while code of
// ours may still run on another thread (a camera read stuck in its driver,
// objects of the cameras' own still held by Media Foundation).
void StayLoadedWhileInUse();

}  // namespace snaplark
