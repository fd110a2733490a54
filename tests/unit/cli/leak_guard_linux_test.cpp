#include "cli/leak_guard.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

InterfaceAddress If(const char* name, const char* address, int prefix, bool loopback = false) {
  InterfaceAddress a;
  a.name = name;
  EXPECT_TRUE(ParseIpAddress(address, a.address)) << address;
  a.prefixLength = prefix;
  a.loopback = loopback;
  return a;
}

std::vector<std::string> Texts(const std::vector<IpNetwork>& networks) {
  std::vector<std::string> out;
  for (const IpNetwork& n : networks) out.push_back(FormatIpNetwork(n));
  return out;
}

LeakGuardFacts Connected() {
  LeakGuardFacts f;
  f.phase = FirewallPhase::Connected;
  f.serverHost = L"10.99.0.1";
  f.openVpnParams = L"udp,1194";
  f.localIp = L"10.8.0.6";
  f.dns = {L"10.8.0.1", L"not an address"};
  f.interfaces = {If("lo", "127.0.0.1", 8, true), If("lo", "::1", 128, true), If("eth0", "10.99.0.2", 24),
                  If("eth0", "fe80::1", 64), If("eth0", "2001:db8:5::2", 64), If("tap0", "10.8.0.6", 24),
                  If("tap0", "fe80::a8bb:ccff:fedd:eeff", 64)};  // every device has one: no IPv6 tunnel
  return f;
}

using Mod = std::function<void(LeakGuardFacts&)>;

TEST(LeakGuardInput, FromTheConnectionAndTheInterfaces) {
  struct Case {
    const char* what;
    Mod mod;
    const char* tunnel;
    std::vector<std::string> tunnelNetworks;
    std::vector<std::string> physical;
    const char* server;  // address, or empty when unknown
    FirewallProtocol protocol;
    std::uint16_t port;
    std::vector<std::string> bypass;
    std::vector<std::string> tunnelRoutes;
  } cases[] = {
      {"connected", [](LeakGuardFacts&) {}, "tap0", {"10.8.0.0/24"}, {"10.99.0.0/24", "2001:db8:5::/64"},
       "10.99.0.1", FirewallProtocol::Udp, 1194, {}, {}},
      {"before the tunnel is up", [](LeakGuardFacts& f) { f.localIp.clear(); }, "", {},
       {"10.99.0.0/24", "2001:db8:5::/64", "10.8.0.0/24"}, "10.99.0.1", FirewallProtocol::Udp, 1194, {}, {}},
      {"a local address no interface holds", [](LeakGuardFacts& f) { f.localIp = L"10.8.0.7"; }, "", {},
       {"10.99.0.0/24", "2001:db8:5::/64", "10.8.0.0/24"}, "10.99.0.1", FirewallProtocol::Udp, 1194, {}, {}},
      {"tcp on another port", [](LeakGuardFacts& f) { f.openVpnParams = L"tcp,443,--cipher AES-256-GCM"; }, "tap0",
       {"10.8.0.0/24"}, {"10.99.0.0/24", "2001:db8:5::/64"}, "10.99.0.1", FirewallProtocol::Tcp, 443, {}, {}},
      {"no port given", [](LeakGuardFacts& f) { f.openVpnParams = L"udp"; }, "tap0", {"10.8.0.0/24"},
       {"10.99.0.0/24", "2001:db8:5::/64"}, "10.99.0.1", FirewallProtocol::Udp, 1194, {}, {}},
      {"a port out of range", [](LeakGuardFacts& f) { f.openVpnParams = L"udp,99999"; }, "tap0", {"10.8.0.0/24"},
       {"10.99.0.0/24", "2001:db8:5::/64"}, "10.99.0.1", FirewallProtocol::Udp, 1194, {}, {}},
      {"a server host that is no address", [](LeakGuardFacts& f) { f.serverHost = L"vpn.example\x2028"; }, "tap0",
       {"10.8.0.0/24"}, {"10.99.0.0/24", "2001:db8:5::/64"}, "", FirewallProtocol::Udp, 0, {}, {}},
      {"default gateway: listed routes go around",
       [](LeakGuardFacts& f) {
         f.routeMode = kFirewallRouteModeDefaultGateway;
         f.routes = {L"172.16.0.0 mask 255.240.0.0", L"192.0.2.7/32", L"junk", L"10.0.0.0 mask 255.0.255.0"};
       },
       "tap0", {"10.8.0.0/24"}, {"10.99.0.0/24", "2001:db8:5::/64"}, "10.99.0.1", FirewallProtocol::Udp, 1194,
       {"172.16.0.0/12", "192.0.2.7/32"}, {}},  // a mask with a gap is no route
      {"listed routes go through",
       [](LeakGuardFacts& f) {
         f.routeMode = kFirewallRouteModeListedRoutes;
         f.routes = {L"198.51.100.0/24"};
       },
       "tap0", {"10.8.0.0/24"}, {"10.99.0.0/24", "2001:db8:5::/64"}, "10.99.0.1", FirewallProtocol::Udp, 1194, {},
       {"198.51.100.0/24"}},
  };
  for (const Case& c : cases) {
    LeakGuardFacts f = Connected();
    c.mod(f);
    FirewallPolicyInput in = MakeLeakGuardInput(f);
    EXPECT_EQ(in.tunnelInterfaceName, c.tunnel) << c.what;
    EXPECT_EQ(Texts(in.tunnelNetworks), c.tunnelNetworks) << c.what;
    EXPECT_EQ(Texts(in.physicalNetworks), c.physical) << c.what;
    EXPECT_EQ(FormatIpAddress(in.server.address), c.server) << c.what;
    if (*c.server) {
      EXPECT_EQ(in.server.protocol, c.protocol) << c.what;
      EXPECT_EQ(in.server.port, c.port) << c.what;
    }
    EXPECT_EQ(Texts(in.bypassNetworks), c.bypass) << c.what;
    EXPECT_EQ(Texts(in.tunnelRoutes), c.tunnelRoutes) << c.what;
    ASSERT_EQ(in.tunnelDns.size(), 1u) << c.what;
    EXPECT_EQ(FormatIpAddress(in.tunnelDns[0]), "10.8.0.1") << c.what;
  }
}

TEST(LeakGuardInput, TheServiceHostOfABaseUrl) {
  struct Case {
    const wchar_t* url;
    const char* host;
  } cases[] = {
      {L"http://127.0.0.1:8080/", "127.0.0.1"},
      {L"https://login.example.net/client/", "login.example.net"},
      {L"https://login.example.net", "login.example.net"},
      {L"http://[2001:db8::7]:8443/x", "2001:db8::7"},
      {L"https://198.51.100.7?x=1", "198.51.100.7"},
      {L"ftp://198.51.100.7/", ""},
      {L"198.51.100.7", ""},
      {L"http://user@198.51.100.7/", ""},
      {L"http://bad host/", ""},
      {L"http://host;rm -rf/", ""},
      {L"http://h\x00e9te/", ""},
      {L"http://[2001:db8::7/", ""},
      {L"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlHost(c.url), c.host) << std::string(c.host);
  // A literal address needs no resolver.
  const std::vector<FirewallEndpoint> hosts = ResolveServiceHosts(L"http://127.0.0.1:8080/");
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(FormatIpAddress(hosts[0].address), "127.0.0.1");
  EXPECT_EQ(hosts[0].protocol, FirewallProtocol::Tcp);
  EXPECT_EQ(hosts[0].port, 0);
  EXPECT_TRUE(ResolveServiceHosts(L"not a url").empty());
}

// A recording packet filter: what the guard asked of it.
class CRecordingFirewall : public IFirewall {
 public:
  std::uint32_t Apply(const FirewallRuleSet& rules) override {
    calls.push_back(rules.rules.empty() ? "remove" : "apply");
    if (failNext) {
      failNext = false;
      return 1;
    }
    present = !rules.rules.empty();
    return 0;
  }
  std::uint32_t Remove() override {
    calls.push_back("remove");
    present = false;
    return 0;
  }
  bool Present() override { return present; }
  std::vector<std::string> calls;
  bool present = false;
  bool failNext = false;
};

TEST(LeakGuard, ChangesTheRulesOnlyWhenTheyChange) {
  auto owned = std::make_unique<CRecordingFirewall>();
  CRecordingFirewall& fw = *owned;
  fw.present = true;  // an earlier run's block
  CLeakGuard guard(std::move(owned));
  EXPECT_NE(guard.ClearLeftover(), L"");
  struct Step {
    const char* what;
    FirewallPhase phase;
    bool protection;
    bool fail;
    std::vector<std::string> calls;
    bool present;
  } steps[] = {
      {"connecting", FirewallPhase::Connecting, true, false, {"apply"}, true},
      {"connecting again: nothing new", FirewallPhase::Connecting, true, false, {}, true},
      {"connected", FirewallPhase::Connected, true, false, {"apply"}, true},
      {"connected again", FirewallPhase::Connected, true, false, {}, true},
      {"dropped, refused by the system", FirewallPhase::Dropped, true, true, {"apply"}, true},
      {"dropped, tried again", FirewallPhase::Dropped, true, false, {"apply"}, true},
      {"user disconnect", FirewallPhase::UserDisconnected, true, false, {"remove"}, false},
      {"user disconnect again: nothing to lift", FirewallPhase::UserDisconnected, true, false, {}, false},
      {"protection off", FirewallPhase::Connected, false, false, {}, false},
  };
  for (const Step& s : steps) {
    fw.calls.clear();
    fw.failNext = s.fail;
    LeakGuardFacts f = Connected();
    f.phase = s.phase;
    f.leakProtection = s.protection;
    if (s.phase == FirewallPhase::Connecting) f.localIp.clear();  // no tunnel yet
    guard.Update(f);
    EXPECT_EQ(fw.calls, s.calls) << s.what;
    EXPECT_EQ(fw.present, s.present) << s.what;
    EXPECT_EQ(guard.Failed(), s.fail) << s.what;
  }
}

}  // namespace
