#include <gtest/gtest.h>

#include "routing/firewall_linux.h"

namespace {

FirewallRule Rule(FirewallAction action, FirewallInterface interface, int family, FirewallProtocol protocol,
                  const char* remote, std::uint16_t remotePort, std::uint16_t localPort, const char* why) {
  FirewallRule rule{action, interface, family, protocol};
  if (remote) {
    rule.hasRemote = true;
    EXPECT_TRUE(ParseIpNetwork(remote, rule.remote));
    rule.family = rule.remote.address.family;
  }
  rule.remotePort = remotePort;
  rule.localPort = localPort;
  rule.why = why;
  return rule;
}

constexpr auto kPermit = FirewallAction::Permit;
constexpr auto kBlock = FirewallAction::Block;

TEST(NftablesScript, OneLinePerRule) {
  struct Case {
    const char* what;
    FirewallRule rule;
    const char* tunnel;
    const char* physical;
    const char* line;  // empty: the rule is left out
  } cases[] = {
      {"loopback", Rule(kPermit, FirewallInterface::Loopback, 0, FirewallProtocol::Any, nullptr, 0, 0, "loopback"),
       "tun0", "", "oifname \"lo\" counter accept comment \"loopback\""},
      {"server endpoint", Rule(kPermit, FirewallInterface::Any, 0, FirewallProtocol::Udp, "203.0.113.5", 1194, 0, "vpn server"),
       "tun0", "", "ip daddr 203.0.113.5/32 meta l4proto udp udp dport 1194 counter accept comment \"vpn server\""},
      {"dhcp", Rule(kPermit, FirewallInterface::Physical, 4, FirewallProtocol::Udp, nullptr, 67, 68, "dhcp"), "tun0",
       "eth0", "oifname \"eth0\" meta nfproto ipv4 meta l4proto udp udp sport 68 udp dport 67 counter accept comment \"dhcp\""},
      {"physical unnamed", Rule(kPermit, FirewallInterface::Physical, 0, FirewallProtocol::Any, "192.168.77.0/24", 0, 0, "local network"),
       "tun0", "", "oifname != { \"lo\", \"tun0\" } ip daddr 192.168.77.0/24 counter accept comment \"local network\""},
      {"physical, no tunnel", Rule(kPermit, FirewallInterface::Physical, 6, FirewallProtocol::Any, "fe80::/10", 0, 0, "ipv6 link-local"),
       "", "", "oifname != \"lo\" ip6 daddr fe80::/10 counter accept comment \"ipv6 link-local\""},
      {"tcp dns blocked", Rule(kBlock, FirewallInterface::Any, 0, FirewallProtocol::Tcp, nullptr, 53, 0, "other dns"),
       "tun0", "", "meta l4proto tcp tcp dport 53 counter drop comment \"other dns\""},
      {"ipv6 blocked", Rule(kBlock, FirewallInterface::Any, 6, FirewallProtocol::Any, nullptr, 0, 0, "ipv6 around the tunnel"),
       "tun0", "", "meta nfproto ipv6 counter drop comment \"ipv6 around the tunnel\""},
      {"icmp both families", Rule(kBlock, FirewallInterface::Any, 0, FirewallProtocol::Icmp, nullptr, 0, 0, "x"), "tun0", "",
       "meta l4proto { icmp, ipv6-icmp } counter drop comment \"x\""},
      {"icmpv6", Rule(kBlock, FirewallInterface::Any, 6, FirewallProtocol::Icmp, nullptr, 0, 0, "x"), "tun0", "",
       "meta nfproto ipv6 meta l4proto ipv6-icmp counter drop comment \"x\""},
      {"comment kept to plain words", Rule(kBlock, FirewallInterface::Any, 0, FirewallProtocol::Any, nullptr, 0, 0, "a\"b;c"),
       "tun0", "", "counter drop comment \"a b c\""},
      {"tunnel", Rule(kPermit, FirewallInterface::Tunnel, 0, FirewallProtocol::Any, nullptr, 0, 0, "tunnel"), "tun0", "",
       "oifname \"tun0\" counter accept comment \"tunnel\""},
      {"tunnel unknown: left out", Rule(kPermit, FirewallInterface::Tunnel, 0, FirewallProtocol::Any, nullptr, 0, 0, "tunnel"),
       "", "", ""},
  };
  for (const Case& c : cases) {
    FirewallRuleSet set;
    set.phase = FirewallPhase::Connected;
    set.tunnelInterfaceName = c.tunnel;
    set.physicalInterfaceName = c.physical;
    set.rules = {c.rule};
    std::string script = MakeNftablesScript(set, "quillnet");
    std::string head =
        "add table inet quillnet\ndelete table inet quillnet\ntable inet quillnet {\n  chain output {\n"
        "    type filter hook output priority filter; policy accept;\n";
    std::string expected = head + (*c.line ? std::string("    ") + c.line + "\n" : "") + "  }\n}\n";
    EXPECT_EQ(script, expected) << c.what;
  }
}

TEST(NftablesScript, RefusesNamesThatAreNoInterface) {
  struct Case {
    const char* tunnel;
    const char* physical;
    const char* table;
    bool written;
  } cases[] = {
      {"tun0", "eth0", "quillnet", true},
      {"tun0", "", "quillnet", true},
      {"", "", "quillnet", true},
      {"vpn_1.2-x", "enp0s31f6", "quillnet", true},
      {"tun0\" accept; flush ruleset; \"", "", "quillnet", false},
      {"tun0", "eth 0", "quillnet", false},
      {"a23456789012345x", "", "quillnet", false},  // longer than the kernel takes
      {"tun0", "eth0\n", "quillnet", false},
      {"tun0", "eth0", "quillnet; flush ruleset", false},
      {"tun0", "eth0", "", false},
  };
  for (const Case& c : cases) {
    FirewallRuleSet set;
    set.tunnelInterfaceName = c.tunnel;
    set.physicalInterfaceName = c.physical;
    set.rules = {Rule(kBlock, FirewallInterface::Any, 0, FirewallProtocol::Any, nullptr, 0, 0, "everything else")};
    EXPECT_EQ(!MakeNftablesScript(set, c.table).empty(), c.written) << c.tunnel << "|" << c.physical << "|" << c.table;
  }
}

TEST(NftablesScript, AnEmptySetOnlyRemoves) {
  FirewallRuleSet set;
  set.tunnelInterfaceName = "tun0";
  EXPECT_EQ(MakeNftablesScript(set, "qtest"), "add table inet qtest\ndelete table inet qtest\n");
}

}  // namespace
