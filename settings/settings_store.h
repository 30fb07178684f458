#pragma once
// Keeps Settings in the registry. The root and key path are the store's own so
// that tests work under a key of their own and never touch a user's settings.
#include <windows.h>

#include <string>

#include "settings/settings.h"

namespace snaplark {

class SettingsStore {
 public:
  // The product's key under HKEY_CURRENT_USER (identity::SettingsKey).
  SettingsStore();
  SettingsStore(HKEY root, std::wstring keyPath);

  // Defaults first, then whatever the key holds. A missing key, a missing value
  // or a value of another type than expected leaves the field at its default;
  // nothing is created in the registry.
  Settings Load() const;

  // Writes all four values, creating the key if needed. When the key cannot be
  // created or opened for writing nothing is written and nothing is reported.
  void Save(const Settings& settings) const;

  // Reads one REG_SZ value of at most 1023 characters (2048 bytes with its NUL)
  // into target, up to its first NUL and never past the data actually returned.
  // On any failure, or for a value of another type, target keeps its content.
  static void ReadStringValue(HKEY key, const wchar_t* valueName, std::wstring& target);

 private:
  HKEY root_;
  std::wstring keyPath_;
};

}  // namespace snaplark
