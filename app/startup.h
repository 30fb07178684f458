#pragma once
// The whole run of the tray program, from the single-instance check to the
// ordered shutdown; wWinMain of each executable calls it.
namespace snaplark {

struct TrayProgram;

// Returns the process exit code, which is 0 on every path. The program's
// settings and camera outlive the run and go with the object, the camera
// first.
int RunTrayProgram(TrayProgram& program);

}  // namespace snaplark
