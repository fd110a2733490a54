// Leak protection in both clients: the facts of the moment (the connection,
// the machine's interfaces, the user's settings) turned into the firewall
// policy's input, and the rules put in force whenever they change.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/connect_controller.h"
#include "routing/firewall.h"

class CGeneralVpn;
struct VpnServerInfo;

// One address of one interface, as the system lists them.
struct InterfaceAddress {
  std::string name;
  IpAddress address;
  int prefixLength = 0;
  bool loopback = false;
  std::uint32_t ifIndex = 0;  // the system's interface index; 0 where names are used
};

// What the guard knows of the connection, copied out of it.
struct LeakGuardFacts {
  FirewallPhase phase = FirewallPhase::Off;
  bool leakProtection = true;
  bool allowLocalNetwork = true;
  std::wstring serverHost;     // the server record's host (dotted IPv4)
  std::wstring openVpnParams;  // the server record's "protocol,port,extra" text
  std::int32_t vpnType = 3;    // 1 PPTP, 2 L2TP: the server's every protocol, not one port
  std::int32_t routeMode = kFirewallRouteModeDefaultGateway;
  std::vector<std::wstring> routes;  // the route plan's entries
  std::wstring localIp;              // the tunnel's address; empty before it is up
  std::vector<std::wstring> dns;     // the tunnel's resolvers
  std::vector<InterfaceAddress> interfaces;
  std::vector<FirewallEndpoint> serviceHosts;
  std::wstring proxyServer;  // the user's proxy (dotted IPv4); empty when none
};

// The policy's input: the tunnel is the interface holding localIp, every
// other non-loopback interface is physical and its networks are the local
// network. Texts that are no address are left out.
FirewallPolicyInput MakeLeakGuardInput(const LeakGuardFacts& facts);

// The host part of an http(s) base URL ("http://host:port/path",
// "https://[v6]/"); empty when it is no such URL.
std::string UrlHost(const std::wstring& url);
// The account service's addresses for `baseUrl`, resolved now, while
// nothing blocks the resolver: TCP, any port (a login goes over HTTPS
// whatever the base says).
std::vector<FirewallEndpoint> ResolveServiceHosts(const std::wstring& baseUrl);

// Adds a resolved address (4 or 16 bytes) of the account service once.
void AddServiceAddress(std::vector<FirewallEndpoint>& hosts, int family, const void* bytes);

// Every address of every interface that is up.
std::vector<InterfaceAddress> ListInterfaceAddresses();

class CLeakGuard {
 public:
  explicit CLeakGuard(std::unique_ptr<IFirewall> firewall) : firewall_(std::move(firewall)) {}
  // What a run killed outright left in force; a line to print, or empty.
  std::wstring ClearLeftover();
  // Puts the rules for `facts` in force when they differ from the last; a
  // line to print about the change, or empty.
  std::wstring Update(const LeakGuardFacts& facts);
  // Takes our rules away; a line to print when there were some.
  std::wstring Lift();
  FirewallPhase Phase() const { return phase_; }
  // The account service's hosts, found once before the first block.
  bool HasServiceHosts() const { return serviceHostsKnown_; }
  void SetServiceHosts(std::vector<FirewallEndpoint> hosts) {
    serviceHosts_ = std::move(hosts);
    serviceHostsKnown_ = true;
  }
  const std::vector<FirewallEndpoint>& ServiceHosts() const { return serviceHosts_; }
  bool Failed() const { return failed_; }
  bool InForce() const { return inForce_.has_value(); }

 private:
  std::unique_ptr<IFirewall> firewall_;
  std::optional<FirewallRuleSet> inForce_;
  FirewallPhase phase_ = FirewallPhase::Off;
  bool failed_ = false;
  std::vector<FirewallEndpoint> serviceHosts_;
  bool serviceHostsKnown_ = false;
};

// Facts from the live connection (null before it exists) and `interfaces`.
LeakGuardFacts LeakGuardFactsOf(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn,
                                std::vector<InterfaceAddress> interfaces);
// The same with the machine's interfaces of the moment.
LeakGuardFacts LeakGuardFactsOf(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn);

// The guard as the connect flow drives it (the Windows client): each phase
// the flow reports becomes rules over what the machine says at that moment.
class CFlowLeakGuard : public ITunnelGuard {
 public:
  struct Sources {
    std::function<std::vector<InterfaceAddress>()> interfaces;
    // Asked once, before the first block, while names still resolve.
    std::function<std::vector<FirewallEndpoint>()> serviceHosts;
    // A line for the log; `failed` when the system refused the change.
    std::function<void(const std::wstring& line, bool failed)> report;
  };
  CFlowLeakGuard(std::unique_ptr<IFirewall> firewall, Sources sources);
  void SetChoices(bool leakProtection, bool allowLocalNetwork);
  bool GuardTunnel(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn) override;
  // What a run killed outright left; reported like any change.
  void ClearLeftover();
  const CLeakGuard& Guard() const { return guard_; }

 private:
  void Report(const std::wstring& line);

  CLeakGuard guard_;
  Sources sources_;
  bool leakProtection_ = true;
  bool allowLocalNetwork_ = true;
};
