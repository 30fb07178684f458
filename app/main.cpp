#include <windows.h>

#include "app/startup.h"
#include "app/tray_program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  snaplark::TrayProgram program(instance);
  return snaplark::RunTrayProgram(program);
}
