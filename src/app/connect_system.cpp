#include "app/connect_system.h"

#include "accel/bind_module.h"
#include "account/reply_document.h"
#include "account/settings.h"
#include "vpn/tap_driver.h"
#include "vpn/vpn_adapter.h"

namespace {
constexpr wchar_t kMainSection[] = L"Main";
constexpr wchar_t kProxySection[] = L"Proxy";
}  // namespace

bool CProductConnectSystem::OpenVpnComponentPresent() { return CheckOpenVpnComponent(programFolder_); }

int CProductConnectSystem::CompareOpenVpnVersion(const std::wstring& required) {
  return ::CompareOpenVpnVersion(required);
}

std::wstring CProductConnectSystem::ForceOpenVpnUpdateVersion() {
  return IniReadString(overridePath_, kMainSection, L"ForceOpenVpnUpdateVersion", L"");
}

bool CProductConnectSystem::IsTapAdapterReady() { return ::IsTapAdapterReady(); }

std::unique_ptr<IOperation> CProductConnectSystem::InstallTapDriverOperation() {
  return std::make_unique<CBlockedOperation_InstallOpenVpnDriver>();
}

std::int32_t CProductConnectSystem::DebugConnectVpn() {
  return IniReadInt(overridePath_, kMainSection, L"DebugConnectVpn", 0);
}

VpnProxy CProductConnectSystem::Proxy() {
  VpnProxy proxy;
  proxy.type = GetSettingInt(kProxySection, L"Type", 0);
  proxy.server = GetSettingString(kProxySection, L"Server", L"");
  proxy.port = GetSettingInt(kProxySection, L"Port", 0);
  proxy.username = GetSettingString(kProxySection, L"Username", L"");
  proxy.password = GetSettingString(kProxySection, L"Password", L"");
  return proxy;
}

void CProductConnectSystem::StoreLastSuccessVpnType(std::int32_t type) {
  SetSettingInt(kMainSection, L"LastSuccessVpnType", type);
}

void CProductConnectSystem::FlushDnsCache() {
  if (std::unique_ptr<IDnsCacheSystem> cache = CreateSystemDnsCache()) ::FlushDnsCache(*cache);
}

bool CProductConnectSystem::VpnBindStart(std::uint32_t, std::uint32_t localIpNetworkOrder) {
  std::unique_ptr<IModuleLoader> loader = CreateSystemModuleLoader();
  if (!loader->Load(kBindModuleName)) return false;
  return StartBindModule(*loader, localIpNetworkOrder, nullptr) == BindStartResult::Started;
}

void CProductConnectSystem::VpnBindStop() {
  std::unique_ptr<IModuleLoader> loader = CreateSystemModuleLoader();
  StopBindModule(*loader);
}
