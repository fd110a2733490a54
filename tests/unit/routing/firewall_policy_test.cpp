#include "routing/firewall_policy.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

IpAddress A(const char* text) {
  IpAddress address;
  EXPECT_TRUE(ParseIpAddress(text, address)) << text;
  return address;
}

IpNetwork N(const char* text) {
  IpNetwork network;
  EXPECT_TRUE(ParseIpNetwork(text, network)) << text;
  return network;
}

TEST(FirewallAddresses, ReadAndWrittenBack) {
  struct Case {
    const char* text;
    bool ok;
    const char* written;  // network form
  } cases[] = {
      {"10.8.0.1", true, "10.8.0.1/32"},
      {"192.168.77.0/24", true, "192.168.77.0/24"},
      {"192.168.77.9/24", true, "192.168.77.0/24"},  // host bits cleared
      {"0.0.0.0/0", true, "0.0.0.0/0"},
      {"255.255.255.255", true, "255.255.255.255/32"},
      {"fe80::/10", true, "fe80::/10"},
      {"FE80::1:2", true, "fe80::1:2/128"},
      {"::", true, "::/128"},
      {"::1", true, "::1/128"},
      {"2001:db8:0:0:1:0:0:1", true, "2001:db8::1:0:0:1/128"},  // first longest run
      {"2001:db8::", true, "2001:db8::/128"},
      {"1:0:0:2:0:0:0:3", true, "1:0:0:2::3/128"},
      {"1:2:3:4:5:6:7:8", true, "1:2:3:4:5:6:7:8/128"},
      {"1:0:3:4:5:6:7:8", true, "1:0:3:4:5:6:7:8/128"},  // one zero group stays
      {"::ffff:10.1.2.3", true, "::ffff:a01:203/128"},
      {"64:ff9b::192.0.2.33/96", true, "64:ff9b::/96"},
      {"10.8.0.1/33", false, ""},
      {"10.8.0.1/", false, ""},
      {"10.8.0.1/-1", false, ""},
      {"10.8.0", false, ""},
      {"10.8.0.256", false, ""},
      {"10.08.0.1", false, ""},
      {"10.8.0.1 ", false, ""},
      {"10.8.0.1.5", false, ""},
      {"", false, ""},
      {"::1::2", false, ""},
      {":1:2:3:4:5:6:7", false, ""},
      {"1:2:3:4:5:6:7:", false, ""},
      {"1:2:3:4:5:6:7", false, ""},
      {"1:2:3:4:5:6:7:8:9", false, ""},
      {"1::2:3:4:5:6:7:8", false, ""},
      {"12345::", false, ""},
      {"fe80::1%eth0", false, ""},
      {"fe80::/129", false, ""},
      {"1.2.3.4::", false, ""},
      {"::1.2.3.4:5", false, ""},
      {"tun0\"; flush ruleset", false, ""},
  };
  for (const Case& c : cases) {
    IpNetwork network;
    bool ok = ParseIpNetwork(c.text, network);
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) EXPECT_EQ(FormatIpNetwork(network), c.written) << c.text;
  }
}

TEST(FirewallAddresses, NetworkMembership) {
  struct Case {
    const char* network;
    const char* address;
    bool inside;
  } cases[] = {
      {"10.0.0.0/8", "10.255.1.2", true},
      {"10.0.0.0/8", "11.0.0.0", false},
      {"192.168.77.0/24", "192.168.78.1", false},
      {"192.168.77.128/25", "192.168.77.127", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"0.0.0.0/0", "2001:db8::1", false},  // the other family is never inside
      {"fe80::/10", "febf::1", true},
      {"fe80::/10", "fec0::1", false},
      {"::/0", "10.1.1.1", false},
      {"10.8.0.1", "10.8.0.1", true},
      {"10.8.0.1", "10.8.0.2", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NetworkContains(N(c.network), A(c.address)), c.inside) << c.network << " " << c.address;
  }
}

// A home: LAN 192.168.77.0/24 and fd00:77::/64 on eth0, the tunnel tun0
// with 10.8.0.2/24, its resolver 10.8.0.1, the server 203.0.113.5 udp 1194,
// the account service 198.51.100.7 tcp 443.
FirewallPolicyInput Home(FirewallPhase phase) {
  FirewallPolicyInput in;
  in.phase = phase;
  in.server = {A("203.0.113.5"), FirewallProtocol::Udp, 1194};
  in.serviceHosts = {{A("198.51.100.7"), FirewallProtocol::Tcp, 443}};
  in.tunnelInterfaceName = "tun0";
  in.tunnelIfIndex = 9;
  in.tunnelNetworks = {N("10.8.0.0/24")};
  in.tunnelDns = {A("10.8.0.1")};
  in.physicalInterfaceName = "eth0";
  in.physicalIfIndex = 2;
  in.physicalNetworks = {N("192.168.77.0/24"), N("fd00:77::/64")};
  return in;
}

using Mod = std::function<void(FirewallPolicyInput&)>;
const Mod kNone = [](FirewallPolicyInput&) {};

constexpr auto kPhys = FirewallInterface::Physical;
constexpr auto kTun = FirewallInterface::Tunnel;
constexpr auto kLo = FirewallInterface::Loopback;
constexpr auto kTcp = FirewallProtocol::Tcp;
constexpr auto kUdp = FirewallProtocol::Udp;
constexpr auto kIcmp = FirewallProtocol::Icmp;

TEST(FirewallPolicy, DecidesEachPacket) {
  struct Case {
    const char* what;
    FirewallPhase phase;
    Mod mod;
    FirewallInterface interface;
    FirewallProtocol protocol;
    const char* remote;
    std::uint16_t remotePort;
    std::uint16_t localPort;
    bool passes;
  } cases[] = {
      // Connected, the VPN as default gateway.
      {"web through the tunnel", FirewallPhase::Connected, kNone, kTun, kTcp, "93.184.216.34", 443, 40000, true},
      {"web around the tunnel", FirewallPhase::Connected, kNone, kPhys, kTcp, "93.184.216.34", 443, 40000, false},
      {"ping around the tunnel", FirewallPhase::Connected, kNone, kPhys, kIcmp, "93.184.216.34", 0, 0, false},
      {"the server's endpoint", FirewallPhase::Connected, kNone, kPhys, kUdp, "203.0.113.5", 1194, 50000, true},
      {"the server, another port", FirewallPhase::Connected, kNone, kPhys, kUdp, "203.0.113.5", 53, 50000, false},
      {"the server, tcp", FirewallPhase::Connected, kNone, kPhys, kTcp, "203.0.113.5", 1194, 50000, false},
      {"the account service", FirewallPhase::Connected, kNone, kPhys, kTcp, "198.51.100.7", 443, 50000, true},
      {"the account service, other port", FirewallPhase::Connected, kNone, kPhys, kTcp, "198.51.100.7", 80, 50000,
       false},
      {"loopback", FirewallPhase::Connected, kNone, kLo, kTcp, "127.0.0.1", 8080, 40000, true},
      {"loopback dns", FirewallPhase::Connected, kNone, kLo, kUdp, "127.0.0.53", 53, 40000, true},
      {"dhcp", FirewallPhase::Connected, kNone, kPhys, kUdp, "255.255.255.255", 67, 68, true},
      {"dhcp port from elsewhere", FirewallPhase::Connected, kNone, kPhys, kUdp, "198.18.0.1", 67, 5000, false},
      {"dhcpv6", FirewallPhase::Connected, kNone, kPhys, kUdp, "ff02::1:2", 547, 546, true},
      {"tunnel resolver", FirewallPhase::Connected, kNone, kTun, kUdp, "10.8.0.1", 53, 40000, true},
      {"tunnel resolver over tcp", FirewallPhase::Connected, kNone, kTun, kTcp, "10.8.0.1", 53, 40000, true},
      {"another resolver through the tunnel", FirewallPhase::Connected, kNone, kTun, kUdp, "8.8.8.8", 53, 40000,
       false},
      {"the LAN's resolver", FirewallPhase::Connected, kNone, kPhys, kUdp, "192.168.77.1", 53, 40000, false},
      {"the LAN's resolver over tcp", FirewallPhase::Connected, kNone, kPhys, kTcp, "192.168.77.1", 53, 40000, false},
      {"a printer on the LAN", FirewallPhase::Connected, kNone, kPhys, kTcp, "192.168.77.20", 631, 40000, true},
      {"LAN not allowed", FirewallPhase::Connected, [](FirewallPolicyInput& in) { in.allowLocalNetwork = false; },
       kPhys, kTcp, "192.168.77.20", 631, 40000, false},
      {"ipv6 web", FirewallPhase::Connected, kNone, kPhys, kTcp, "2001:db8::80", 443, 40000, false},
      {"ipv6 LAN while the tunnel is ipv4 only", FirewallPhase::Connected, kNone, kPhys, kTcp, "fd00:77::20", 631,
       40000, false},
      {"ipv6 LAN with an ipv6 tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.tunnelNetworks.push_back(N("fd99::/64")); }, kPhys, kTcp, "fd00:77::20",
       631, 40000, true},
      {"neighbour discovery", FirewallPhase::Connected, kNone, kPhys, kIcmp, "ff02::1:ff00:1", 0, 0, true},
      {"link-local ipv6", FirewallPhase::Connected, kNone, kPhys, kIcmp, "fe80::1", 0, 0, true},
      {"a listed network around the tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.bypassNetworks = {N("172.16.0.0/12")}; }, kPhys, kTcp, "172.20.1.1", 22,
       40000, true},
      {"next to the listed network", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.bypassNetworks = {N("172.16.0.0/12")}; }, kPhys, kTcp, "172.32.1.1", 22,
       40000, false},
      {"a server given by ipv6", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.server = {A("2001:db8::5"), FirewallProtocol::Tcp, 443}; }, kPhys, kTcp,
       "2001:db8::5", 443, 40000, true},
      {"a dial-up server: its GRE", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.server = {A("203.0.113.5"), FirewallProtocol::Any, 0}; }, kPhys,
       FirewallProtocol::Any, "203.0.113.5", 0, 0, true},
      {"a dial-up server: its IPsec over udp", FirewallPhase::Dropped,
       [](FirewallPolicyInput& in) { in.server = {A("203.0.113.5"), FirewallProtocol::Any, 0}; }, kPhys, kUdp,
       "203.0.113.5", 4500, 4500, true},
      {"a dial-up server: not its neighbour", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.server = {A("203.0.113.5"), FirewallProtocol::Any, 0}; }, kPhys,
       FirewallProtocol::Any, "203.0.113.6", 0, 0, false},
      {"no tunnel resolvers pushed: any through the tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.tunnelDns.clear(); }, kTun, kUdp, "9.9.9.9", 53, 40000, true},
      {"no tunnel resolvers pushed: none around it", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.tunnelDns.clear(); }, kPhys, kUdp, "9.9.9.9", 53, 40000, false},

      // Listed routes: only the listed networks go through the tunnel.
      {"listed: web goes the physical way", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModeListedRoutes;
         in.tunnelRoutes = {N("10.20.0.0/16"), N("10.8.0.1")};
       },
       kPhys, kTcp, "93.184.216.34", 443, 40000, true},
      {"listed: a listed network never around the tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModeListedRoutes;
         in.tunnelRoutes = {N("10.20.0.0/16")};
       },
       kPhys, kTcp, "10.20.3.4", 443, 40000, false},
      {"listed: a listed network through the tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModeListedRoutes;
         in.tunnelRoutes = {N("10.20.0.0/16")};
       },
       kTun, kTcp, "10.20.3.4", 443, 40000, true},
      {"listed: the LAN's resolver stays blocked", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.routeMode = kFirewallRouteModeListedRoutes; }, kPhys, kUdp, "192.168.77.1",
       53, 40000, false},
      {"listed: ipv6 stays blocked", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.routeMode = kFirewallRouteModeListedRoutes; }, kPhys, kTcp, "2001:db8::80",
       443, 40000, false},
      {"per application: a requested host never around the tunnel", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModePerApplication;
         in.tunnelRoutes = {N("93.184.216.34")};
       },
       kPhys, kTcp, "93.184.216.34", 443, 40000, false},
      {"per application: other hosts the physical way", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModePerApplication;
         in.tunnelRoutes = {N("93.184.216.34")};
       },
       kPhys, kTcp, "93.184.216.35", 443, 40000, true},
      {"listed, dropped: a listed network stays closed", FirewallPhase::Dropped,
       [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModeListedRoutes;
         in.tunnelRoutes = {N("10.20.0.0/16")};
       },
       kPhys, kTcp, "10.20.3.4", 443, 40000, false},

      // The other phases.
      {"connecting: web around", FirewallPhase::Connecting, kNone, kPhys, kTcp, "93.184.216.34", 443, 40000, false},
      {"connecting: the server", FirewallPhase::Connecting, kNone, kPhys, kUdp, "203.0.113.5", 1194, 40000, true},
      {"connecting: login", FirewallPhase::Connecting, kNone, kPhys, kTcp, "198.51.100.7", 443, 40000, true},
      {"dropped: web around", FirewallPhase::Dropped, kNone, kPhys, kTcp, "93.184.216.34", 443, 40000, false},
      {"dropped: the LAN's resolver", FirewallPhase::Dropped, kNone, kPhys, kUdp, "192.168.77.1", 53, 40000, false},
      {"dropped: nothing through a device by the tunnel's name", FirewallPhase::Dropped, kNone, kTun, kTcp,
       "93.184.216.34", 443, 40000, false},
      {"dropped: the server, to come back", FirewallPhase::Dropped, kNone, kPhys, kUdp, "203.0.113.5", 1194, 40000,
       true},
      {"dropped: the LAN", FirewallPhase::Dropped, kNone, kPhys, kTcp, "192.168.77.20", 631, 40000, true},
      {"reconnecting: web around", FirewallPhase::Reconnecting, kNone, kPhys, kTcp, "93.184.216.34", 443, 40000,
       false},
      {"reconnecting: login again", FirewallPhase::Reconnecting, kNone, kPhys, kTcp, "198.51.100.7", 443, 40000,
       true},
      {"reconnecting: the new tunnel", FirewallPhase::Reconnecting, kNone, kTun, kTcp, "93.184.216.34", 443, 40000,
       true},
      {"user disconnected: everything flows", FirewallPhase::UserDisconnected, kNone, kPhys, kTcp, "93.184.216.34",
       443, 40000, true},
      {"off: everything flows", FirewallPhase::Off, kNone, kPhys, kUdp, "192.168.77.1", 53, 40000, true},
      {"protection off while connected", FirewallPhase::Connected,
       [](FirewallPolicyInput& in) { in.protectionOn = false; }, kPhys, kTcp, "93.184.216.34", 443, 40000, true},
      {"protection off while dropped", FirewallPhase::Dropped,
       [](FirewallPolicyInput& in) { in.protectionOn = false; }, kPhys, kTcp, "2001:db8::80", 443, 40000, true},
  };
  for (const Case& c : cases) {
    FirewallPolicyInput in = Home(c.phase);
    c.mod(in);
    FirewallRuleSet set = MakeFirewallRules(in);
    FirewallPacket packet{c.interface, c.protocol, A(c.remote), c.remotePort, c.localPort};
    EXPECT_EQ(FirewallPermits(set, packet), c.passes) << c.what;
  }
}

// What holds for every rule of every phase and mode, whatever the input:
// what an implementation relies on to write them.
TEST(FirewallPolicy, RulesAreWellFormed) {
  struct Case {
    const char* what;
    Mod mod;
  } inputs[] = {
      {"home", kNone},
      {"listed", [](FirewallPolicyInput& in) {
         in.routeMode = kFirewallRouteModeListedRoutes;
         in.tunnelRoutes = {N("10.20.0.0/16"), N("2001:db8:1::/48")};
       }},
      {"no names", [](FirewallPolicyInput& in) {
         in.tunnelInterfaceName.clear();
         in.tunnelIfIndex = 0;
         in.physicalInterfaceName.clear();
       }},
      {"unknown server", [](FirewallPolicyInput& in) { in.server = {}; in.serviceHosts = {{}}; }},
      {"odd dns", [](FirewallPolicyInput& in) { in.tunnelDns = {IpAddress{}, A("fd99::1")}; }},
  };
  const FirewallPhase phases[] = {FirewallPhase::Off,     FirewallPhase::Connecting,   FirewallPhase::Connected,
                                  FirewallPhase::Dropped, FirewallPhase::Reconnecting, FirewallPhase::UserDisconnected};
  for (const Case& c : inputs) {
    for (FirewallPhase phase : phases) {
      FirewallPolicyInput in = Home(phase);
      c.mod(in);
      FirewallRuleSet set = MakeFirewallRules(in);
      std::string where = std::string(c.what) + " phase " + std::to_string(static_cast<int>(phase));
      bool open = phase == FirewallPhase::Off || phase == FirewallPhase::UserDisconnected;
      EXPECT_EQ(set.rules.empty(), open) << where;
      EXPECT_EQ(set.phase, phase) << where;
      EXPECT_EQ(set.tunnelInterfaceName, in.tunnelInterfaceName) << where;
      if (open) continue;
      // Closed phases end in a block of everything.
      const FirewallRule& last = set.rules.back();
      EXPECT_EQ(last.action, FirewallAction::Block) << where;
      EXPECT_FALSE(last.hasRemote) << where;
      EXPECT_EQ(last.family, 0) << where;
      EXPECT_EQ(last.protocol, FirewallProtocol::Any) << where;
      for (const FirewallRule& rule : set.rules) {
        if (rule.remotePort || rule.localPort) {
          EXPECT_TRUE(rule.protocol == FirewallProtocol::Tcp || rule.protocol == FirewallProtocol::Udp)
              << where << " " << rule.why;
        }
        if (rule.hasRemote) {
          EXPECT_TRUE(rule.remote.address.family == 4 || rule.remote.address.family == 6) << where << " " << rule.why;
          EXPECT_EQ(rule.family, rule.remote.address.family) << where << " " << rule.why;
        }
        if (rule.interface == FirewallInterface::Tunnel) {
          EXPECT_NE(phase, FirewallPhase::Dropped) << where << " " << rule.why;
          EXPECT_FALSE(in.tunnelInterfaceName.empty() && in.tunnelIfIndex == 0) << where << " " << rule.why;
        }
        EXPECT_FALSE(rule.why.empty()) << where;
      }
    }
  }
}

}  // namespace
