// The same program over two virtual test-pattern cameras instead of the
// machine's own, for trying it out where no webcam is attached (under Wine).
#include <windows.h>

#include "app/startup.h"
#include "app/tray_program.h"
#include "camera/virtual/demo_devices.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  snaplark::UseDemoDevices();
  snaplark::TrayProgram program(instance);
  return snaplark::RunTrayProgram(program);
}
