#include "cli/leak_guard.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <net/if.h>
#include <netinet/in.h>

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

int PrefixOfMask(const IpAddress& mask) {
  int length = 0;
  std::size_t bytes = mask.family == 4 ? 4 : 16;
  for (std::size_t i = 0; i < bytes; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      if (!(mask.bytes[i] >> bit & 1)) return length;
      ++length;
    }
  }
  return length;
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

  const OpenVpnParams params = SplitOpenVpnParams(f.openVpnParams);
  in.server.protocol = params.protocolPiece.find(L"tcp") != std::wstring::npos ? FirewallProtocol::Tcp
                                                                               : FirewallProtocol::Udp;
  in.server.port = 1194;  // openvpn's own default
  if (!params.port.empty() && params.port.size() <= 5 && IsAcceptablePort(params.port)) {
    in.server.port = static_cast<std::uint16_t>(std::stoul(params.port));
  }
  if (!ReadAddress(f.serverHost, in.server.address)) in.server = {};

  IpAddress local;
  const bool haveLocal = !f.localIp.empty() && ReadAddress(f.localIp, local);
  if (haveLocal) {
    for (const InterfaceAddress& a : f.interfaces) {
      if (a.address == local) in.tunnelInterfaceName = a.name;
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

std::vector<FirewallEndpoint> ResolveServiceHosts(const std::wstring& baseUrl) {
  std::vector<FirewallEndpoint> hosts;
  const std::string host = UrlHost(baseUrl);
  if (host.empty()) return hosts;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return hosts;
  for (addrinfo* a = found; a; a = a->ai_next) {
    FirewallEndpoint e;
    e.protocol = FirewallProtocol::Tcp;
    if (a->ai_family == AF_INET) {
      e.address.family = 4;
      std::memcpy(e.address.bytes.data(), &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, 4);
    } else if (a->ai_family == AF_INET6) {
      e.address.family = 6;
      std::memcpy(e.address.bytes.data(), &reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr, 16);
    } else {
      continue;
    }
    bool seen = false;
    for (const FirewallEndpoint& h : hosts) seen = seen || h.address == e.address;
    if (!seen) hosts.push_back(e);
  }
  freeaddrinfo(found);
  return hosts;
}

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || !i->ifa_netmask || !(i->ifa_flags & IFF_UP) || !i->ifa_name) continue;
    InterfaceAddress a;
    a.name = i->ifa_name;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    IpAddress mask;
    if (i->ifa_addr->sa_family == AF_INET) {
      a.address.family = mask.family = 4;
      std::memcpy(a.address.bytes.data(), &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
      std::memcpy(mask.bytes.data(), &reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr, 4);
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      a.address.family = mask.family = 6;
      std::memcpy(a.address.bytes.data(), &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, 16);
      std::memcpy(mask.bytes.data(), &reinterpret_cast<sockaddr_in6*>(i->ifa_netmask)->sin6_addr, 16);
    } else {
      continue;
    }
    a.prefixLength = PrefixOfMask(mask);
    out.push_back(a);
  }
  freeifaddrs(list);
  return out;
}

LeakGuardFacts LeakGuardFactsOf(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn) {
  LeakGuardFacts f;
  f.phase = phase;
  f.serverHost = server.host;
  f.openVpnParams = server.openVpn;
  f.interfaces = ListInterfaceAddresses();
  if (vpn) {
    f.routeMode = vpn->GetRouteMode();
    f.routes = vpn->GetRoutes();
    f.localIp = vpn->GetLocalIp();
    for (const std::wstring& dns : {vpn->GetDns1(), vpn->GetDns2()})
      if (!dns.empty()) f.dns.push_back(dns);
  }
  return f;
}

namespace {

bool SameRules(const FirewallRuleSet& a, const FirewallRuleSet& b) {
  return a.rules == b.rules && a.tunnelInterfaceName == b.tunnelInterfaceName &&
         a.physicalInterfaceName == b.physicalInterfaceName;
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
