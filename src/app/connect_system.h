// The connect flow's system steps that are the same on every platform: the
// settings and override file it reads and writes, the OpenVPN
// files, version and adapter checks and the resolver cache flush. The steps
// that only a platform's window has (L2TP preparation, adapter binding
// order, DHCP, bind module, the update run) stay for its subclass.
#pragma once
#include <string>

#include "app/connect_controller.h"

class CProductConnectSystem : public IConnectSystem {
 public:
  // `overridePath` the local override file, `programFolder` where the
  // openvpn program and its files belong.
  CProductConnectSystem(std::wstring overridePath, std::wstring programFolder)
      : overridePath_(std::move(overridePath)), programFolder_(std::move(programFolder)) {}

  bool OpenVpnComponentPresent() override;
  int CompareOpenVpnVersion(const std::wstring& required) override;
  std::wstring ForceOpenVpnUpdateVersion() override;
  bool IsTapAdapterReady() override;
  std::unique_ptr<IOperation> InstallTapDriverOperation() override;
  std::int32_t DebugConnectVpn() override;
  VpnProxy Proxy() override;
  void StoreLastSuccessVpnType(std::int32_t type) override;
  void FlushDnsCache() override;
  bool VpnBindStart(std::uint32_t flags, std::uint32_t localIpNetworkOrder) override;
  void VpnBindStop() override;

 private:
  std::wstring overridePath_;
  std::wstring programFolder_;
};
