#include "ui/diagnostics_report.h"

#include <cstdio>
#include <sstream>

#include "product_identity.h"
#include "settings/key_name.h"

namespace snaplark {
namespace {

const std::wstring& OrNone(const std::wstring& value) {
  static const std::wstring None = L"(none)";
  return value.empty() ? None : value;
}

// What the failures a user meets most often mean, in support's words.
const wchar_t* CauseOf(std::uint32_t error) {
  switch (error) {
    case 0x80070005u:  // E_ACCESSDENIED: "Let apps access your camera" is off
      return L"access denied by privacy settings";
    case 0xC00D3704u:  // the device would not start streaming
      return L"camera in use by another application";
    case 0x80070015u:  // ERROR_NOT_READY
    case 0x8007048Fu:  // ERROR_DEVICE_NOT_CONNECTED
    case 0x80070002u:  // ERROR_FILE_NOT_FOUND: the device's path is gone
    case 0xC00D3EA2u:  // the recording device was invalidated (unplugged)
      return L"camera not connected";
    default:
      return nullptr;
  }
}

std::wstring CameraErrorLine(std::uint32_t error) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(error));
  std::wstring line = L"Last camera error: ";
  line += code;
  if (const wchar_t* cause = CauseOf(error)) {
    line += L" (";
    line += cause;
    line += L")";
  }
  return line + L"\n";
}

}  // namespace

std::wstring DiagnosticsReport(CaptureWindowMode mode, const Settings& settings, const CameraSummary& camera) {
  std::wostringstream report;
  report << identity::ProductName << L" diagnostics\n";
  report << L"Version: " << identity::Version << L"\n";
  report << L"Mode: " << (mode == CaptureWindowMode::Standalone ? L"Standalone" : L"TWAIN") << L"\n";
  report << L"Selected device: " << OrNone(settings.DeviceName) << L"\n";
  report << L"Device index: " << settings.DeviceIndex << L"\n";
  report << L"Camera open: " << (camera.open ? L"Yes" : L"No") << L"\n";
  if (camera.open) report << L"Resolution: " << camera.width << L" x " << camera.height << L"\n";
  report << L"Capture hotkey: " << KeyName(settings.Keybind) << L"\n";
  report << L"Device link: " << OrNone(settings.DeviceSymLink) << L"\n";
  if (camera.lastError != 0) report << CameraErrorLine(camera.lastError);
  return report.str();
}

}  // namespace snaplark
