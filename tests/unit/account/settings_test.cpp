#include "account/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "account/reply_document.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"

namespace {

TEST(Settings, NullNameDeletesTheSectionAndNullValueTheValue) {
  CScopedFakeSettings fake;
  SetSettingString(L"Main", L"Username", L"alice");
  SetSettingInt(L"Main", L"SavePassword", 0);
  SetSettingString(L"Proxy", L"Server", L"proxy.example");

  SetSettingString(L"Main", L"Username", nullptr);
  EXPECT_FALSE(fake.Store().Has(L"Main", L"Username"));
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 1), 0);

  SetSettingString(L"Main", nullptr, nullptr);
  EXPECT_FALSE(fake.Store().HasSection(L"Main"));
  EXPECT_EQ(GetSettingString(L"Proxy", L"Server", L""), L"proxy.example");
}

TEST(Settings, BinaryValuesFromNoBytesAreEmpty) {
  CScopedFakeSettings fake;
  SetSettingBinary(L"Main", L"Blob", nullptr, 16);
  EXPECT_EQ(GetSettingBinary(L"Main", L"Blob"), ByteString{});
  const std::uint8_t bytes[] = {1, 2, 3};
  SetSettingBinary(L"Main", L"Blob", bytes, sizeof bytes);
  EXPECT_EQ(GetSettingBinary(L"Main", L"Blob"), (ByteString{1, 2, 3}));
}

// The login's save and the main window's load, as those flows use them.
void SaveLogin(const std::wstring& account, const std::wstring& password, bool savePassword) {
  SetSettingInt(L"Main", L"SavePassword", savePassword ? 1 : 0);
  if (savePassword) {
    SetSettingString(L"Main", L"Username", account.c_str());
    const ByteString protectedBytes = ProtectPassword(password);
    if (!protectedBytes.empty()) SetSettingBinary(L"Main", L"Password", protectedBytes);
  } else {
    SetSettingString(L"Main", L"Username", nullptr);
    SetSettingString(L"Main", L"Password", nullptr);
  }
}

struct LoadedFields {
  std::wstring account, password;
  bool savePassword = false;
};

LoadedFields LoadLogin() {
  LoadedFields f;
  f.account = GetSettingString(L"Main", L"Username", L"");
  if (auto bytes = GetSettingBinary(L"Main", L"Password")) {
    if (auto password = UnprotectPassword(*bytes)) f.password = *password;
  }
  f.savePassword = GetSettingInt(L"Main", L"SavePassword", 1) != 0;
  return f;
}

TEST(Settings, SavedLoginFlows) {
  {
    CScopedFakeSettings fake;
    const LoadedFields first = LoadLogin();
    EXPECT_EQ(first.account, L"");
    EXPECT_EQ(first.password, L"");
    EXPECT_TRUE(first.savePassword) << "a first run shows the box ticked";

    SaveLogin(L"alice", L"s3cret \u00e9", true);
    const LoadedFields saved = LoadLogin();
    EXPECT_EQ(saved.account, L"alice");
    EXPECT_EQ(saved.password, L"s3cret \u00e9");
    EXPECT_TRUE(saved.savePassword);
    EXPECT_NE(GetSettingBinary(L"Main", L"Password")->size(), 0u);

    SaveLogin(L"alice", L"s3cret", false);
    const LoadedFields cleared = LoadLogin();
    EXPECT_EQ(cleared.account, L"");
    EXPECT_EQ(cleared.password, L"");
    EXPECT_FALSE(cleared.savePassword);
    EXPECT_FALSE(fake.Store().Has(L"Main", L"Password"));
  }
  {
    // Another user's protected password, copied over, stays unreadable and
    // stays stored until the next login replaces it.
    ByteString foreign;
    {
      CScopedFakeSettings other(2);
      foreign = ProtectPassword(L"theirs");
    }
    CScopedFakeSettings fake(1);
    SetSettingString(L"Main", L"Username", L"bob");
    SetSettingBinary(L"Main", L"Password", foreign);
    const LoadedFields f = LoadLogin();
    EXPECT_EQ(f.account, L"bob");
    EXPECT_EQ(f.password, L"");
    EXPECT_EQ(GetSettingBinary(L"Main", L"Password"), foreign);
  }
}

TEST(SettingsPlaces, ExecutableFolderAndOverrideFile) {
  const std::wstring module = ModuleFolder();
  const std::wstring overrideFile = OverrideFilePath();
  ASSERT_FALSE(module.empty());
  EXPECT_TRUE(module.back() == L'/' || module.back() == L'\\') << "trailing separator";
  ASSERT_GT(overrideFile.size(), module.size());
  EXPECT_EQ(overrideFile.substr(0, module.size()), module);
  EXPECT_EQ(overrideFile.substr(overrideFile.size() - 4), L".ini");
  // The test program has no override file beside it: its defaults apply.
  ASSERT_FALSE(FileExists(overrideFile));
  EXPECT_EQ(IniReadInt(overrideFile, L"Main", L"AllowPingByICMP", 1), 1);
  EXPECT_EQ(IniReadInt(overrideFile, L"Main", L"AllowPingByUDP", 1), 1);
}

TEST(SettingsPlaces, RedirectedPlacesAreUsedAndRestored) {
  CTempDir dir;
  const std::wstring overrideFile =
      dir.Write(L"Quillnet.exe.ini", "[Main]\r\nLoginHosts=http://127.0.0.1:8080/\r\nAllowPingByUDP=0\r\n");
  const std::wstring data = (dir.Path() / "deep" / "er" / "data").wstring();
  const std::wstring before = OverrideFilePath();
  {
    CScopedSettingsPlaces places({L"", data, dir.Path().wstring(), overrideFile});
    EXPECT_EQ(OverrideFilePath(), overrideFile);
    EXPECT_EQ(IniReadString(OverrideFilePath(), L"Main", L"LoginHosts", L""), L"http://127.0.0.1:8080/");
    EXPECT_EQ(IniReadInt(OverrideFilePath(), L"Main", L"AllowPingByUDP", 1), 0);

    const std::wstring folder = ProgramDataFolder();
    EXPECT_EQ(folder.substr(0, data.size()), data);
    EXPECT_EQ(folder.size(), data.size() + 1) << "one trailing separator";
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << "made with its parents on first use";

    // Kept for the process: removing the folder does not change the path.
    std::filesystem::remove_all(dir.Path() / "deep");
    EXPECT_EQ(ProgramDataFolder(), folder);

    const std::wstring module = ModuleFolder();
    EXPECT_EQ(module.substr(0, module.size() - 1), dir.Path().wstring());
  }
  EXPECT_EQ(OverrideFilePath(), before);
}

TEST(SettingsPlaces, AFolderThatCannotBeMadeStillGivesItsPath) {
  CTempDir dir;
  const std::wstring file = dir.Write(L"plain-file", "x");
  const std::wstring below = file + L"/data";
  CScopedSettingsPlaces places({L"", below, L"", L""});
  const std::wstring folder = ProgramDataFolder();
  EXPECT_EQ(folder.substr(0, below.size()), below);
  EXPECT_FALSE(std::filesystem::is_directory(folder));
}

}  // namespace
