#include "app/connect_system.h"

#include <gtest/gtest.h>

#include "account/reply_document.h"
#include "account/settings.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "vpn/tap_driver.h"

namespace {

// The steps a window adds; none of them is reached here.
class CTestConnectSystem : public CProductConnectSystem {
 public:
  using CProductConnectSystem::CProductConnectSystem;
  void PrepareSystemForL2tp(const std::wstring&) override {}
  void DownloadAndRunUpdate(const std::string&) override {}
  void PutVpnBindingFirst() override {}
  bool DisableDhcpOnVpnAdapter(const std::wstring&) override { return false; }
  bool VpnBindStart(std::uint32_t, std::uint32_t) override { return false; }
  void VpnBindStop() override {}
};

TEST(ProductConnectSystem, ReadsTheOverrideFileAndTheSettings) {
  CScopedFakeSettings settings;
  CTempDir dir;
  const std::wstring override = dir.Write(L"Quillnet.exe.ini",
                                          "[Main]\r\nDebugConnectVpn=2\r\nForceOpenVpnUpdateVersion=99.2.0.0\r\n");
  IniForgetCache();
  CTestConnectSystem system(override, dir.Path().wstring());
  EXPECT_EQ(system.DebugConnectVpn(), 2);
  EXPECT_EQ(system.ForceOpenVpnUpdateVersion(), L"99.2.0.0");
  // Compared with whatever openvpn this machine has (or the built-in release).
  EXPECT_EQ(system.CompareOpenVpnVersion(system.ForceOpenVpnUpdateVersion()), 1);
  EXPECT_EQ(system.CompareOpenVpnVersion(InstalledOpenVpnVersion()), 0);
  EXPECT_EQ(system.CompareOpenVpnVersion(L"1.0"), -1);

  const VpnProxy none = system.Proxy();
  EXPECT_EQ(none.type, 0);
  EXPECT_EQ(none.server, L"");
  SetSettingInt(L"Proxy", L"Type", 2);
  SetSettingString(L"Proxy", L"Server", L"proxy.example.com");
  SetSettingInt(L"Proxy", L"Port", 1080);
  SetSettingString(L"Proxy", L"Username", L"u");
  SetSettingString(L"Proxy", L"Password", L"p");
  const VpnProxy proxy = system.Proxy();
  EXPECT_EQ(proxy.type, 2);
  EXPECT_EQ(proxy.server, L"proxy.example.com");
  EXPECT_EQ(proxy.port, 1080);
  EXPECT_EQ(proxy.username, L"u");
  EXPECT_EQ(proxy.password, L"p");

  system.StoreLastSuccessVpnType(3);
  EXPECT_EQ(GetSettingInt(L"Main", L"LastSuccessVpnType", 1), 3);
}

TEST(ProductConnectSystem, MissingFilesGiveTheDefaults) {
  CScopedFakeSettings settings;
  CTempDir dir;
  IniForgetCache();
  CTestConnectSystem system(dir.File(L"none.ini"), dir.Path().wstring());
  EXPECT_EQ(system.DebugConnectVpn(), 0);
  EXPECT_EQ(system.ForceOpenVpnUpdateVersion(), L"");
  EXPECT_NE(system.InstallTapDriverOperation(), nullptr);
}

}  // namespace
