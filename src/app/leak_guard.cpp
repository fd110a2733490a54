#include "app/leak_guard.h"

#include <cstring>

#include "platform/strings.h"
#include "routing/route_plan.h"
#include "servers/server_list.h"
#include "vpn/general_vpn.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_options.h"

namespace {

bool ReadAddress(const std::wstring& text, IpAddress& address) {
  // Addresses from the server record and the push are ASCII; anything else
  // is no address.
  std::string narrow;
  for (wchar_t c : text) {
    if (c <= 0 || c > 0x7E) return false;
    narrow += static_cast<char>(c);
  }
  return ParseIpAddress(narrow, address);
}

IpNetwork NetworkOf(const InterfaceAddress& a) {
  IpNetwork n;
  ParseIpNetwork(FormatIpAddress(a.address) + "/" + std::to_string(a.prefixLength), n);
  return n;
}

}  // namespace

FirewallPolicyInput MakeLeakGuardInput(const LeakGuardFacts& f) {
  FirewallPolicyInput in;
  in.phase = f.phase;
  in.protectionOn = f.leakProtection;
  in.allowLocalNetwork = f.allowLocalNetwork;
  in.routeMode = f.routeMode;
  in.serviceHosts = f.serviceHosts;

  if (f.vpnType == 1 || f.vpnType == 2) {
    // PPTP's GRE and L2TP's IPsec are no TCP or UDP port: the server as a whole.
    in.server.protocol = FirewallProtocol::Any;
    in.server.port = 0;
  } else {
    const OpenVpnParams params = SplitOpenVpnParams(f.openVpnParams);
    in.server.protocol = params.protocolPiece.find(L"tcp") != std::wstring::npos ? FirewallProtocol::Tcp
                                                                                 : FirewallProtocol::Udp;
    in.server.port = 1194;  // openvpn's own default
    if (!params.port.empty() && params.port.size() <= 5 && IsAcceptablePort(params.port)) {
      in.server.port = static_cast<std::uint16_t>(std::stoul(params.port));
    }
  }
  if (!ReadAddress(f.serverHost, in.server.address)) in.server = {};

  IpAddress local;
  const bool haveLocal = !f.localIp.empty() && ReadAddress(f.localIp, local);
  if (haveLocal) {
    for (const InterfaceAddress& a : f.interfaces) {
      if (a.address != local) continue;
      in.tunnelInterfaceName = a.name;
      in.tunnelIfIndex = a.ifIndex;
    }
  }
  for (const InterfaceAddress& a : f.interfaces) {
    if (a.loopback) continue;
    // Link-local IPv6 is the policy's own business; every device has such an
    // address, so it never makes the tunnel an IPv6 one.
    if (a.address.family == 6 && a.address.bytes[0] == 0xfe && (a.address.bytes[1] & 0xc0) == 0x80) continue;
    if (!in.tunnelInterfaceName.empty() && a.name == in.tunnelInterfaceName) {
      in.tunnelNetworks.push_back(NetworkOf(a));
      continue;
    }
    in.physicalNetworks.push_back(NetworkOf(a));
  }
  // openvpn reaches its server through the proxy, over whatever the proxy
  // asks for (a SOCKS relay's UDP port is the proxy's choice).
  IpAddress proxy;
  if (!f.proxyServer.empty() && ReadAddress(f.proxyServer, proxy))
    in.serviceHosts.push_back({proxy, FirewallProtocol::Any, 0});
  for (const std::wstring& text : f.dns) {
    IpAddress dns;
    if (ReadAddress(text, dns)) in.tunnelDns.push_back(dns);
  }
  for (const std::wstring& entry : f.routes) {
    std::wstring destination, mask;
    if (!ParseRouteEntry(entry, destination, mask) || destination.empty() || mask.empty()) continue;
    // Read as the route plan reads them, so the rules cover the routes it adds.
    IpAddress address;
    const int length = MaskToPrefixLength(ParseIpv4(mask));
    if (!ReadAddress(destination, address) || address.family != 4 || length < 0) continue;
    IpNetwork network;
    if (!ParseIpNetwork(FormatIpAddress(address) + "/" + std::to_string(length), network)) continue;
    (f.routeMode == kFirewallRouteModeDefaultGateway ? in.bypassNetworks : in.tunnelRoutes).push_back(network);
  }
  return in;
}

void AddServiceAddress(std::vector<FirewallEndpoint>& hosts, int family, const void* bytes) {
  FirewallEndpoint e;
  e.protocol = FirewallProtocol::Tcp;
  e.address.family = family;
  std::memcpy(e.address.bytes.data(), bytes, family == 4 ? 4 : 16);
  for (const FirewallEndpoint& h : hosts)
    if (h.address == e.address) return;
  hosts.push_back(e);
}

std::string UrlHost(const std::wstring& url) {
  std::string text;
  for (wchar_t c : url) {
    if (c <= 0x20 || c > 0x7E) return {};
    text += static_cast<char>(c);
  }
  std::size_t start = 0;
  if (text.rfind("http://", 0) == 0) {
    start = 7;
  } else if (text.rfind("https://", 0) == 0) {
    start = 8;
  } else {
    return {};
  }
  const std::size_t end = text.find_first_of("/?#", start);
  std::string authority = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (authority.find('@') != std::string::npos) return {};
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) return {};
    return authority.substr(1, close - 1);
  }
  const std::size_t colon = authority.find(':');
  std::string host = authority.substr(0, colon);
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!ok) return {};
  }
  return host;
}

LeakGuardFacts LeakGuardFactsOf(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn) {
  return LeakGuardFactsOf(phase, server, vpn, ListInterfaceAddresses());
}

LeakGuardFacts LeakGuardFactsOf(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn,
                                std::vector<InterfaceAddress> interfaces) {
  LeakGuardFacts f;
  f.phase = phase;
  f.serverHost = server.host;
  f.openVpnParams = server.openVpn;
  f.interfaces = std::move(interfaces);
  if (vpn) {
    f.vpnType = vpn->GetType();
    f.routeMode = vpn->GetRouteMode();
    f.routes = vpn->GetRoutes();
    f.localIp = vpn->GetLocalIp();
    const VpnProxy proxy = vpn->GetProxy();
    if (proxy.type != 0) f.proxyServer = proxy.server;
    for (const std::wstring& dns : {vpn->GetDns1(), vpn->GetDns2()})
      if (!dns.empty()) f.dns.push_back(dns);
  }
  return f;
}

namespace {

bool SameRules(const FirewallRuleSet& a, const FirewallRuleSet& b) {
  // Only a connected set may vanish with the process (Windows): the same
  // rules must be put in again to outlive it after a drop.
  const bool bothOrNeitherConnected = (a.phase == FirewallPhase::Connected) == (b.phase == FirewallPhase::Connected);
  return a.rules == b.rules && a.tunnelInterfaceName == b.tunnelInterfaceName &&
         a.tunnelIfIndex == b.tunnelIfIndex && a.physicalInterfaceName == b.physicalInterfaceName &&
         a.physicalIfIndex == b.physicalIfIndex && bothOrNeitherConnected;
}

const wchar_t* PhaseName(FirewallPhase phase) {
  switch (phase) {
    case FirewallPhase::Connecting: return L"connecting";
    case FirewallPhase::Connected: return L"connected";
    case FirewallPhase::Dropped: return L"dropped";
    case FirewallPhase::Reconnecting: return L"reconnecting";
    case FirewallPhase::UserDisconnected: return L"disconnected";
    case FirewallPhase::Off: break;
  }
  return L"off";
}

}  // namespace

std::wstring CLeakGuard::ClearLeftover() {
  if (!firewall_->Present()) return {};
  if (firewall_->Remove() != 0)
    return L"leak protection: the block of an earlier run could not be lifted: " + NarrowToWide(firewall_->LastError());
  return L"leak protection: lifted the block an earlier run left";
}

std::wstring CLeakGuard::Update(const LeakGuardFacts& facts) {
  FirewallRuleSet rules = MakeFirewallRules(MakeLeakGuardInput(facts));
  if (rules.rules.empty()) return Lift();
  if (inForce_ && SameRules(*inForce_, rules)) {
    phase_ = facts.phase;
    return {};
  }
  if (const std::uint32_t error = firewall_->Apply(rules); error != 0) {
    failed_ = true;
    return L"leak protection: the rules could not be set (" + std::to_wstring(error) + L"): " +
           NarrowToWide(firewall_->LastError());
  }
  failed_ = false;
  phase_ = facts.phase;
  inForce_ = std::move(rules);
  std::wstring line = L"leak protection: " + std::wstring(PhaseName(phase_)) + L", " +
                      std::to_wstring(inForce_->rules.size()) + L" rules";
  if (!inForce_->tunnelInterfaceName.empty()) line += L", tunnel " + NarrowToWide(inForce_->tunnelInterfaceName);
  return line;
}

std::wstring CLeakGuard::Lift() {
  phase_ = FirewallPhase::Off;
  if (!inForce_) return {};
  inForce_.reset();
  if (firewall_->Remove() != 0) {
    failed_ = true;
    return L"leak protection: the block could not be lifted: " + NarrowToWide(firewall_->LastError());
  }
  return L"leak protection: lifted";
}

CFlowLeakGuard::CFlowLeakGuard(std::unique_ptr<IFirewall> firewall, Sources sources)
    : guard_(std::move(firewall)), sources_(std::move(sources)) {}

void CFlowLeakGuard::SetChoices(bool leakProtection, bool allowLocalNetwork) {
  leakProtection_ = leakProtection;
  allowLocalNetwork_ = allowLocalNetwork;
}

void CFlowLeakGuard::Report(const std::wstring& line) {
  if (!line.empty() && sources_.report) sources_.report(line, guard_.Failed());
}

void CFlowLeakGuard::ClearLeftover() { Report(guard_.ClearLeftover()); }

bool CFlowLeakGuard::GuardTunnel(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn) {
  LeakGuardFacts facts = LeakGuardFactsOf(phase, server, vpn,
                                          sources_.interfaces ? sources_.interfaces() : std::vector<InterfaceAddress>{});
  facts.leakProtection = leakProtection_;
  facts.allowLocalNetwork = allowLocalNetwork_;
  // A reconnect may have to log in again: the service stays reachable.
  if (leakProtection_ && !guard_.HasServiceHosts() && sources_.serviceHosts)
    guard_.SetServiceHosts(sources_.serviceHosts());
  facts.serviceHosts = guard_.ServiceHosts();
  Report(guard_.Update(facts));
  return guard_.InForce();
}
