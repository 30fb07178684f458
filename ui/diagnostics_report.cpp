#include "ui/diagnostics_report.h"

#include <sstream>

#include "settings/key_name.h"

namespace snaplark {
namespace {

const std::wstring& OrNone(const std::wstring& value) {
  static const std::wstring none = L"(none)";
  return value.empty() ? none : value;
}

}  // namespace

std::wstring DiagnosticsReport(CaptureWindowMode mode, const Settings& settings, const CameraSummary& camera) {
  std::wostringstream report;
  report << L"Snaplark diagnostics\n";
  report << L"Version: 1.0.0\n";
  report << L"Mode: " << (mode == CaptureWindowMode::Standalone ? L"Standalone" : L"TWAIN") << L"\n";
  report << L"Selected device: " << OrNone(settings.DeviceName) << L"\n";
  report << L"Device index: " << settings.DeviceIndex << L"\n";
  report << L"Camera open: " << (camera.open ? L"Yes" : L"No") << L"\n";
  if (camera.open) report << L"Resolution: " << camera.width << L" x " << camera.height << L"\n";
  report << L"Capture hotkey: " << KeyName(settings.Keybind) << L"\n";
  report << L"Device link: " << OrNone(settings.DeviceSymLink) << L"\n";
  return report.str();
}

}  // namespace snaplark
