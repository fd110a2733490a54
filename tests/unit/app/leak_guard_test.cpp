#include "app/leak_guard.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "fakes/fake_forward_table.h"
#include "fakes/quiet_connect_system.h"
#include "fakes/test_vpn.h"
#include "platform/clock.h"
#include "text/text_table.h"

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

// openvpn goes to its server through the user's proxy: protection must not
// block the only way out the tunnel has.
TEST(LeakGuardInput, TheProxyIsReachedAroundTheTunnel) {
  struct Case {
    const char* what;
    const wchar_t* proxy;
    bool reachable;
  } cases[] = {
      {"no proxy", L"", false},
      {"a proxy address", L"192.0.2.80", true},
      {"a proxy that is no address", L"proxy.example;x", false},
  };
  for (const Case& c : cases) {
    for (const FirewallPhase phase : {FirewallPhase::Connecting, FirewallPhase::Connected, FirewallPhase::Dropped}) {
      LeakGuardFacts f = Connected();
      f.phase = phase;
      f.proxyServer = c.proxy;
      const FirewallRuleSet rules = MakeFirewallRules(MakeLeakGuardInput(f));
      for (const auto& [protocol, port] : {std::pair{FirewallProtocol::Tcp, 8080}, {FirewallProtocol::Udp, 40001}}) {
        FirewallPacket packet;
        packet.protocol = protocol;
        ASSERT_TRUE(ParseIpAddress("192.0.2.80", packet.remote));
        packet.remotePort = static_cast<std::uint16_t>(port);
        packet.localPort = 50000;
        EXPECT_EQ(FirewallPermits(rules, packet), c.reachable) << c.what << " port " << port;
      }
    }
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

TEST(LeakGuard, TheSameRulesAreSetAgainWhenTheyMustOutliveTheProcess) {
  // No tunnel device found: every phase's rules read alike, yet only the
  // connected ones may vanish with the process.
  auto owned = std::make_unique<CRecordingFirewall>();
  CRecordingFirewall& fw = *owned;
  CLeakGuard guard(std::move(owned));
  struct Step {
    FirewallPhase phase;
    std::vector<std::string> calls;
  } steps[] = {
      {FirewallPhase::Connecting, {"apply"}},   {FirewallPhase::Reconnecting, {}}, {FirewallPhase::Connected, {"apply"}},
      {FirewallPhase::Connected, {}},           {FirewallPhase::Dropped, {"apply"}}, {FirewallPhase::Reconnecting, {}},
  };
  for (const Step& s : steps) {
    fw.calls.clear();
    LeakGuardFacts f = Connected();
    f.localIp.clear();
    f.phase = s.phase;
    guard.Update(f);
    EXPECT_EQ(fw.calls, s.calls) << static_cast<int>(s.phase);
  }
}

// --- the guard driven by the connect flow ------------------------------------

namespace {

// A tunnel the test brings up and drops.
class CGuardedVpn : public CTestVpn {
 public:
  CGuardedVpn(IForwardTable& table, std::int32_t kind, bool startFails)
      : CTestVpn(table, nullptr, kind), startFails_(startFails) {}
  std::int32_t Start() override {
    const std::int32_t result = CGeneralVpn::Start();
    if (result != 0 || !startFails_) return result;
    StoreState(GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_CONNECT, 0);
    return GENERAL_VPN_ERROR_CONNECT;
  }
  std::int32_t GetStatistics(std::uint32_t& s, std::uint32_t& r) override {
    s = r = 0;
    return lost ? 1 : 0;
  }
  bool lost = false;

 private:
  bool startFails_;
};

class CGuardedFactory : public IConnectionFactory {
 public:
  explicit CGuardedFactory(IForwardTable& table) : table_(table) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo& server) override {
    auto vpn = std::make_unique<CGuardedVpn>(table_, type, failingHosts.count(server.host) != 0);
    made.push_back(vpn.get());
    return vpn;
  }
  std::vector<CGuardedVpn*> made;
  std::map<std::wstring, bool> failingHosts;

 private:
  IForwardTable& table_;
};

class CGuardedView : public IConnectView {
 public:
  void SetStatusLine(const std::wstring& text) override { status = text; }
  void EnableConnect(bool) override {}
  void EnableDisconnect(bool enabled) override { disconnectEnabled = enabled; }
  void SetTrayIcon(int) override {}
  void ShowBalloon(const std::wstring&) override {}
  void ShowMainWindow(bool) override {}
  bool AskYesNo(const std::wstring&, BoxIcon, bool) override { return true; }
  void ShowBox(const std::wstring& text, BoxIcon) override { boxes.push_back(text); }
  void ShowAccelerateDialog() override {}
  void DestroyAccelerateDialog() override {}
  void DestroyWindow() override {}
  void RunBlocked(IOperation&, std::uint32_t) override {}
  std::wstring status;
  std::vector<std::wstring> boxes;
  bool disconnectEnabled = false;
};

using CGuardedSystem = CQuietConnectSystem;

class CGuardClock : public IClock {
 public:
  Tick Now() override { return now; }
  void Sleep(std::uint32_t ms) override { now += ms; }
  Tick now = 5000;
};

// Says of each change the phase, the server's endpoint the rules let
// through and the tunnel's interface index.
class CDescribingFirewall : public IFirewall {
 public:
  std::uint32_t Apply(const FirewallRuleSet& set) override {
    if (set.rules.empty()) return Remove();
    std::string line = "apply " + std::string(PhaseText(set.phase));
    for (const FirewallRule& rule : set.rules) {
      if (rule.why != "vpn server") continue;
      line += " " + FormatIpNetwork(rule.remote) + " " + ProtocolText(rule.protocol) + ":" +
              std::to_string(rule.remotePort);
    }
    line += " if " + std::to_string(set.tunnelIfIndex);
    calls.push_back(line);
    return refuse ? 0x80320001u : 0;
  }
  std::uint32_t Remove() override {
    calls.push_back("remove");
    return 0;
  }
  bool Present() override { return false; }
  std::string LastError() const override { return "refused"; }
  std::vector<std::string> calls;
  bool refuse = false;

 private:
  static const char* PhaseText(FirewallPhase p) {
    switch (p) {
      case FirewallPhase::Connecting: return "connecting";
      case FirewallPhase::Connected: return "connected";
      case FirewallPhase::Dropped: return "dropped";
      case FirewallPhase::Reconnecting: return "reconnecting";
      default: return "other";
    }
  }
  static const char* ProtocolText(FirewallProtocol p) {
    return p == FirewallProtocol::Tcp ? "tcp" : p == FirewallProtocol::Udp ? "udp" : "any";
  }
};

VpnServerInfo GuardedServer(std::int32_t id, const wchar_t* openVpn, std::int32_t speed) {
  VpnServerInfo s;
  s.id = id;
  s.host = L"203.0.113." + std::to_wstring(id);
  s.protocols = L"openvpn,pptp,l2tp";
  s.openVpn = openVpn;
  s.icmpResult = s.udpResult = speed;
  return s;
}

// The machine's interfaces (the tunnel's, index 9, only while it is up),
// the account service's one host, and the failures reported.
CFlowLeakGuard::Sources TestSources(bool& tunnelUp, int& resolves, std::vector<std::wstring>& failures) {
  CFlowLeakGuard::Sources sources;
  sources.interfaces = [&tunnelUp] {
    std::vector<InterfaceAddress> list = {If("lo", "127.0.0.1", 8, true), If("eth0", "192.168.77.2", 24)};
    list[1].ifIndex = 2;
    if (tunnelUp) {
      list.push_back(If("tap", "10.8.0.6", 24));
      list.back().ifIndex = 9;
    }
    return list;
  };
  sources.serviceHosts = [&resolves] {
    ++resolves;
    FirewallEndpoint e;
    ParseIpAddress("198.51.100.7", e.address);
    return std::vector<FirewallEndpoint>{e};
  };
  sources.report = [&failures](const std::wstring& line, bool failed) {
    if (failed) failures.push_back(line);
  };
  return sources;
}

enum class Act { Connect, Up, Drop, Wait, Disconnect, Exit };

struct GuardStep {
  Act act;
  std::vector<std::string> calls;  // what the firewall was asked during the step
};

struct GuardScenario {
  const char* what;
  std::int32_t type = 3;
  bool protection = true;
  bool reconnect = true;
  bool refuse = false;
  std::vector<std::wstring> failingHosts;
  std::vector<GuardStep> steps;
  int finalPhase = kPhaseIdle;
  bool disconnectEnabled = false;
  std::size_t boxes = 0;  // the flow's own, a drop's detail box
};

TEST(FlowLeakGuard, EachPhaseOfTheFlowPutsItsRulesInForce) {
  LoadTextTable();
  const std::string first = "203.0.113.5/32 udp:1194";
  const std::string next = "203.0.113.8/32 tcp:443";
  const GuardScenario scenarios[] = {
      {"connect, drop, reconnect, disconnect",
       3, true, true, false, {},
       {{Act::Connect, {"apply connecting " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}},
        // Reconnecting before the new tunnel is up is the dropped block again.
        {Act::Drop, {"apply dropped " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}},
        {Act::Disconnect, {"remove"}}},
       kPhaseIdle, false},
      {"the dropped server keeps failing: the next one's endpoint",
       3, true, true, false, {L"203.0.113.5"},
       // The first connect goes through: only later attempts fail.
       {{Act::Connect, {"apply connecting " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}},
        {Act::Drop, {"apply dropped " + first + " if 0"}},
        {Act::Wait, {"apply reconnecting " + next + " if 0"}},
        {Act::Up, {"apply connected " + next + " if 9"}},
        {Act::Exit, {"remove"}}},
       kPhaseIdle, false},
      {"no reconnect: the block stays until Disconnect",
       3, true, false, false, {},
       {{Act::Connect, {"apply connecting " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}},
        {Act::Drop, {"apply dropped " + first + " if 0"}},
        {Act::Disconnect, {"remove"}}},
       kPhaseIdle, false, 1},
      {"a dial-up tunnel: the server whatever the protocol",
       2, true, true, false, {},
       {{Act::Connect, {"apply connecting 203.0.113.5/32 any:0 if 0"}},
        {Act::Up, {"apply connected 203.0.113.5/32 any:0 if 9"}},
        {Act::Exit, {"remove"}}},
       kPhaseIdle, false},
      {"exit while reconnecting lifts the block",
       3, true, true, false, {},
       {{Act::Connect, {"apply connecting " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}},
        {Act::Drop, {"apply dropped " + first + " if 0"}},
        {Act::Exit, {"remove"}}},
       kPhaseIdle, false},
      {"protection off: no rules at all",
       3, false, true, false, {},
       {{Act::Connect, {}}, {Act::Up, {}}, {Act::Drop, {}}, {Act::Up, {}}, {Act::Disconnect, {}}},
       kPhaseIdle, false},
      {"the system refuses every change: the tunnel still comes up",
       3, true, true, true, {},
       {{Act::Connect, {"apply connecting " + first + " if 0"}},
        {Act::Up, {"apply connected " + first + " if 9"}}},
       kPhaseConnected, true},
  };
  for (const GuardScenario& sc : scenarios) {
    SCOPED_TRACE(sc.what);
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    CMessageQueue queue;
    CGuardedView view;
    CGuardedFactory factory(table);
    CGuardedSystem system;
    CGuardClock clock;
    auto owned = std::make_unique<CDescribingFirewall>();
    CDescribingFirewall& firewall = *owned;
    firewall.refuse = sc.refuse;
    bool tunnelUp = false;
    int resolves = 0;
    std::vector<std::wstring> failures;
    CFlowLeakGuard guard(std::move(owned), TestSources(tunnelUp, resolves, failures));
    guard.SetChoices(sc.protection, true);
    CConnectController flow(queue, view, factory, system, clock);
    flow.SetTunnelGuard(&guard);
    flow.SetReconnect(sc.reconnect);
    auto pump = [&] {
      while (auto message = queue.TryTake()) flow.OnMessage(*message);
    };
    auto tick = [&](int seconds) {
      for (int i = 0; i < seconds; ++i) {
        clock.now += 1000;
        flow.OnMonitorTick();
        pump();
      }
    };
    for (std::size_t i = 0; i < sc.steps.size(); ++i) {
      const GuardStep& step = sc.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      firewall.calls.clear();
      switch (step.act) {
        case Act::Connect: {
          ConnectPlan plan;
          plan.server = GuardedServer(5, L"udp,1194", 40);
          plan.alternates = {{5, plan.server}, {8, GuardedServer(8, L"tcp,443", 60)},
                             {9, GuardedServer(9, L"udp,1194", 90)}};
          plan.routeMode = kFirewallRouteModeDefaultGateway;
          plan.routeDefiner = 1;
          plan.vpnTypes = {sc.type};
          flow.StartConnect(plan);
          pump();
          for (const std::wstring& host : sc.failingHosts) factory.failingHosts[host] = true;
          break;
        }
        case Act::Up:
          tunnelUp = true;
          factory.made.back()->Learn(L"10.8.0.6");
          factory.made.back()->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
          pump();
          break;
        case Act::Drop:
          tunnelUp = false;
          factory.made.back()->lost = true;
          tick(1);
          break;
        case Act::Wait:
          // Two more failed attempts on the dropped server, then the next.
          tick(3);
          break;
        case Act::Disconnect:
          flow.OnDisconnect();
          break;
        case Act::Exit:
          flow.ExitClient();
          break;
      }
      EXPECT_EQ(firewall.calls, step.calls);
    }
    EXPECT_EQ(flow.Phase(), sc.finalPhase);
    EXPECT_EQ(view.disconnectEnabled, sc.disconnectEnabled);
    EXPECT_EQ(resolves, sc.protection ? 1 : 0) << "the service's hosts are found once, before the first block";
    EXPECT_EQ(failures.empty(), !sc.refuse);
    EXPECT_EQ(view.boxes.size(), sc.boxes) << "protection shows no box of its own";
  }
}

TEST(FlowLeakGuard, ABlockLeftAfterADropIsSaidAndLiftedByDisconnect) {
  LoadTextTable();
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  CMessageQueue queue;
  CGuardedView view;
  CGuardedFactory factory(table);
  CGuardedSystem system;
  CGuardClock clock;
  auto owned = std::make_unique<CDescribingFirewall>();
  CDescribingFirewall& firewall = *owned;
  bool tunnelUp = true;
  int resolves = 0;
  std::vector<std::wstring> failures;
  CFlowLeakGuard guard(std::move(owned), TestSources(tunnelUp, resolves, failures));
  CConnectController flow(queue, view, factory, system, clock);
  flow.SetTunnelGuard(&guard);
  flow.SetReconnect(false);
  ConnectPlan plan;
  plan.server = GuardedServer(5, L"udp,1194", 40);
  plan.vpnTypes = {3};
  flow.StartConnect(plan);
  factory.made.back()->Learn(L"10.8.0.6");
  factory.made.back()->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  while (auto message = queue.TryTake()) flow.OnMessage(*message);
  ASSERT_EQ(flow.Phase(), kPhaseConnected);
  factory.made.back()->lost = true;
  tunnelUp = false;
  clock.now += 1000;
  flow.OnMonitorTick();
  EXPECT_EQ(flow.Phase(), kPhaseIdle);
  EXPECT_TRUE(flow.BlockedAfterDrop());
  EXPECT_TRUE(view.disconnectEnabled) << "Disconnect is how the block is lifted";
  EXPECT_EQ(view.status, GetText("DisconnectedTrafficBlocked"));
  EXPECT_EQ(firewall.calls.back(), "apply dropped 203.0.113.5/32 udp:1194 if 0");
  flow.OnDisconnect();
  EXPECT_FALSE(flow.BlockedAfterDrop());
  EXPECT_FALSE(view.disconnectEnabled);
  EXPECT_EQ(firewall.calls.back(), "remove");
  // A connect that never comes up lifts its own block again.
  factory.failingHosts[plan.server.host] = true;
  firewall.calls.clear();
  flow.StartConnect(plan);
  EXPECT_EQ(firewall.calls, (std::vector<std::string>{"apply connecting 203.0.113.5/32 udp:1194 if 0", "remove"}));
}

}  // namespace
