#include "app/tray_program.h"

namespace snaplark {

TrayProgram::TrayProgram(HINSTANCE instance, NotifyShellCall notify) : instance(instance), icon(notify) {}

TrayProgram* TrayProgram::Of(HWND tray) {
  return reinterpret_cast<TrayProgram*>(GetWindowLongPtrW(tray, GWLP_USERDATA));
}

HWND TrayProgram::MenuOwner() const { return listener && IsWindow(listener) ? listener : window; }

}  // namespace snaplark
