#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "handles/win_handles.h"

namespace snaplark {
namespace {

constexpr wchar_t TestsRoot[] = L"Software\\SnaplarkTests";

struct RawValue {
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Every test works under a key of its own below HKCU\Software\SnaplarkTests
// and removes it afterwards; the product's own key is never touched.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    keyPath_ = std::wstring(TestsRoot) + L"\\" + std::wstring(name, name + strlen(name)) + L"_" +
               std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, TestsRoot);  // only succeeds once it is empty
  }

  SettingsStore Store() const { return SettingsStore(HKEY_CURRENT_USER, keyPath_); }

  bool KeyExists() const {
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
  }

  UniqueRegKey CreateKey() const {
    UniqueRegKey key;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                              nullptr),
              ERROR_SUCCESS);
    return key;
  }

  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) const {
    UniqueRegKey key = CreateKey();
    ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
  }
  void SetString(const wchar_t* name, const std::wstring& text) const {
    SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(const wchar_t* name, DWORD value) const { SetRaw(name, REG_DWORD, &value, sizeof(value)); }

  RawValue Query(const wchar_t* name) const {
    RawValue value;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
      return value;
    }
    DWORD size = 0;
    value.status = RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS) return value;
    value.data.resize(size);
    value.status = RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.data.data(), &size);
    value.data.resize(size);
    return value;
  }

  std::wstring keyPath_;
};

void ExpectDefaults(const Settings& settings) {
  EXPECT_EQ(settings.DeviceSymLink, L"");
  EXPECT_EQ(settings.DeviceIndex, 0);
  EXPECT_EQ(settings.DeviceName, L"");
  EXPECT_EQ(settings.Keybind, 121u);
}

TEST_F(SettingsStoreTest, AbsentKeyLoadsDefaultsAndCreatesNothing) {
  ExpectDefaults(Store().Load());
  EXPECT_FALSE(KeyExists());
}

TEST_F(SettingsStoreTest, SaveThenLoadRoundTripsEveryField) {
  const Settings records[] = {
      {L"\\\\?\\usb#vid_046d&pid_0825#6&1#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global", 3,
       L"HD Webcam C270 \u00e9\u4e2d", 0x7A},
      {L"", -1, L"", 0},  // no camera chosen, no capture key
      {L"a", INT32_MIN, L"b", 0xFFFFFFFFu},
      {std::wstring(1023, L'x'), INT32_MAX, std::wstring(1023, L'\u00fc'), 121},
  };
  const SettingsStore store = Store();
  for (const Settings& saved : records) {
    store.Save(saved);
    const Settings loaded = store.Load();
    EXPECT_EQ(loaded.DeviceSymLink, saved.DeviceSymLink);
    EXPECT_EQ(loaded.DeviceIndex, saved.DeviceIndex);
    EXPECT_EQ(loaded.DeviceName, saved.DeviceName);
    EXPECT_EQ(loaded.Keybind, saved.Keybind);
  }
}

TEST_F(SettingsStoreTest, SaveWritesFourValuesOfTheStoredTypesAndSizes) {
  Store().Save(Settings{L"", -1, L"", 0});

  const RawValue symLink = Query(L"DeviceSymLink");
  const RawValue name = Query(L"DeviceName");
  for (const RawValue* text : {&symLink, &name}) {
    ASSERT_EQ(text->status, ERROR_SUCCESS);
    EXPECT_EQ(text->type, DWORD{REG_SZ});
    EXPECT_EQ(text->data, (std::vector<BYTE>{0, 0}));  // just the NUL
  }
  const RawValue index = Query(L"DeviceIndex");
  ASSERT_EQ(index.status, ERROR_SUCCESS);
  EXPECT_EQ(index.type, DWORD{REG_DWORD});
  EXPECT_EQ(index.data, (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
  const RawValue key = Query(L"Keybind");
  ASSERT_EQ(key.status, ERROR_SUCCESS);
  EXPECT_EQ(key.type, DWORD{REG_DWORD});
  EXPECT_EQ(key.data, (std::vector<BYTE>{0, 0, 0, 0}));

  Store().Save(Settings{L"Cam", 258, L"Name", 0x79});
  EXPECT_EQ(Query(L"DeviceSymLink").data, (std::vector<BYTE>{'C', 0, 'a', 0, 'm', 0, 0, 0}));
  EXPECT_EQ(Query(L"DeviceIndex").data, (std::vector<BYTE>{2, 1, 0, 0}));
}

TEST_F(SettingsStoreTest, MissingValuesKeepTheirDefaults) {
  CreateKey();
  ExpectDefaults(Store().Load());

  SetString(L"DeviceSymLink", L"link");
  SetString(L"DeviceName", L"name");
  SetDword(L"Keybind", 0x41);
  Settings loaded = Store().Load();
  EXPECT_EQ(loaded.DeviceSymLink, L"link");
  EXPECT_EQ(loaded.DeviceName, L"name");
  EXPECT_EQ(loaded.DeviceIndex, 0);
  EXPECT_EQ(loaded.Keybind, 0x41u);

  SetDword(L"DeviceIndex", 2);
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, keyPath_.c_str(), L"Keybind"), ERROR_SUCCESS);
  loaded = Store().Load();
  EXPECT_EQ(loaded.DeviceIndex, 2);
  EXPECT_EQ(loaded.Keybind, 121u);
}

TEST_F(SettingsStoreTest, ValuesOfUnexpectedTypesKeepTheirDefaults) {
  const DWORD four = 4;
  const BYTE twoBytes[2] = {0x41, 0};
  const unsigned long long eight = 0x41;
  SetString(L"DeviceIndex", L"7");
  SetRaw(L"DeviceName", REG_DWORD, &four, sizeof(four));
  SetRaw(L"Keybind", REG_BINARY, &four, sizeof(four));
  SetRaw(L"DeviceSymLink", REG_MULTI_SZ, L"a\0b\0", 10);
  ExpectDefaults(Store().Load());

  // The right type with the wrong size is no number either.
  SetRaw(L"Keybind", REG_DWORD, twoBytes, sizeof(twoBytes));
  SetRaw(L"DeviceIndex", REG_QWORD, &eight, sizeof(eight));
  SetRaw(L"DeviceSymLink", REG_DWORD_BIG_ENDIAN, &four, sizeof(four));
  ExpectDefaults(Store().Load());
}

TEST_F(SettingsStoreTest, StringsOfUpTo1023CharactersLoad) {
  const std::wstring longest(1023, L'L');
  SetString(L"DeviceSymLink", longest);
  SetString(L"DeviceName", longest + L"X");  // 2050 bytes with its NUL
  const Settings loaded = Store().Load();
  EXPECT_EQ(loaded.DeviceSymLink, longest);
  EXPECT_EQ(loaded.DeviceName, L"");

  // A value that does not fit leaves whatever the field held before.
  UniqueRegKey key = CreateKey();
  std::wstring target = L"previous";
  SettingsStore::ReadStringValue(key.Get(), L"DeviceName", target);
  EXPECT_EQ(target, L"previous");
  SettingsStore::ReadStringValue(key.Get(), L"Missing", target);
  EXPECT_EQ(target, L"previous");
  SettingsStore::ReadStringValue(key.Get(), L"DeviceSymLink", target);
  EXPECT_EQ(target, longest);
}

TEST_F(SettingsStoreTest, StringsEndAtTheirDataOrTheirFirstNul) {
  // The registry adds a NUL to REG_SZ data only when the character after the
  // counted bytes is one, so counting fewer bytes than a longer text stores the
  // first characters without any terminator.
  const std::wstring text = L"abcdefghij";
  SetRaw(L"DeviceSymLink", REG_SZ, text.c_str(), 3 * sizeof(wchar_t));
  ASSERT_EQ(Query(L"DeviceSymLink").data.size(), 6u);
  SetRaw(L"DeviceName", REG_SZ, text.c_str(), 7);  // three characters and half of one
  ASSERT_EQ(Query(L"DeviceName").data.size(), 7u);
  Settings loaded = Store().Load();
  EXPECT_EQ(loaded.DeviceSymLink, L"abc");
  EXPECT_EQ(loaded.DeviceName, L"abc");

  // A full buffer without a terminator: all 1024 characters and nothing past them.
  const std::wstring full = std::wstring(1024, L'F') + L"tail";
  SetRaw(L"DeviceSymLink", REG_SZ, full.c_str(), 2048);
  ASSERT_EQ(Query(L"DeviceSymLink").data.size(), 2048u);
  SetRaw(L"DeviceName", REG_SZ, L"ab\0cd", 12);
  loaded = Store().Load();
  EXPECT_EQ(loaded.DeviceSymLink, std::wstring(1024, L'F'));
  EXPECT_EQ(loaded.DeviceName, L"ab");
}

TEST_F(SettingsStoreTest, SaveWhereTheKeyCannotBeCreatedWritesNothing) {
  // A non-volatile key cannot be created below a volatile one.
  UniqueRegKey volatileParent;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, volatileParent.Put(), nullptr),
            ERROR_SUCCESS);
  const SettingsStore store(volatileParent.Get(), L"Glimmerdock");
  store.Save(Settings{L"link", 1, L"name", 0x41});
  ExpectDefaults(store.Load());

  DWORD subKeys = 1, values = 1;
  ASSERT_EQ(RegQueryInfoKeyW(volatileParent.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);
}

}  // namespace
}  // namespace snaplark
