// The Windows store against the real registry and the real data protection,
// under a test-only key so the product's own settings are never touched.
#include <gtest/gtest.h>

#include <string>

#include "account/settings.h"
#include "account/settings_platform.h"
#include "fakes/fake_settings.h"
#include "platform/win32.h"
// after windows.h
#include <shlobj.h>
#include <wincrypt.h>

namespace {

std::wstring UniqueTestKey() {
  return L"Software\\QuillnetTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount64());
}

class RegistrySettings : public ::testing::Test {
 protected:
  const std::wstring testKey = UniqueTestKey();
  const std::wstring root = testKey + L"\\Quillnet";
  CScopedSettingsPlaces places{{root, L"", L"", L""}};

  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, testKey.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, testKey.c_str());
  }

  bool Raw(const std::wstring& section, const wchar_t* name, DWORD& type, std::string& bytes) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (root + L"\\" + section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    BYTE buf[256] = {};
    DWORD size = sizeof buf;
    const LSTATUS rc = RegQueryValueExW(key, name, nullptr, &type, buf, &size);
    RegCloseKey(key);
    bytes.assign(reinterpret_cast<const char*>(buf), reinterpret_cast<const char*>(buf) + size);
    return rc == ERROR_SUCCESS;
  }

  void Put(const std::wstring& section, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root + L"\\" + section).c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }

  bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
};

TEST_F(RegistrySettings, EachTypeIsStoredAsItsRegistryType) {
  SetSettingInt(L"Main", L"LastVpnServerId", -1);
  SetSettingString(L"Main", L"Username", L"alice");
  SetSettingBinary(L"Main", L"Password", ByteString{9, 8, 7});

  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(Raw(L"Main", L"LastVpnServerId", type, bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(bytes, std::string("\xff\xff\xff\xff", 4));
  ASSERT_TRUE(Raw(L"Main", L"Username", type, bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes.size(), 12u) << "five characters and the NUL";
  ASSERT_TRUE(Raw(L"Main", L"Password", type, bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(bytes, std::string("\x09\x08\x07", 3));

  EXPECT_EQ(GetSettingInt(L"Main", L"LastVpnServerId", 0), -1);
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L""), L"alice");
  EXPECT_EQ(GetSettingBinary(L"Main", L"Password"), (ByteString{9, 8, 7}));
}

TEST_F(RegistrySettings, OtherTypesReadAsTheDefault) {
  SetSettingInt(L"Main", L"Number", 5);
  SetSettingString(L"Main", L"Text", L"5");
  const DWORD64 qword = 5;
  Put(L"Main", L"Wide", REG_QWORD, &qword, sizeof qword);
  Put(L"Main", L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14);
  struct Case {
    const wchar_t* name;
  } cases[] = {{L"Number"}, {L"Text"}, {L"Wide"}, {L"Expand"}};
  for (const Case& c : cases) {
    const bool isInt = std::wstring(c.name) == L"Number";
    const bool isText = std::wstring(c.name) == L"Text";
    EXPECT_EQ(GetSettingInt(L"Main", c.name, -9), isInt ? 5 : -9) << c.name;
    EXPECT_EQ(GetSettingString(L"Main", c.name, L"d"), isText ? L"5" : L"d") << c.name;
    EXPECT_EQ(GetSettingBinary(L"Main", c.name), std::nullopt) << c.name;
  }
}

TEST_F(RegistrySettings, TextsWrittenByOthersReadSafely) {
  Put(L"Proxy", L"NoNul", REG_SZ, L"host", 8);
  Put(L"Proxy", L"Odd", REG_SZ, L"host", 7);
  Put(L"Proxy", L"Empty", REG_SZ, L"", 0);
  Put(L"Proxy", L"Inner", REG_SZ, L"ab\0cd", 12);
  EXPECT_EQ(GetSettingString(L"Proxy", L"NoNul", L"d"), L"host");
  EXPECT_EQ(GetSettingString(L"Proxy", L"Odd", L"d"), L"hos");
  EXPECT_EQ(GetSettingString(L"Proxy", L"Empty", L"d"), L"");
  EXPECT_EQ(GetSettingString(L"Proxy", L"Inner", L"d"), L"ab");
}

TEST_F(RegistrySettings, LongValuesReadWhole) {
  const std::wstring text(5000, L'x');
  SetSettingString(L"Main", L"Long", text.c_str());
  EXPECT_EQ(GetSettingString(L"Main", L"Long", L""), text);
}

TEST_F(RegistrySettings, OpeningASectionMakesItsKeysAndNullNameRemovesIt) {
  EXPECT_FALSE(KeyExists(root));
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 1), 1);
  EXPECT_TRUE(KeyExists(root + L"\\Main"));

  SetSettingString(L"Main", L"Username", L"alice");
  SetSettingString(L"Proxy", L"Server", L"proxy.example");
  SetSettingString(L"Main", L"Username", nullptr);
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L"gone"), L"gone");

  SetSettingString(L"Main", nullptr, nullptr);
  EXPECT_FALSE(KeyExists(root + L"\\Main"));
  EXPECT_TRUE(KeyExists(root + L"\\Proxy"));
  EXPECT_EQ(GetSettingString(L"Proxy", L"Server", L""), L"proxy.example");
}

TEST_F(RegistrySettings, PasswordProtectionAsTheClientAlwaysMadeIt) {
  const ByteString stored = ProtectPassword(L"s3cret");
  ASSERT_FALSE(stored.empty());

  // Open it the way any earlier client would: same empty entropy and flags.
  DATA_BLOB in{static_cast<DWORD>(stored.size()), const_cast<BYTE*>(stored.data())};
  DATA_BLOB entropy{0, nullptr};
  DATA_BLOB out{0, nullptr};
  LPWSTR description = nullptr;
  ASSERT_TRUE(CryptUnprotectData(&in, &description, &entropy, nullptr, nullptr, CRYPTPROTECT_AUDIT, &out));
  EXPECT_EQ(std::wstring(description), L"Quillnet");
  ASSERT_EQ(out.cbData, 14u) << "2 x length + 2";
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(out.pbData), 7), std::wstring(L"s3cret\0", 7));
  LocalFree(out.pbData);
  LocalFree(description);

  EXPECT_EQ(UnprotectPassword(stored), L"s3cret");
  EXPECT_EQ(UnprotectPassword(ProtectPassword(L"")), L"");
}

TEST_F(RegistrySettings, PasswordsThatDoNotOpenLeaveNothing) {
  const ByteString stored = ProtectPassword(L"s3cret");
  ASSERT_FALSE(stored.empty());
  ByteString damaged = stored;
  damaged[damaged.size() - 5] ^= 0x55;
  EXPECT_EQ(UnprotectPassword(damaged), std::nullopt);
  EXPECT_EQ(UnprotectPassword(ByteString(stored.begin(), stored.begin() + stored.size() / 2)), std::nullopt);
  EXPECT_EQ(UnprotectPassword(ByteString{1, 2, 3}), std::nullopt);

  // Bound to other entropy: stands in for another user's secret.
  BYTE secret[] = {'x', 0, 0, 0};
  BYTE salt[] = {1, 2, 3};
  DATA_BLOB in{sizeof secret, secret}, entropy{sizeof salt, salt}, out{0, nullptr};
  ASSERT_TRUE(CryptProtectData(&in, L"Quillnet", &entropy, nullptr, nullptr, CRYPTPROTECT_AUDIT, &out));
  const ByteString foreign(out.pbData, out.pbData + out.cbData);
  LocalFree(out.pbData);
  EXPECT_EQ(UnprotectPassword(foreign), std::nullopt);
}

TEST_F(RegistrySettings, UnterminatedProtectedTextStopsAtItsEnd) {
  BYTE secret[] = {'a', 0, 'b', 0, 'c'};  // no NUL, odd length
  DATA_BLOB in{sizeof secret, secret}, entropy{0, nullptr}, out{0, nullptr};
  ASSERT_TRUE(CryptProtectData(&in, L"Quillnet", &entropy, nullptr, nullptr, CRYPTPROTECT_AUDIT, &out));
  const ByteString stored(out.pbData, out.pbData + out.cbData);
  LocalFree(out.pbData);
  EXPECT_EQ(UnprotectPassword(stored), L"ab");
}

TEST(WindowsPlaces, ProgramDataIsTheCommonApplicationDataFolder) {
  wchar_t common[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common), S_OK);
  EXPECT_EQ(PlatformProgramDataFolder(), std::wstring(common) + L"\\Quillnet\\");
}

TEST(WindowsPlaces, OverrideFileIsTheExecutablePathWithIni) {
  wchar_t exe[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(OverrideFilePath(), std::wstring(exe) + L".ini");
  const std::wstring folder = ModuleFolder();
  EXPECT_EQ(std::wstring(exe).substr(0, folder.size()), folder);
  EXPECT_EQ(folder.back(), L'\\');
}

}  // namespace
