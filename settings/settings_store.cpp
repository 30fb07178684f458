#include "settings/settings_store.h"

#include <cstdint>
#include <utility>

#include "handles/win_handles.h"
#include "product_identity.h"

namespace snaplark {
namespace {

constexpr auto& ProductKeyPath = identity::SettingsKey;

// A REG_DWORD of exactly four bytes replaces value; anything else (missing,
// another type, another size) leaves it alone.
void ReadDwordValue(HKEY key, const wchar_t* valueName, std::uint32_t& value) {
  DWORD data = 0;
  DWORD type = 0;
  DWORD size = sizeof(data);
  const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(data)) value = data;
}

void WriteStringValue(HKEY key, const wchar_t* valueName, const std::wstring& text) {
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

void WriteDwordValue(HKEY key, const wchar_t* valueName, std::uint32_t value) {
  const DWORD data = value;
  RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(HKEY_CURRENT_USER, ProductKeyPath) {}

SettingsStore::SettingsStore(HKEY root, std::wstring keyPath) : root_(root), keyPath_(std::move(keyPath)) {}

Settings SettingsStore::Load() const {
  Settings settings;
  UniqueRegKey key;
  if (RegOpenKeyExW(root_, keyPath_.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
    return settings;  // above all: nothing saved yet
  }
  ReadStringValue(key.Get(), L"DeviceSymLink", settings.DeviceSymLink);
  ReadStringValue(key.Get(), L"DeviceName", settings.DeviceName);

  std::uint32_t deviceIndex = static_cast<std::uint32_t>(settings.DeviceIndex);
  ReadDwordValue(key.Get(), L"DeviceIndex", deviceIndex);
  settings.DeviceIndex = static_cast<std::int32_t>(deviceIndex);  // the stored bits, -1 included
  ReadDwordValue(key.Get(), L"Keybind", settings.Keybind);
  return settings;
}

void SettingsStore::ReadStringValue(HKEY key, const wchar_t* valueName, std::wstring& target) {
  constexpr DWORD BufferUnits = 1024;  // 2048 bytes: 1023 characters and the NUL
  wchar_t buffer[BufferUnits] = {};
  DWORD type = 0;
  DWORD size = sizeof(buffer);
  const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (status != ERROR_SUCCESS || type != REG_SZ) return;

  // A value written without its NUL ends where its data ends; the zero fill
  // after it is not part of it. An odd last byte is no whole character.
  DWORD units = size / sizeof(wchar_t);
  if (units > BufferUnits) units = BufferUnits;
  DWORD length = 0;
  while (length < units && buffer[length] != L'\0') ++length;
  target.assign(buffer, length);
}

void SettingsStore::Save(const Settings& settings) const {
  UniqueRegKey key;
  if (RegCreateKeyExW(root_, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Put(),
                      nullptr) != ERROR_SUCCESS) {
    return;  // the change stays in memory for this run
  }
  WriteStringValue(key.Get(), L"DeviceSymLink", settings.DeviceSymLink);
  WriteStringValue(key.Get(), L"DeviceName", settings.DeviceName);
  WriteDwordValue(key.Get(), L"DeviceIndex", static_cast<std::uint32_t>(settings.DeviceIndex));
  WriteDwordValue(key.Get(), L"Keybind", settings.Keybind);
}

}  // namespace snaplark
