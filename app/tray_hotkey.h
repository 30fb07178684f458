#pragma once
// The tray's registration of the global capture key, and its notice of how
// that went.
namespace snaplark {

struct TrayProgram;

enum class HotkeyNotice { Always, OnlyIfFailed };

// (Re)registers the capture key on the tray window and says how that went.
// Nothing is registered while the key is lent to the TWAIN source's window.
void RegisterTrayHotkey(TrayProgram& program, HotkeyNotice notice = HotkeyNotice::Always);

}  // namespace snaplark
