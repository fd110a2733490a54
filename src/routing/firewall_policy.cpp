#include "routing/firewall_policy.h"

#include <algorithm>
#include <cstdio>

namespace {

bool ParseIpv4Into(std::string_view text, std::uint8_t* out) {
  int part = 0;
  std::size_t i = 0;
  while (part < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    unsigned value = 0;
    std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      if (value > 255 || i - start >= 3) return false;
      ++i;
    }
    // "01" reads as octal to some parsers and decimal to others: refuse it.
    if (i - start > 1 && text[start] == '0') return false;
    out[part++] = static_cast<std::uint8_t>(value);
    if (part < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseIpv6Into(std::string_view text, std::uint8_t* out) {
  std::uint16_t head[8] = {};
  std::uint16_t tail[8] = {};
  int headCount = 0, tailCount = 0;
  bool compressed = false;
  std::size_t i = 0;
  if (text.size() >= 2 && text[0] == ':' && text[1] == ':') {
    compressed = true;
    i = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (i < text.size()) {
    std::size_t end = text.find(':', i);
    std::string_view piece = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    int used = headCount + tailCount;
    if (piece.find('.') != std::string_view::npos) {
      // An IPv4 tail: the last two groups.
      if (end != std::string_view::npos || used > 6) return false;
      std::uint8_t v4[4];
      if (!ParseIpv4Into(piece, v4)) return false;
      std::uint16_t* groups = compressed ? tail : head;
      int& count = compressed ? tailCount : headCount;
      groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
      i = text.size();
      break;
    }
    if (piece.empty() || piece.size() > 4 || used >= 8) return false;
    unsigned value = 0;
    for (char c : piece) {
      int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    (compressed ? tail[tailCount++] : head[headCount++]) = static_cast<std::uint16_t>(value);
    if (end == std::string_view::npos) {
      i = text.size();
      break;
    }
    i = end + 1;
    if (i < text.size() && text[i] == ':') {
      if (compressed) return false;  // "::" twice
      compressed = true;
      ++i;
    } else if (i == text.size()) {
      return false;  // a trailing single ':'
    }
  }
  int total = headCount + tailCount;
  if (compressed ? total > 7 : total != 8) return false;
  std::uint16_t groups[8] = {};
  for (int g = 0; g < headCount; ++g) groups[g] = head[g];
  for (int g = 0; g < tailCount; ++g) groups[8 - tailCount + g] = tail[g];
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<std::uint8_t>(groups[g] >> 8);
    out[2 * g + 1] = static_cast<std::uint8_t>(groups[g] & 0xFF);
  }
  return true;
}

int MaxPrefix(int family) { return family == 4 ? 32 : 128; }

void ClearHostBits(IpNetwork& network) {
  int bits = MaxPrefix(network.address.family);
  for (int bit = network.prefixLength; bit < bits; ++bit) {
    network.address.bytes[static_cast<std::size_t>(bit / 8)] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
  }
}

}  // namespace

bool ParseIpAddress(std::string_view text, IpAddress& address) {
  IpAddress parsed;
  if (text.find(':') != std::string_view::npos) {
    if (!ParseIpv6Into(text, parsed.bytes.data())) return false;
    parsed.family = 6;
  } else {
    if (!ParseIpv4Into(text, parsed.bytes.data())) return false;
    parsed.family = 4;
  }
  address = parsed;
  return true;
}

bool ParseIpNetwork(std::string_view text, IpNetwork& network) {
  IpNetwork parsed;
  std::size_t slash = text.find('/');
  if (!ParseIpAddress(text.substr(0, slash), parsed.address)) return false;
  int bits = MaxPrefix(parsed.address.family);
  if (slash == std::string_view::npos) {
    parsed.prefixLength = bits;
  } else {
    std::string_view length = text.substr(slash + 1);
    if (length.empty() || length.size() > 3) return false;
    int value = 0;
    for (char c : length) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > bits) return false;
    parsed.prefixLength = value;
  }
  ClearHostBits(parsed);
  network = parsed;
  return true;
}

std::string FormatIpAddress(const IpAddress& address) {
  char buffer[64];
  if (address.family == 4) {
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", address.bytes[0], address.bytes[1], address.bytes[2],
                  address.bytes[3]);
    return buffer;
  }
  if (address.family != 6) return {};
  unsigned groups[8];
  for (int g = 0; g < 8; ++g) groups[g] = static_cast<unsigned>(address.bytes[2 * g] << 8 | address.bytes[2 * g + 1]);
  // The longest run of two or more zero groups becomes "::", the first on a tie.
  int bestStart = -1, bestLength = 1;
  for (int g = 0; g < 8;) {
    if (groups[g] != 0) {
      ++g;
      continue;
    }
    int start = g;
    while (g < 8 && groups[g] == 0) ++g;
    if (g - start > bestLength) {
      bestStart = start;
      bestLength = g - start;
    }
  }
  std::string text;
  for (int g = 0; g < 8; ++g) {
    if (g == bestStart) {
      text += "::";
      g += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(buffer, sizeof buffer, "%x", groups[g]);
    text += buffer;
  }
  return text;
}

std::string FormatIpNetwork(const IpNetwork& network) {
  return FormatIpAddress(network.address) + "/" + std::to_string(network.prefixLength);
}

bool NetworkContains(const IpNetwork& network, const IpAddress& address) {
  if (network.address.family != address.family || address.family == 0) return false;
  for (int bit = 0; bit < network.prefixLength; ++bit) {
    std::size_t byte = static_cast<std::size_t>(bit / 8);
    std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
    if ((network.address.bytes[byte] & mask) != (address.bytes[byte] & mask)) return false;
  }
  return true;
}

namespace {

class CRuleWriter {
 public:
  explicit CRuleWriter(std::vector<FirewallRule>& rules) : rules_(rules) {}

  void Add(FirewallAction action, FirewallInterface interface, int family, FirewallProtocol protocol,
           const IpNetwork* remote, std::uint16_t remotePort, std::uint16_t localPort, const char* why) {
    FirewallRule rule;
    rule.action = action;
    rule.interface = interface;
    rule.family = remote ? remote->address.family : family;
    rule.protocol = protocol;
    if (remote) {
      rule.hasRemote = true;
      rule.remote = *remote;
    }
    rule.remotePort = remotePort;
    rule.localPort = localPort;
    rule.why = why;
    rules_.push_back(std::move(rule));
  }
  void Permit(FirewallInterface interface, int family, const char* why) {
    Add(FirewallAction::Permit, interface, family, FirewallProtocol::Any, nullptr, 0, 0, why);
  }
  void PermitNetwork(FirewallInterface interface, const IpNetwork& network, const char* why) {
    Add(FirewallAction::Permit, interface, 0, FirewallProtocol::Any, &network, 0, 0, why);
  }
  void Endpoint(const FirewallEndpoint& endpoint, const char* why) {
    if (endpoint.address.family != 4 && endpoint.address.family != 6) return;
    IpNetwork host{endpoint.address, MaxPrefix(endpoint.address.family)};
    // Any: a dial-up server, whose GRE or IPsec has no port to name.
    if (endpoint.protocol == FirewallProtocol::Any) {
      Add(FirewallAction::Permit, FirewallInterface::Any, 0, FirewallProtocol::Any, &host, 0, 0, why);
      return;
    }
    FirewallProtocol protocol = endpoint.protocol == FirewallProtocol::Udp ? FirewallProtocol::Udp : FirewallProtocol::Tcp;
    Add(FirewallAction::Permit, FirewallInterface::Any, 0, protocol, &host, endpoint.port, 0, why);
  }

 private:
  std::vector<FirewallRule>& rules_;
};

IpNetwork Network(const char* text) {
  IpNetwork network;
  ParseIpNetwork(text, network);
  return network;
}

bool Carries(const std::vector<IpNetwork>& networks, int family) {
  return std::any_of(networks.begin(), networks.end(),
                     [family](const IpNetwork& n) { return n.address.family == family; });
}

}  // namespace

FirewallRuleSet MakeFirewallRules(const FirewallPolicyInput& in) {
  FirewallRuleSet set;
  set.phase = in.phase;
  set.tunnelInterfaceName = in.tunnelInterfaceName;
  set.tunnelIfIndex = in.tunnelIfIndex;
  set.physicalInterfaceName = in.physicalInterfaceName;
  set.physicalIfIndex = in.physicalIfIndex;
  if (!in.protectionOn || in.phase == FirewallPhase::Off || in.phase == FirewallPhase::UserDisconnected) {
    return set;
  }
  using enum FirewallInterface;
  constexpr auto kPermit = FirewallAction::Permit;
  constexpr auto kBlock = FirewallAction::Block;
  CRuleWriter w(set.rules);
  // A dropped tunnel's device is gone, and another program could take its
  // name: while dropped nothing is let through "the tunnel".
  bool tunnelKnown = in.phase != FirewallPhase::Dropped &&
                     (!in.tunnelInterfaceName.empty() || in.tunnelIfIndex != 0);
  bool tunnelIpv6 = Carries(in.tunnelNetworks, 6);
  bool splitMode = in.routeMode == kFirewallRouteModeListedRoutes || in.routeMode == kFirewallRouteModePerApplication;

  w.Permit(Loopback, 0, "loopback");
  w.Endpoint(in.server, "vpn server");
  for (const FirewallEndpoint& host : in.serviceHosts) w.Endpoint(host, "account service");
  w.Add(kPermit, Physical, 4, FirewallProtocol::Udp, nullptr, 67, 68, "dhcp");
  w.Add(kPermit, Physical, 6, FirewallProtocol::Udp, nullptr, 547, 546, "dhcpv6");
  // Neighbour discovery and router solicitations live on link-local and
  // link-scope multicast addresses; nothing routed leaves that way.
  static const IpNetwork kLinkLocal6 = Network("fe80::/10");
  static const IpNetwork kLinkMulticast6 = Network("ff02::/16");
  w.PermitNetwork(Physical, kLinkLocal6, "ipv6 link-local");
  w.PermitNetwork(Physical, kLinkMulticast6, "ipv6 link-local");

  // Names are asked only of the tunnel's resolvers, never of the LAN's.
  for (FirewallProtocol protocol : {FirewallProtocol::Udp, FirewallProtocol::Tcp}) {
    if (tunnelKnown) {
      if (in.tunnelDns.empty()) {
        w.Add(kPermit, Tunnel, 0, protocol, nullptr, 53, 0, "dns in tunnel");
      }
      for (const IpAddress& dns : in.tunnelDns) {
        if (dns.family != 4 && dns.family != 6) continue;
        IpNetwork host{dns, MaxPrefix(dns.family)};
        w.Add(kPermit, Tunnel, 0, protocol, &host, 53, 0, "tunnel dns");
      }
    }
    w.Add(kBlock, Any, 0, protocol, nullptr, 53, 0, "other dns");
  }

  if (in.allowLocalNetwork) {
    for (const IpNetwork& network : in.physicalNetworks) {
      if (network.address.family == 6 && !tunnelIpv6) continue;
      if (network.address.family == 4 || network.address.family == 6) {
        w.PermitNetwork(Physical, network, "local network");
      }
    }
  }
  if (tunnelKnown) w.Permit(Tunnel, 0, "tunnel");

  if (splitMode) {
    // What the plan sends through the tunnel never goes around it; the rest
    // goes the physical way as the plan says.
    for (const IpNetwork& network : in.tunnelRoutes) {
      if (network.address.family == 4 || network.address.family == 6) {
        w.Add(kBlock, Any, 0, FirewallProtocol::Any, &network, 0, 0, "tunnel route");
      }
    }
    if (!tunnelIpv6) w.Add(kBlock, Any, 6, FirewallProtocol::Any, nullptr, 0, 0, "ipv6 around the tunnel");
    w.Permit(Physical, 0, "around the tunnel");
  } else {
    for (const IpNetwork& network : in.bypassNetworks) {
      if (network.address.family == 6 && !tunnelIpv6) continue;
      if (network.address.family == 4 || network.address.family == 6) {
        w.PermitNetwork(Physical, network, "bypass route");
      }
    }
  }
  w.Add(kBlock, Any, 0, FirewallProtocol::Any, nullptr, 0, 0, "everything else");
  return set;
}

namespace {

bool RuleMatches(const FirewallRule& rule, const FirewallPacket& packet) {
  if (rule.interface != FirewallInterface::Any && rule.interface != packet.interface) return false;
  if (rule.family != 0 && rule.family != packet.remote.family) return false;
  if (rule.protocol != FirewallProtocol::Any && rule.protocol != packet.protocol) return false;
  if (rule.hasRemote && !NetworkContains(rule.remote, packet.remote)) return false;
  if (rule.remotePort != 0 && rule.remotePort != packet.remotePort) return false;
  if (rule.localPort != 0 && rule.localPort != packet.localPort) return false;
  return true;
}

}  // namespace

bool FirewallPermits(const FirewallRuleSet& set, const FirewallPacket& packet) {
  for (const FirewallRule& rule : set.rules) {
    if (RuleMatches(rule, packet)) return rule.action == FirewallAction::Permit;
  }
  return true;
}
