// Adjustments made once a VPN connection is up: the dial-up adapter first in
// TCP/IP's binding order (oldest systems only), a flush of the resolver
// cache, and DHCP turned off on an interface that holds the VPN's address.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account/machine_registry_port.h"

constexpr wchar_t kTcpipLinkageKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage";
constexpr wchar_t kTcpipInterfacesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
constexpr wchar_t kWanBindingName[] = L"\\Device\\NdisWanIp";

// The list with every WAN entry (any case) removed and the WAN entry put first.
std::vector<std::wstring> PutWanBindingFirst(const std::vector<std::wstring>& bindings);
// Writes only on a system of major version 5; silent on every failure.
void PutVpnBindingFirst(IMachineRegistry& registry, std::optional<std::uint32_t> majorVersion);

// The resolver library and the flush command.
class IResolverLibrary {
 public:
  virtual ~IResolverLibrary() = default;  // releases the library
  // The flush's result; none when the library lacks the function.
  virtual std::optional<std::int32_t> Flush() = 0;
};
class IDnsCacheSystem {
 public:
  virtual ~IDnsCacheSystem() = default;
  virtual std::unique_ptr<IResolverLibrary> LoadResolver() = 0;  // null when it does not load
  virtual void RunFlushCommand() = 0;  // hidden, not waited for
};
std::int32_t FlushDnsCache(IDnsCacheSystem& system);
// dnsapi.dll and "ipconfig /flushdns" on Windows; null elsewhere.
std::unique_ptr<IDnsCacheSystem> CreateSystemDnsCache();

// One interface's DHCP values as read from its key.
struct InterfaceDhcp {
  std::optional<std::wstring> dhcpAddress;  // none when it does not read
  std::optional<std::uint32_t> enableDhcp;
};
// True when the interface got the VPN's address by DHCP and DHCP is on: it
// is then switched off and the user told.
bool MustDisableDhcp(const InterfaceDhcp& values, const std::wstring& localIp);
bool HoldsVpnAddress(const std::optional<std::wstring>& dhcpAddress, const std::wstring& localIp);

// What the main window does when such an interface is found.
class IDhcpWarningView {
 public:
  // Shows the main window and the warning (exclamation icon, OK).
  virtual void ShowDhcpWarning(const std::wstring& text) = 0;
  virtual void EndConnection() = 0;

 protected:
  ~IDhcpWarningView() = default;
};
// The number of interfaces it acted on.
int DisableDhcpOnVpnAdapter(IMachineRegistry& registry, IDhcpWarningView& view, const std::wstring& localIp);
