#include "app/reconnect.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/connect_controller.h"
#include "fakes/fake_forward_table.h"
#include "fakes/quiet_connect_system.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"

namespace {

TEST(ReconnectPause, GrowsFromNothingToItsBound) {
  const struct {
    int attempt;
    std::uint32_t pauseMs;
  } cases[] = {{0, 0}, {1, 1000}, {2, 2000}, {3, 4000}, {5, 16000}, {6, 30000}, {9, 30000}, {40, 30000}};
  for (const auto& c : cases) EXPECT_EQ(ReconnectPause(c.attempt), c.pauseMs) << "attempt " << c.attempt;
}

VpnServerInfo Server(std::int32_t id, std::int32_t icmp, std::int32_t udp) {
  VpnServerInfo s;
  s.id = id;
  s.host = L"198.51.100." + std::to_wstring(id);
  s.protocols = L"openvpn";
  s.icmpResult = icmp;
  s.udpResult = udp;
  return s;
}

TEST(OrderReconnectServers, DroppedFirstThenMeasuredFastestThenTheRestById) {
  const struct {
    const char* name;
    std::vector<VpnServerInfo> others;
    std::vector<std::int32_t> order;
  } cases[] = {
      {"alone", {}, {7}},
      {"the dropped one is not listed twice", {Server(7, 5, 5)}, {7}},
      {"fastest of both probes", {Server(1, 90, 80), Server(2, 200, 30), Server(3, 50, -1)}, {7, 2, 3, 1}},
      {"unmeasured and timed-out after measured",
       {Server(1, kSpeedTimeout, kSpeedTimeout), Server(2, kSpeedToBeTested, kSpeedToBeTested), Server(3, 400, 400)},
       {7, 3, 1, 2}},
      {"equal speeds by id", {Server(9, 20, 20), Server(4, 20, 20)}, {7, 4, 9}},
      {"hidden entries (negative ids) never", {Server(-1, 1, 1), Server(5, 10, 10)}, {7, 5}},
  };
  for (const auto& c : cases) {
    VpnServerMap others;
    for (const VpnServerInfo& s : c.others) others.emplace(s.id, s);
    std::vector<std::int32_t> ids;
    for (const VpnServerInfo& s : OrderReconnectServers(Server(7, 100, 100), others)) ids.push_back(s.id);
    EXPECT_EQ(ids, c.order) << c.name;
  }
}

// One line per step: server index, pause, login first, or "give up".
std::string Describe(const ReconnectStep& step) {
  if (step.giveUp) return "give up";
  return "#" + std::to_string(step.serverIndex) + " after " + std::to_string(step.pauseMs) +
         (step.loginFirst ? " login" : "");
}

TEST(ReconnectPlan, StepsFollowTheServerOrderAndTheGrowingPause) {
  const struct {
    const char* name;
    std::size_t servers;
    std::vector<ReconnectOutcome> outcomes;  // after the drop's first step
    std::vector<std::string> steps;
  } cases[] = {
      {"one server: always it", 1,
       {ReconnectOutcome::Failed, ReconnectOutcome::Failed, ReconnectOutcome::Failed},
       {"#0 after 0", "#0 after 1000", "#0 after 2000", "#0 after 4000"}},
      {"same server twice, then the next fastest, wrapping", 3,
       {ReconnectOutcome::Failed, ReconnectOutcome::Failed, ReconnectOutcome::Failed, ReconnectOutcome::Failed},
       {"#0 after 0", "#0 after 1000", "#1 after 2000", "#2 after 4000", "#0 after 8000"}},
      {"a refusal logs in again before the next attempt only", 2,
       {ReconnectOutcome::Refused, ReconnectOutcome::Failed},
       {"#0 after 0", "#0 after 1000 login", "#1 after 2000"}},
      {"no server at all", 0, {}, {"give up"}},
  };
  for (const auto& c : cases) {
    CReconnectPlan plan;
    std::vector<std::string> steps{Describe(plan.OnDrop(c.servers, 1000))};
    for (ReconnectOutcome outcome : c.outcomes) steps.push_back(Describe(plan.OnAttemptEnded(outcome)));
    EXPECT_EQ(steps, c.steps) << c.name;
  }
}

TEST(ReconnectPlan, GivesUpAfterItsBoundAndSaysSoOnce) {
  CReconnectPlan plan;
  ReconnectStep step = plan.OnDrop(2, 0);
  int attempts = 1;
  std::uint32_t waited = 0;
  while (!(step = plan.OnAttemptEnded(ReconnectOutcome::Failed)).giveUp) {
    ++attempts;
    waited += step.pauseMs;
    ASSERT_LE(attempts, 100) << "never gives up";
  }
  EXPECT_EQ(attempts, kReconnectMaxAttempts);
  EXPECT_LE(waited, 5u * 60u * 1000u) << "bounded in time, too";
  EXPECT_FALSE(plan.Active());
  EXPECT_TRUE(plan.OnAttemptEnded(ReconnectOutcome::Failed).giveUp) << "nothing follows a give-up";
}

TEST(ReconnectPlan, ADropSoonAfterAReconnectContinuesTheSequence) {
  const struct {
    const char* name;
    std::uint32_t upForMs;
    bool stoppedBetween;
    std::string firstStepOfSecondDrop;
  } cases[] = {
      {"flapping: the pause keeps growing", 5000, false, "#1 after 2000"},
      {"up long enough: afresh", kReconnectStableMs, false, "#0 after 0"},
      {"the user stopped in between: afresh", 5000, true, "#0 after 0"},
  };
  for (const auto& c : cases) {
    CReconnectPlan plan;
    plan.OnDrop(3, 100);
    plan.OnAttemptEnded(ReconnectOutcome::Failed);  // second attempt succeeds
    plan.OnConnected(2000);
    if (c.stoppedBetween) {
      plan.Stop();
      plan.OnConnected(2000);  // the user's own connect
    }
    EXPECT_EQ(Describe(plan.OnDrop(3, 2000 + c.upForMs)), c.firstStepOfSecondDrop) << c.name;
  }
}

TEST(ReconnectPlan, TicksWrapping) {
  CReconnectPlan plan;
  plan.OnDrop(2, 0xFFFFF000u);
  plan.OnConnected(0xFFFFF000u);
  // 0x2000 ms later across the wrap: a flap, not a long uptime.
  const ReconnectStep step = plan.OnDrop(2, 0x00001000u);
  EXPECT_EQ(step.attempt, 1);
}

// The connect flow over fake connections.

class CDropVpn : public CTestVpn {
 public:
  CDropVpn(IForwardTable& table, std::wstring host) : CTestVpn(table, nullptr, 3), host(std::move(host)) {}
  std::int32_t Start() override {
    const std::int32_t result = CGeneralVpn::Start();
    if (result != 0 || !startFails) return result;
    StoreState(GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_CONNECT, 0);
    return GENERAL_VPN_ERROR_CONNECT;
  }
  std::int32_t GetStatistics(std::uint32_t& s, std::uint32_t& r) override {
    s = r = 0;
    return statisticsFail ? 1 : 0;
  }
  void Up() {
    Learn(L"10.8.0.6");
    SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  }
  std::wstring host;
  bool startFails = false;
  bool statisticsFail = false;
};

class CDropFactory : public IConnectionFactory {
 public:
  explicit CDropFactory(IForwardTable& table) : table_(table) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t, const VpnServerInfo& server) override {
    auto vpn = std::make_unique<CDropVpn>(table_, server.host);
    vpn->startFails = failingHosts.count(server.host) != 0;
    made.push_back(vpn.get());
    hosts.push_back(server.host);
    return vpn;
  }
  std::vector<CDropVpn*> made;
  std::vector<std::wstring> hosts;
  std::map<std::wstring, bool> failingHosts;

 private:
  IForwardTable& table_;
};

class CDropView : public IConnectView {
 public:
  void SetStatusLine(const std::wstring& text) override { status.push_back(text); }
  void EnableConnect(bool enabled) override { connectEnabled = enabled; }
  void EnableDisconnect(bool enabled) override { disconnectEnabled = enabled; }
  void SetTrayIcon(int id) override { trayIcon = id; }
  void ShowBalloon(const std::wstring& text) override { balloons.push_back(text); }
  void ShowMainWindow(bool shown) override { windowShows.push_back(shown); }
  bool AskYesNo(const std::wstring& text, BoxIcon, bool) override {
    questions.push_back(text);
    return true;
  }
  void ShowBox(const std::wstring& text, BoxIcon) override { boxes.push_back(text); }
  void ShowAccelerateDialog() override {}
  void DestroyAccelerateDialog() override {}
  void DestroyWindow() override {}
  void RunBlocked(IOperation&, std::uint32_t) override {}
  bool RenewLogin(ConnectPlan& plan) override {
    ++logins;
    if (duringLogin) duringLogin();
    plan.password = L"renewed";
    return loginWorks;
  }
  std::vector<std::wstring> status, balloons, boxes, questions;
  std::vector<bool> windowShows;
  std::function<void()> duringLogin;
  bool connectEnabled = true, disconnectEnabled = false, loginWorks = true;
  int trayIcon = 0, logins = 0;
};

using CNullSystem = CQuietConnectSystem;

class CStepClock : public IClock {
 public:
  Tick Now() override { return now; }
  void Sleep(std::uint32_t ms) override { now += ms; }
  Tick now = 5000;
};

class Reconnecting : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    SetUpHomeNetwork(table);
    controller.SetReconnect(true);
  }
  void Connect() {
    ConnectPlan plan;
    plan.server = Server(7, 40, 40);
    VpnServerInfo dialUpOnly = Server(3, 1, 1);
    dialUpOnly.protocols = L"pptp,l2tp";
    plan.alternates = {{3, dialUpOnly}, {7, Server(7, 40, 40)}, {8, Server(8, 90, 90)}, {9, Server(9, 20, 20)}};
    plan.routeMode = RouteModeDefaultGateway;
    plan.routeDefiner = 1;
    plan.vpnTypes = {3};
    plan.account = L"alice";
    plan.password = L"secret";
    controller.StartConnect(plan);
    Last().Up();
    Pump();
    ASSERT_EQ(controller.Phase(), kPhaseConnected);
  }
  void Pump() {
    while (auto message = queue.TryTake()) controller.OnMessage(*message);
  }
  // Seconds of the once-a-second watch.
  void Tick(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.now += 1000;
      controller.OnMonitorTick();
      Pump();
    }
  }
  CDropVpn& Last() { return *factory.made.back(); }
  void DropByStatistics() {
    Last().statisticsFail = true;
    Tick(1);
  }

  CFakeForwardTable table;
  CMessageQueue queue;
  CDropView view;
  CDropFactory factory{table};
  CNullSystem system;
  CStepClock clock;
  CConnectController controller{queue, view, factory, system, clock};
};

TEST_F(Reconnecting, EveryKindOfDropBringsTheSameServerBackAtOnce) {
  const struct {
    const char* name;
    std::function<void(CDropVpn&)> drop;
  } cases[] = {
      {"counters unreadable", [](CDropVpn& vpn) { vpn.statisticsFail = true; }},
      {"tunnel reports an error", [](CDropVpn& vpn) { vpn.SetState(GENERAL_VPN_STATE_CONNECTED, 2, 0); }},
      {"tunnel ends without error", [](CDropVpn& vpn) { vpn.SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Connect();
    const std::size_t before = factory.made.size();
    c.drop(Last());
    Pump();
    Tick(1);
    EXPECT_EQ(controller.Phase(), kPhaseReconnecting);
    ASSERT_EQ(factory.made.size(), before + 1) << "an attempt starts without a pause";
    EXPECT_EQ(factory.hosts.back(), L"198.51.100.7");
    EXPECT_EQ(view.trayIcon, kTrayIconNotConnected);
    Last().SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
    Pump();
    EXPECT_EQ(view.status.back().rfind(GetText("Reconnecting"), 0), 0u) << "until the tunnel is back";
    EXPECT_TRUE(view.boxes.empty()) << "no box while reconnecting";
    const std::size_t balloons = view.balloons.size();
    view.windowShows.clear();
    EXPECT_TRUE(view.disconnectEnabled) << "the user can stop it";
    EXPECT_FALSE(view.connectEnabled);
    Last().Up();
    Pump();
    EXPECT_EQ(controller.Phase(), kPhaseConnected);
    EXPECT_EQ(view.trayIcon, kTrayIconConnectedQuiet);
    EXPECT_TRUE(view.windowShows.empty()) << "the window stays as the user left it";
    EXPECT_EQ(view.balloons.size(), balloons) << "no login balloon for a reconnect";
    controller.OnDisconnect();
    EXPECT_EQ(controller.Phase(), kPhaseIdle);
  }
}

TEST_F(Reconnecting, FailingAttemptsMoveToTheNextFastestAfterGrowingPauses) {
  Connect();
  factory.failingHosts = {{L"198.51.100.7", true}, {L"198.51.100.9", true}};
  const std::size_t before = factory.made.size();
  DropByStatistics();
  // Each failed start waits for its pause on the watch's tick.
  std::vector<std::pair<std::wstring, ::Tick>> attempts;
  for (int second = 0; second < 20 && factory.hosts.size() < before + 4; ++second) {
    const std::size_t made = factory.made.size();
    Tick(1);
    if (factory.made.size() != made) attempts.emplace_back(factory.hosts.back(), clock.now);
  }
  ASSERT_EQ(factory.hosts.size(), before + 4);
  const std::vector<std::wstring> hosts(factory.hosts.begin() + static_cast<std::ptrdiff_t>(before),
                                        factory.hosts.end());
  // The fastest of all (3) runs no OpenVPN: never tried.
  EXPECT_EQ(hosts, (std::vector<std::wstring>{L"198.51.100.7", L"198.51.100.7", L"198.51.100.9",
                                               L"198.51.100.8"}));
  ASSERT_EQ(attempts.size(), 3u);
  EXPECT_EQ(attempts[1].second - attempts[0].second, 2000u);
  EXPECT_EQ(attempts[2].second - attempts[1].second, 4000u);
  EXPECT_EQ(controller.Phase(), kPhaseReconnecting);
  Last().Up();
  Pump();
  EXPECT_EQ(controller.Phase(), kPhaseConnected);
  EXPECT_EQ(controller.Server().id, 8);
}

TEST_F(Reconnecting, TheUserStopsItInAPauseAndDuringALogin) {
  const struct {
    const char* name;
    bool duringLogin;
  } cases[] = {{"in a pause", false}, {"during the login", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Connect();
    DropByStatistics();
    // Refused: the next attempt logs in first.
    Last().SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 0);
    Pump();
    ASSERT_EQ(controller.Phase(), kPhaseReconnecting);
    const std::size_t made = factory.made.size();
    if (c.duringLogin) {
      view.duringLogin = [&] { controller.OnDisconnect(); };
      Tick(2);
      view.duringLogin = nullptr;
    } else {
      controller.OnDisconnect();
    }
    Tick(40);
    EXPECT_EQ(controller.Phase(), kPhaseIdle);
    EXPECT_EQ(factory.made.size(), made) << "no attempt after the stop";
    EXPECT_EQ(view.status.back(), GetText("AlreadyDisconnected"));
    EXPECT_TRUE(view.connectEnabled);
  }
}

TEST_F(Reconnecting, ARefusedAttemptLogsInAgainWithTheNewValues) {
  Connect();
  DropByStatistics();
  Last().SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 0);
  Pump();
  EXPECT_EQ(view.logins, 0);
  Tick(1);
  EXPECT_EQ(view.logins, 1);
  EXPECT_EQ(Last().GetPassword(), L"renewed");
  // A login that fails counts as a failed attempt: no connection is made.
  view.loginWorks = false;
  Last().SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 0);
  Pump();
  const std::size_t made = factory.made.size();
  Tick(2);
  EXPECT_EQ(view.logins, 2);
  EXPECT_EQ(factory.made.size(), made);
  EXPECT_EQ(controller.Phase(), kPhaseReconnecting);
}

TEST_F(Reconnecting, ADropDuringAReconnectIsTheNextAttempt) {
  Connect();
  DropByStatistics();
  const std::size_t made = factory.made.size();
  // The new tunnel got as far as connecting and went down again.
  Last().SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  Pump();
  Last().SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0);
  Pump();
  EXPECT_EQ(controller.Phase(), kPhaseReconnecting);
  EXPECT_EQ(controller.ReconnectAttempts(), 2);
  Tick(1);
  EXPECT_EQ(factory.made.size(), made + 1);
  // Up, then down again within a few seconds: the pauses keep growing.
  Last().Up();
  Pump();
  Tick(3);
  DropByStatistics();
  EXPECT_EQ(factory.made.size(), made + 1) << "a flapping server is not retried at once";
  Tick(2);
  EXPECT_EQ(factory.made.size(), made + 2);
}

// A machine whose adapter check fails (as under an emulator) was asked at
// the user's connect; the reconnect asks nobody and just tries.
TEST_F(Reconnecting, AnAttemptShowsNoBoxAndAsksNothing) {
  system.tapReady = false;
  Connect();
  const std::size_t boxes = view.boxes.size(), questions = view.questions.size(), made = factory.made.size();
  EXPECT_GT(boxes, 0u) << "the first connect says the adapter is missing";
  DropByStatistics();
  EXPECT_EQ(factory.made.size(), made + 1);
  EXPECT_EQ(view.boxes.size(), boxes);
  EXPECT_EQ(view.questions.size(), questions);
  Last().Up();
  Pump();
  EXPECT_EQ(controller.Phase(), kPhaseConnected);
}

TEST_F(Reconnecting, GivingUpEndsTheConnectionAsADropDidBefore) {
  Connect();
  factory.failingHosts = {{L"198.51.100.7", true}, {L"198.51.100.8", true}, {L"198.51.100.9", true}};
  DropByStatistics();
  Tick(400);
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_EQ(view.status.back(), GetText("DisconnectedUnexcepted"));
  EXPECT_TRUE(view.connectEnabled);
  EXPECT_FALSE(view.disconnectEnabled);
}

TEST_F(Reconnecting, SwitchedOffADropEndsTheConnection) {
  controller.SetReconnect(false);
  Connect();
  const std::size_t made = factory.made.size();
  DropByStatistics();
  Tick(5);
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_EQ(factory.made.size(), made);
  EXPECT_EQ(view.boxes.size(), 1u);
}

}  // namespace

namespace {

TEST(RenewLogin, TheReconnectsOwnRouteAndServerWithTheFreshReplysValues) {
  ConnectPlan renewing;
  renewing.routeDefiner = 3;
  renewing.routeIndex = 4;
  renewing.server = Server(8, 50, 50);
  renewing.server.openVpn = L"udp,1194";
  VpnServerInfo moved = renewing.server;
  moved.openVpn = L"tcp,443";
  VpnServerInfo dialUp = moved;
  dialUp.protocols = L"pptp,l2tp";
  const struct {
    const char* what;
    VpnServerMap fresh;
    std::int32_t type;
    const wchar_t* openVpn;
  } cases[] = {
      {"the server with new values", {{8, moved}, {9, Server(9, 1, 1)}}, 3, L"tcp,443"},
      {"the server gone from the reply", {{9, Server(9, 1, 1)}}, 3, L"udp,1194"},
      {"the server no longer runs the kind", {{8, dialUp}}, 3, L"udp,1194"},
      {"a dial-up kind it still runs", {{8, dialUp}}, 2, L"tcp,443"},
  };
  for (const auto& c : cases) {
    const ChooserResult choice = RenewalChoice(renewing, c.fresh, c.type);
    EXPECT_EQ(choice.route.definer, 3) << c.what;
    EXPECT_EQ(choice.route.internalIndex, 4) << c.what;
    EXPECT_EQ(choice.vpnType, c.type) << c.what;
    EXPECT_EQ(choice.server.id, 8) << c.what;
    EXPECT_EQ(choice.server.openVpn, c.openVpn) << c.what;
  }
  ConnectPlan login;
  login.account = L"alice";
  login.password = L"new";
  login.requiredOpenVpnVersion = L"2.6";
  login.loginReply = "reply";
  login.server = moved;
  login.routeMode = 1;
  login.vpnTypes = {1, 2, 3};
  renewing.routeMode = 2;
  renewing.vpnTypes = {};
  renewing.alternates = {{9, Server(9, 1, 1)}};
  TakeRenewedLogin(renewing, login);
  EXPECT_EQ(renewing.password, L"new");
  EXPECT_EQ(renewing.account, L"alice");
  EXPECT_EQ(renewing.requiredOpenVpnVersion, L"2.6");
  EXPECT_EQ(renewing.loginReply, "reply");
  EXPECT_EQ(renewing.server.openVpn, L"tcp,443");
  EXPECT_EQ(renewing.routeMode, 2) << "the route stays the connection's";
  EXPECT_TRUE(renewing.vpnTypes.empty());
  EXPECT_EQ(renewing.alternates.size(), 1u);
}

}  // namespace
