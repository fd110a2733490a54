// The Linux store: a typed file and a sealed password under a per-user key.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>

#include "account/password_seal.h"
#include "account/settings.h"
#include "account/settings_linux.h"
#include "account/settings_platform.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class LinuxSettingsStore : public ::testing::Test {
 protected:
  CTempDir dir;
  fs::path root = dir.Path() / "config" / "quillnet";
  CScopedSettingsPlaces places{{root.wstring(), L"", L"", L""}};
  fs::path File() const { return root / kSettingsFileName; }
  fs::path Key() const { return root / kPasswordKeyFileName; }
};

TEST_F(LinuxSettingsStore, FirstWriteMakesAnOwnerOnlyFolderAndFile) {
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 1), 1);
  EXPECT_FALSE(fs::exists(root)) << "reading alone writes nothing";

  SetSettingInt(L"Main", L"SavePassword", 0);
  EXPECT_EQ(ModeOf(root), 0700u);
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_EQ(dir.Read(File().wstring()), "[Main]\nSavePassword=i:0\n");
}

TEST_F(LinuxSettingsStore, ValuesPersistAcrossStoresWithTheirTypes) {
  SetSettingString(L"Main", L"Username", L"alice");
  SetSettingInt(L"Main", L"LastVpnServerId", -1);
  SetSettingBinary(L"Main", L"Password", ByteString{1, 2, 3});
  SetSettingString(L"Proxy", L"Server", L"proxy.example");

  // A fresh store at the same root, as the next run of the client sees it.
  RedirectSettingsPlaces(CurrentSettingsPlaces());
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L""), L"alice");
  EXPECT_EQ(GetSettingInt(L"Main", L"LastVpnServerId", 0), -1);
  EXPECT_EQ(GetSettingBinary(L"Main", L"Password"), (ByteString{1, 2, 3}));
  EXPECT_EQ(GetSettingInt(L"Main", L"Username", 5), 5);
  EXPECT_EQ(GetSettingString(L"Main", L"LastVpnServerId", L"d"), L"d");
  EXPECT_EQ(GetSettingBinary(L"Main", L"Username"), std::nullopt);

  SetSettingString(L"Main", nullptr, nullptr);
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L""), L"");
  EXPECT_EQ(GetSettingString(L"Proxy", L"Server", L""), L"proxy.example");
}

TEST_F(LinuxSettingsStore, AFileThatCannotBeReadIsNeverReplaced) {
  // A folder where the file should be: it exists, yet cannot be read.
  fs::create_directories(File() / "inside");
  SetSettingInt(L"Main", L"SavePassword", 0);
  EXPECT_TRUE(fs::is_directory(File() / "inside"));
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 1), 1);
}

TEST_F(LinuxSettingsStore, HandEditsSurviveAWrite) {
  fs::create_directories(root);
  dir.Write(File().wstring(), "# mine\n[Main]\nUsername=s:bob\nweird line\n");
  SetSettingInt(L"Main", L"SavePassword", 1);
  const std::string after = dir.Read(File().wstring());
  EXPECT_NE(after.find("# mine\n"), std::string::npos);
  EXPECT_NE(after.find("weird line\n"), std::string::npos);
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L""), L"bob");
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 0), 1);
  EXPECT_EQ(ModeOf(File()), 0600u) << "rewritten owner-only";
}

TEST_F(LinuxSettingsStore, PasswordIsSealedUnderAPrivateKey) {
  const ByteString sealed = ProtectPassword(L"hunter2");
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(ModeOf(Key()), 0600u);
  EXPECT_EQ(fs::file_size(Key()), kPasswordKeySize);
  EXPECT_EQ(UnprotectPassword(sealed), L"hunter2");
  EXPECT_EQ(ProtectPassword(L"again").size(), sealed.size() - 2 * 7 + 2 * 5) << "same key, no new one";

  ByteString tampered = sealed;
  tampered[tampered.size() / 2] ^= 0x80;
  EXPECT_EQ(UnprotectPassword(tampered), std::nullopt);
}

TEST_F(LinuxSettingsStore, AnotherUsersKeyDoesNotOpenThePassword) {
  ByteString foreign;
  {
    CTempDir otherDir;
    CScopedSettingsPlaces other({otherDir.Path().wstring(), L"", L"", L""});
    foreign = ProtectPassword(L"theirs");
    ASSERT_FALSE(foreign.empty());
  }
  EXPECT_EQ(UnprotectPassword(foreign), std::nullopt);
  EXPECT_FALSE(fs::exists(Key())) << "unprotecting never makes a key";
}

TEST_F(LinuxSettingsStore, KeyFileCases) {
  // Wider access is taken away; a key of the wrong size is replaced; a key
  // that cannot be read leaves protection failing rather than replacing it.
  const ByteString first = ProtectPassword(L"pw");
  ASSERT_FALSE(first.empty());
  ::chmod(Key().c_str(), 0644);
  EXPECT_EQ(UnprotectPassword(first), L"pw");
  EXPECT_EQ(ModeOf(Key()), 0600u);

  dir.Write(Key().wstring(), "short");
  EXPECT_EQ(UnprotectPassword(first), std::nullopt);
  const ByteString second = ProtectPassword(L"pw2");
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(fs::file_size(Key()), kPasswordKeySize);
  EXPECT_EQ(UnprotectPassword(second), L"pw2");

  fs::remove(Key());
  fs::create_directory(Key());
  EXPECT_TRUE(ProtectPassword(L"pw3").empty());
  EXPECT_TRUE(fs::is_directory(Key()));
}

TEST(LinuxSettingsPlaces, DefaultUserFolderFollowsXdgConfigHomeExceptForRoot) {
  const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::string keepXdg = savedXdg ? savedXdg : "", keepHome = savedHome ? savedHome : "";
  const passwd* own = ::getpwuid(::geteuid());
  ASSERT_NE(own, nullptr);
  const std::wstring ownHome = NarrowToWide(own->pw_dir);
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* xdg;
    const char* home;
    std::wstring expected;  // for a user; root always gets its own
  } cases[] = {
      {"/qs-config-home", "/qs-home", L"/qs-config-home/quillnet/"},
      {"relative/ignored", "/qs-home", L"/qs-home/.config/quillnet/"},
  };
  for (const Case& c : cases) {
    ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
    ::setenv("HOME", c.home, 1);
    // Variables sudo kept from the user never steer where root reads.
    EXPECT_EQ(DefaultUserSettingsFolder(), root ? ownHome + L"/.config/quillnet/" : c.expected) << c.xdg;
  }
  auto restore = [](const char* name, const char* saved, const std::string& keep) {
    if (saved) ::setenv(name, keep.c_str(), 1);
    else ::unsetenv(name);
  };
  restore("XDG_CONFIG_HOME", savedXdg, keepXdg);
  restore("HOME", savedHome, keepHome);
}

TEST(LinuxSettingsPlaces, ProgramDataIsMachineWideWhenItCanBe) {
  CTempDir dir;
  const fs::path machine = dir.Path() / "var" / "lib" / "quillnet";
  const fs::path user = dir.Path() / "home" / "share" / "quillnet";
  EXPECT_EQ(ResolveProgramDataFolder(machine.wstring(), user.wstring()), machine.wstring() + L"/");
  EXPECT_TRUE(fs::is_directory(machine));
  EXPECT_FALSE(fs::exists(user));

  dir.Write(L"blocker", "x");
  const fs::path blocked = dir.Path() / "blocker" / "quillnet";
  EXPECT_EQ(ResolveProgramDataFolder(blocked.wstring() + L"/", user.wstring() + L"/"), user.wstring() + L"/");
  EXPECT_TRUE(fs::is_directory(user));
  EXPECT_EQ(ModeOf(user), 0700u);
}

}  // namespace
#endif
