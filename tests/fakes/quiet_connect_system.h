// A connect system with every step a no-op that succeeds: for tests of the
// flow around a connection, not of the system it prepares.
#pragma once
#include <memory>
#include <string>

#include "app/connect_controller.h"

class CQuietConnectSystem : public IConnectSystem {
 public:
  void PrepareSystemForL2tp(const std::wstring&) override {}
  bool OpenVpnComponentPresent() override { return true; }
  int CompareOpenVpnVersion(const std::wstring&) override { return -1; }
  std::wstring ForceOpenVpnUpdateVersion() override { return L""; }
  bool IsTapAdapterReady() override { return tapReady; }
  std::unique_ptr<IOperation> InstallTapDriverOperation() override { return nullptr; }
  void DownloadAndRunUpdate(const std::string&) override {}
  std::int32_t DebugConnectVpn() override { return 0; }
  VpnProxy Proxy() override { return {}; }
  void StoreLastSuccessVpnType(std::int32_t) override {}
  void PutVpnBindingFirst() override {}
  void FlushDnsCache() override {}
  bool DisableDhcpOnVpnAdapter(const std::wstring&) override { return false; }
  bool VpnBindStart(std::uint32_t, std::uint32_t) override { return true; }
  void VpnBindStop() override {}

  bool tapReady = true;
};
